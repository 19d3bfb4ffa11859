// Reading a BMP: the file and information headers, the bit-field masks, the
// colour table, then uncompressed rows or run-length data. A ladder of guards
// refuses what can't be kept before any pixel memory is had, each with its
// own reason; the pixels of a paletted picture are checked against its table
// once they are read.

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

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

[[noreturn]] void refuse(const std::string &reason) { throw PictureFormatError(messages::kInvalidBitmap, reason); }

std::string number(std::int64_t value) { return std::to_string(value); }

// What the headers say.
struct Headers {
    BitmapInfoHeader info;
    std::uint32_t headerSize = 0;
    std::uint32_t pixelOffset = 0;  // as the file header gives it
    bool os2Style = false;
    ChannelMasks masks;
    bool hasMasks = false;
    std::vector<std::uint8_t> tail;  // the header's bytes after its first 40
    // The colour profile a 124-byte header names: its place from the start of
    // the file, and its size (0 for none).
    std::uint64_t profileAt = 0;
    std::uint32_t profileSize = 0;

    bool uncompressed() const { return info.compression == kBiRgb || info.compression == kBiBitFields; }
    unsigned bits() const { return info.bitCount == 0 ? unsigned(kDisplayBitsPerPixel) : info.bitCount; }
    std::int64_t rows() const { return info.height < 0 ? -std::int64_t(info.height) : info.height; }
    std::uint64_t rasterBytes() const { return platform::rowBytes(info.width, bits()) * std::uint64_t(rows()); }
};

// Reads from the stream, or, once a compressed file was copied into memory,
// from that copy.
class Source {
public:
    explicit Source(Stream &stream) : m_stream(stream) {}

