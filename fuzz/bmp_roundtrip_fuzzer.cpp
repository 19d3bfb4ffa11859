// Holds the reader to its promise for every file it accepts: each mode gives
// the same pixels through the fast paths as through the plain pipeline, and an
// exchange of two colours the picture doesn't hold, written and read again,
// gives back the same colour at every pixel. In every mode the written file
// keeps what bmp_keep_check.h checks (header block, alpha, pixels the mode
// leaves alone), and a run-length file processed through its indices holds
// the pixels the whole pipeline gives. A broken promise aborts.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unordered_set>
#include <vector>

#include "bmp_keep_check.h"
#include "picture/bitmap.h"
#include "picture/bmp/bmp_codec.h"
#include "platform/errors.h"
#include "platform/pixel_codec.h"
#include "platform/stream.h"
#include "process/color_ops.h"

namespace {

using namespace tovi;

// Every pixel's colour 0x00RRGGBB, top row first.
std::vector<std::uint32_t> colorsOf(const picture::Bitmap &bitmap)
{
    const platform::Raster &raster = *bitmap.raster();
    const platform::PixelDecoder decoder(raster, 0x00FFFFFF, 0);
    std::vector<std::uint32_t> out(std::size_t(raster.width()) * std::size_t(raster.height()));
    for (int y = 0; y < raster.height(); ++y)
        decoder.decode(raster.scanLine(y), 0, raster.width(), out.data() + std::size_t(y) * std::size_t(raster.width()));
    return out;
}

[[noreturn]] void broken(const char *promise)
{
    std::fprintf(stderr, "broken promise: %s\n", promise);
    std::abort();
}

// A colour the picture doesn't hold, other than `other`.
platform::ColorRef absentColor(const std::unordered_set<std::uint32_t> &held, platform::ColorRef other)
{
    for (platform::ColorRef c = 0x00123456;; c = (c + 0x00010101) & 0x00FFFFFF)
        if (c != other && !held.count(platform::colorToXrgb(c)))
            return c;
}

// The run-length indices of a BMP as read; empty for any other file.
std::vector<std::uint16_t> runLengthIndicesOf(const std::vector<std::uint8_t> &file)
{
    platform::MemoryStream stream(file);
    picture::Bitmap b;
    b.loadFromStream(stream);
    return b.fileExtras() ? b.fileExtras()->runLengthIndices : std::vector<std::uint16_t>{};
}

void checkMappedRunLength(const std::vector<std::uint8_t> &file, const picture::Bitmap &bitmap, int mode,
                          platform::ColorRef c1, platform::ColorRef c2)
{
    platform::MemoryStream in(file);
    const auto rle = picture::bmp::readRunLengthFile(in);
    if (!rle)
        return;
    const auto mapped = picture::bmp::remapRunLengthIndices(
        *rle, process::runLengthIndexMap(rle->table, rle->fourBits, mode, c1, c2, {}));
    if (!mapped)
        return;
    picture::Bitmap whole = bitmap;
    process::processColors(whole, mode, c1, c2);
    platform::MemoryStream written;
    try {
        whole.saveToStream(written);
        if (runLengthIndicesOf(*mapped) != runLengthIndicesOf(written.data()))
            broken("a run-length file processed through its indices holds the whole pipeline's pixels");
    } catch (const Error &) {
        broken("a run-length file processed through its indices is read again");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    platform::MemoryStream in(std::vector<std::uint8_t>(data, data + size));
    picture::Bitmap bitmap;
    try {
        bitmap.loadFromStream(in);
    } catch (const PictureFormatError &) {
        return 0;
    } catch (const StreamReadError &) {
        return 0;
    }
    if (!bitmap.raster() || std::int64_t(bitmap.width()) * bitmap.height() > 256 * 256)
        return 0;
    const std::vector<std::uint32_t> colors = colorsOf(bitmap);

    const platform::ColorRef first = platform::xrgbToColor(colors.front());
    const platform::ColorRef last = platform::xrgbToColor(colors.back());
    for (const int mode : process::everyModeCodeAndAnother()) {
        picture::Bitmap fast = bitmap;
        picture::Bitmap plain = bitmap;
        process::processColors(fast, mode, first, last);
        process::processColorsPlain(plain, mode, first, last);
        const platform::Raster &a = *fast.raster();
        const platform::Raster &b = *plain.raster();
        if (a.imageBytes() != b.imageBytes() || !std::equal(a.bits(), a.bits() + a.imageBytes(), b.bits()))
            broken("fast paths and the plain pipeline give the same pixels");
    }

    const std::unordered_set<std::uint32_t> held(colors.begin(), colors.end());
    const platform::ColorRef c1 = absentColor(held, platform::kInvalidColor);
    const platform::ColorRef c2 = absentColor(held, c1);
    picture::Bitmap swapped = bitmap;
    process::processColors(swapped, process::kModeSwap, c1, c2);
    platform::MemoryStream out;
    picture::Bitmap again;
    try {
        swapped.saveToStream(out);
        platform::MemoryStream back(out.data());
        again.loadFromStream(back);
    } catch (const Error &) {
        broken("a picture that was read is written and read again");
    }
    if (!again.raster() || again.width() != bitmap.width() || again.height() != bitmap.height() ||
        colorsOf(again) != colors)
        broken("an exchange of absent colours, written and read again, keeps every colour");

    const std::vector<std::uint8_t> file(data, data + size);
    for (const process::ModeInfo &mode : process::kModes) {
        if (const char *promise = fuzz::checkWhatIsKept(file, mode.code, first, last, false))
            broken(promise);
        checkMappedRunLength(file, bitmap, mode.code, first, last);
    }
    if (const char *promise = fuzz::checkWhatIsKept(file, process::kModeSwap, c1, c2, true))
        broken(promise);
    return 0;
}
