// Writing a bitmap picture as a BMP: the file header, the core or information
// header with its masks and colour table, then the pixel rows as stored, and
// the colour profile a long header names. A longer header than 40 bytes is
// written back with every field the file had; only the fields of the layout
// (sizes and offsets) are new. A picture read from run-length data is
// written as run-length data again, at its own depth with its own table.

#include <algorithm>
#include <vector>

#include "picture/bmp/bmp_codec.h"
#include "picture/bmp/bmp_format.h"
#include "picture/bmp/bmp_rle.h"
#include "platform/errors.h"
#include "platform/pixel_codec.h"
#include "platform/stream.h"

namespace tovi::picture {

using namespace platform;

namespace bmp {

namespace {

// The rows of a device raster, bottom row first, in a few large writes.
void writeDeviceRowsBottomUp(Stream &stream, const Raster &raster)
{
    constexpr std::size_t kChunkBytes = std::size_t{8} << 20;
    const std::size_t row = raster.rowBytes();
    const std::size_t rowsPerChunk = std::max<std::size_t>(1, kChunkBytes / row);
    std::vector<std::uint8_t> chunk(std::min(rowsPerChunk, std::size_t(raster.height())) * row);
    int next = raster.height() - 1;
    while (next >= 0) {
        std::size_t used = 0;
        for (std::size_t i = 0; i < rowsPerChunk && next >= 0; ++i, --next, used += row) {
            const std::uint8_t *from = raster.scanLine(next);
            std::uint8_t *to = chunk.data() + used;
            for (std::size_t x = 0; x < row; x += 4) {
                to[x] = from[x];
                to[x + 1] = from[x + 1];
                to[x + 2] = from[x + 2];
                to[x + 3] = 0;
            }
        }
        stream.writeExact(chunk.data(), used);
    }
}

// The colours written: the raster's own table, or else the logical palette
// as an optional table. A paletted raster's pixels name at most 2^bits
// entries; a longer table's rest is out of their reach and not written.
ColorTable colorsToWrite(const Bitmap &picture, const Raster &raster, const BitmapInfoHeader &info)
{
    ColorTable colors = raster.colorTable();
    if (info.clrUsed != 0 && info.clrUsed < colors.size())
        colors.resize(info.clrUsed);
    const unsigned bits = unsigned(raster.bitsPerPixel());
    if (bits <= 8 && colors.size() > (std::size_t{1} << bits))
        colors.resize(std::size_t{1} << bits);
    const auto &palette = picture.palette();
    if (colors.empty() && !picture.isOs2Style() && palette && !palette->halftone) {
        colors = palette->entries;
        colors.resize(std::min(colors.size(), kMaxColorTableEntries));
        for (RgbQuad &entry : colors)
            entry.reserved = 0;
    }
    return colors;
}

// The 12-byte core header and a full table of 3-byte entries, which core
// files of up to 8 bits always carry.
std::vector<std::uint8_t> coreHeaderBlock(const Raster &raster, const ColorTable &colors)
{
    const unsigned bits = unsigned(raster.bitsPerPixel());
    std::vector<std::uint8_t> block(kCoreHeaderBytes);
    std::uint8_t *p = block.data();
    writeLe32(p + kHeaderSizeAt, kCoreHeaderBytes);
    writeLe16(p + kCoreWidthAt, std::uint16_t(raster.width()));
    writeLe16(p + kCoreHeightAt, std::uint16_t(raster.height()));
    writeLe16(p + kCorePlanesAt, 1);
    writeLe16(p + kCoreBitCountAt, std::uint16_t(bits));
    if (bits <= 8) {
        const std::size_t entries = std::size_t{1} << bits;
        for (std::size_t i = 0; i < entries; ++i) {
            const RgbQuad c = i < colors.size() ? colors[i] : RgbQuad{};
            block.insert(block.end(), {c.blue, c.green, c.red});
        }
    }
    return block;
}

// The information header as the picture holds it (40 bytes, or the file's
// longer header with every further field as read), the masks after a 40-byte
// one for bit fields, and the colour table.
std::vector<std::uint8_t> infoHeaderBlock(const Raster &raster, const BitmapInfoHeader &info,
                                          const ChannelMasks &masks, const ColorTable &colors, bool topDown,
                                          const std::vector<std::uint8_t> &tail)
{
    const unsigned bits = unsigned(raster.bitsPerPixel());
    const bool withMasks = bits > 8 && info.compression == kBiBitFields;
    const std::size_t headerBytes = kInfoHeaderBytes + tail.size();
    const bool masksAfter = withMasks && tail.empty();
    std::vector<std::uint8_t> block(kInfoHeaderBytes + (masksAfter ? kMaskBytes : 0));
    std::uint8_t *p = block.data();
    writeLe32(p + kHeaderSizeAt, std::uint32_t(headerBytes));
    writeLe32(p + kWidthAt, std::uint32_t(raster.width()));
    // The sign keeps the row order as stored.
    writeLe32(p + kHeightAt, std::uint32_t(topDown ? -raster.height() : raster.height()));
    writeLe16(p + kPlanesAt, 1);
    writeLe16(p + kBitCountAt, std::uint16_t(bits));
    writeLe32(p + kCompressionAt, info.compression);
    writeLe32(p + kImageSizeAt, std::uint32_t(raster.imageBytes()));
    writeLe32(p + kXPelsPerMeterAt, std::uint32_t(info.xPelsPerMeter));
    writeLe32(p + kYPelsPerMeterAt, std::uint32_t(info.yPelsPerMeter));
    writeLe32(p + kColorsUsedAt, colors.empty() ? info.clrUsed : std::uint32_t(colors.size()));
    writeLe32(p + kColorsImportantAt, info.clrImportant);
    if (masksAfter) {
        writeLe32(p + kRedMaskAt, masks.red);
        writeLe32(p + kGreenMaskAt, masks.green);
        writeLe32(p + kBlueMaskAt, masks.blue);
    }
    block.insert(block.begin() + kInfoHeaderBytes, tail.begin(), tail.end());
    p = block.data();
    if (withMasks && headerBytes >= kV2InfoHeaderBytes) {
        writeLe32(p + kRedMaskAt, masks.red);
        writeLe32(p + kGreenMaskAt, masks.green);
        writeLe32(p + kBlueMaskAt, masks.blue);
        if (headerBytes >= kV3InfoHeaderBytes)
            writeLe32(p + kAlphaMaskAt, masks.alpha);
    }
    for (const RgbQuad &c : colors)
        block.insert(block.end(), {c.blue, c.green, c.red, c.reserved});
    return block;
}

// The profile a 124-byte header names goes after the pixel data; its place
// (from the information header's start, where the block begins) is set
// accordingly.
void placeProfile(std::vector<std::uint8_t> &block, std::size_t pixelBytes, const std::vector<std::uint8_t> &profile)
{
    if (profile.empty())
        return;
    std::uint8_t *header = block.data();
    if (readLe32(header + kHeaderSizeAt) < kV5HeaderBytes)
        return;
    writeLe32(header + kProfileDataAt, std::uint32_t(block.size() + pixelBytes));
    writeLe32(header + kProfileSizeAt, std::uint32_t(profile.size()));
}

// The file header in front of the block, for pixel data and a profile of
// these sizes. A file beyond what its 32-bit size field can say is refused.
void prependFileHeader(std::vector<std::uint8_t> &block, std::uint64_t pixelBytes, std::uint64_t profileBytes)
{
    const std::uint64_t fileBytes = kFileHeaderBytes + block.size() + pixelBytes + profileBytes;
    if (fileBytes > 0xFFFFFFFFu)
        throw PictureFormatError(messages::kInvalidBitmap, "the file would be larger than 4 GiB");
    std::uint8_t fileHeader[kFileHeaderBytes] = {};
    writeLe16(fileHeader + kSignatureAt, kSignature);
    writeLe32(fileHeader + kFileSizeAt, std::uint32_t(fileBytes));
    writeLe32(fileHeader + kPixelOffsetAt, std::uint32_t(kFileHeaderBytes + block.size()));
    block.insert(block.begin(), fileHeader, fileHeader + kFileHeaderBytes);
}

// The colour-table index of every pixel of a device raster, rows from the
// top: a pixel that still has the colour of the index it was read with keeps
// that index (one the data skipped stays skipped while it is black), any
// other takes the nearest entry.
std::vector<std::uint16_t> indicesOf(const Raster &device, const FileExtras &extras, std::size_t reachable)
{
    const ColorTable &table = extras.runLengthTable;
    const std::size_t width = std::size_t(device.width());
    const std::size_t height = std::size_t(device.height());
    const bool sameSize = extras.runLength && std::size_t(extras.runLength->width) == width &&
                          extras.runLengthIndices.size() == width * height;
    std::vector<std::uint32_t> xrgb(table.size());
    for (std::size_t i = 0; i < table.size(); ++i)
        xrgb[i] = colorToXrgb(table[i].color());
    std::vector<std::uint16_t> indices(width * height);
    std::uint32_t lastColor = 0;
    std::uint8_t lastIndex = 0;
    bool haveLast = false;
    for (std::size_t y = 0; y < height; ++y) {
        const auto *row = reinterpret_cast<const std::uint32_t *>(device.scanLine(int(y)));
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint32_t c = row[x] & 0x00FFFFFF;
            std::uint16_t &out = indices[y * width + x];
            if (sameSize) {
                const std::uint16_t read = extras.runLengthIndices[y * width + x];
                if ((read < xrgb.size() && xrgb[read] == c) || (read == FileExtras::kUnsetPixel && c == 0)) {
                    out = read;
                    continue;
                }
            }
            if (!haveLast || c != lastColor) {
                lastColor = c;
                lastIndex = std::uint8_t(nearestIndex(table, xrgbToColor(c), reachable));
                haveLast = true;
            }
            out = lastIndex;
        }
    }
    return indices;
}

// A changed picture from run-length data: the same header (depth,
// compression, resolution, colour counts, every further field), the file's
// colour table and the pixels run-length encoded again.
void encodeRunLengthPicture(const Raster &device, const FileExtras &extras, Stream &stream)
{
    const BitmapInfoHeader &read = *extras.runLength;
    const bool fourBits = read.compression == kBiRle4;
    const ColorTable &table = extras.runLengthTable;
    const std::size_t reachable = std::size_t{1} << (fourBits ? 4 : 8);
    const std::vector<std::uint8_t> data =
        encodeRunLength(indicesOf(device, extras, reachable), device.width(), device.height(), fourBits);

    std::vector<std::uint8_t> block(kInfoHeaderBytes);
    std::uint8_t *p = block.data();
    writeLe32(p + kHeaderSizeAt, std::uint32_t(kInfoHeaderBytes + extras.headerTail.size()));
    writeLe32(p + kWidthAt, std::uint32_t(device.width()));
    writeLe32(p + kHeightAt, std::uint32_t(device.height()));
    writeLe16(p + kPlanesAt, 1);
    writeLe16(p + kBitCountAt, fourBits ? 4 : 8);
    writeLe32(p + kCompressionAt, read.compression);
    writeLe32(p + kImageSizeAt, std::uint32_t(data.size()));
    writeLe32(p + kXPelsPerMeterAt, std::uint32_t(read.xPelsPerMeter));
    writeLe32(p + kYPelsPerMeterAt, std::uint32_t(read.yPelsPerMeter));
    writeLe32(p + kColorsUsedAt, std::uint32_t(table.size()));
    writeLe32(p + kColorsImportantAt, read.clrImportant);
    block.insert(block.end(), extras.headerTail.begin(), extras.headerTail.end());
    for (const RgbQuad &c : table)
        block.insert(block.end(), {c.blue, c.green, c.red, c.reserved});
    placeProfile(block, data.size(), extras.profile);
    prependFileHeader(block, data.size(), extras.profile.size());
    stream.writeExact(block.data(), block.size());
    stream.writeExact(data.data(), data.size());
    if (!extras.profile.empty())
        stream.writeExact(extras.profile.data(), extras.profile.size());
}

}  // namespace

void encode(const Bitmap &picture, Stream &stream)
{
    // An unchanged picture from a compressed file is written back as read.
    if (const auto *kept = picture.keptFileBytes()) {
        stream.writeExact(kept->data(), kept->size());
        return;
    }
    const Raster *raster = picture.raster();
    const FileExtras *extras = picture.fileExtras();
    if (raster && raster->isDevice() && !raster->isMonochromeDevice() && extras && extras->runLength) {
        encodeRunLengthPicture(*raster, *extras, stream);
        return;
    }
    std::shared_ptr<const Raster> independent;
    BitmapInfoHeader info = picture.header();
    ChannelMasks masks = picture.masks();
    // A colour device raster already holds the bytes of a 32-bit file (blue,
    // green, red, 0), only top-down: its rows are written in reverse order
    // below instead of through a second full copy of the picture.
    const bool deviceRows = raster && raster->isDevice() && !raster->isMonochromeDevice();
    if (deviceRows) {
        info = {};
        info.size = kInfoHeaderBytes;
        info.compression = kBiRgb;
        masks = {};
    } else if (raster && raster->isDevice()) {
        independent = picture.makeIndependentFromDevice();
        raster = independent.get();
        info = raster->header();
        masks = {};
    }
    if (!raster)
        return;

    const ColorTable colors = colorsToWrite(picture, *raster, info);
    const bool os2Style = picture.isOs2Style();
    // A table that doesn't cover the pixels would make another picture of them.
    if (!os2Style && raster->bitsPerPixel() <= 8)
        requireColorTableCovers(*raster, colors.size());
    const bool keepExtras = extras && !os2Style && !raster->isDevice();
    static const std::vector<std::uint8_t> kNone;
    const std::vector<std::uint8_t> &tail = keepExtras ? extras->headerTail : kNone;
    const std::vector<std::uint8_t> &profile = keepExtras ? extras->profile : kNone;
    std::vector<std::uint8_t> block =
        os2Style ? coreHeaderBlock(*raster, colors)
                 : infoHeaderBlock(*raster, info, masks, colors, raster->topDown() && !deviceRows, tail);

    const std::size_t imageBytes = raster->imageBytes();
    placeProfile(block, imageBytes, profile);
    prependFileHeader(block, imageBytes, profile.size());
    stream.writeExact(block.data(), block.size());
    if (deviceRows)
        writeDeviceRowsBottomUp(stream, *raster);
    else
        stream.writeExact(raster->bits(), imageBytes);
    if (!profile.empty())
        stream.writeExact(profile.data(), profile.size());
}

}  // namespace bmp

void Bitmap::saveToStream(Stream &stream) const
{
    bmp::encode(*this, stream);
}

void Bitmap::saveToFile(const std::string &fileName) const
{
    SafeFileWriter writer(fileName);
    saveToStream(writer);
    writer.commit();
}

}  // namespace tovi::picture