    // `what` names the part being read for the reason of a file cut short.
    void read(void *buffer, std::size_t n, const char *what)
    {
        if (n > remaining())
            throw StreamReadError(std::string("the file ends inside ") + what);
        if (!m_copy) {
            m_stream.readExact(buffer, n);
            m_consumed += n;
            return;
        }
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
    std::uint64_t total() const { return consumed() + remaining(); }

    // Keeps the bytes read so far and everything up to the stream's end.
    void copyRest(const std::vector<std::uint8_t> &readSoFar)
    {
        const std::uint64_t rest = m_stream.remaining();
        if (rest > kMaxRasterBytes)
            refuse("the compressed file holds more than 1 GiB");
        auto copy = std::make_shared<std::vector<std::uint8_t>>(readSoFar.size() + std::size_t(rest));
        std::copy(readSoFar.begin(), readSoFar.end(), copy->begin());
        m_stream.readExact(copy->data() + readSoFar.size(), std::size_t(rest));
        m_copy = std::move(copy);
        m_pos = readSoFar.size();
    }

    const std::uint8_t *current() const { return m_copy->data() + m_pos; }
    std::shared_ptr<const std::vector<std::uint8_t>> copy() const { return m_copy; }

private:
    Stream &m_stream;
    std::shared_ptr<std::vector<std::uint8_t>> m_copy;
    std::size_t m_pos = 0;
    std::uint64_t m_consumed = 0;
};

void parseCoreHeader(const std::uint8_t *p, Headers &h)
{
    h.os2Style = true;
    h.info.width = readLe16(p + kCoreWidthAt);
    h.info.height = readLe16(p + kCoreHeightAt);
    h.info.planes = readLe16(p + kCorePlanesAt);
    h.info.bitCount = readLe16(p + kCoreBitCountAt);
}

void parseInfoHeader(const std::uint8_t *p, Headers &h)
{
    h.info.width = std::int32_t(readLe32(p + kWidthAt));
    h.info.height = std::int32_t(readLe32(p + kHeightAt));
    h.info.planes = readLe16(p + kPlanesAt);
    h.info.bitCount = readLe16(p + kBitCountAt);
    h.info.compression = readLe32(p + kCompressionAt);
    h.info.sizeImage = readLe32(p + kImageSizeAt);
    h.info.xPelsPerMeter = std::int32_t(readLe32(p + kXPelsPerMeterAt));
    h.info.yPelsPerMeter = std::int32_t(readLe32(p + kYPelsPerMeterAt));
    h.info.clrUsed = readLe32(p + kColorsUsedAt);
    h.info.clrImportant = readLe32(p + kColorsImportantAt);
    if (h.headerSize >= kV2InfoHeaderBytes && h.info.compression == kBiBitFields) {
        h.masks = {readLe32(p + kRedMaskAt), readLe32(p + kGreenMaskAt), readLe32(p + kBlueMaskAt)};
        if (h.headerSize >= kV3InfoHeaderBytes)
            h.masks.alpha = readLe32(p + kAlphaMaskAt);
        h.hasMasks = true;
    }
    h.tail.assign(p + kInfoHeaderBytes, p + h.headerSize);
    if (h.headerSize >= kV5HeaderBytes) {
        const std::uint32_t type = readLe32(p + kColorSpaceTypeAt);
        if (type == kProfileEmbedded || type == kProfileLinked) {
            h.profileAt = kFileHeaderBytes + std::uint64_t(readLe32(p + kProfileDataAt));
            h.profileSize = readLe32(p + kProfileSizeAt);
        }
    }
}

// The file header and the information header; `start` receives their bytes.
Headers readHeaders(Source &source, std::vector<std::uint8_t> &start)
{
    Headers h;
    start.resize(kFileHeaderBytes + kHeaderSizeFieldBytes);
    source.read(start.data(), kFileHeaderBytes, "the file header");
    if (readLe16(start.data() + kSignatureAt) != kSignature)
        refuse("the file doesn't start with the signature \"BM\"");
    h.pixelOffset = readLe32(start.data() + kPixelOffsetAt);

    source.read(start.data() + kFileHeaderBytes, kHeaderSizeFieldBytes, "the header size");
    h.headerSize = readLe32(start.data() + kFileHeaderBytes + kHeaderSizeAt);
    if (h.headerSize != kCoreHeaderBytes && h.headerSize < kInfoHeaderBytes)
        refuse("header size " + number(h.headerSize) + " is neither 12 nor at least 40");
    if (h.headerSize - kHeaderSizeFieldBytes > source.remaining())
        throw StreamReadError("the file ends inside its " + number(h.headerSize) + "-byte header");
    start.resize(kFileHeaderBytes + h.headerSize);
    source.read(start.data() + kFileHeaderBytes + kHeaderSizeFieldBytes, h.headerSize - kHeaderSizeFieldBytes,
                "the header");
    const std::uint8_t *header = start.data() + kFileHeaderBytes;
    h.headerSize == kCoreHeaderBytes ? parseCoreHeader(header, h) : parseInfoHeader(header, h);
    return h;
}

// Whether a compression fits the depth: bit fields for 16 and 32 bits,
// run-length data for 8 and 4 bits, stored bottom-up only.
void checkCompression(const Headers &h)
{
    const unsigned bits = h.bits();
    switch (h.info.compression) {
    case kBiRgb:
        if (!isSupportedBitCount(bits))
            refuse(number(bits) + " bits per pixel are not supported");
        return;
    case kBiBitFields:
        if (bits != 16 && bits != 32)
            refuse("bit fields need 16 or 32 bits per pixel, not " + number(bits));
        return;
    case kBiRle8:
    case kBiRle4:
        if (bits != (h.info.compression == kBiRle8 ? 8u : 4u))
            refuse("run-length compression " + number(h.info.compression) + " doesn't fit " + number(bits) +
                   " bits per pixel");
        if (h.info.height < 0)
            refuse("run-length data can't be stored top-down");
        return;
    default:
        refuse("compression " + number(h.info.compression) + " is not supported");
    }
}

// Planes, size, depth and compression.
void checkHeaders(const Headers &h)
{
    if (h.info.planes != 1)
        refuse(number(h.info.planes) + " planes instead of 1");
    if (h.info.width <= 0)
        refuse("width " + number(h.info.width) + " is not positive");
    if (h.info.height == 0 || h.info.height == std::numeric_limits<std::int32_t>::min())
        refuse("height " + number(h.info.height) + " is out of range");
    checkCompression(h);
    if (platform::rowBytes(h.info.width, h.bits()) == 0)
        refuse("a row of " + number(h.info.width) + " pixels is too long");
}

// The masks of a 40-byte header with bit fields follow it.
void readBitFieldMasks(Source &source, Headers &h)
{
    if (h.headerSize != kInfoHeaderBytes || h.info.compression != kBiBitFields)
        return;
    std::uint8_t raw[kMaskBytes];
    source.read(raw, kMaskBytes, "the bit-field masks");
    h.masks = {readLe32(raw), readLe32(raw + 4), readLe32(raw + 8)};
    h.hasMasks = true;
}

// A bit that two channels share would give a pixel two meanings, and the
// colours written back would differ from the colours read.
void checkBitFieldMasks(const Headers &h)
{
    if (!h.hasMasks)
        return;
    const struct {
        const char *name;
        std::uint32_t mask;
    } channels[] = {{"red", h.masks.red}, {"green", h.masks.green}, {"blue", h.masks.blue}, {"alpha", h.masks.alpha}};
    for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j)
            if (channels[i].mask & channels[j].mask)
                refuse(std::string("the ") + channels[i].name + " and " + channels[j].name +
                       " bit-field masks overlap");
    // A channel's bits run together: a mask with a gap can't hold the values
    // its width promises, so nothing read through it could be written back.
    for (const auto &channel : channels) {
        const std::uint32_t bits = channel.mask ? channel.mask >> std::countr_zero(channel.mask) : 0;
        if (bits & (bits + 1))
            refuse(std::string("the ") + channel.name + " bit-field mask has a gap");
    }
}

