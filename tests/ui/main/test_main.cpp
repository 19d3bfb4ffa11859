// Entry of the main window tests: the program's own application object, so
// errors escaping event handlers take the same way as in the program. Without
// a display the tests run on the offscreen platform (also while CTest lists
// them).

#include <gtest/gtest.h>

#include "ui/main/application.h"

namespace {

QtMessageHandler standardHandler = nullptr;

// The offscreen platform notes every request it can't serve as a desktop
// would (resizing hints, raising, grabbing); no test depends on them.
void quietOffscreenNotes(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("This plugin does not support")))
        return;
    if (standardHandler)
        standardHandler(type, context, message);
}

}  // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    tovi::ui::TApplication app(argc, argv);
    standardHandler = qInstallMessageHandler(quietOffscreenNotes);
    return RUN_ALL_TESTS();
}
