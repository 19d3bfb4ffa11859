// Reading the BMP Suite: every good file gives the picture of its reference,
// every questionable or bad file reads or fails with the picture-format error,
// every file read is one that can be processed and written back, and cut-off
// copies of good files behave as described.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "bmp_keep_check.h"
#include "picture/bitmap.h"
#include "picture/bmp/bmp_format.h"
#include "platform/errors.h"
#include "platform/stream.h"
#include "process/color_ops.h"
#include "support/test_support.h"

using namespace tovi;
using namespace tovi::picture;
namespace fs = std::filesystem;

namespace {

const std::string kCorpus = TOVI_CORPUS_DIR;

std::vector<platform::ColorRef> pixelsOf(const Bitmap &b)
{
    std::vector<platform::ColorRef> out;
    out.reserve(std::size_t(b.width()) * std::size_t(b.height()));
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x)
            out.push_back(b.pixel(x, y));
    return out;
}

Bitmap load(const std::string &relative)
{
    Bitmap b;
    b.loadFromFile(kCorpus + "/" + relative);
    return b;
}

int maxChannelDifference(const std::vector<platform::ColorRef> &a, const std::vector<platform::ColorRef> &b)
{
    int worst = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        for (int shift = 0; shift < 24; shift += 8)
            worst = std::max(worst, std::abs(int((a[i] >> shift) & 0xFF) - int((b[i] >> shift) & 0xFF)));
    return worst;
}

struct SamePicture {
    const char *file;
    const char *reference;
    int tolerance;  // per channel
    PixelFormat format;
};

void PrintTo(const SamePicture &c, std::ostream *os) { *os << c.file; }

class GoodFiles : public ::testing::TestWithParam<SamePicture> {};

TEST_P(GoodFiles, ShowTheirReferencePicture)
{
    const SamePicture c = GetParam();
    const Bitmap file = load(c.file);
    const Bitmap reference = load(c.reference);
    ASSERT_EQ(file.width(), reference.width());
    ASSERT_EQ(file.height(), reference.height());
    EXPECT_EQ(file.pixelFormat(), c.format);
    EXPECT_LE(maxChannelDifference(pixelsOf(file), pixelsOf(reference)), c.tolerance);
}

