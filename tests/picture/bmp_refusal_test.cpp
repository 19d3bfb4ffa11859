// Reading only what can be written back: hand-made files that the reader
// can't keep are refused with the picture-format error and a reason that
// says why, files it can keep come back with their colours, and the writer
// never writes a table that doesn't cover the pixels.

#include <gtest/gtest.h>

#include <cerrno>

#include "picture/bitmap.h"
#include "picture/bmp/bmp_format.h"
#include "platform/errors.h"
#include "platform/stream.h"
#include "process/color_ops.h"
#include "support/tiny_bmp.h"

using namespace tovi;
using namespace tovi::picture;
using platform::rgb;
using test::Bytes;

namespace {

// A bottom-up paletted file whose table holds `entries` distinct colours (its
// used-colours field says so, and the pixels follow the table).
Bytes paletted(int width, int height, int bits, std::uint32_t entries, const Bytes &pixels)
{
    Bytes f = test::tiny_bmp::headers(width, height, bits, entries, std::uint32_t(pixels.size()));
    for (std::uint32_t i = 0; i < entries; ++i)
        test::tiny_bmp::put32(f, 0x00203040 + i * 0x00010203);
    f.insert(f.end(), pixels.begin(), pixels.end());
    return f;
}

Bitmap read(const Bytes &file)
{
    platform::MemoryStream stream(file);
    Bitmap b;
    b.loadFromStream(stream);
    return b;
}

// The reason of the picture-format error the file is refused with; the
// message stays the one the error kind always shows.
std::string refusal(const Bytes &file)
{
    try {
        read(file);
    } catch (const PictureFormatError &error) {
        EXPECT_STREQ(error.what(), "ビットマップイメージが不正です");
        return error.reason();
    }
    return "accepted";
}

TEST(FilesThatCantBeKept, PalettedPicturesWithoutAColourTable)
{
    // The pixel offset right behind the header leaves no room for a table.
    for (const int bits : {1, 4, 8})
        EXPECT_EQ(refusal(paletted(2, 1, bits, 0, Bytes(4, 0))),
                  "the " + std::to_string(bits) + "-bit picture has no colour table");
}

TEST(FilesThatCantBeKept, PixelsBeyondTheColourTable)
{
    // Cut short by the used-colours count: 3 entries in a 4-bit file.
    EXPECT_EQ(refusal(paletted(2, 1, 4, 3, {0x15, 0, 0, 0})), "pixel index 5 lies beyond the 3-entry colour table");
    // Cut short by the pixel offset: the count says 16, the offset leaves room for 3.
    Bytes cut = paletted(2, 1, 4, 3, {0x13, 0, 0, 0});
    picture::bmp::writeLe32(cut.data() + 46, 0);
    EXPECT_EQ(refusal(cut), "pixel index 3 lies beyond the 3-entry colour table");
    // Padding and the unused half of a row's last byte don't count.
    EXPECT_NO_THROW(read(paletted(1, 1, 4, 3, {0x2F, 0xFF, 0xFF, 0xFF})));
    // Run-length data: two pixels of index 5 with one entry.
    Bytes rle = paletted(2, 1, 8, 1, {2, 5, 0, 1});
    picture::bmp::writeLe32(rle.data() + 30, picture::bmp::kBiRle8);
    EXPECT_EQ(refusal(rle), "pixel index 5 lies beyond the 1-entry colour table");
}

// Every pair of masks is compared, the blue one and a longer header's alpha
// mask included.
TEST(FilesThatCantBeKept, OverlappingBitFieldMasks)
{
    Bytes f = test::tiny_bmp::headers(1, 1, 32, 3, 4);  // room for the three masks
    picture::bmp::writeLe32(f.data() + 30, platform::kBiBitFields);
    picture::bmp::writeLe32(f.data() + 46, 0);
    for (const std::uint32_t mask : {0xFFFF0000u, 0x00FFFF00u, 0x000000FFu})
        test::tiny_bmp::put32(f, mask);
    test::tiny_bmp::put32(f, 0x12345678);
    EXPECT_EQ(refusal(f), "the red and green bit-field masks overlap");
    // Apart, the same masks are kept.
    picture::bmp::writeLe32(f.data() + 58, 0x0000FF00);
    EXPECT_NO_THROW(read(f));
    const struct {
        std::uint32_t red, green, blue;
        const char *reason;
    } overlaps[] = {{0x00FF0000, 0x0000FF00, 0x00FF00FF, "the red and blue bit-field masks overlap"},
                    {0x00FF0000, 0x0000FF00, 0x0000FFFF, "the green and blue bit-field masks overlap"},
                    // A channel with a gap can't be inverted at its width.
                    {0x00000062, 0x0000FF00, 0xFFFF0000, "the red bit-field mask has a gap"}};
    for (const auto &o : overlaps) {
        picture::bmp::writeLe32(f.data() + 54, o.red);
        picture::bmp::writeLe32(f.data() + 58, o.green);
        picture::bmp::writeLe32(f.data() + 62, o.blue);
        EXPECT_EQ(refusal(f), o.reason);
    }
    // A 56-byte header's alpha mask over the blue channel.
    Bytes v3 = test::tiny_bmp::headers(1, 1, 32, 0, 4);
    picture::bmp::writeLe32(v3.data() + 14, 56);
    picture::bmp::writeLe32(v3.data() + 30, platform::kBiBitFields);
    picture::bmp::writeLe32(v3.data() + 10, 14 + 56);
    for (const std::uint32_t mask : {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF0000FFu})
        test::tiny_bmp::put32(v3, mask);
    test::tiny_bmp::put32(v3, 0x12345678);
    EXPECT_EQ(refusal(v3), "the blue and alpha bit-field masks overlap");
    picture::bmp::writeLe32(v3.data() + 66, 0xFF000000);
    EXPECT_NO_THROW(read(v3));
}

// A used-colours count of up to 2^32 - 1 is refused at once, before anything
// is read or allocated for it, whatever the depth; with a pixel offset that
// bounds it, or with the entries present, a picture holds at most 256.
TEST(FilesThatCantBeKept, ColourCountsBeyondTheFile)
{
    for (const int bits : {8, 24}) {
        Bytes f = paletted(2, 1, bits, 2, Bytes(8, 0));
        picture::bmp::writeLe32(f.data() + 46, 0xFFFFFFFF);
        EXPECT_NO_THROW(read(f));  // the offset leaves room for 2 entries
        picture::bmp::writeLe32(f.data() + 10, 0);
        EXPECT_EQ(refusal(f), "the header declares 4294967295 colours, more than the file holds");
    }
    Bytes f = paletted(2, 1, 8, 300, {1, 2, 0, 0});
    picture::bmp::writeLe32(f.data() + 10, 0);
    const Bitmap b = read(f);
    EXPECT_EQ(b.raster()->colorTable().size(), 256u);
    EXPECT_EQ(b.pixel(1, 0), b.raster()->colorTable()[2].color());
}

// An offset into the middle of the pixels would read two rows and lose the
// rest; the pixels are read from behind the table instead.
TEST(FilesThatAreKept, APixelOffsetInsideThePixelsIsPassedOver)
{
    std::vector<std::uint32_t> colors;
    for (std::uint32_t i = 0; i < 12; ++i)
        colors.push_back(0x00102030 * (i + 1));
    const Bytes good = test::bmp24(3, 4, colors);
    Bytes inside = good;
    picture::bmp::writeLe32(inside.data() + 10, 54 + 2 * 12);
    const Bitmap a = read(good), b = read(inside);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(b.pixel(x, y), a.pixel(x, y)) << x << "," << y;
}

// 17 entries in a 4-bit file: entry 16 is out of every pixel's reach, also as
// the nearest colour of a result, which would otherwise spill into the
// neighbouring pixel.
TEST(FilesThatAreKept, ATableLongerThanTheDepthCanIndex)
{
    Bytes f = paletted(2, 1, 4, 17, {0x20, 0, 0, 0});
    const std::size_t table = 14 + 40;
    picture::bmp::writeLe32(f.data() + table, 0x000A141E);           // entry 0: red 10, green 20, blue 30
    picture::bmp::writeLe32(f.data() + table + 4, 0x00FFFFFF);       // entry 1: white
    picture::bmp::writeLe32(f.data() + table + 8, 0x00000000);       // entry 2: black
    picture::bmp::writeLe32(f.data() + table + 16 * 4, 0x00141414);  // entry 16: the gray of entry 0
    for (const auto process : {&process::processColors, &process::processColorsPlain}) {
        Bitmap b = read(f);
        process(b, process::kModeGray, 0, 0);
        EXPECT_EQ(b.raster()->bits()[0], 0x20);
        platform::MemoryStream out;
        b.saveToStream(out);
        // Written with the 16 entries a pixel can name.
        EXPECT_EQ(test::tiny_bmp::get32(out.data(), 46), 16u);
        EXPECT_EQ(read(out.data()).pixel(1, 0), rgb(10, 20, 30));
    }
}

TEST(Writing, NeverATableThatDoesntCoverThePixels)
{
    platform::BitmapInfoHeader header;
    header.size = 40;
    header.width = 2;
    header.height = 1;
    header.planes = 1;
    header.bitCount = 8;
    Bitmap::Content c;
    c.raster = platform::Raster::createIndependent(header, nullptr, platform::ColorTable(3));
    c.raster->bits()[1] = 7;
    c.header = c.raster->header();
    Bitmap b;
    b.assign(std::move(c));
    platform::MemoryStream out;
    try {
        b.saveToStream(out);
        FAIL();
    } catch (const PictureFormatError &error) {
        EXPECT_EQ(error.reason(), "pixel index 7 lies beyond the 3-entry colour table");
    }
    EXPECT_TRUE(out.data().empty());
}

// A stream on a full disk: every write stops short.
class FullDisk : public platform::MemoryStream {
public:
    std::size_t write(const void *, std::size_t) override
    {
        errno = ENOSPC;
        return 0;
    }
};

TEST(Writing, AFailedWriteCarriesTheSystemsReason)
{
    Bitmap b = read(test::bmp24(1, 1, {0}));
    FullDisk disk;
    try {
        b.saveToStream(disk);
        FAIL();
    } catch (const StreamWriteError &error) {
        EXPECT_STREQ(error.what(), "ストリームへの書き込みエラー");
        EXPECT_EQ(error.reason(), "No space left on device");
    }
}

}  // namespace
