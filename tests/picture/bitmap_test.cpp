// The bitmap picture and the picture container: pixel formats and their names,
// size setting, scan lines, the changing rules, drawing, clipboard forms, and
// the container's extension, icon and metafile rules.

#include <gtest/gtest.h>

#include "picture/bitmap.h"
#include "picture/picture.h"
#include "platform/errors.h"
#include "platform/system_colors.h"
#include "support/test_support.h"

using namespace tovi;
using namespace tovi::picture;
using platform::rgb;

namespace {

Bitmap makePicture(PixelFormat format, int w, int h)
{
    Bitmap b;
    b.setPixelFormat(format);
    b.setWidth(w);
    b.setHeight(h);
    return b;
}

Bitmap fromHeader(unsigned bits, std::uint32_t compression, platform::ChannelMasks masks, int w = 2, int h = 2)
{
    platform::BitmapInfoHeader header;
    header.size = 40;
    header.width = w;
    header.height = h;
    header.planes = 1;
    header.bitCount = std::uint16_t(bits);
    header.compression = compression;
    Bitmap b;
    Bitmap::Content c;
    c.raster = platform::Raster::createIndependent(header, &masks, {});
    c.header = c.raster->header();
    c.masks = compression == platform::kBiBitFields ? masks : platform::ChannelMasks{};
    b.assign(std::move(c));
    return b;
}

TEST(PixelFormats, NamesByOrdinal)
{
    EXPECT_EQ(pixelFormatName(PixelFormat::Device), "デバイス依存フォーマット");
    EXPECT_EQ(pixelFormatName(PixelFormat::Bit1), "1bit : モノクロ ビットマップ");
    EXPECT_EQ(pixelFormatName(PixelFormat::Bit15), "15bit : TrueColor(RGB Comp)ビットマップ");
    EXPECT_EQ(pixelFormatName(PixelFormat::Bit16), "16bit : TrueColor(BitField)ビットマップ");
    EXPECT_EQ(pixelFormatName(PixelFormat::Custom), "Custom : カスタムフォーマットビットマップ");
    EXPECT_EQ(pixelFormatName(9), "Unknwon : 未サポートフォーマット");
    EXPECT_EQ(pixelFormatName(255), "Unknwon : 未サポートフォーマット");
}

TEST(PixelFormats, DerivedFromWhatThePictureHolds)
{
    EXPECT_EQ(Bitmap().pixelFormat(), PixelFormat::Device);
    EXPECT_EQ(fromHeader(16, platform::kBiBitFields, platform::kMasks555).pixelFormat(), PixelFormat::Custom);
    EXPECT_EQ(fromHeader(16, platform::kBiBitFields, platform::kMasks565).pixelFormat(), PixelFormat::Bit16);
    EXPECT_EQ(fromHeader(16, platform::kBiRgb, {}).pixelFormat(), PixelFormat::Bit15);
    EXPECT_EQ(fromHeader(32, platform::kBiBitFields, platform::kMasks888).pixelFormat(), PixelFormat::Custom);
    EXPECT_EQ(fromHeader(32, platform::kBiRgb, {}).pixelFormat(), PixelFormat::Bit32);
    EXPECT_EQ(fromHeader(24, platform::kBiRgb, {}).pixelFormat(), PixelFormat::Bit24);
    EXPECT_EQ(fromHeader(2, platform::kBiRgb, {}).pixelFormat(), PixelFormat::Custom);
}

TEST(PixelFormats, SettingAFormat)
{
    Bitmap b;
    b.setPixelFormat(PixelFormat::Bit16);
    EXPECT_EQ(b.pixelFormat(), PixelFormat::Bit16);  // at once, while still empty
    EXPECT_THROW(b.setPixelFormat(PixelFormat::Custom), PictureFormatError);
    b.setWidth(3);
    b.setHeight(2);
    EXPECT_EQ(b.pixelFormat(), PixelFormat::Bit16);
    EXPECT_EQ(b.masks(), platform::kMasks565);
    b.setPixelFormat(PixelFormat::Bit4);
    EXPECT_EQ(b.raster()->colorTable(), platform::standard16Colors());
    EXPECT_EQ(b.pixel(1, 1), rgb(255, 255, 255));  // content carried over
    b.setPixelFormat(PixelFormat::Device);
    EXPECT_TRUE(b.raster()->isDevice());
    EXPECT_EQ(b.pixel(2, 1), rgb(255, 255, 255));
}

TEST(Sizes, NewStorageIsWhiteAndRowsArePadded)
{
    Bitmap b = makePicture(PixelFormat::Bit24, 5, 3);
    ASSERT_TRUE(b.raster());
    EXPECT_EQ(b.raster()->rowBytes(), 16u);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(b.pixel(x, y), rgb(255, 255, 255));
    Bitmap onlyWidth;
    onlyWidth.setWidth(4);
    EXPECT_EQ(onlyWidth.raster(), nullptr);
    EXPECT_EQ(onlyWidth.width(), 4);
    onlyWidth.setHeight(2);
    EXPECT_EQ(onlyWidth.pixelFormat(), PixelFormat::Device);  // no format set: a device raster
}

TEST(Sizes, ResizingKeepsTheTopLeftCorner)
{
    Bitmap b = makePicture(PixelFormat::Bit8, 3, 3);
    b.scanLine(0)[0] = 0;
    const auto corner = b.pixel(0, 0);
    b.setWidth(6);
    b.setHeight(5);
    EXPECT_EQ(b.pixel(0, 0), corner);
    EXPECT_EQ(b.pixel(5, 4), rgb(255, 255, 255));
    EXPECT_EQ(b.width(), 6);
    EXPECT_EQ(b.height(), 5);
}

TEST(ScanLines, RangeAndRowOrder)
{
    Bitmap b = makePicture(PixelFormat::Bit24, 2, 3);
    EXPECT_THROW(b.scanLine(-1), PictureOperationError);
    EXPECT_THROW(b.scanLine(3), PictureOperationError);
    try {
        b.scanLine(3);
    } catch (const PictureOperationError &e) {
        EXPECT_STREQ(e.what(), "スキャンライン のインデックスが範囲を越えました");
    }
    EXPECT_EQ(b.scanLine(0), b.raster()->bits() + 2 * b.raster()->rowBytes());  // bottom-up
    EXPECT_THROW(Bitmap().scanLine(0), PictureOperationError);
}

TEST(Changing, ScanLinesPrepareButSignalNothing)
{
    Bitmap b = makePicture(PixelFormat::Bit8, 2, 2);
    Bitmap shared = b;
    int changes = 0;
    b.setOnChange([&] { ++changes; });
    b.scanLine(0)[0] = 7;
    EXPECT_EQ(changes, 0);
    EXPECT_NE(b.raster(), shared.raster());  // got a private copy
    EXPECT_NE(shared.raster()->scanLine(0)[0], 7);
}

TEST(Changing, DrawingSignalsAndEmptySourcesChangeNothing)
{
    Bitmap target = makePicture(PixelFormat::Bit24, 4, 4);
    int changes = 0;
    target.setOnChange([&] { ++changes; });
    target.draw(0, 0, Bitmap());
    EXPECT_EQ(changes, 0);
    Bitmap red = makePicture(PixelFormat::Bit24, 2, 2);
    red.raster();
    red.draw(0, 0, red);  // drawing onto itself is harmless
    std::uint8_t *row = red.scanLine(0);
    row[0] = 0;
    row[1] = 0;
    row[2] = 255;
    target.draw(1, 1, red);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(target.pixel(1, 1), rgb(255, 0, 0));
    EXPECT_EQ(target.pixel(0, 0), rgb(255, 255, 255));
}

TEST(Clipboard, OutAndBackIn)
{
    Bitmap b = makePicture(PixelFormat::Bit8, 3, 2);
    b.scanLine(1)[2] = 0;
    const auto colour = b.pixel(2, 1);
    const ClipboardForm form = b.toClipboard();
    ASSERT_TRUE(form.bitmap);
    EXPECT_TRUE(form.bitmap->isDevice());
    ASSERT_TRUE(form.palette.has_value());  // a paletted picture travels with its palette
    Bitmap pasted;
    pasted.fromClipboard(kClipboardBitmap, form.bitmap, form.palette ? &*form.palette : nullptr);
    EXPECT_EQ(pasted.pixelFormat(), PixelFormat::Device);
    EXPECT_EQ(pasted.pixel(2, 1), colour);
    EXPECT_THROW(pasted.fromClipboard(1, form.bitmap, nullptr), PictureFormatError);
    EXPECT_THROW(pasted.fromClipboard(kClipboardBitmap, nullptr, nullptr), PictureFormatError);
}

TEST(Clipboard, OneBitPicturesTravelAsMonochrome)
{
    Bitmap b = makePicture(PixelFormat::Bit1, 9, 1);
    b.scanLine(0)[0] = 0x7F;  // first pixel black
    const ClipboardForm form = b.toClipboard();
    EXPECT_TRUE(form.bitmap->isMonochromeDevice());
    EXPECT_EQ(form.bitmap->pixel(0, 0), rgb(0, 0, 0));
    EXPECT_EQ(form.bitmap->pixel(1, 0), rgb(255, 255, 255));
}

TEST(Container, ExtensionsAndBitmapView)
{
    test::TempDir dir;
    Picture picture;
    int changes = 0;
    picture.setOnChange([&] { ++changes; });
    try {
        picture.loadFromFile(dir.file("photo.JPG"));
        FAIL();
    } catch (const PictureFormatError &e) {
        EXPECT_STREQ(e.what(), "拡張子 .JPG の画像形式は処理できません");
    }
    EXPECT_EQ(picture.graphic(), nullptr);

    test::writeFile(dir.file("a.ico"), test::Bytes{0, 0, 1, 0, 1, 0});
    picture.loadFromFile(dir.file("a.ico"));
    EXPECT_NE(dynamic_cast<const IconGraphic *>(picture.graphic()), nullptr);
    Bitmap &view = picture.bitmap();
    EXPECT_TRUE(view.empty());
    EXPECT_EQ(view.pixelFormat(), PixelFormat::Device);
    EXPECT_GE(changes, 2);

    test::writeFile(dir.file("bad.ico"), test::Bytes{0, 0, 2, 0});
    try {
        picture.loadFromFile(dir.file("bad.ico"));
        FAIL();
    } catch (const PictureFormatError &e) {
        EXPECT_STREQ(e.what(), "アイコンイメージが不正です");
    }
    EXPECT_EQ(fileExtension("/x.y/name"), "");
    EXPECT_EQ(fileExtension("/x/name.tar.BMP"), "BMP");
}

TEST(Container, MetafileChecks)
{
    test::Bytes emf(120, 0);
    emf[0] = 1;
    emf[40] = 0x20;
    emf[41] = 0x45;
    emf[42] = 0x4D;
    emf[43] = 0x46;
    EXPECT_NO_THROW(MetafileGraphic::check(emf));
    emf[40] = 0;
    EXPECT_THROW(MetafileGraphic::check(emf), PictureFormatError);

    test::Bytes wmf(22, 0);
    const std::uint8_t key[] = {0xD7, 0xCD, 0xC6, 0x9A};
    std::copy(key, key + 4, wmf.begin());
    std::uint16_t sum = 0;
    for (int i = 0; i < 10; ++i)
        sum ^= std::uint16_t(wmf[2 * i] | (wmf[2 * i + 1] << 8));
    wmf[20] = std::uint8_t(sum);
    wmf[21] = std::uint8_t(sum >> 8);
    EXPECT_NO_THROW(MetafileGraphic::check(wmf));
    wmf[20] ^= 1;
    EXPECT_THROW(MetafileGraphic::check(wmf), PictureFormatError);
}

TEST(Container, AFailedLoadKeepsTheGraphic)
{
    test::TempDir dir;
    Picture picture;
    Bitmap &b = picture.bitmap();
    b.setPixelFormat(PixelFormat::Bit24);
    b.setWidth(2);
    b.setHeight(2);
    test::writeFile(dir.file("bad.bmp"), std::string_view("XX not a bitmap at all"));
    EXPECT_THROW(picture.loadFromFile(dir.file("bad.bmp")), PictureFormatError);
    EXPECT_EQ(picture.bitmap().width(), 2);
    EXPECT_THROW(picture.loadFromFile(dir.file("missing.bmp")), FileOpenError);
    EXPECT_EQ(picture.bitmap().width(), 2);
}

}  // namespace