// Many files of the suite show the same picture in another form.
INSTANTIATE_TEST_SUITE_P(
    BmpSuite, GoodFiles,
    ::testing::Values(SamePicture{"g/pal8-0.bmp", "g/pal8.bmp", 0, PixelFormat::Bit8},
                      SamePicture{"g/pal8os2.bmp", "g/pal8.bmp", 0, PixelFormat::Bit8},
                      SamePicture{"g/pal8rle.bmp", "g/pal8.bmp", 0, PixelFormat::Device},
                      SamePicture{"g/pal8topdown.bmp", "g/pal8.bmp", 0, PixelFormat::Bit8},
                      SamePicture{"g/pal8v4.bmp", "g/pal8.bmp", 0, PixelFormat::Bit8},
                      SamePicture{"g/pal8v5.bmp", "g/pal8.bmp", 0, PixelFormat::Bit8},
                      SamePicture{"g/pal4rle.bmp", "g/pal4.bmp", 0, PixelFormat::Device},
                      SamePicture{"g/pal1wb.bmp", "g/pal1.bmp", 0, PixelFormat::Bit1},
                      SamePicture{"g/rgb24pal.bmp", "g/rgb24.bmp", 0, PixelFormat::Bit24},
                      SamePicture{"g/rgb32.bmp", "g/rgb24.bmp", 0, PixelFormat::Bit32},
                      SamePicture{"g/rgb32bf.bmp", "g/rgb24.bmp", 0, PixelFormat::Custom},
                      SamePicture{"g/rgb32bfdef.bmp", "g/rgb24.bmp", 0, PixelFormat::Custom},
                      SamePicture{"g/rgb16bfdef.bmp", "g/rgb16.bmp", 0, PixelFormat::Custom},
                      SamePicture{"g/rgb16-565pal.bmp", "g/rgb16-565.bmp", 0, PixelFormat::Bit16},
                      // 5- and 6-bit channels hold the 8-bit picture to their precision.
                      SamePicture{"g/rgb16.bmp", "g/rgb24.bmp", 8, PixelFormat::Bit15},
                      SamePicture{"g/rgb16-565.bmp", "g/rgb24.bmp", 8, PixelFormat::Bit16},
                      SamePicture{"q/pal8offs.bmp", "g/pal8.bmp", 0, PixelFormat::Bit8},
                      SamePicture{"q/pal8os2sp.bmp", "g/pal8.bmp", 0, PixelFormat::Bit8},
                      SamePicture{"q/pal8os2v2.bmp", "g/pal8.bmp", 0, PixelFormat::Bit8},
                      SamePicture{"q/pal8oversizepal.bmp", "g/pal8.bmp", 0, PixelFormat::Bit8},
                      SamePicture{"q/rgb24largepal.bmp", "g/rgb24.bmp", 0, PixelFormat::Bit24},
                      SamePicture{"q/rgb32-xbgr.bmp", "g/rgb24.bmp", 0, PixelFormat::Custom},
                      SamePicture{"q/rgb32fakealpha.bmp", "g/rgb24.bmp", 0, PixelFormat::Bit32},
                      SamePicture{"q/rgba16-5551.bmp", "g/rgb16.bmp", 0, PixelFormat::Custom}),
    [](const auto &info) {
        std::string name = fs::path(info.param.file).stem().string();
        for (char &ch : name)
            if (!isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

TEST(GoodFiles, EveryOneReadsWithItsSize)
{
    for (const auto &entry : fs::directory_iterator(kCorpus + "/g")) {
        SCOPED_TRACE(entry.path().string());
        Bitmap b;
        ASSERT_NO_THROW(b.loadFromFile(entry.path().string()));
        EXPECT_EQ(b.width(), entry.path().filename().string().rfind("pal8w", 0) == 0
                                 ? std::stoi(entry.path().filename().string().substr(5, 3))
                                 : 127);
        EXPECT_GT(b.height(), 0);
    }
}

TEST(GoodFiles, PaletteColoursArePixelColours)
{
    // Black and white in the picture of pal1.bmp; blue and green in pal1bg.bmp.
    const Bitmap bw = load("g/pal1.bmp");
    const Bitmap bg = load("g/pal1bg.bmp");
    std::set<platform::ColorRef> bwColors, bgColors;
    for (auto c : pixelsOf(bw))
        bwColors.insert(c);
    for (auto c : pixelsOf(bg))
        bgColors.insert(c);
    EXPECT_EQ(bwColors, (std::set<platform::ColorRef>{0x000000, 0xFFFFFF}));
    EXPECT_EQ(bgColors.size(), 2u);
    EXPECT_FALSE(bgColors.count(0x000000));
}

TEST(GoodFiles, GrayscaleFilesHoldOnlyGrays)
{
    for (const char *name : {"g/pal4gs.bmp", "g/pal8gs.bmp"}) {
        SCOPED_TRACE(name);
        for (auto c : pixelsOf(load(name)))
            ASSERT_TRUE(platform::redOf(c) == platform::greenOf(c) && platform::greenOf(c) == platform::blueOf(c));
    }
}

// Every questionable and bad file either reads or is refused with the
// picture-format error or a stream read error; nothing else escapes.
TEST(MalformedFiles, ReadOrFailCleanly)
{
    for (const char *folder : {"q", "b"}) {
        for (const auto &entry : fs::directory_iterator(kCorpus + "/" + folder)) {
            SCOPED_TRACE(entry.path().string());
            Bitmap b;
            try {
                b.loadFromFile(entry.path().string());
                EXPECT_GT(b.width(), 0);
                EXPECT_GT(b.height(), 0);
                (void)pixelsOf(b);
            } catch (const PictureFormatError &) {
            } catch (const StreamReadError &) {
            }
        }
    }
}

// What is read can be written back: for every file of the suite the reader
// accepts, an exchange of two colours it doesn't hold, written and read
// again, gives the same colour at every pixel, and every mode gives the same
// pixels through the fast paths as through the plain pipeline.
TEST(EveryAcceptedFile, ComesBackWithItsColoursAndMatchesThePlainPipeline)
{
    std::vector<fs::path> files;
    for (const char *folder : {"g", "q", "b"})
        for (const auto &entry : fs::directory_iterator(kCorpus + "/" + folder))
            files.push_back(entry.path());
    std::size_t accepted = 0;
    for (const auto &file : files) {
        SCOPED_TRACE(file.string());
        Bitmap b;
        try {
            b.loadFromFile(file.string());
        } catch (const PictureFormatError &) {
            continue;
        } catch (const StreamReadError &) {
            continue;
        }
        ++accepted;
        const auto colors = pixelsOf(b);
        for (const int mode : process::everyModeCodeAndAnother()) {
            Bitmap fast = b, plain = b;
            process::processColors(fast, mode, colors.front(), colors.back());
            process::processColorsPlain(plain, mode, colors.front(), colors.back());
            const platform::Raster &x = *fast.raster(), &y = *plain.raster();
            ASSERT_TRUE(std::equal(x.bits(), x.bits() + x.imageBytes(), y.bits(), y.bits() + y.imageBytes()))
                << "mode " << mode;
        }
        const std::set<platform::ColorRef> held(colors.begin(), colors.end());
        platform::ColorRef absent[2];
        platform::ColorRef next = 0x00010203;
        for (auto &c : absent) {
            while (held.count(next))
                next += 0x00010101;
            c = next;
            next += 0x00010101;
        }
        Bitmap swapped = b;
        process::processColors(swapped, process::kModeSwap, absent[0], absent[1]);
        platform::MemoryStream out;
        swapped.saveToStream(out);
        platform::MemoryStream in(out.data());
        Bitmap again;
        ASSERT_NO_THROW(again.loadFromStream(in));
        ASSERT_EQ(pixelsOf(again), colors);
    }
    EXPECT_GE(accepted, 60u);
}

// A bottom-up file of w x h pixels of `bits` bits with the given header size
// (40 or 56), masks (for bit fields) and pixel values.
test::Bytes handMade(unsigned bits, std::uint32_t headerSize, const platform::ChannelMasks *masks, int w, int h,
                     std::uint32_t (*value)(int x, int y))
{
    const std::size_t row = (std::size_t(w) * bits / 8 + 3) & ~std::size_t{3};
    const std::size_t offset = 14 + headerSize;
    test::Bytes f(offset + row * std::size_t(h), 0);
    const auto put32 = [&](std::size_t at, std::uint32_t v) { picture::bmp::writeLe32(f.data() + at, v); };
    f[0] = 'B';
    f[1] = 'M';
    put32(2, std::uint32_t(f.size()));
    put32(10, std::uint32_t(offset));
    put32(14, headerSize);
    put32(18, std::uint32_t(w));
    put32(22, std::uint32_t(h));
    picture::bmp::writeLe16(f.data() + 26, 1);
    picture::bmp::writeLe16(f.data() + 28, std::uint16_t(bits));
    put32(38, 2835);
    put32(42, 2835);
    if (masks) {
        put32(30, platform::kBiBitFields);
        put32(54, masks->red);
        put32(58, masks->green);
        put32(62, masks->blue);
        put32(66, masks->alpha);
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint32_t v = value(x, y);
            std::copy_n(reinterpret_cast<const std::uint8_t *>(&v), bits / 8,
                        f.begin() + std::ptrdiff_t(offset + std::size_t(h - 1 - y) * row + std::size_t(x) * bits / 8));
        }
    return f;
}

// Every file the reader accepts keeps, in every mode, what it had besides the
// colours asked for: its header block, masks and profile, the alpha of every
// pixel, inversion exact at its channels' width, and under an exchange of
// absent colours its pixel bytes and colour table. The suite's good and
// questionable files, two written by ImageMagick (32 bits with alpha in a
// 124-byte header, RLE8) and two made here (A1R5G5B5 in a 56-byte header,
// 32 bits without masks whose fourth byte varies).
TEST(EveryAcceptedFile, KeepsEverythingButTheColoursInEveryMode)
{
    std::vector<std::pair<std::string, test::Bytes>> files;
    for (const std::string &folder : {kCorpus + "/g", kCorpus + "/q", std::string(TOVI_TEST_FILES_DIR)})
        for (const auto &entry : fs::directory_iterator(folder))
            files.emplace_back(entry.path().string(), test::readFile(entry.path().string()));
    const platform::ChannelMasks a1r5g5b5{0x7C00, 0x03E0, 0x001F, 0x8000};
    files.emplace_back("A1R5G5B5", handMade(16, 56, &a1r5g5b5, 7, 3, [](int x, int y) {
                           return std::uint32_t((x & 1) << 15 | (x * 4 + y) << 10 | (y * 9) << 5 | x);
                       }));
    files.emplace_back("32 bits, fourth byte", handMade(32, 40, nullptr, 5, 4, [](int x, int y) {
                           return std::uint32_t((x * 50 + y) << 24 | (x * 40) << 16 | (y * 60) << 8 | (x ^ y));
                       }));
    std::size_t accepted = 0;
    for (const auto &[name, bytes] : files) {
        SCOPED_TRACE(name);
        Bitmap b;
        try {
            platform::MemoryStream in(bytes);
            b.loadFromStream(in);
        } catch (const PictureFormatError &) {
            continue;
        } catch (const StreamReadError &) {
            continue;
        }
        ++accepted;
        const auto colors = pixelsOf(b);
        const std::set<platform::ColorRef> held(colors.begin(), colors.end());
        platform::ColorRef absent[2];
        platform::ColorRef next = 0x00010203;
        for (auto &c : absent) {
            while (held.count(next))
                next += 0x00010101;
            c = next;
            next += 0x00010101;
        }
        for (const process::ModeInfo &mode : process::kModes) {
            const char *broken = fuzz::checkWhatIsKept(bytes, mode.code, colors.front(), colors.back(), false);
            EXPECT_EQ(broken, nullptr) << "mode " << mode.code << ": " << broken;
        }
        const char *broken = fuzz::checkWhatIsKept(bytes, process::kModeSwap, absent[0], absent[1], true);
        EXPECT_EQ(broken, nullptr) << "exchange of absent colours: " << broken;
    }
    EXPECT_GE(accepted, 60u);
}

TEST(MalformedFiles, KnownRefusals)
{
    // Compressions the platform doesn't decode, headers of no known size,
    // impossible sizes and planes.
    for (const char *name : {"q/rgb24jpeg.bmp", "q/rgb24png.bmp", "q/pal8os2v2-16.bmp", "b/badplanes.bmp",
                             "b/badwidth.bmp", "b/badbitcount.bmp", "q/rgba64.bmp", "b/reallybig.bmp",
                             "b/rletopdown.bmp"}) {
        SCOPED_TRACE(name);
        Bitmap b;
        EXPECT_THROW(b.loadFromFile(kCorpus + "/" + name), PictureFormatError);
    }
}

TEST(MalformedFiles, RefusalsSayWhy)
{
    const struct {
        const char *file;
        const char *reason;
    } cases[] = {
        {"b/pal8badindex.bmp", "pixel index 252 lies beyond the 101-entry colour table"},
        {"b/badplanes.bmp", "30000 planes instead of 1"},
        {"b/badbitcount.bmp", "30000 bits per pixel are not supported"},
        {"q/rgb24jpeg.bmp", "compression 4 is not supported"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        try {
            load(c.file);
            ADD_FAILURE();
        } catch (const PictureFormatError &error) {
            EXPECT_STREQ(error.what(), "ビットマップイメージが不正です");
            EXPECT_EQ(error.reason(), c.reason);
        }
    }
}

TEST(MalformedFiles, AFailedReadKeepsThePreviousPicture)
{
    Bitmap b = load("g/pal8.bmp");
    const auto before = pixelsOf(b);
    EXPECT_THROW(b.loadFromFile(kCorpus + "/q/rgb24jpeg.bmp"), PictureFormatError);
    EXPECT_EQ(b.pixelFormat(), PixelFormat::Bit8);
    EXPECT_EQ(pixelsOf(b), before);
}

// Copies of good files cut at every header boundary and inside the pixels.
TEST(TruncatedFiles, BehaveAsDescribed)
{
    for (const char *name : {"g/pal8.bmp", "g/rgb24.bmp", "g/pal8os2.bmp", "g/rgb16-565.bmp", "g/pal8rle.bmp",
                             "g/pal4rle.bmp", "g/pal8v5.bmp"}) {
        const test::Bytes whole = test::readFile(kCorpus + "/" + name);
        const std::size_t headerEnd = 14 + whole[14];
        for (std::size_t cut = 0; cut < whole.size(); cut += (cut < headerEnd + 1100 ? 1 : 997)) {
            SCOPED_TRACE(std::string(name) + " cut at " + std::to_string(cut));
            platform::MemoryStream stream(test::Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(cut)));
            Bitmap b;
            try {
                b.loadFromStream(stream);
                if (cut == 0)
                    EXPECT_TRUE(b.empty());
                else
                    (void)pixelsOf(b);
            } catch (const StreamReadError &) {
                // Only a cut inside the headers, masks or colour table.
                EXPECT_LT(cut, whole.size());
            } catch (const PictureFormatError &) {
            }
        }
    }
}

TEST(TruncatedFiles, ShortPixelDataReadsWithTheTopRowsBlack)
{
    test::Bytes whole = test::readFile(kCorpus + "/g/rgb24.bmp");
    const std::size_t row = ((127 * 24 + 31) / 32) * 4;
    whole.resize(whole.size() - 3 * row);
    platform::MemoryStream stream(whole);
    Bitmap b;
    b.loadFromStream(stream);
    const Bitmap full = load("g/rgb24.bmp");
    EXPECT_EQ(b.pixel(5, 0), 0u);
    EXPECT_EQ(b.pixel(126, 2), 0u);
    EXPECT_EQ(b.pixel(5, 3), full.pixel(5, 3));
    EXPECT_EQ(b.pixel(100, 63), full.pixel(100, 63));
}

}  // namespace
