// Copying the picture to the system clipboard and pasting from it: pixels,
// palettes and black-and-white pictures round-trip; paste is offered exactly
// when there is an image; a pasted picture is a device picture without a file.

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QImageReader>
#include <QMimeData>
#include <QTest>

#include "files_fixture.h"
#include "platform/pixel_codec.h"
#include "support/tiny_bmp.h"
#include "ui/main/clipboard.h"

namespace tovi::test {
namespace {

using Kind = ui::PictureDialog::Kind;

const QString kDevice = QStringLiteral("デバイス依存フォーマット");

class Clipboard : public FilesTest {
protected:
    void SetUp() override
    {
        FilesTest::SetUp();
        QApplication::clipboard()->clear();
    }
    void TearDown() override
    {
        QApplication::clipboard()->clear();
        FilesTest::TearDown();
    }

    // Ctrl+C and Ctrl+V, each followed by idle time, as between a user's keys.
    static void copy(ui::TMainForm &form)
    {
        QTest::keyClick(&form, Qt::Key_C, Qt::ControlModifier);
        settle();
    }
    static void paste(ui::TMainForm &form)
    {
        QTest::keyClick(&form, Qt::Key_V, Qt::ControlModifier);
        settle();
    }

    static QImage clipboardImage() { return QApplication::clipboard()->image(); }
};

TEST_F(Clipboard, CopyPutsThePixelsOnTheClipboard)
{
    ui::TMainForm &form = start({sixColors()});
    copy(form);
    const QImage image = clipboardImage();
    ASSERT_EQ(image.size(), QSize(3, 2));
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(colorAt(image, i % 3, i / 3), kSixColors[std::size_t(i)]) << "pixel " << i;
}

TEST_F(Clipboard, CopyThenPasteRoundTripsThePixels)
{
    ui::TMainForm &form = start({sixColors()});
    copy(form);
    open(writeFile(QStringLiteral("other.bmp"), bmp24Filled(5, 5, platform::rgb(9, 9, 9))));
    ASSERT_EQ(form.Image1->size(), QSize(5, 5));
    settle();
    ASSERT_TRUE(form.EditPaste1->isEnabled());
    paste(form);
    settle();
    EXPECT_EQ(form.Image1->size(), QSize(3, 2));
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(pictureColor(i % 3, i / 3), kSixColors[std::size_t(i)]) << "pixel " << i;
        EXPECT_EQ(shownColor(i % 3, i / 3), kSixColors[std::size_t(i)]) << "pixel " << i;
    }
    EXPECT_EQ(formatLabel(), kDevice);
    EXPECT_EQ(form.Image1->bitmap()->pixelFormat(), picture::PixelFormat::Device);
}

TEST_F(Clipboard, PasteClearsTheFileNameAndTheSaveDialogStartsEmpty)
{
    ui::TMainForm &form = start({sixColors()});
    copy(form);
    paste(form);
    settle();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Tovi for XP"));
    EXPECT_TRUE(form.fileName().isEmpty());
    QString typed = QStringLiteral("unchanged");
    bool previewed = true;
    ModalDriver driver;
    driver.then(cancel([&](ui::PictureDialog &dialog) {
        EXPECT_EQ(dialog.kind(), Kind::Save);
        typed = nameBox(&dialog)->text();
        previewed = dialog.preview()->hasPicture();
    }));
    QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier);
    settle();
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(typed, QString());
    EXPECT_FALSE(previewed);
}

TEST_F(Clipboard, PastedPictureSavesAsA32BitBmp)
{
    ui::TMainForm &form = start({sixColors()});
    copy(form);
    paste(form);
    const QString target = QString::fromStdString(m_dir.file("pasted.bmp"));
    form.setSaveDialogFileName(target);
    form.SavePicture1Accept();
    picture::Bitmap back;
    back.loadFromFile(target.toStdString());
    EXPECT_EQ(back.pixelFormat(), picture::PixelFormat::Bit32);
    EXPECT_EQ(back.pixel(2, 1), kSixColors[5]);
}

