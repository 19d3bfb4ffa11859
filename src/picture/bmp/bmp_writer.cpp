// Writing a bitmap picture as a BMP: the file header, the core or information
// header with its masks and colour table, then the pixel rows as stored.

#include <algorithm>
#include <vector>

#include "picture/bmp/bmp_codec.h"
#include "picture/bmp/bmp_format.h"
#include "platform/errors.h"
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

// The 40-byte information header as the picture holds it, the masks after
// it for bit fields, and the colour table.
std::vector<std::uint8_t> infoHeaderBlock(const Raster &raster, const BitmapInfoHeader &info,
                                          const ChannelMasks &masks, const ColorTable &colors, bool topDown)
{
    const unsigned bits = unsigned(raster.bitsPerPixel());
    const bool withMasks = bits > 8 && info.compression == kBiBitFields;
    std::vector<std::uint8_t> block(kInfoHeaderBytes + (withMasks ? kMaskBytes : 0));
    std::uint8_t *p = block.data();
    writeLe32(p + kHeaderSizeAt, kInfoHeaderBytes);
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
    if (withMasks) {
        writeLe32(p + kRedMaskAt, masks.red);
        writeLe32(p + kGreenMaskAt, masks.green);
        writeLe32(p + kBlueMaskAt, masks.blue);
    }
    for (const RgbQuad &c : colors)
        block.insert(block.end(), {c.blue, c.green, c.red, c.reserved});
    return block;
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
    std::vector<std::uint8_t> block =
        os2Style ? coreHeaderBlock(*raster, colors)
                 : infoHeaderBlock(*raster, info, masks, colors, raster->topDown() && !deviceRows);

    const std::size_t imageBytes = raster->imageBytes();
    std::uint8_t fileHeader[kFileHeaderBytes] = {};
    writeLe16(fileHeader + kSignatureAt, kSignature);
    writeLe32(fileHeader + kFileSizeAt, std::uint32_t(kFileHeaderBytes + block.size() + imageBytes));
    writeLe32(fileHeader + kPixelOffsetAt, std::uint32_t(kFileHeaderBytes + block.size()));
    block.insert(block.begin(), fileHeader, fileHeader + kFileHeaderBytes);
    stream.writeExact(block.data(), block.size());
    if (deviceRows)
        writeDeviceRowsBottomUp(stream, *raster);
    else
        stream.writeExact(raster->bits(), imageBytes);
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