unsigned defaultColorCount(unsigned bitCount)
{
    return bitCount <= 8 && isSupportedBitCount(bitCount) ? 1u << bitCount : 0;
}

// The pixel-data offset of the file header, when the file can be trusted with
// it: behind the headers and masks, with the whole picture's pixel bytes
// behind it. A file with a gap before its pixels, or with fewer colour
// entries than its header implies (core headers have no colour count), then
// reads as the picture it holds. Any other offset is passed over and the
// pixels are taken from directly behind the full colour table: an offset into
// the middle of the pixels would read a few rows and lose the rest.
std::optional<std::uint64_t> trustedPixelOffset(const Source &source, const Headers &h)
{
    const std::uint64_t offset = h.pixelOffset;
    // Run-length data has no size of its own unless the header gives one.
    const std::uint64_t needed = h.uncompressed() ? h.rasterBytes() : std::max<std::uint64_t>(h.info.sizeImage, 1);
    if (offset < source.consumed() || offset > source.total() || source.total() - offset < needed)
        return std::nullopt;
    return offset;
}

ColorTable readColorTable(Source &source, const Headers &h, std::optional<std::uint64_t> pixelOffset)
{
    const std::size_t entryBytes = h.os2Style ? kCoreColorBytes : kInfoColorBytes;
    std::uint64_t declared = h.info.clrUsed;
    if (pixelOffset)
        declared = std::min<std::uint64_t>(declared, (*pixelOffset - source.consumed()) / entryBytes);
    // A count far beyond the file (up to 2^32 - 1 entries) is refused before
    // anything is read for it.
    if (declared > kMaxColorTableEntries && declared * entryBytes > source.remaining())
        refuse("the header declares " + number(std::int64_t(declared)) + " colours, more than the file holds");
    const std::size_t count = std::size_t(std::min<std::uint64_t>(declared, kMaxColorTableEntries));
    std::vector<std::uint8_t> raw(count * entryBytes);
    source.read(raw.data(), raw.size(), "the colour table");
    ColorTable table(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t *e = raw.data() + i * entryBytes;
        // A core entry is widened to blue, green, red, 0.
        table[i] = {e[0], e[1], e[2], h.os2Style ? std::uint8_t(0) : e[3]};
    }
    // Entries beyond what a picture holds are passed over, so the pixels are
    // still found behind the whole table.
    if (declared > count)
        source.skip((declared - count) * entryBytes);
    if (pixelOffset && *pixelOffset > source.consumed())
        source.skip(*pixelOffset - source.consumed());
    return table;
}

// The platform refused the raster: with an error code that is the system
// error, without one the data is no bitmap.
[[noreturn]] void rasterRefused(int code, const std::string &reason)
{
    if (code)
        throw SystemError::fromCode(code);
    refuse(reason);
}

std::shared_ptr<Raster> readUncompressedRows(Source &source, const Headers &h, const ColorTable &table,
                                             std::uint64_t pixelBytes)
{
    const std::uint64_t rasterBytes = h.rasterBytes();
    if (rasterBytes > kMaxRasterBytes)
        refuse("the picture needs " + number(std::int64_t(rasterBytes)) + " bytes, more than the 1 GiB limit");
    if (rasterBytes > kShortFileAllowanceBytes + kShortFileExpansion * pixelBytes)
        refuse("the picture needs " + number(std::int64_t(rasterBytes)) + " bytes, but the file holds only " +
               number(std::int64_t(pixelBytes)));
    BitmapInfoHeader info = h.info;
    info.size = kInfoHeaderBytes;
    std::shared_ptr<Raster> raster;
    try {
        raster = Raster::createIndependent(info, h.hasMasks ? &h.masks : nullptr, table);
    } catch (const OutOfResourcesError &) {
        rasterRefused(ENOMEM, {});
    }
    if (!raster)
        rasterRefused(0, "the raster layer can't hold this picture");
    // Pixel bytes go straight into the pixel memory; what a short file lacks
    // (the top rows of a bottom-up picture) stays 0.
    source.read(raster->bits(), std::size_t(std::min<std::uint64_t>(pixelBytes, raster->imageBytes())),
                "the pixels");
    if (h.bits() <= 8)
        requireColorTableCovers(*raster, table.size());
    return raster;
}

