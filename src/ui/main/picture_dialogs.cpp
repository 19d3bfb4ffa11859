#include "ui/main/picture_dialogs.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

#include "picture/picture.h"
#include "ui/main/file_names.h"
#include "ui/main/picture_image.h"

namespace tovi::ui {

namespace {

constexpr int kPreviewWidth = 200;
constexpr int kAreaMargin = 4;
constexpr int kButtonSize = 24;
// The larger view takes at most this share of the screen; a larger picture
// scrolls. A small picture is enlarged by whole steps until its longer side
// reaches kLargeViewSmallest pixels, so that the view is larger than the pane.
constexpr double kLargeViewScreenShare = 0.8;
constexpr int kLargeViewSmallest = 400;
// The file dialog's first size: room for the file list's columns beside the preview.
constexpr QSize kDialogSize(860, 480);

// A magnifying glass for the preview button.
QIcon magnifierIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 1.6));
    p.setBrush(QColor(200, 225, 255));
    p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    p.setPen(QPen(QColor(40, 40, 40), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(9.5, 9.5), QPointF(14, 14));
    return QIcon(pixmap);
}

}  // namespace

// --- PreviewArea ------------------------------------------------------------

const QString PreviewArea::kNoPictureText = QStringLiteral("(なし)");

PreviewArea::PreviewArea(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("PreviewArea"));
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setMinimumSize(kPreviewWidth - 2 * kAreaMargin, kPreviewWidth - 2 * kAreaMargin);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PreviewArea::setImage(const QImage &image, QSize pictureSize)
{
    m_image = image;
    m_pictureSize = image.isNull() ? QSize() : pictureSize;
    update();
}

QRect PreviewArea::pictureRect() const
{
    if (m_image.isNull() || m_pictureSize.isEmpty())
        return {};
    const QRect room = contentsRect().adjusted(kAreaMargin, kAreaMargin, -kAreaMargin, -kAreaMargin);
    const QSize size = m_pictureSize.scaled(room.size(), Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    QRect target(QPoint(0, 0), size);
    target.moveCenter(room.center());
    return target;
}

void PreviewArea::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    QPainter p(this);
    if (m_image.isNull()) {
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(contentsRect(), Qt::AlignCenter, kNoPictureText);
        return;
    }
    // Smoothed when made smaller; enlarged, every pixel stays a sharp square.
    p.setRenderHint(QPainter::SmoothPixmapTransform, pictureRect().width() < m_image.width());
    p.drawImage(pictureRect(), m_image);
}

// --- PicturePreview ---------------------------------------------------------

const QString PicturePreview::kNoPictureLabel = QStringLiteral("画像:");

PicturePreview::PicturePreview(QWidget *parent)
    : QWidget(parent), m_label(new QLabel(this)), m_button(new QPushButton(this)), m_area(new PreviewArea(this))
{
    setObjectName(QStringLiteral("PicturePreview"));
    m_label->setObjectName(QStringLiteral("PreviewLabel"));
    m_button->setObjectName(QStringLiteral("PreviewButton"));
    m_button->setIcon(magnifierIcon());
    m_button->setFixedSize(kButtonSize, kButtonSize);
    m_button->setToolTip(QStringLiteral("拡大表示"));
    m_button->setAutoDefault(false);
    connect(m_button, &QPushButton::clicked, this, [this] { showLargeView(); });

    auto *top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->addWidget(m_label, 1);
    top->addWidget(m_button);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(kAreaMargin, 0, 0, 0);
    column->addLayout(top);
    column->addWidget(m_area, 1);
    setMinimumWidth(kPreviewWidth);
    clear();
}

void PicturePreview::clear()
{
    m_fileName.clear();
    m_bitmap.reset();
    m_label->setText(kNoPictureLabel);
    m_button->setEnabled(false);
    m_area->setImage({}, {});
}

void PicturePreview::showFile(const QString &fileName)
{
    clear();
    m_fileName = fileName;
    if (fileName.isEmpty() || !QFileInfo(fileName).isFile())
        return;
    try {
        picture::Picture container;
        container.loadFromFile(fileName.toStdString());
        // An icon or metafile is never drawn: no picture to show.
        if (!dynamic_cast<const picture::BitmapGraphic *>(container.graphic()))
            return;
        const picture::Bitmap &bitmap = container.bitmap();
        if (!bitmap.raster() || bitmap.width() <= 0 || bitmap.height() <= 0)
            return;
        const QImage image = reducedPictureImage(bitmap, m_area->size().expandedTo(m_area->minimumSize()));
        if (image.isNull())
            return;
        m_bitmap = bitmap;
        m_area->setImage(image, QSize(bitmap.width(), bitmap.height()));
        m_label->setText(QString::asprintf(" (%dx%d)", bitmap.width(), bitmap.height()));
        m_button->setEnabled(true);
    } catch (const std::exception &) {
        // Whatever can't be read shows as no picture; the preview never
        // complains, as opening the file will if the user goes on.
    }
}

