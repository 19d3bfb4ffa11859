// Bringing pictures into the window and out of it: the open step (also used
// for the command-line file), and the save, drop and clipboard commands.

#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>

#include "platform/errors.h"
#include "ui/main/application.h"
#include "ui/main/main_form.h"

namespace tovi::ui {

void TMainForm::OpenPicture1Accept()
{
    const QString name = openDialogFileName();
    SetFileName(name);
    try {
        Image1->picture().loadFromFile(name.toStdString());
    } catch (const PictureFormatError &) {
        // Not a picture we can handle: shown in the format label, no message.
        NoSupportGraphic();
        return;
    }
    ShowPicture();
}

// The open and save dialogs, saving, copying, pasting and dropped files are
// the file commands' own; until they are in, these do nothing.
void TMainForm::OpenPicture1Execute() {}
void TMainForm::SavePicture1Execute() {}
void TMainForm::SavePicture1Accept() {}
void TMainForm::EditCopy1Execute() {}
void TMainForm::EditPaste1Execute() {}
void TMainForm::FormDropFiles(const QStringList &) {}

void TMainForm::EditPaste1Update()
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    EditPaste1->setEnabled(data && data->hasImage());
}

void TMainForm::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent *event)
{
    QStringList names;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            names.append(url.toLocalFile());
    }
    event->acceptProposedAction();
    runGuarded([&] { FormDropFiles(names); });
}

}  // namespace tovi::ui
