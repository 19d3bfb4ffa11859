// Entry of the window tests: one application object for every test. Without
// a display the tests run on the offscreen platform (also while CTest lists
// them).

#include <gtest/gtest.h>

#include <QApplication>

namespace {

QtMessageHandler g_defaultHandler = nullptr;

// The offscreen platform has no window opacity and says so at every fade
// step; the opacity values are checked on the windows themselves.
void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("does not support setting window opacity")))
        return;
    g_defaultHandler(type, context, message);
}

}  // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    g_defaultHandler = qInstallMessageHandler(quietHandler);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
