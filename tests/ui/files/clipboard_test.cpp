// Copying the picture to the system clipboard and pasting from it: pixels,
// palettes and black-and-white pictures round-trip; paste is offered exactly
// when there is an image; a pasted picture is a device picture without a file.

#include <QApplication>
#include <QClipboard>
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