TEST_F(Clipboard, PalettedPictureTravelsAsAnIndexedImageWithItsPalette)
{
    ui::TMainForm &form = start();
    const std::vector<ColorRef> palette = {platform::rgb(1, 2, 3), platform::rgb(200, 100, 50),
                                           platform::rgb(0, 128, 255), platform::rgb(1, 2, 3)};
    open(writeFile(QStringLiteral("pal.bmp"), bmp8(2, 2, palette, {0, 1, 2, 1})));
    copy(form);
    const QImage image = clipboardImage();
    ASSERT_EQ(image.format(), QImage::Format_Indexed8);
    ASSERT_EQ(image.colorCount(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(image.color(i) & 0xFFFFFF, QRgb(platform::colorToXrgb(palette[std::size_t(i)]))) << "entry " << i;
    EXPECT_EQ(image.pixelIndex(0, 0), 0);
    EXPECT_EQ(image.pixelIndex(1, 0), 1);
    EXPECT_EQ(image.pixelIndex(0, 1), 2);
    EXPECT_EQ(image.pixelIndex(1, 1), 1);

    paste(form);
    const picture::Bitmap *pasted = form.Image1->bitmap();
    ASSERT_NE(pasted, nullptr);
    ASSERT_TRUE(pasted->palette().has_value());
    EXPECT_EQ(pasted->palette()->entries.size(), 4u);
    EXPECT_EQ(pasted->pixel(0, 1), palette[2]);
}

TEST_F(Clipboard, OneBitPictureTravelsInBlackAndWhite)
{
    ui::TMainForm &form = start();
    open(writeFile(QStringLiteral("mono.bmp"), bmp1(9, 2, {1, 0, 1, 0, 0, 0, 0, 0, 1,  //
                                                           0, 1, 0, 1, 1, 1, 1, 1, 0})));
    ASSERT_EQ(formatLabel(), QStringLiteral("1bit : モノクロ ビットマップ"));
    copy(form);
    const QImage image = clipboardImage();
    ASSERT_EQ(image.format(), QImage::Format_Mono);
    ASSERT_EQ(image.size(), QSize(9, 2));
    EXPECT_EQ(image.pixel(0, 0) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(image.pixel(1, 0) & 0xFFFFFF, 0u);
    EXPECT_EQ(image.pixel(8, 0) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(image.pixel(8, 1) & 0xFFFFFF, 0u);
    EXPECT_EQ(image.pixel(7, 1) & 0xFFFFFF, 0xFFFFFFu);

    paste(form);
    EXPECT_EQ(pictureColor(0, 0), platform::rgb(255, 255, 255));
    EXPECT_EQ(pictureColor(1, 0), platform::rgb(0, 0, 0));
    EXPECT_EQ(formatLabel(), kDevice);
}

TEST_F(Clipboard, ImageFromAnotherProgramEnablesPasteAndPastes)
{
    ui::TMainForm &form = start();
    settle();
    EXPECT_FALSE(form.EditPaste1->isEnabled());
    // Another program's image arrives as image data the clipboard decodes;
    // this one has an alpha channel, which a device picture doesn't keep.
    QImage image(4, 3, QImage::Format_ARGB32);
    image.fill(QColor(10, 200, 30));
    image.setPixel(3, 2, qRgba(250, 5, 6, 255));
    auto *data = new QMimeData;
    data->setImageData(image);
    QApplication::clipboard()->setMimeData(data);
    settle();
    EXPECT_TRUE(form.EditPaste1->isEnabled());
    EXPECT_TRUE(form.ToolButton9->isEnabled());
    QTest::mouseClick(form.ToolButton9, Qt::LeftButton);
    settle();
    EXPECT_EQ(form.Image1->size(), QSize(4, 3));
    EXPECT_EQ(pictureColor(0, 0), platform::rgb(10, 200, 30));
    EXPECT_EQ(pictureColor(3, 2), platform::rgb(250, 5, 6));
    EXPECT_EQ(formatLabel(), kDevice);
}

TEST_F(Clipboard, CopyOffersTheBmpAndAlphaAndPastingBackKeepsThem)
{
    ui::TMainForm &form = start();
    for (const QString &file : keepingFiles()) {
        picture::Bitmap original;
        original.loadFromFile(file.toStdString());
        open(file);
        const QString label = formatLabel();
        copy(form);
        const QMimeData *data = QApplication::clipboard()->mimeData();
        ASSERT_NE(data, nullptr);
        EXPECT_TRUE(data->hasFormat(QStringLiteral("image/bmp"))) << file.toStdString();
        const QImage image = clipboardImage();
        EXPECT_EQ(image.hasAlphaChannel(), original.masks().alpha != 0) << file.toStdString();
        if (original.masks().alpha != 0) {
            EXPECT_EQ(qAlpha(image.pixel(0, 0)), int(original.raster()->scanLine(0)[3])) << file.toStdString();
        }

        open(writeFile(QStringLiteral("other.bmp"), bmp24Filled(5, 5, platform::rgb(9, 9, 9))));
        paste(form);
        const picture::Bitmap *pasted = form.Image1->bitmap();
        ASSERT_NE(pasted, nullptr);
        EXPECT_EQ(pasted->pixel(1, 1), original.pixel(1, 1)) << file.toStdString();
        EXPECT_EQ(formatLabel(), label) << file.toStdString();
        EXPECT_TRUE(form.fileName().isEmpty());
        expectKeptBeyondColors(original, *pasted, file);
    }
}

TEST_F(Clipboard, OnlyTextOnTheClipboardDisablesPaste)
{
    ui::TMainForm &form = start({sixColors()});
    QApplication::clipboard()->setText(QStringLiteral("just text"));
    settle();
    EXPECT_FALSE(form.EditPaste1->isEnabled());
    EXPECT_FALSE(form.ToolButton9->isEnabled());
    // Nor does its shortcut paste anything.
    paste(form);
    settle();
    EXPECT_EQ(form.windowTitle(), captionFor(QStringLiteral("six.bmp")));
    EXPECT_EQ(form.Image1->size(), QSize(3, 2));
}

TEST_F(Clipboard, ImageDataThatCantBeReadIsUnsupportedClipboardData)
{
    ui::TMainForm &form = start({sixColors()});
    // Offered as an image, but nothing comes of it when taken: as when the
    // bitmap went away between the test and the paste.
    auto *data = new QMimeData;
    data->setData(QStringLiteral("application/x-qt-image"), QByteArray("no image"));
    QApplication::clipboard()->setMimeData(data);
    settle();
    ASSERT_TRUE(form.EditPaste1->isEnabled());
    QString text;
    ModalDriver driver;
    driver.then(messageBox(&text));
    paste(form);
    settle();
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(text, QStringLiteral("未対応のクリップボード データです."));
    EXPECT_EQ(form.windowTitle(), captionFor(QStringLiteral("six.bmp")));
    EXPECT_EQ(pictureColor(0, 0), kSixColors[0]);
}

TEST_F(Clipboard, PastingIntoTheUnsupportedStateShowsThePicture)
{
    const char text[] = "a letter, not a picture";
    ui::TMainForm &form = start({writeFile(QStringLiteral("bad.bmp"), Bytes(text, text + sizeof text))});
    ASSERT_FALSE(form.pictureShown());
    QImage image(2, 2, QImage::Format_RGB32);
    image.fill(QColor(1, 2, 3));
    QApplication::clipboard()->setImage(image);
    settle();
    paste(form);
    settle();
    EXPECT_TRUE(form.pictureShown());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Tovi for XP"));
    EXPECT_TRUE(form.EditCopy1->isEnabled());
}

// Another program's picture, as the X clipboard offers it: PNG bytes.
QMimeData *pngData(const QByteArray &png)
{
    auto *data = new QMimeData;
    data->setData(QStringLiteral("image/png"), png);
    return data;
}

QByteArray encodePng(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

TEST_F(Clipboard, ImageWithTransparencyFromAnotherProgramPastesWithItsAlpha)
{
    ui::TMainForm &form = start();
    QImage image(3, 2, QImage::Format_ARGB32);
    image.fill(qRgba(10, 200, 30, 255));
    image.setPixel(2, 1, qRgba(250, 5, 6, 40));
    QApplication::clipboard()->setMimeData(pngData(encodePng(image)));
    settle();
    paste(form);
    const picture::Bitmap *pasted = form.Image1->bitmap();
    ASSERT_NE(pasted, nullptr);
    ASSERT_EQ(pasted->masks().alpha, 0xFF000000u);
    EXPECT_EQ(pasted->pixel(2, 1), platform::rgb(250, 5, 6));
    EXPECT_EQ(pasted->raster()->scanLine(1)[2 * 4 + 3], 40);
    EXPECT_EQ(pasted->raster()->scanLine(0)[3], 255);
    EXPECT_EQ(formatLabel(), QStringLiteral("Custom : カスタムフォーマットビットマップ"));
}

std::uint32_t pngCrc(const char *data, int size)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (int i = 0; i < size; ++i) {
        crc ^= std::uint8_t(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1u ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

// Qt's image reader refuses pictures over its allocation limit (128 or 256 MB
// by default, depending on the version). The tests lower it, so that a
// picture of a few megabytes stands for one of hundreds.
class LargePaste : public Clipboard {
protected:
    void SetUp() override
    {
        Clipboard::SetUp();
        m_limit = QImageReader::allocationLimit();
        QImageReader::setAllocationLimit(kReaderLimit);
    }
    void TearDown() override
    {
        QImageReader::setAllocationLimit(m_limit);
        Clipboard::TearDown();
    }
    static constexpr int kReaderLimit = 16;
    int m_limit = 0;
};

TEST_F(LargePaste, PictureOverTheImageReadersLimitPastes)
{
    ui::TMainForm &form = start({sixColors()});
    // 2500 x 2500 with an alpha channel: 25 MB decoded.
    QImage image(2500, 2500, QImage::Format_ARGB32);
    image.fill(QColor(20, 40, 60));
    image.setPixel(2499, 2499, qRgba(200, 100, 50, 255));
    QApplication::clipboard()->setMimeData(pngData(encodePng(image)));
    image = QImage();
    settle();
    ASSERT_TRUE(form.EditPaste1->isEnabled());
    paste(form);
    EXPECT_EQ(form.Image1->size(), QSize(2500, 2500));
    EXPECT_EQ(pictureColor(0, 0), platform::rgb(20, 40, 60));
    EXPECT_EQ(pictureColor(2499, 2499), platform::rgb(200, 100, 50));
    EXPECT_EQ(formatLabel(), kDevice);
    // The reader's limit is the program's only while it decodes.
    EXPECT_EQ(QImageReader::allocationLimit(), kReaderLimit);
}

TEST_F(LargePaste, PictureBeyondTheRasterLimitIsOutOfResourcesNotUnsupported)
{
    ui::TMainForm &form = start({sixColors()});
    // A PNG whose header declares 16385 x 16384 pixels: 4 bytes each is more
    // than the 1 GiB a raster holds. Nothing past the header is ever decoded.
    QByteArray png = encodePng(QImage(1, 1, QImage::Format_RGB32));
    const auto put32 = [&](int at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            png[at + i] = char(v >> (24 - 8 * i));
    };
    put32(16, 16385);
    put32(20, 16384);
    put32(29, pngCrc(png.constData() + 12, 17));
    QApplication::clipboard()->setMimeData(pngData(png));
    settle();
    QString text;
    ModalDriver driver;
    driver.then(messageBox(&text));
    paste(form);
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(text, QStringLiteral("システム リソースが足りません."));
    EXPECT_EQ(form.windowTitle(), captionFor(QStringLiteral("six.bmp")));
    EXPECT_EQ(pictureColor(0, 0), kSixColors[0]);
}

// --- The conversions on their own --------------------------------------------

TEST(ClipboardForm, PaletteThatLostThePicturesColoursGivesATrueColourImage)
{
    picture::ClipboardForm form;
    auto raster = platform::Raster::createDevice(2, 1);
    auto *row = reinterpret_cast<std::uint32_t *>(raster->scanLine(0));
    row[0] = 0x00FF0000;  // red: in the palette
    row[1] = 0x00123456;  // not in it
    form.bitmap = raster;
    form.palette = platform::LogicalPalette{{platform::RgbQuad::fromColor(platform::rgb(255, 0, 0))}, false};
    const QImage image = ui::clipboard::toImage(form);
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    EXPECT_EQ(image.pixel(1, 0) & 0xFFFFFF, 0x123456u);
}

TEST(ClipboardForm, IndexedImageKeepsItsPaletteAndBecomesADeviceRaster)
{
    QImage image(3, 1, QImage::Format_Indexed8);
    image.setColorTable({qRgb(1, 1, 1), qRgb(2, 2, 2), qRgb(3, 3, 3)});
    image.setPixel(0, 0, 2);
    image.setPixel(1, 0, 0);
    image.setPixel(2, 0, 1);
    const picture::ClipboardForm form = ui::clipboard::fromImage(image);
    ASSERT_TRUE(form.bitmap);
    EXPECT_TRUE(form.bitmap->isDevice());
    EXPECT_EQ(form.bitmap->bitsPerPixel(), 32);
    EXPECT_EQ(form.bitmap->pixel(0, 0), platform::rgb(3, 3, 3));
    EXPECT_EQ(form.bitmap->pixel(2, 0), platform::rgb(2, 2, 2));
    // The display's unused byte stays 0.
    EXPECT_EQ(form.bitmap->scanLine(0)[3], 0);
    ASSERT_TRUE(form.palette.has_value());
    EXPECT_EQ(form.palette->entries.size(), 3u);
}

}  // namespace
}  // namespace tovi::test
