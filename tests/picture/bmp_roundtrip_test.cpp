// Writing BMP files: what comes out for each kind of picture read, write then
// read keeping format, palette, masks and row order, the byte-exact write-back
// of unchanged compressed files, and safe overwriting.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <algorithm>
#include <filesystem>

#include "picture/bitmap.h"
#include "picture/bmp/bmp_format.h"
#include "platform/errors.h"
#include "platform/stream.h"
#include "process/color_ops.h"
#include "support/test_support.h"

using namespace tovi;
using namespace tovi::picture;
using platform::rgb;
namespace fs = std::filesystem;

namespace {

const std::string kCorpus = TOVI_CORPUS_DIR;

// A writable copy of a corpus file (the corpus itself is read-only).
void copyWritable(const std::string &relative, const std::string &to)
{
    fs::copy_file(kCorpus + "/" + relative, to, fs::copy_options::overwrite_existing);
    chmod(to.c_str(), 0644);
}

test::Bytes written(const Bitmap &b)
{
    platform::MemoryStream stream;
    b.saveToStream(stream);
    return stream.data();
}

Bitmap readBytes(const test::Bytes &bytes)
{
    platform::MemoryStream stream(bytes);
    Bitmap b;
    b.loadFromStream(stream);
    return b;
}

Bitmap load(const std::string &relative)
{
    Bitmap b;
    b.loadFromFile(kCorpus + "/" + relative);
    return b;
}

std::uint32_t le32(const test::Bytes &d, std::size_t at) { return bmp::readLe32(d.data() + at); }

std::vector<platform::ColorRef> pixelsOf(const Bitmap &b)
{
    std::vector<platform::ColorRef> out;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x)
            out.push_back(b.pixel(x, y));
    return out;
}

// The colours a picture comes back with: one read from run-length data is
// written at its own depth, each pixel taking its table's nearest entry.
std::vector<platform::ColorRef> writtenPixelsOf(const Bitmap &b)
{
    std::vector<platform::ColorRef> out = pixelsOf(b);
    const picture::FileExtras *extras = b.fileExtras();
    if (!extras || !extras->runLength || !b.raster()->isDevice())
        return out;
    const platform::ColorTable &table = extras->runLengthTable;
    for (platform::ColorRef &c : out)
        c = table[platform::nearestIndex(table, c, std::size_t{1} << extras->runLength->bitCount)].color();
    return out;
}

class WriteThenRead : public ::testing::TestWithParam<const char *> {};

// After a change every uncompressed file comes back with its pixel format,
// colours, palette, masks and row order.
TEST_P(WriteThenRead, KeepsFormatPaletteMasksAndRowOrder)
{
    Bitmap b = load(GetParam());
    process::processColors(b, process::kModeInvert, 0, 0);
    const test::Bytes bytes = written(b);
    const Bitmap back = readBytes(bytes);
    // A device picture read from run-length data is written as run-length
    // data again (and reads as a device picture).
    EXPECT_EQ(back.pixelFormat(), b.pixelFormat());
    EXPECT_EQ(pixelsOf(back), writtenPixelsOf(b));
    EXPECT_EQ(back.masks(), b.masks());
    EXPECT_EQ(back.isOs2Style(), b.isOs2Style());
    if (!b.raster()->isDevice()) {
        EXPECT_EQ(back.raster()->topDown(), b.raster()->topDown());
        EXPECT_EQ(back.raster()->colorTable(), b.raster()->colorTable());
    }
    // File size and pixel offset add up.
    EXPECT_EQ(le32(bytes, 2), bytes.size());
    EXPECT_EQ(bytes.size() - le32(bytes, 10),
              back.raster()->isDevice() ? le32(bytes, 34) : back.raster()->imageBytes());
}

