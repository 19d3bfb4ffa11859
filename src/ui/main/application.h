#pragma once
// Application-wide settings of the window program and its one error handler.

#include <QApplication>
#include <QString>

#include <exception>

namespace tovi::ui {

inline constexpr const char *kApplicationTitle = "Tovi for XP";
inline constexpr const char *kHelpFileName = "ToviXP.chm";

// The application title: "Tovi for XP" at start, afterwards kept equal to the
// main window's caption. Error message boxes are captioned with it.
QString applicationTitle();
void setApplicationTitle(const QString &title);

// The help file every help request names.
QString applicationHelpFile();
void setApplicationHelpFile(const QString &fileName);

// The message as the error box shows it: "." appended when the message is not
// empty and its last character sorts after "." byte by byte (a multi-byte
// character compares by its lead byte, so Japanese text always gets one).
QString errorMessageText(const QString &message);

// The application's default error handler: releases any mouse grab, stays
// silent for SilentAbort, and otherwise shows the message in a box captioned
// with the application title, with the error icon and one OK button. The
// program then goes on with whatever state the failed command left.
void handleException(const std::exception &error);

// Runs a command and hands any error that leaves it to handleException.
template <typename F>
void runGuarded(F &&command)
{
    try {
        command();
    } catch (const std::exception &error) {
        handleException(error);
    }
}

// The window program's application object: an error that escapes an event
// handler reaches handleException instead of ending the program.
class TApplication : public QApplication {
public:
    TApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

}  // namespace tovi::ui
