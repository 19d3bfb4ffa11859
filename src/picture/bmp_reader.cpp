// Reading a BMP into a bitmap picture.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "picture/bitmap.h"
#include "picture/bmp_format.h"
#include "platform/errors.h"
#include "platform/stream.h"

namespace tovi::picture {

using namespace platform;
using namespace bmp;

namespace {

[[noreturn]] void invalidBitmap() { throw PictureFormatError(messages::kInvalidBitmap); }

// What the headers say, as the reader goes along.
struct Headers {
    BitmapInfoHeader info;
    std::uint32_t headerSize = 0;
    bool os2Style = false;
    ChannelMasks masks;
    bool hasMasks = false;
};

// Reads from the stream, or, once a compressed file was copied into memory,
// from that copy.
class Source {
public:
    explicit Source(Stream &stream) : m_stream(stream) {}

    void read(void *buffer, std::size_t n)
    {
        if (!m_copy) {
            m_stream.readExact(buffer, n);
            m_consumed += n;
            return;
        }
        if (n > m_copy->size() - m_pos)
            throw StreamReadError();
        if (n == 0)
            return;
        std::memcpy(buffer, m_copy->data() + m_pos, n);
        m_pos += n;
    }

    // Skips up to n bytes.
    void skip(std::uint64_t n)
    {
        n = std::min(n, remaining());
        if (m_copy) {
            m_pos += std::size_t(n);
            return;
        }
        m_consumed += n;
        std::vector<std::uint8_t> scratch(std::size_t(std::min<std::uint64_t>(n, 1 << 16)));
        while (n > 0) {
            const std::size_t step = std::size_t(std::min<std::uint64_t>(n, scratch.size()));
            m_stream.readExact(scratch.data(), step);
            n -= step;
        }
    }

    std::uint64_t remaining() const { return m_copy ? m_copy->size() - m_pos : m_stream.remaining(); }
    // Bytes from the start of the BMP to the reading position.
    std::uint64_t consumed() const { return m_copy ? m_pos : m_consumed; }

    // Keeps the bytes read so far and everything up to the stream's end.
    void copyRest(const std::uint8_t *readSoFar, std::size_t count)
    {
        const std::uint64_t rest = m_stream.remaining();
        if (rest > kMaxRasterBytes)
            invalidBitmap();
        auto copy = std::make_shared<std::vector<std::uint8_t>>(count + std::size_t(rest));
        std::copy(readSoFar, readSoFar + count, copy->begin());
        m_stream.readExact(copy->data() + count, std::size_t(rest));
        m_copy = std::move(copy);
        m_pos = count;
    }

