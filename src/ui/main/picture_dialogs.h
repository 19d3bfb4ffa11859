#pragma once
// The picture dialogs: open, save and open several, Qt's own file dialog with
// a preview pane beside the file list.
//
// Use (a dialog action's handler):
//     PictureDialog dialog(PictureDialog::Kind::Open, this);
//     dialog.startOn(openDialogFileName());
//     if (dialog.exec() == QDialog::Accepted) ... dialog.selectedFiles() ...

#include <QDialog>
#include <QFileDialog>
#include <QFrame>
#include <QImage>
#include <QString>

#include <optional>

#include "picture/bitmap.h"

class QLabel;
class QPushButton;

namespace tovi::ui {

// Where the preview shows the picture: scaled to fit with its proportions
// kept and centred, or "(なし)" when there is none.
class PreviewArea : public QFrame {
public:
    static const QString kNoPictureText;

    explicit PreviewArea(QWidget *parent);
    void setImage(const QImage &image, QSize pictureSize);
    bool hasImage() const { return !m_image.isNull(); }
    // Where the picture is drawn, in the area's coordinates (empty without one).
    QRect pictureRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_image;
    QSize m_pictureSize;
};

// The preview pane: a label with the picture's size, a button opening a larger
// view, and the picture. Files are read through the picture container, as
// opening reads them, so every picture the program opens shows here.
class PicturePreview : public QWidget {
public:
    static const QString kNoPictureLabel;  // "画像:"

    explicit PicturePreview(QWidget *parent = nullptr);

    // Reads the file and shows it, or the empty state when it can't be read
    // as a picture. Only plain files are read (a pipe would never end).
    void showFile(const QString &fileName);
    void clear();

    bool hasPicture() const { return m_bitmap.has_value(); }
    QString fileName() const { return m_fileName; }
    QLabel *sizeLabel() const { return m_label; }
    QPushButton *previewButton() const { return m_button; }
    PreviewArea *area() const { return m_area; }

    // The picture in a window of its own (modal): at its own size, or a small
    // one enlarged by a whole factor.
    void showLargeView();

private:
    QString m_fileName;
    std::optional<picture::Bitmap> m_bitmap;
    QLabel *m_label;
    QPushButton *m_button;
    PreviewArea *m_area;
};

// The larger view of a previewed picture.
class PictureLargeView : public QDialog {
public:
    PictureLargeView(const QImage &image, const QString &title, QWidget *parent);
};

class PictureDialog : public QFileDialog {
public:
    enum class Kind { Open, Save, OpenSeveral };

    static const QString kFilter;            // "ビットマップ (*.bmp)"
    static const QString kDefaultExtension;  // "bmp"

    PictureDialog(Kind kind, QWidget *parent);

    Kind kind() const { return m_kind; }
    static QString title(Kind kind);
    PicturePreview *preview() const { return m_preview; }

    // Starts in the file's folder with its name in the name box and its
    // picture in the preview; an empty name leaves both empty.
    void startOn(const QString &fileName);

private:
    // The preview follows a name typed into the name box once it names an
    // existing file, as it follows the list.
    void previewTypedName(const QString &text);

    Kind m_kind;
    PicturePreview *m_preview;
};

}  // namespace tovi::ui
