#include "ui/about/about_box.h"

#include <cstring>
#include <vector>

#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "platform/system_colors.h"
#include "platform/version_record.h"
#include "ui/about/program_icon.h"
#include "ui/common/palette_colors.h"
#include "ui/common/window_frames.h"

namespace tovi::ui {

namespace {

const QString kCaption = QStringLiteral("バージョン情報");
const QString kFontFamily = QStringLiteral("ＭＳ Ｐゴシック");
// Where the named font is missing: its metric-compatible stand-in, so that the
// two lines of the description fit their 24 pixels.
const QString kFontStandIn = QStringLiteral("IPAPGothic");
constexpr int kFontPixels = 12;

// The link the kernel keeps to the running program's file: it opens the file
// the program was started from even if that name has since been replaced.
constexpr const char *kRunningExecutable = "/proc/self/exe";

const QRect kBevelRect(16, 8, 217, 121);
const QRect kIconRect(23, 15, 48, 48);
const QPoint kProductNameAt(82, 22);
const QPoint kVersionAt(82, 42);
const QPoint kCopyrightAt(23, 75);
const QRect kCommentsRect(31, 96, 139, 24);
const QRect kOkRect(102, 151, 55, 28);

QLabel *label(QWidget *parent, const QString &text, const QPoint &at)
{
    auto *result = new QLabel(text, parent);
    result->move(at);
    result->adjustSize();
    return result;
}

}  // namespace

ProductVersion ReadProductVersion(const std::string &path)
{
    ProductVersion version;
    std::uint32_t handle = 0;
    const std::uint32_t size = platform::getFileVersionInfoSize(path, &handle);
    if (size == 0)
        return version;
    std::vector<std::byte> buffer(size);
    if (!platform::getFileVersionInfo(path, handle, size, buffer.data()))
        return version;
    const void *value = nullptr;
    std::uint32_t length = 0;
    if (!platform::verQueryValue(buffer, "\\", &value, &length) || length < sizeof(platform::FixedFileInfo))
        return version;
    platform::FixedFileInfo info;
    std::memcpy(&info, value, sizeof info);
    version.major = std::uint16_t(info.productVersionMS >> 16);
    version.minor = std::uint16_t(info.productVersionMS & 0xFFFF);
    version.release = std::uint16_t(info.productVersionLS >> 16);
    version.build = std::uint16_t(info.productVersionLS & 0xFFFF);
    return version;
}

ProductVersion ReadProductVersion()
{
    return ReadProductVersion(kRunningExecutable);
}

QString versionText(const ProductVersion &version)
{
    return QString::asprintf("バージョン %d.%d.%d Build[%d]", int(version.major), int(version.minor),
                             int(version.release), int(version.build));
}

void Bevel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int right = width() - 1;
    const int bottom = height() - 1;
    painter.setPen(sysQColor(platform::kColorBtnShadow));
    painter.drawLine(0, 0, right, 0);
    painter.drawLine(0, 0, 0, bottom);
    painter.setPen(sysQColor(platform::kColorBtnHighlight));
    painter.drawLine(0, bottom, right, bottom);
    painter.drawLine(right, 0, right, bottom);
}

TAboutBox::TAboutBox(QWidget *mainWindow)
    : FadeForm(mainWindow, QSize(kClientWidth, kClientHeight)),
      OKButton(new QPushButton(QStringLiteral("OK"), this)),
      Bevel1(new Bevel(this)),
      ProgramIcon(new QLabel(this)),
      ProductName(label(this, QStringLiteral("Tovi for XP"), kProductNameAt)),
      Version(label(this, QStringLiteral("バージョン Major.Minor.ReleaseBuild[Build]"), kVersionAt)),
      Copyright(label(this, QStringLiteral("Copyright (C) Tovi for XP の開発者"), kCopyrightAt)),
      Comments(new QLabel(QStringLiteral("二つの色を交換するソフト。主に白黒反転。"), this))
{
    // A dialog frame with a close box, no minimise, maximise or help button.
    setWindowFlags(closeBoxDialogFlags());
    setWindowTitle(kCaption);

    QFont font;
    font.setFamilies({kFontFamily, kFontStandIn});
    font.setPixelSize(kFontPixels);
    setFont(font);
    QPalette colors = palette();
    colors.setColor(QPalette::Window, sysQColor(platform::kColorBtnFace));
    colors.setColor(QPalette::WindowText, Qt::black);
    setPalette(colors);

    Bevel1->setGeometry(kBevelRect);
    Bevel1->lower();
    ProgramIcon->setGeometry(kIconRect);
    ProgramIcon->setPixmap(transparentIcon(programIconImage()));

    QFont bold = font;
    bold.setBold(true);
    ProductName->setFont(bold);
    ProductName->adjustSize();

    Comments->setGeometry(kCommentsRect);
    Comments->setWordWrap(true);
    Comments->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    OKButton->setGeometry(kOkRect);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    OKButton->setFocus();

    FormCreate();
}

void TAboutBox::FormCreate()
{
    Version->setText(versionText(ReadProductVersion()));
    Version->adjustSize();
    FadingIn = true;
}

}  // namespace tovi::ui
