// Writing a bitmap picture as a BMP.

#include <algorithm>
#include <vector>

#include "picture/bitmap.h"
#include "picture/bmp_format.h"
#include "platform/errors.h"
#include "platform/stream.h"

namespace tovi::picture {

using namespace platform;
using namespace bmp;

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

}  // namespace

void Bitmap::saveToStream(Stream &stream) const
{
    // An unchanged picture from a compressed file is written back as read.
    if (m_keptFileBytes) {
        stream.writeExact(m_keptFileBytes->data(), m_keptFileBytes->size());
        return;
    }
    std::shared_ptr<const Raster> raster = m_raster;
    BitmapInfoHeader info = m_header;
    ChannelMasks masks = m_masks;
    // A colour device raster already holds the bytes of a 32-bit file (blue,
    // green, red, 0), only top-down: its rows are written in reverse order
    // below instead of through a second full copy of the picture.
    const bool deviceRows = raster && raster->isDevice() && !raster->isMonochromeDevice();
    if (deviceRows) {
        info = {};
        info.size = kInfoHeaderBytes;
        info.width = raster->width();
        info.height = raster->height();
        info.planes = 1;
        info.bitCount = std::uint16_t(kDisplayBitsPerPixel);
        info.compression = kBiRgb;
        masks = {};
    } else if (raster && raster->isDevice()) {
        raster = makeIndependentFromDevice();
        info = raster->header();
        masks = {};
    }
    if (!raster)
        return;

    // The colours written: the raster's own table, or else the logical
    // palette as an optional table.
    ColorTable colors = raster->colorTable();
    if (info.clrUsed != 0 && info.clrUsed < colors.size())
        colors.resize(info.clrUsed);
    if (colors.empty() && !m_os2Style && m_palette && !m_palette->halftone) {
        colors = m_palette->entries;
        colors.resize(std::min(colors.size(), kMaxColorTableEntries));
        for (RgbQuad &entry : colors)
            entry.reserved = 0;
    }
    if (!colors.empty())
        info.clrUsed = std::uint32_t(colors.size());

    const unsigned bits = raster->bitsPerPixel();
    const bool withMasks = !m_os2Style && bits > 8 && info.compression == kBiBitFields;
    const std::size_t imageBytes = raster->imageBytes();

    std::vector<std::uint8_t> block;
    if (m_os2Style) {
        block.resize(kCoreHeaderBytes);
        writeLe32(block.data(), kCoreHeaderBytes);
        writeLe16(block.data() + 4, std::uint16_t(raster->width()));
        writeLe16(block.data() + 6, std::uint16_t(raster->height()));
        writeLe16(block.data() + 8, 1);
        writeLe16(block.data() + 10, std::uint16_t(bits));
        if (bits <= 8) {
            // Core files carry a full table of 3-byte entries.
            const std::size_t entries = std::size_t{1} << bits;
            for (std::size_t i = 0; i < entries; ++i) {
                const RgbQuad c = i < colors.size() ? colors[i] : RgbQuad{};
                block.insert(block.end(), {c.blue, c.green, c.red});
            }
        }
    } else {
        block.resize(kInfoHeaderBytes + (withMasks ? kMaskBytes : 0));
        std::uint8_t *p = block.data();
        writeLe32(p, kInfoHeaderBytes);
        writeLe32(p + 4, std::uint32_t(raster->width()));
        // The sign keeps the row order as stored.
        const bool topDown = raster->topDown() && !deviceRows;
        writeLe32(p + 8, std::uint32_t(topDown ? -raster->height() : raster->height()));
        writeLe16(p + 12, 1);
        writeLe16(p + 14, std::uint16_t(bits));
        writeLe32(p + 16, info.compression);
        writeLe32(p + 20, std::uint32_t(imageBytes));
        writeLe32(p + 24, std::uint32_t(info.xPelsPerMeter));
        writeLe32(p + 28, std::uint32_t(info.yPelsPerMeter));
        writeLe32(p + 32, info.clrUsed);
        writeLe32(p + 36, info.clrImportant);
        if (withMasks) {
            writeLe32(p + 40, masks.red);
            writeLe32(p + 44, masks.green);
            writeLe32(p + 48, masks.blue);
        }
        for (const RgbQuad &c : colors)
            block.insert(block.end(), {c.blue, c.green, c.red, c.reserved});
    }

    std::uint8_t fileHeader[kFileHeaderBytes] = {};
    writeLe16(fileHeader, kSignature);
    writeLe32(fileHeader + 2, std::uint32_t(kFileHeaderBytes + block.size() + imageBytes));
    writeLe32(fileHeader + 10, std::uint32_t(kFileHeaderBytes + block.size()));
    block.insert(block.begin(), fileHeader, fileHeader + kFileHeaderBytes);
    stream.writeExact(block.data(), block.size());
    if (deviceRows)
        writeDeviceRowsBottomUp(stream, *raster);
    else
        stream.writeExact(raster->bits(), imageBytes);
}

void Bitmap::saveToFile(const std::string &fileName) const
{
    SafeFileWriter writer(fileName);
    saveToStream(writer);
    writer.commit();
}

}  // namespace tovi::picture