std::shared_ptr<Raster> decodeRunLength(const Source &source, const Headers &h, const ColorTable &table,
                                        std::uint64_t pixelBytes, std::vector<std::uint16_t> &indices)
{
    if (table.empty())
        refuse("the " + number(h.bits()) + "-bit picture has no colour table");
    const std::span<const std::uint8_t> data(source.current(), std::size_t(pixelBytes));
    std::shared_ptr<Raster> raster;
    unsigned highest = 0;
    try {
        raster = bmp::decodeRunLength(h.info, table, data, &highest, &indices);
    } catch (const OutOfResourcesError &) {
        rasterRefused(ENOMEM, {});
    }
    if (!raster)
        rasterRefused(0, "run-length data of " + number(std::int64_t(pixelBytes)) + " bytes can't describe a " +
                             number(h.info.width) + " x " + number(h.rows()) + " picture");
    if (highest >= table.size())
        refuse("pixel index " + number(highest) + " lies beyond the " + number(std::int64_t(table.size())) +
               "-entry colour table");
    return raster;
}

// The colour profile of an uncompressed file, which follows its pixel data:
// it is read once the pixels are. One that lies elsewhere or beyond the file's
// end could not be written back and is refused.
std::vector<std::uint8_t> readProfileAfterPixels(Source &source, const Headers &h)
{
    if (h.profileSize == 0)
        return {};
    if (h.profileAt < source.consumed())
        refuse("the colour profile lies before the end of the pixel data");
    if (h.profileAt + h.profileSize > source.total())
        refuse("the colour profile of " + number(h.profileSize) + " bytes runs beyond the file's end");
    source.skip(h.profileAt - source.consumed());
    std::vector<std::uint8_t> profile(h.profileSize);
    source.read(profile.data(), profile.size(), "the colour profile");
    return profile;
}

// The colour profile of a compressed file, from its copy in memory.
std::vector<std::uint8_t> profileFromCopy(const Source &source, const Headers &h)
{
    if (h.profileSize == 0)
        return {};
    const auto &copy = *source.copy();
    if (h.profileAt + h.profileSize > copy.size())
        refuse("the colour profile of " + number(h.profileSize) + " bytes runs beyond the file's end");
    const auto from = copy.begin() + std::ptrdiff_t(h.profileAt);
    return {from, from + std::ptrdiff_t(h.profileSize)};
}

}  // namespace

void requireColorTableCovers(const Raster &raster, std::size_t entries)
{
    const unsigned bits = unsigned(raster.bitsPerPixel());
    if (entries == 0)
        refuse("the " + number(bits) + "-bit picture has no colour table");
    if (entries >= (std::size_t{1} << bits))
        return;
    const unsigned highest = highestIndex(raster);
    if (highest >= entries)
        refuse("pixel index " + number(highest) + " lies beyond the " + number(std::int64_t(entries)) +
               "-entry colour table");
}

std::optional<Dimensions> peekDimensions(std::span<const std::uint8_t> start)
{
    if (start.size() < kPeekBytes || readLe16(start.data() + kSignatureAt) != kSignature)
        return std::nullopt;
    const std::uint8_t *header = start.data() + kFileHeaderBytes;
    if (readLe32(header + kHeaderSizeAt) == kCoreHeaderBytes)
        return Dimensions{readLe16(header + kCoreWidthAt), readLe16(header + kCoreHeightAt)};
    const auto magnitude = [](std::uint32_t v) { return std::uint64_t(std::llabs(std::int32_t(v))); };
    return Dimensions{magnitude(readLe32(header + kWidthAt)), magnitude(readLe32(header + kHeightAt))};
}

