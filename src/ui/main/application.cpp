#include "ui/main/application.h"

#include <QMessageBox>
#include <QWidget>

#include "platform/errors.h"
#include "ui/common/window_frames.h"

namespace tovi::ui {

namespace {

QString &titleSetting()
{
    static QString title = QString::fromUtf8(kApplicationTitle);
    return title;
}

QString &helpFileSetting()
{
    static QString fileName;
    return fileName;
}

}  // namespace

QString applicationTitle() { return titleSetting(); }
void setApplicationTitle(const QString &title) { titleSetting() = title; }

QString applicationHelpFile() { return helpFileSetting(); }
void setApplicationHelpFile(const QString &fileName) { helpFileSetting() = fileName; }

QString errorMessageText(const QString &message)
{
    if (message.isEmpty())
        return message;
    // The last whole character, as bytes: a surrogate pair is one character.
    qsizetype start = message.size() - 1;
    if (start > 0 && message.at(start).isLowSurrogate() && message.at(start - 1).isHighSurrogate())
        --start;
    const QByteArray last = message.mid(start).toUtf8();
    const bool sortsAfterDot = !last.isEmpty() && static_cast<unsigned char>(last.at(0)) > '.';
    return sortsAfterDot ? message + QLatin1Char('.') : message;
}

void handleException(const std::exception &error)
{
    if (QWidget *grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    if (dynamic_cast<const SilentAbort *>(&error))
        return;
    QMessageBox box(QMessageBox::Critical, applicationTitle(), errorMessageText(QString::fromUtf8(error.what())),
                    QMessageBox::Ok, QApplication::activeWindow(), closeBoxDialogFlags());
    keepNormalState(&box);
    box.exec();
}

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &error) {
        handleException(error);
    }
    return false;
}

}  // namespace tovi::ui
