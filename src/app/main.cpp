// The window program: sets the application's title and help file, creates
// the main window and runs until it closes.

#include <QLibraryInfo>
#include <QTranslator>

#include "ui/help/html_help_viewer.h"
#include "ui/main/application.h"
#include "ui/main/image_list.h"
#include "ui/main/main_form.h"
#include "ui/common/palette_colors.h"

namespace {

// Closing the main window ends the program at once, whatever other windows
// (help pages) are still open.
class QuitWhenClosed : public QObject {
protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Close)
            QCoreApplication::quit();
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

int main(int argc, char **argv)
{
    using namespace tovi::ui;

    // The help viewer registers with the help system before anything else.
    tovi::help::registerHtmlHelpViewer();
    TApplication application(argc, argv);
    // The program speaks Japanese; Qt's own dialogs (the colour dialog, the
    // standard buttons) follow when their translation is installed.
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    setApplicationTitle(QString::fromUtf8(kApplicationTitle));
    setApplicationHelpFile(QString::fromUtf8(kHelpFileName));
    QApplication::setWindowIcon(applicationIcon());
    // Lets desktops match the windows to the installed desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("tovi"));
    loadSystemColors(QApplication::palette());

    TMainForm mainForm(QApplication::arguments().mid(1));
    QuitWhenClosed quitWhenClosed;
    mainForm.installEventFilter(&quitWhenClosed);
    mainForm.show();
    const int result = application.exec();
    // Closes the help windows while the application still exists.
    tovi::help::unregisterHtmlHelpViewer();
    return result;
}
