#include "platform/raster.h"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <utility>

#include "platform/errors.h"
#include "platform/pixel_codec.h"

namespace tovi::platform {

namespace {

// Large rasters come straight from the kernel: zeroed pages, and huge pages
// where available, which makes first touching them several times cheaper.
constexpr std::size_t kMapThreshold = std::size_t{1} << 20;

// The pixel memory of the last large raster released, kept for the next one
// of about the same size: a batch run over many pictures then touches its
// pages once instead of faulting in fresh ones for every file.
class SpareMapping {
public:
    // A mapping of at least `bytes` and at most twice that, zeroed up to `bytes`.
    std::uint8_t *take(std::size_t bytes, std::size_t &mappedBytes)
    {
        std::lock_guard lock(m_mutex);
        if (!m_bits || m_bytes < bytes || m_bytes / 2 > bytes)
            return nullptr;
        std::uint8_t *bits = std::exchange(m_bits, nullptr);
        mappedBytes = std::exchange(m_bytes, 0);
        std::memset(bits, 0, bytes);
        return bits;
    }

    void give(std::uint8_t *bits, std::size_t bytes)
    {
        std::lock_guard lock(m_mutex);
        if (m_bits)
            munmap(m_bits, m_bytes);
        m_bits = bits;
        m_bytes = bytes;
    }

private:
    std::mutex m_mutex;
    std::uint8_t *m_bits = nullptr;
    std::size_t m_bytes = 0;
};

// Never destroyed: a raster released during program exit may still hand its
// memory over; the process's end returns it.
SpareMapping &spare()
{
    static auto *mapping = new SpareMapping;
    return *mapping;
}

LogicalPalette makeHalftonePalette()
{
    LogicalPalette palette;
    palette.halftone = true;
    static constexpr std::uint8_t kLevels[6] = {0, 51, 102, 153, 204, 255};
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                palette.entries.push_back({kLevels[b], kLevels[g], kLevels[r], 0});
    for (int i = 0; i < 40; ++i) {
        const auto v = std::uint8_t((i * 255 + 19) / 39);
        palette.entries.push_back({v, v, v, 0});
    }
    return palette;
}

}  // namespace

const LogicalPalette &halftonePalette()
{
    static const LogicalPalette palette = makeHalftonePalette();
    return palette;
}

const ColorTable &standard16Colors()
{
    static const ColorTable table = {
        {0, 0, 0, 0},       {0, 0, 128, 0},   {0, 128, 0, 0},   {0, 128, 128, 0},
        {128, 0, 0, 0},     {128, 0, 128, 0}, {128, 128, 0, 0}, {192, 192, 192, 0},
        {128, 128, 128, 0}, {0, 0, 255, 0},   {0, 255, 0, 0},   {0, 255, 255, 0},
        {255, 0, 0, 0},     {255, 0, 255, 0}, {255, 255, 0, 0}, {255, 255, 255, 0},
    };
    return table;
}

std::uint64_t rowBytes(std::int64_t width, unsigned bitsPerPixel)
{
    if (width <= 0 || bitsPerPixel == 0 || width > (std::int64_t{1} << 32))
        return 0;
    return ((std::uint64_t(width) * bitsPerPixel + 31) / 32) * 4;
}

bool isSupportedBitCount(unsigned bitsPerPixel)
{
    switch (bitsPerPixel) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        return true;
    default:
        return false;
    }
}

Raster::~Raster()
{
    if (m_mappedBytes)
        spare().give(m_bits, m_mappedBytes);
    else
        std::free(m_bits);
}

