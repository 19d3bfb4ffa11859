#pragma once
// What a processed file keeps, checked from the outside: the file is read,
// processed in one mode, written and read again, and the two files and
// pictures are compared. Shared by the round-trip fuzz target and the corpus
// test, so both hold the codec to the same promises:
// - the header block: the same header size, every field but those of the
//   layout (sizes and offsets), the masks, the colour profile's bytes;
// - alpha and every other bit outside the colour channels, at every pixel;
// - inversion exact at each channel's own width;
// - an exchange of two colours the picture doesn't hold writes the same pixel
//   bytes (or, from run-length data, the same indices) and colour table;
// - a run-length file stays run-length data at its depth with its table.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "picture/bitmap.h"
#include "picture/bmp/bmp_format.h"
#include "platform/errors.h"
#include "platform/pixel_codec.h"
#include "platform/stream.h"
#include "process/color_ops.h"

namespace tovi::fuzz {

namespace keep {

inline std::uint32_t le32(const std::vector<std::uint8_t> &d, std::size_t at)
{
    return at + 4 <= d.size() ? picture::bmp::readLe32(d.data() + at) : 0;
}

inline bool sameRange(const std::vector<std::uint8_t> &a, std::size_t aAt, const std::vector<std::uint8_t> &b,
                      std::size_t bAt, std::size_t n)
{
    return aAt + n <= a.size() && bAt + n <= b.size() &&
           std::equal(a.begin() + std::ptrdiff_t(aAt), a.begin() + std::ptrdiff_t(aAt + n),
                      b.begin() + std::ptrdiff_t(bAt));
}

inline std::uint32_t pixelValue(const platform::Raster &r, int x, int y)
{
    const unsigned bytes = unsigned(r.bitsPerPixel()) / 8;
    std::uint32_t v = 0;
    std::copy_n(r.scanLine(y) + std::size_t(x) * bytes, bytes, reinterpret_cast<std::uint8_t *>(&v));
    return v;
}

// The bytes of the profile a 124-byte header names, or none.
inline std::vector<std::uint8_t> profileOf(const std::vector<std::uint8_t> &file)
{
    using namespace picture::bmp;
    const std::size_t h = kFileHeaderBytes;
    if (le32(file, h) < kV5HeaderBytes)
        return {};
    const std::uint32_t type = le32(file, h + kColorSpaceTypeAt);
    const std::uint64_t at = h + std::uint64_t(le32(file, h + kProfileDataAt));
    const std::uint32_t size = le32(file, h + kProfileSizeAt);
    if ((type != kProfileEmbedded && type != kProfileLinked) || size == 0 || at + size > file.size())
        return {};
    return {file.begin() + std::ptrdiff_t(at), file.begin() + std::ptrdiff_t(at + size)};
}

// The header block's fields that no layout change touches.
inline const char *checkHeader(const std::vector<std::uint8_t> &in, const std::vector<std::uint8_t> &out)
{
    using namespace picture::bmp;
    const std::size_t h = kFileHeaderBytes;
    const std::uint32_t size = le32(in, h);
    if (le32(out, h) != size)
        return "the header is written back at its own size";
    if (size == kCoreHeaderBytes)
        return sameRange(in, h, out, h, kCoreHeaderBytes) ? nullptr : "a core header is written back as read";
    // Width, height, planes, depth, compression; resolution; the rest.
    if (!sameRange(in, h + kWidthAt, out, h + kWidthAt, kImageSizeAt - kWidthAt) ||
        !sameRange(in, h + kXPelsPerMeterAt, out, h + kXPelsPerMeterAt, 8))
        return "the header's fields are written back as read";
    const std::size_t tailEnd = size >= kV5HeaderBytes ? kProfileDataAt : size;
    if (!sameRange(in, h + kInfoHeaderBytes, out, h + kInfoHeaderBytes, tailEnd - kInfoHeaderBytes) ||
        (size > kProfileSizeAt && !sameRange(in, h + kProfileSizeAt, out, h + kProfileSizeAt, size - kProfileSizeAt)))
        return "a longer header's further fields and masks are written back as read";
    const std::uint16_t bits = readLe16(in.data() + h + kBitCountAt);
    if (size == kInfoHeaderBytes && le32(in, h + kCompressionAt) == platform::kBiBitFields && bits > 8 &&
        !sameRange(in, h + size, out, h + size, kMaskBytes))
        return "the masks after a 40-byte header are written back as read";
    if (profileOf(in) != profileOf(out))
        return "the colour profile is written back with its bytes";
    return nullptr;
}

// Pixels of an independent raster: bits outside the colour channels, exact
// inversion, and an exchange of absent colours that changes no byte.
inline const char *checkPixels(const platform::Raster &before, const platform::Raster &after, int mode,
                               bool absentSwap)
{
    if (absentSwap) {
        // The entries a pixel can name: a core header's table is always full
        // (zero entries may follow), a longer table's rest is out of reach.
        const platform::ColorTable &table = before.colorTable();
        const std::size_t reach = before.bitsPerPixel() <= 8 ? std::size_t{1} << before.bitsPerPixel() : table.size();
        const std::size_t kept = std::min(table.size(), reach);
        if (before.imageBytes() != after.imageBytes() ||
            !std::equal(before.bits(), before.bits() + before.imageBytes(), after.bits()) ||
            after.colorTable().size() < kept ||
            !std::equal(table.begin(), table.begin() + std::ptrdiff_t(kept), after.colorTable().begin()))
            return "an exchange of absent colours writes the same pixel bytes and colour table";
        return nullptr;
    }
    const int bits = before.bitsPerPixel();
    if (bits != 16 && bits != 24 && bits != 32)
        return nullptr;
    const platform::ChannelMasks masks = bits == 24 ? platform::kMasks888 : before.masks();
    const std::uint32_t other = (bits == 16 ? 0xFFFFu : bits == 24 ? 0xFFFFFFu : 0xFFFFFFFFu) & ~masks.colorBits();
    const platform::Channel channels[] = {platform::Channel(masks.red), platform::Channel(masks.green),
                                          platform::Channel(masks.blue)};
    for (int y = 0; y < before.height(); ++y)
        for (int x = 0; x < before.width(); ++x) {
            const std::uint32_t a = pixelValue(before, x, y);
            const std::uint32_t b = pixelValue(after, x, y);
            if ((a & other) != (b & other))
                return "alpha and the other bits outside the colour channels are kept at every pixel";
            if (mode != process::kModeInvert)
                continue;
            for (const platform::Channel &c : channels) {
                const std::uint64_t max = (std::uint64_t{1} << c.bits) - 1;
                if (((b & c.mask) >> c.shift) != max - ((a & c.mask) >> c.shift))
                    return "inversion is exact at each channel's own width";
            }
        }
    return nullptr;
}

}  // namespace keep

// Reads `file`, processes it in `mode` with colours c1 and c2 (absentSwap:
// the exchange of two colours the picture doesn't hold), writes and reads it
// again. Returns the promise that was broken, or nullptr; nullptr too for
// bytes the reader refuses.
inline const char *checkWhatIsKept(const std::vector<std::uint8_t> &file, int mode, platform::ColorRef c1,
                                   platform::ColorRef c2, bool absentSwap)
{
    picture::Bitmap before;
    try {
        platform::MemoryStream in(file);
        before.loadFromStream(in);
    } catch (const PictureFormatError &) {
        return nullptr;
    } catch (const StreamReadError &) {
        return nullptr;
    }
    if (!before.raster())
        return nullptr;
    picture::Bitmap processed = before;
    process::processColors(processed, mode, c1, c2);
    platform::MemoryStream out;
    picture::Bitmap after;
    try {
        processed.saveToStream(out);
        platform::MemoryStream back(out.data());
        after.loadFromStream(back);
    } catch (const Error &) {
        return "a processed picture is written and read again";
    }
    if (!after.raster() || after.width() != before.width() || after.height() != before.height() ||
        after.pixelFormat() != before.pixelFormat())
        return "a processed picture reads back with its size and pixel format";
    if (processed.keptFileBytes())
        return out.data() == file ? nullptr : "an unchanged compressed file is written back byte for byte";
    if (const char *broken = keep::checkHeader(file, out.data()))
        return broken;
    const picture::FileExtras *extras = before.fileExtras();
    if (extras && extras->runLength) {
        const picture::FileExtras *again = after.fileExtras();
        if (!again || !again->runLength || again->runLengthTable != extras->runLengthTable)
            return "a run-length file stays run-length data with its colour table";
        if (absentSwap && again->runLengthIndices != extras->runLengthIndices)
            return "an exchange of absent colours keeps every pixel's index";
        return nullptr;
    }
    if (before.raster()->isDevice())
        return nullptr;
    for (int y = 0; y < after.height(); ++y)
        for (int x = 0; x < after.width(); ++x)
            if (after.pixel(x, y) != processed.pixel(x, y))
                return "a processed picture reads back with its colours";
    return keep::checkPixels(*before.raster(), *after.raster(), mode, absentSwap);
}

}  // namespace tovi::fuzz
