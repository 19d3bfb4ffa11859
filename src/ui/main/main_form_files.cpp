// Bringing pictures into the window and out of it: the open step (also used
// for the command-line file and a dropped file), and the save, drop and
// clipboard commands.

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>

#include "platform/errors.h"
#include "ui/main/application.h"
#include "ui/main/clipboard.h"
#include "ui/main/file_names.h"
#include "ui/main/main_form.h"
#include "ui/main/picture_dialogs.h"

namespace tovi::ui {

void TMainForm::OpenPicture1Execute()
{
    PictureDialog dialog(PictureDialog::Kind::Open, this);
    dialog.startOn(openDialogFileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    setOpenDialogFileName(dialog.selectedFiles().first());
    OpenPicture1Accept();
}

void TMainForm::OpenPicture1Accept()
{
    const QString name = openDialogFileName();
    // The name is the current one from here on, also when reading fails.
    SetFileName(name);
    try {
        // The container replaces its graphic only once the file was read
        // completely; on any failure the shown picture stays as it was.
        Image1->picture().loadFromFile(name.toStdString());
    } catch (const PictureFormatError &) {
        // Not a picture we can handle: shown in the format label, no message.
        m_undoHistory.clear();
        NoSupportGraphic();
        return;
    }
    // Another picture: what was done to the last one can't be taken back here.
    m_undoHistory.clear();
    ShowPicture();
}

void TMainForm::SavePicture1Execute()
{
    PictureDialog dialog(PictureDialog::Kind::Save, this);
    dialog.startOn(saveDialogFileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    setSaveDialogFileName(dialog.selectedFiles().first());
    SavePicture1Accept();
}

void TMainForm::SavePicture1Accept()
{
    const QString name = saveDialogFileName();
    SetFileName(name);
    // A bitmap picture is written as BMP whatever the name's extension, and
    // the old file is replaced only once the new one is complete.
    Image1->picture().saveToFile(name.toStdString());
}

void TMainForm::EditCopy1Execute()
{
    clipboard::setBitmap(Image1->picture().bitmap().toClipboard());
}

void TMainForm::EditPaste1Update()
{
    EditPaste1->setEnabled(clipboard::hasBitmap());
}

void TMainForm::EditPaste1Execute()
{
    if (!clipboard::hasBitmap())
        return;
    const picture::ClipboardForm form = clipboard::bitmap();
    UndoHistory::Step before = currentStep();
    // Without a bitmap (gone since the test) this is the unsupported
    // clipboard data error; the picture then stays as it was.
    if (form.picture)
        Image1->picture().bitmap() = *form.picture;
    else
        Image1->picture().bitmap().fromClipboard(form.format, form.bitmap, form.palette ? &*form.palette : nullptr);
    m_undoHistory.record(std::move(before));
    SetFileName(QString());
    ShowPicture();
}

void TMainForm::FormDropFiles(const QStringList &fileNames)
{
    if (fileNames.size() == 1) {
        if (!isBmpFileName(fileNames.first()))
            return;
        setOpenDialogFileName(fileNames.first());
        OpenPicture1Accept();
        return;
    }
    if (fileNames.size() > 1) {
        QStringList pictures;
        for (const QString &name : fileNames) {
            if (isBmpFileName(name))
                pictures.append(name);
        }
        // To the front, neither moved nor resized; the batch run is started
        // even when no name qualified, and shows its (empty) result.
        raise();
        activateWindow();
        BatchProcess(pictures);
    }
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
    // The files are taken once the drop has been answered: a batch run's
    // modal dialogs inside the drop would keep the program the files came
    // from waiting for the end of the drop until the run is over.
    QMetaObject::invokeMethod(
        this, [this, names] { runGuarded([&] { FormDropFiles(names); }); }, Qt::QueuedConnection);
}

}  // namespace tovi::ui