void Raster::allocate()
{
    const std::uint64_t row = platform::rowBytes(width(), unsigned(m_header.bitCount));
    const std::uint64_t total = row * std::uint64_t(height());
    if (row == 0 || total > kMaxRasterBytes)
        throw OutOfResourcesError::fromErrno(ENOMEM);
    m_rowBytes = std::size_t(row);
    m_imageBytes = std::size_t(total);
    if (m_imageBytes >= kMapThreshold) {
        if ((m_bits = spare().take(m_imageBytes, m_mappedBytes)))
            return;
        void *p = mmap(nullptr, m_imageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            throw OutOfResourcesError::fromErrno(errno);
#ifdef MADV_HUGEPAGE
        madvise(p, m_imageBytes, MADV_HUGEPAGE);
#endif
        m_bits = static_cast<std::uint8_t *>(p);
        m_mappedBytes = m_imageBytes;
    } else {
        m_bits = static_cast<std::uint8_t *>(std::calloc(m_imageBytes, 1));
        if (!m_bits)
            throw OutOfResourcesError::fromErrno(ENOMEM);
    }
}

std::shared_ptr<Raster> Raster::createIndependent(const BitmapInfoHeader &header, const ChannelMasks *masks,
                                                  const ColorTable &colorTable)
{
    const unsigned bits = header.bitCount == 0 ? unsigned(kDisplayBitsPerPixel) : header.bitCount;
    if (!isSupportedBitCount(bits) || header.width <= 0 || header.height == 0 ||
        header.height == std::numeric_limits<std::int32_t>::min())
        return nullptr;
    const bool bitFields = header.compression == kBiBitFields;
    if (header.compression != kBiRgb && !(bitFields && (bits == 16 || bits == 32)))
        return nullptr;

    std::shared_ptr<Raster> raster(new Raster);
    raster->m_kind = Kind::Independent;
    raster->m_header = header;
    raster->m_header.size = kInfoHeaderBytes;
    raster->m_header.planes = 1;
    raster->m_header.bitCount = std::uint16_t(bits);
    if (bitFields && masks)
        raster->m_masks = *masks;
    else if (bits == 16)
        raster->m_masks = kMasks555;
    else if (bits == 32)
        raster->m_masks = kMasks888;
    raster->m_colorTable.assign(colorTable.begin(),
                                colorTable.begin() + std::ptrdiff_t(std::min(colorTable.size(), kMaxColorTableEntries)));
    raster->allocate();
    raster->m_header.sizeImage = std::uint32_t(raster->m_imageBytes);
    return raster;
}

std::shared_ptr<Raster> Raster::createDevice(int width, int height, bool monochrome)
{
    if (width <= 0 || height <= 0)
        return nullptr;
    std::shared_ptr<Raster> raster(new Raster);
    raster->m_kind = Kind::Device;
    raster->m_header.size = kInfoHeaderBytes;
    raster->m_header.width = width;
    raster->m_header.height = -height;
    raster->m_header.planes = 1;
    raster->m_header.bitCount = monochrome ? 1 : kDisplayBitsPerPixel;
    if (monochrome)
        raster->m_colorTable = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    else
        raster->m_masks = kMasks888;
    raster->allocate();
    raster->m_header.sizeImage = std::uint32_t(raster->m_imageBytes);
    return raster;
}

std::shared_ptr<Raster> Raster::clone() const
{
    std::shared_ptr<Raster> copy(new Raster);
    copy->m_kind = m_kind;
    copy->m_header = m_header;
    copy->m_masks = m_masks;
    copy->m_colorTable = m_colorTable;
    copy->allocate();
    std::memcpy(copy->m_bits, m_bits, m_imageBytes);
    return copy;
}

ColorRef Raster::pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width() || y >= height())
        return kInvalidColor;
    const PixelDecoder decoder(*this, 0x00FFFFFF, 0);
    std::uint32_t xrgb = 0;
    decoder.decode(scanLine(y), x, 1, &xrgb);
    return xrgbToColor(xrgb);
}

void Raster::fill(ColorRef color)
{
    PixelEncoder encoder(*this, 0x00FFFFFF);
    const std::uint32_t xrgb = colorToXrgb(color);
    std::vector<std::uint32_t> row(std::size_t(width()), xrgb);
    for (int y = 0; y < height(); ++y)
        encoder.encode(row.data(), scanLine(y), 0, width());
}

std::size_t nearestIndex(const ColorTable &table, ColorRef color, std::size_t entries)
{
    const int r = int(redOf(color)), g = int(greenOf(color)), b = int(blueOf(color));
    std::size_t best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    entries = std::min(entries, table.size());
    for (std::size_t i = 0; i < entries; ++i) {
        const int dr = int(table[i].red) - r, dg = int(table[i].green) - g, db = int(table[i].blue) - b;
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
            if (distance == 0)
                break;
        }
    }
    return best;
}

void copyWithConversion(const Raster &src, Raster &dst, int x, int y, ColorRef bkColor, ColorRef textColor)
{
    // The part of src that lands inside dst.
    const int sx0 = std::max(0, -x);
    const int sy0 = std::max(0, -y);
    const int sx1 = std::min(src.width(), dst.width() - x);
    const int sy1 = std::min(src.height(), dst.height() - y);
    if (sx0 >= sx1 || sy0 >= sy1)
        return;
    const int count = sx1 - sx0;

    // Equal byte layouts copy bytes. A 32-bit target's fourth byte is always
    // written 0, so 32 bits go through the conversion.
    const int bits = src.bitsPerPixel();
    const bool sameTable = src.colorTable() == dst.colorTable() && src.isMonochromeDevice() == dst.isMonochromeDevice();
    if ((bits == 8 || bits == 24) && bits == dst.bitsPerPixel() && sameTable) {
        const std::size_t bytesPerPixel = std::size_t(bits / 8);
        for (int sy = sy0; sy < sy1; ++sy)
            std::memcpy(dst.scanLine(sy + y) + std::size_t(sx0 + x) * bytesPerPixel,
                        src.scanLine(sy) + std::size_t(sx0) * bytesPerPixel, std::size_t(count) * bytesPerPixel);
        return;
    }

    const PixelDecoder decoder(src, bkColor, textColor);
    PixelEncoder encoder(dst, bkColor);
    if (decoder.indexed() && encoder.indexed()) {
        // Each source index converts the same way wherever it stands.
        // Equal colour tables keep the indices, also of colours held twice.
        std::array<std::uint8_t, 256> map{};
        const bool identity = sameTable && bits == dst.bitsPerPixel();
        for (unsigned i = 0; i < (1u << bits); ++i)
            map[i] = identity ? std::uint8_t(i) : encoder.indexFor(decoder.lutColor(i));
        for (int sy = sy0; sy < sy1; ++sy)
            copyIndexedRow(src.scanLine(sy), sx0, src.bitsPerPixel(), dst.scanLine(sy + y), sx0 + x,
                           dst.bitsPerPixel(), count, map.data());
        return;
    }
    std::vector<std::uint32_t> row(static_cast<std::size_t>(count));
    for (int sy = sy0; sy < sy1; ++sy) {
        decoder.decode(src.scanLine(sy), sx0, count, row.data());
        encoder.encode(row.data(), dst.scanLine(sy + y), sx0 + x, count);
    }
}

}  // namespace tovi::platform