INSTANTIATE_TEST_SUITE_P(BmpSuite, WriteThenRead,
                         ::testing::Values("g/pal1.bmp", "g/pal1bg.bmp", "g/pal4.bmp", "g/pal8.bmp",
                                           "g/pal8os2.bmp", "g/pal8topdown.bmp", "g/pal8v5.bmp", "g/rgb16.bmp",
                                           "g/rgb16-565.bmp", "g/rgb16bfdef.bmp", "g/rgb24.bmp", "g/rgb24pal.bmp",
                                           "g/rgb32.bmp", "g/rgb32bf.bmp", "g/pal8rle.bmp", "g/pal4rle.bmp",
                                           "q/pal2.bmp", "q/rgb32-111110.bmp"),
                         [](const auto &info) {
                             std::string name = fs::path(info.param).stem().string();
                             for (char &ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

TEST(WhatComesOut, UnchangedCompressedFilesAreWrittenByteForByte)
{
    for (const char *name : {"g/pal8rle.bmp", "g/pal4rle.bmp"}) {
        const Bitmap b = load(name);
        EXPECT_EQ(b.pixelFormat(), PixelFormat::Device);
        EXPECT_EQ(written(b), test::readFile(kCorpus + "/" + name));
    }
}

TEST(WhatComesOut, ChangedRunLengthFilesStayRunLengthAtTheirDepth)
{
    for (const char *name : {"g/pal8rle.bmp", "g/pal4rle.bmp"}) {
        SCOPED_TRACE(name);
        const test::Bytes original = test::readFile(kCorpus + "/" + name);
        Bitmap b = load(name);
        process::processColors(b, process::kModeInvert, 0, 0);
        const test::Bytes bytes = written(b);
        const std::uint32_t colours = le32(original, 46);
        EXPECT_EQ(le32(bytes, 14), 40u);
        EXPECT_EQ(bmp::readLe16(bytes.data() + 28), bmp::readLe16(original.data() + 28));  // depth
        EXPECT_EQ(le32(bytes, 30), le32(original, 30));                                    // compression
        EXPECT_EQ(le32(bytes, 38), le32(original, 38));                                    // resolution
        EXPECT_EQ(le32(bytes, 42), le32(original, 42));
        EXPECT_EQ(le32(bytes, 46), colours);                                               // the file's table
        EXPECT_TRUE(std::equal(bytes.begin() + 54, bytes.begin() + 54 + 4 * colours, original.begin() + 54));
        EXPECT_EQ(le32(bytes, 10), 14u + 40 + 4 * colours);
        EXPECT_EQ(le32(bytes, 34), bytes.size() - le32(bytes, 10));
        EXPECT_EQ(b.pixelFormat(), PixelFormat::Device);  // still, as the picture reports it
        const Bitmap back = readBytes(bytes);
        EXPECT_EQ(back.pixelFormat(), PixelFormat::Device);
        EXPECT_EQ(pixelsOf(back), writtenPixelsOf(b));
    }
}

TEST(WhatComesOut, DevicePicturesAreWrittenAsBottomUp32BitFiles)
{
    // Taller than one write chunk, with stray fourth bytes.
    Bitmap b;
    b.setWidth(700);
    b.setHeight(3100);
    ASSERT_EQ(b.pixelFormat(), PixelFormat::Device);
    for (int y = 0; y < b.height(); ++y) {
        std::uint8_t *row = b.scanLine(y);
        for (int i = 0; i < b.width() * 4; ++i)
            row[i] = std::uint8_t(i * 7 + y);
    }
    const test::Bytes bytes = written(b);
    const auto independent = b.makeIndependentFromDevice();
    ASSERT_FALSE(independent->topDown());
    EXPECT_EQ(std::int32_t(le32(bytes, 22)), 3100);
    EXPECT_EQ(bmp::readLe16(bytes.data() + 28), 32);
    const std::size_t offset = le32(bytes, 10);
    ASSERT_EQ(bytes.size() - offset, independent->imageBytes());
    EXPECT_TRUE(std::equal(bytes.begin() + std::ptrdiff_t(offset), bytes.end(), independent->bits()));
}

TEST(WhatComesOut, CoreHeaderFilesStayCoreHeaderFiles)
{
    Bitmap b;
    {
        // A 1-bit core-header file, 9 x 2.
        test::Bytes f = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0, 12, 0, 0, 0, 9, 0, 2, 0, 1, 0, 1, 0,
                         0, 0, 0, 255, 255, 255, 0x80, 0x80, 0, 0, 0xFF, 0xFF, 0, 0};
        b = readBytes(f);
    }
    ASSERT_EQ(b.pixelFormat(), PixelFormat::Bit1);
    EXPECT_TRUE(b.isOs2Style());
    process::processColors(b, process::kModeSwap, rgb(255, 255, 255), rgb(0, 0, 0));
    const test::Bytes bytes = written(b);
    EXPECT_EQ(le32(bytes, 14), 12u);
    EXPECT_EQ(le32(bytes, 10), 32u);  // 14 + 12 + two 3-byte entries
    EXPECT_EQ(bytes.size(), 32u + 8);
    EXPECT_EQ(bytes[26], 0);
    EXPECT_EQ(bytes[29], 255);
    EXPECT_EQ(readBytes(bytes).pixel(0, 0), rgb(0, 0, 0));
    EXPECT_EQ(readBytes(bytes).pixel(1, 0), rgb(0, 0, 0));
    EXPECT_EQ(readBytes(bytes).pixel(0, 1), rgb(0, 0, 0));
    EXPECT_EQ(readBytes(bytes).pixel(1, 1), rgb(255, 255, 255));
}

TEST(WhatComesOut, LongHeadersAreWrittenBackWhole)
{
    const test::Bytes original = test::readFile(kCorpus + "/q/rgb32-xbgr.bmp");
    Bitmap b = load("q/rgb32-xbgr.bmp");
    process::processColors(b, process::kModeGray, 0, 0);
    const test::Bytes bytes = written(b);
    const std::uint32_t headerSize = le32(original, 14);
    ASSERT_GT(headerSize, 52u);
    EXPECT_EQ(le32(bytes, 14), headerSize);
    EXPECT_EQ(le32(bytes, 30), 3u);
    EXPECT_EQ(le32(bytes, 54), b.masks().red);
    EXPECT_EQ(le32(bytes, 62), b.masks().blue);
    EXPECT_TRUE(std::equal(bytes.begin() + 54, bytes.begin() + 14 + headerSize, original.begin() + 54));
    EXPECT_EQ(le32(bytes, 10), 14u + headerSize);
}

TEST(WhatComesOut, TopDownStaysTopDown)
{
    Bitmap b = load("g/pal8topdown.bmp");
    process::processColors(b, process::kModeInvert, 0, 0);
    const test::Bytes bytes = written(b);
    EXPECT_EQ(std::int32_t(le32(bytes, 22)), -64);
}

TEST(WhatComesOut, UsedColoursFieldIsHonoured)
{
    // An 8-bit file with 16 colours: the pixels start 64 bytes after the header.
    test::Bytes f(14 + 40 + 64 + 4, 0);
    f[0] = 'B';
    f[1] = 'M';
    bmp::writeLe32(f.data() + 14, 40);
    bmp::writeLe32(f.data() + 18, 2);
    bmp::writeLe32(f.data() + 22, 1);
    bmp::writeLe16(f.data() + 26, 1);
    bmp::writeLe16(f.data() + 28, 8);
    bmp::writeLe32(f.data() + 46, 16);
    f[14 + 40 + 4 * 3 + 2] = 200;  // entry 3: red 200
    f[14 + 40 + 64] = 3;
    const Bitmap b = readBytes(f);
    EXPECT_EQ(b.raster()->colorTable().size(), 16u);
    EXPECT_EQ(b.pixel(0, 0), rgb(200, 0, 0));
    EXPECT_EQ(b.pixel(1, 0), rgb(0, 0, 0));
}

TEST(EmptyPictures, ReadFromAndWriteToZeroBytes)
{
    Bitmap b = load("g/pal8.bmp");
    b.loadFromStream(*std::make_unique<platform::MemoryStream>());
    EXPECT_TRUE(b.empty());
    EXPECT_EQ(b.pixelFormat(), PixelFormat::Device);
    EXPECT_TRUE(written(b).empty());
    test::TempDir dir;
    b.saveToFile(dir.file("empty.bmp"));
    EXPECT_TRUE(test::readFile(dir.file("empty.bmp")).empty());
}

TEST(Failures, TheirKindsAndTexts)
{
    try {
        readBytes(test::Bytes{'B', 'M', 1, 2, 3});
        FAIL();
    } catch (const StreamReadError &e) {
        EXPECT_STREQ(e.what(), "ストリームからの読み込みエラー");
    }
    try {
        readBytes(test::Bytes(20, 'x'));
        FAIL();
    } catch (const PictureFormatError &e) {
        EXPECT_STREQ(e.what(), "ビットマップイメージが不正です");
    }
    // A header size that is neither 12 nor at least 40.
    test::Bytes odd = test::readFile(kCorpus + "/g/pal8.bmp");
    bmp::writeLe32(odd.data() + 14, 20);
    EXPECT_THROW(readBytes(odd), PictureFormatError);
    // A header size far beyond the file: the header is cut short.
    bmp::writeLe32(odd.data() + 14, 0xFFFFFFF0);
    EXPECT_THROW(readBytes(odd), StreamReadError);
    // Planes not 1.
    test::Bytes planes = test::readFile(kCorpus + "/g/pal8.bmp");
    bmp::writeLe16(planes.data() + 26, 2);
    EXPECT_THROW(readBytes(planes), PictureFormatError);
}

TEST(Failures, DeclaredSizesBeyondTheLimitsAreRefused)
{
    test::Bytes f = test::readFile(kCorpus + "/g/rgb24.bmp");
    // 20000 x 20000 at 24 bits is 1.2 GB: beyond the 1 GiB raster limit.
    bmp::writeLe32(f.data() + 18, 20000);
    bmp::writeLe32(f.data() + 22, 20000);
    EXPECT_THROW(readBytes(f), PictureFormatError);
    // 8000 x 6000 (144 MB) from a file of 24 KB: far beyond what the file can fill.
    bmp::writeLe32(f.data() + 18, 8000);
    bmp::writeLe32(f.data() + 22, 6000);
    EXPECT_THROW(readBytes(f), PictureFormatError);
    // A height of -2147483648.
    bmp::writeLe32(f.data() + 18, 127);
    bmp::writeLe32(f.data() + 22, 0x80000000);
    EXPECT_THROW(readBytes(f), PictureFormatError);
    // More than 256 colours: 256 are kept, the pixels are found behind all of them.
    const Bitmap big = load("q/pal8oversizepal.bmp");
    EXPECT_EQ(big.raster()->colorTable().size(), 256u);
}

TEST(SafeOverwrite, AFailingWriteLeavesTheOriginalIntact)
{
    test::TempDir dir;
    const std::string target = dir.file("picture.bmp");
    copyWritable("g/rgb24.bmp", target);
    const test::Bytes original = test::readFile(target);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            Bitmap b;
            b.loadFromFile(target);
            process::processColors(b, process::kModeInvert, 0, 0);
            b.saveToFile(target);
        } catch (const StreamWriteError &) {
            _exit(7);
        } catch (...) {
            _exit(8);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
    EXPECT_EQ(test::readFile(target), original);
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"picture.bmp"});
}