namespace {

// What decode reads before the pixels: the headers, masks and colour table,
// with every check of theirs; a compressed file is then held in memory.
struct Prologue {
    Headers h;
    ColorTable table;
    std::uint64_t pixelBytes = 0;
};

Prologue readPrologue(Source &source)
{
    Prologue p;
    Headers &h = p.h;
    std::vector<std::uint8_t> start;
    h = readHeaders(source, start);
    if (!h.uncompressed())
        source.copyRest(start);
    checkHeaders(h);
    readBitFieldMasks(source, h);
    checkBitFieldMasks(h);

    if (h.info.clrUsed == 0)
        h.info.clrUsed = defaultColorCount(h.info.bitCount);
    p.table = readColorTable(source, h, trustedPixelOffset(source, h));
    if (h.bits() <= 8 && p.table.empty())
        refuse("the " + number(h.bits()) + "-bit picture has no colour table");

    std::uint64_t imageSize = h.info.sizeImage;
    if (h.info.compression == kBiRgb || imageSize == 0)
        imageSize = h.rasterBytes();
    p.pixelBytes = std::min(imageSize, source.remaining());
    return p;
}

}  // namespace

bool peekRunLength(std::span<const std::uint8_t> start)
{
    if (start.size() < kCompressionPeekBytes || readLe16(start.data() + kSignatureAt) != kSignature)
        return false;
    const std::uint8_t *header = start.data() + kFileHeaderBytes;
    const std::uint32_t compression = readLe32(header + kCompressionAt);
    return readLe32(header + kHeaderSizeAt) >= kInfoHeaderBytes && (compression == kBiRle8 || compression == kBiRle4);
}

std::optional<RunLengthFile> readRunLengthFile(Stream &stream)
{
    if (stream.remaining() == 0)
        return std::nullopt;
    Source source(stream);
    const Prologue p = readPrologue(source);
    if (p.h.uncompressed())
        return std::nullopt;
    RunLengthFile file;
    file.bytes = source.copy();
    file.table = p.table;
    file.fourBits = p.h.info.compression == kBiRle4;
    file.width = p.h.info.width;
    file.height = p.h.info.height;
    file.dataAt = std::size_t(source.consumed());
    file.dataSize = std::size_t(p.pixelBytes);
    // A profile beyond the end is decode's to refuse; one sharing bytes with
    // the pixel data would change with them.
    const std::uint64_t profileEnd = p.h.profileAt + p.h.profileSize;
    if (p.h.profileSize != 0 &&
        (profileEnd > file.bytes->size() || (p.h.profileAt < file.dataAt + file.dataSize && profileEnd > file.dataAt)))
        return std::nullopt;
    return file;
}

Bitmap::Content decode(Stream &stream)
{
    if (stream.remaining() == 0)
        return {};
    Source source(stream);
    const Prologue p = readPrologue(source);
    const Headers &h = p.h;
    const ColorTable &table = p.table;
    const std::uint64_t pixelBytes = p.pixelBytes;

    Bitmap::Content content;
    content.os2Style = h.os2Style;
    auto extras = std::make_shared<FileExtras>();
    extras->headerTail = h.tail;
    if (h.uncompressed()) {
        content.raster = readUncompressedRows(source, h, table, pixelBytes);
        extras->profile = readProfileAfterPixels(source, h);
        content.header = content.raster->header();
        content.header.xPelsPerMeter = h.info.xPelsPerMeter;
        content.header.yPelsPerMeter = h.info.yPelsPerMeter;
        content.header.clrUsed = h.info.clrUsed;
        content.header.clrImportant = h.info.clrImportant;
        content.masks = h.info.compression == kBiBitFields ? content.raster->masks() : ChannelMasks{};
        if (h.bits() > 8 && !table.empty())
            content.palette = LogicalPalette{table, false};
    } else {
        content.raster = decodeRunLength(source, h, table, pixelBytes, extras->runLengthIndices);
        content.keptFileBytes = source.copy();
        content.palette = LogicalPalette{table, false};
        extras->profile = profileFromCopy(source, h);
        extras->runLength = h.info;
        extras->runLengthTable = table;
    }
    if (!extras->headerTail.empty() || extras->runLength)
        content.extras = std::move(extras);
    return content;
}

}  // namespace bmp

void Bitmap::loadFromStream(Stream &stream)
{
    assign(bmp::decode(stream));
}

void Bitmap::loadFromFile(const std::string &fileName)
{
    FileReadStream stream(fileName);
    loadFromStream(stream);
}

}  // namespace tovi::picture