    const std::uint8_t *current() const { return m_copy->data() + m_pos; }
    bool copied() const { return bool(m_copy); }
    std::shared_ptr<const std::vector<std::uint8_t>> copy() const { return m_copy; }

private:
    Stream &m_stream;
    std::shared_ptr<std::vector<std::uint8_t>> m_copy;
    std::size_t m_pos = 0;
    std::uint64_t m_consumed = 0;
};

// Parses the information header (after its size field) or the core header.
void parseInfoHeader(const std::uint8_t *p, std::size_t bytes, Headers &h)
{
    if (h.headerSize == kCoreHeaderBytes) {
        h.os2Style = true;
        h.info.width = readLe16(p);
        h.info.height = readLe16(p + 2);
        h.info.planes = readLe16(p + 4);
        h.info.bitCount = readLe16(p + 6);
        return;
    }
    h.info.width = std::int32_t(readLe32(p));
    h.info.height = std::int32_t(readLe32(p + 4));
    h.info.planes = readLe16(p + 8);
    h.info.bitCount = readLe16(p + 10);
    h.info.compression = readLe32(p + 12);
    h.info.sizeImage = readLe32(p + 16);
    h.info.xPelsPerMeter = std::int32_t(readLe32(p + 20));
    h.info.yPelsPerMeter = std::int32_t(readLe32(p + 24));
    h.info.clrUsed = readLe32(p + 28);
    h.info.clrImportant = readLe32(p + 32);
    // Longer headers carry the channel masks at offsets 40, 44 and 48.
    const std::size_t maskAt = kMaskOffsetInHeader - 4;
    if (h.headerSize >= kV2InfoHeaderBytes && bytes >= maskAt + kMaskBytes && h.info.compression == kBiBitFields) {
        h.masks = {readLe32(p + maskAt), readLe32(p + maskAt + 4), readLe32(p + maskAt + 8)};
        h.hasMasks = true;
    }
}

unsigned defaultColorCount(unsigned bitCount)
{
    switch (bitCount) {
    case 1:
        return 2;
    case 2:
        return 4;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

// The pixel-data offset of the file header, when it is one a reader can
// trust: behind the headers and masks and inside the file. A file that has a
// gap before its pixels, or fewer colour entries than its header implies
// (core headers have no colour count), then still reads as the picture it
// holds; reading it from behind a full table would shift every row.
std::uint64_t trustedPixelOffset(const Source &source, std::uint32_t offset)
{
    if (offset < source.consumed() || offset - source.consumed() >= source.remaining())
        return 0;
    return offset;
}

ColorTable readColorTable(Source &source, const Headers &h, std::uint32_t declared, std::uint64_t pixelOffset)
{
    const std::size_t entryBytes = h.os2Style ? kCoreColorBytes : kInfoColorBytes;
    if (pixelOffset)
        declared = std::uint32_t(std::min<std::uint64_t>(declared, (pixelOffset - source.consumed()) / entryBytes));
    const std::size_t count = std::min<std::size_t>(declared, kMaxColorTableEntries);
    std::vector<std::uint8_t> raw(count * entryBytes);
    source.read(raw.data(), raw.size());
    ColorTable table(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t *e = raw.data() + i * entryBytes;
        // A core entry is widened to blue, green, red, 0.
        table[i] = {e[0], e[1], e[2], h.os2Style ? std::uint8_t(0) : e[3]};
    }
    // Entries beyond what a picture holds are passed over, so the pixels are
    // still found behind the whole table.
    if (declared > count)
        source.skip(std::uint64_t(declared - count) * entryBytes);
    return table;
}

// The platform refused the raster: with an error code that is the system
// error, without one the data is no bitmap.
[[noreturn]] void rasterRefused(int code)
{
    if (code)
        throw SystemError::fromCode(code);
    invalidBitmap();
}

}  // namespace

void Bitmap::loadFromStream(Stream &stream)
{
    if (stream.remaining() == 0) {
        clear();
        return;
    }
    Source source(stream);

    std::uint8_t fileHeader[kFileHeaderBytes + 4];
    source.read(fileHeader, kFileHeaderBytes);
    if (readLe16(fileHeader) != kSignature)
        invalidBitmap();

    Headers h;
    source.read(fileHeader + kFileHeaderBytes, 4);
    h.headerSize = readLe32(fileHeader + kFileHeaderBytes);
    if (h.headerSize != kCoreHeaderBytes && h.headerSize < kInfoHeaderBytes)
        invalidBitmap();
    // A header longer than the file is a file cut short.
    if (h.headerSize - 4 > source.remaining())
        throw StreamReadError();
    std::vector<std::uint8_t> header(kFileHeaderBytes + h.headerSize);
    std::memcpy(header.data(), fileHeader, kFileHeaderBytes + 4);
    source.read(header.data() + kFileHeaderBytes + 4, h.headerSize - 4);
    parseInfoHeader(header.data() + kFileHeaderBytes + 4, h.headerSize - 4, h);

    const std::uint32_t compression = h.info.compression;
    const bool uncompressed = compression == kBiRgb || compression == kBiBitFields;
    if (!uncompressed)
        source.copyRest(header.data(), header.size());

    if (h.info.planes != 1)
        invalidBitmap();

    if (h.headerSize == kInfoHeaderBytes && (h.info.bitCount == 16 || h.info.bitCount == 32) &&
        compression == kBiBitFields) {
        std::uint8_t raw[kMaskBytes];
        source.read(raw, kMaskBytes);
        h.masks = {readLe32(raw), readLe32(raw + 4), readLe32(raw + 8)};
        h.hasMasks = true;
    }

    if (h.info.clrUsed == 0)
        h.info.clrUsed = defaultColorCount(h.info.bitCount);
    const std::uint64_t pixelOffset = trustedPixelOffset(source, readLe32(header.data() + 10));
    ColorTable table = readColorTable(source, h, h.info.clrUsed, pixelOffset);
    if (pixelOffset > source.consumed())
        source.skip(pixelOffset - source.consumed());

    // Sizes: a width or height the platform can't hold is no bitmap.
    const std::int64_t height = std::int64_t(h.info.height) < 0 ? -std::int64_t(h.info.height) : h.info.height;
    const std::uint64_t row = rowBytes(h.info.width, h.info.bitCount == 0 ? 32 : h.info.bitCount);
    if (h.info.width <= 0 || height == 0 || height > std::numeric_limits<std::int32_t>::max() || row == 0)
        invalidBitmap();
    const std::uint64_t rasterBytes = row * std::uint64_t(height);
    std::uint64_t imageSize = h.info.sizeImage;
    if (compression == kBiRgb || imageSize == 0)
        imageSize = rasterBytes;
    const std::uint64_t pixelBytes = std::min(imageSize, source.remaining());

    Content content;
    content.os2Style = h.os2Style;
    if (uncompressed) {
        if (rasterBytes > kMaxRasterBytes ||
            rasterBytes > kShortFileAllowanceBytes + kShortFileExpansion * pixelBytes)
            invalidBitmap();
        BitmapInfoHeader info = h.info;
        info.size = kInfoHeaderBytes;
        std::shared_ptr<Raster> raster;
        try {
            raster = Raster::createIndependent(info, h.hasMasks ? &h.masks : nullptr, table);
        } catch (const OutOfResourcesError &) {
            rasterRefused(ENOMEM);
        }
        if (!raster)
            rasterRefused(0);
        // Pixel bytes go straight into the pixel memory; what a short file
        // lacks (the top rows of a bottom-up picture) stays 0.
        source.read(raster->bits(), std::size_t(std::min<std::uint64_t>(pixelBytes, raster->imageBytes())));
        content.header = raster->header();
        content.masks = compression == kBiBitFields ? raster->masks() : ChannelMasks{};
        content.raster = std::move(raster);
    } else {
        const std::span<const std::uint8_t> bits(source.current(), std::size_t(pixelBytes));
        std::shared_ptr<Raster> raster;
        try {
            raster = Raster::createDeviceFromBmp(h.info, h.hasMasks ? &h.masks : nullptr, table, bits);
        } catch (const OutOfResourcesError &) {
            rasterRefused(ENOMEM);
        }
        if (!raster)
            rasterRefused(0);
        content.raster = std::move(raster);
        content.keptFileBytes = source.copy();
        if (!table.empty())
            content.palette = LogicalPalette{table, false};
    }

    if (content.header.size != 0) {
        content.header.xPelsPerMeter = h.info.xPelsPerMeter;
        content.header.yPelsPerMeter = h.info.yPelsPerMeter;
        content.header.clrUsed = h.info.clrUsed;
        content.header.clrImportant = h.info.clrImportant;
        if (h.info.bitCount > 8 && !table.empty())
            content.palette = LogicalPalette{table, false};
    }
    assign(std::move(content));
}

void Bitmap::loadFromFile(const std::string &fileName)
{
    FileReadStream stream(fileName);
    loadFromStream(stream);
}

}  // namespace tovi::picture