TEST(SafeOverwrite, ReadOnlyFilesAreRefusedBeforeAnythingIsWritten)
{
    test::TempDir dir;
    const std::string target = dir.file("ro.bmp");
    copyWritable("g/pal8.bmp", target);
    chmod(target.c_str(), 0444);
    Bitmap b;
    b.loadFromFile(target);
    process::processColors(b, process::kModeInvert, 0, 0);
    try {
        b.saveToFile(target);
        FAIL();
    } catch (const FileCreateError &e) {
        EXPECT_NE(std::string(e.what()).find("ファイル \"" + target + "\" を作成できません。"), std::string::npos);
    }
    EXPECT_EQ(test::readFile(target), test::readFile(kCorpus + "/g/pal8.bmp"));
}

TEST(EndToEnd, EveryModeKeepsTheReportedPixelFormat)
{
    test::TempDir dir;
    for (const char *name : {"g/pal1.bmp", "g/pal4.bmp", "g/pal8.bmp", "g/pal8rle.bmp", "g/rgb16.bmp",
                             "g/rgb16-565.bmp", "g/rgb24.bmp", "g/rgb32.bmp", "g/rgb32bf.bmp"}) {
        for (int mode : {19, 20, 21, 22}) {
            SCOPED_TRACE(std::string(name) + " mode " + std::to_string(mode));
            const std::string file = dir.file("x.bmp");
            copyWritable(name, file);
            Bitmap b;
            b.loadFromFile(file);
            const PixelFormat before = b.pixelFormat();
            process::processColors(b, mode, rgb(255, 255, 255), rgb(0, 0, 0));
            b.saveToFile(file);
            EXPECT_EQ(b.pixelFormat(), before);
            Bitmap again;
            again.loadFromFile(file);
            EXPECT_EQ(pixelsOf(again), writtenPixelsOf(b));
        }
    }
}

}  // namespace