void PicturePreview::showLargeView()
{
    if (!m_bitmap)
        return;
    const QImage image = pictureImage(*m_bitmap);
    if (image.isNull())
        return;
    const int longer = std::max(image.width(), image.height());
    const int zoom = std::max(1, kLargeViewSmallest / longer);
    PictureLargeView view(zoom > 1 ? image.scaled(image.size() * zoom) : image, fileNamePart(m_fileName), this);
    view.exec();
}

// --- PictureLargeView -------------------------------------------------------

PictureLargeView::PictureLargeView(const QImage &image, const QString &title, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("PictureLargeView"));
    setWindowTitle(title);
    setSizeGripEnabled(true);
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("PictureScroll"));
    scroll->setAlignment(Qt::AlignCenter);
    scroll->setFrameStyle(QFrame::NoFrame);
    auto *picture = new QLabel;
    picture->setObjectName(QStringLiteral("Picture"));
    picture->setPixmap(QPixmap::fromImage(image));
    picture->resize(image.size());
    scroll->setWidget(picture);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);

    QSize limit(800, 600);
    if (const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        limit = screen->availableGeometry().size() * kLargeViewScreenShare;
    const int frame = 2 * scroll->frameWidth() + 2;
    resize((image.size() + QSize(frame, frame)).boundedTo(limit).expandedTo(QSize(120, 80)));
}

// --- PictureDialog ----------------------------------------------------------

const QString PictureDialog::kFilter = QStringLiteral("ビットマップ (*.bmp)");
const QString PictureDialog::kDefaultExtension = QStringLiteral("bmp");

QString PictureDialog::title(Kind kind)
{
    switch (kind) {
    case Kind::Open:
        return QStringLiteral("画像を開く");
    case Kind::Save:
        return QStringLiteral("画像の保存");
    case Kind::OpenSeveral:
        return QStringLiteral("色交換する画像の選択(複数)");
    }
    return {};
}

PictureDialog::PictureDialog(Kind kind, QWidget *parent) : QFileDialog(parent), m_kind(kind), m_preview(nullptr)
{
    setObjectName(QStringLiteral("PictureDialog"));
    // Qt's own dialog: a native one has no room for the preview.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setWindowTitle(title(kind));
    setNameFilter(kFilter);
    setDefaultSuffix(kDefaultExtension);
    setSizeGripEnabled(true);
    resize(kDialogSize);
    switch (kind) {
    case Kind::Open:
        // A name that doesn't exist is taken too; opening it reports it.
        setAcceptMode(QFileDialog::AcceptOpen);
        setFileMode(QFileDialog::AnyFile);
        break;
    case Kind::Save:
        // Asks before overwriting (Qt's default).
        setAcceptMode(QFileDialog::AcceptSave);
        setFileMode(QFileDialog::AnyFile);
        break;
    case Kind::OpenSeveral:
        setAcceptMode(QFileDialog::AcceptOpen);
        setFileMode(QFileDialog::ExistingFiles);
        break;
    }

    m_preview = new PicturePreview(this);
    if (auto *splitter = findChild<QSplitter *>(QStringLiteral("splitter"))) {
        // Beside the file list, keeping its own width when the dialog grows.
        splitter->addWidget(m_preview);
        splitter->setStretchFactor(splitter->indexOf(m_preview), 0);
        splitter->setCollapsible(splitter->indexOf(m_preview), false);
    } else if (auto *grid = qobject_cast<QGridLayout *>(layout())) {
        grid->addWidget(m_preview, 0, grid->columnCount(), grid->rowCount(), 1);
    }
    connect(this, &QFileDialog::currentChanged, m_preview, [this](const QString &path) {
        // The list settling on the file the dialog started on reads nothing again.
        if (path != m_preview->fileName())
            m_preview->showFile(path);
    });
    if (auto *nameEdit = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))) {
        connect(nameEdit, &QLineEdit::textEdited, m_preview, [this](const QString &text) { previewTypedName(text); });
    }
}

void PictureDialog::previewTypedName(const QString &text)
{
    const QString name = text.trimmed();
    if (name.isEmpty()) {
        m_preview->clear();
        return;
    }
    QString path = directory().absoluteFilePath(QDir::fromNativeSeparators(name));
    // A name without an extension is taken with the default one, as the
    // dialog takes it when confirmed.
    if (!QFileInfo(path).isFile() && QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + kDefaultExtension;
    // A name that names no file (yet) shows no picture.
    if (!QFileInfo(path).isFile())
        m_preview->clear();
    else if (path != m_preview->fileName())
        m_preview->showFile(path);
}

void PictureDialog::startOn(const QString &fileName)
{
    if (fileName.isEmpty()) {
        m_preview->clear();
        return;
    }
    const QFileInfo info(fileName);
    setDirectory(info.absolutePath());
    selectFile(info.absoluteFilePath());
    m_preview->showFile(info.absoluteFilePath());
}

}  // namespace tovi::ui
