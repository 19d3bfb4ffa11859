// Run-length data (RLE8, RLE4) decoded into a device raster.

#include <algorithm>
#include <cstring>
#include <limits>

#include "picture/bmp/bmp_format.h"
#include "picture/bmp/bmp_rle.h"
#include "platform/pixel_codec.h"

namespace tovi::picture::bmp {

using namespace platform;

namespace {

// Run-length data can describe a large picture in few bytes (a delta or an
// end of bitmap skips any number of pixels). A raster may be at most this
// many times larger than its data, beyond a fixed allowance, so a tiny
// malformed file can't make a huge allocation.
constexpr std::uint64_t kRleExpansionLimit = 1024;
constexpr std::uint64_t kRleAllowanceBytes = std::uint64_t{64} << 20;

class RleDecoder {
public:
    RleDecoder(Raster &target, const ColorTable &table, bool fourBits) : m_target(target), m_fourBits(fourBits)
    {
        for (std::size_t i = 0; i < table.size() && i < m_colors.size(); ++i)
            m_colors[i] = colorToXrgb(table[i].color());
    }

    // The highest colour-table index a decoded pixel took.
    unsigned highestIndex() const { return m_highestIndex; }

    void decode(std::span<const std::uint8_t> data)
    {
        std::size_t pos = 0;
        const std::size_t size = data.size();
        while (pos + 1 < size && m_y < m_target.height()) {
            const unsigned count = data[pos];
            const unsigned value = data[pos + 1];
            pos += 2;
            if (count > 0) {
                encodedRun(count, value);
                continue;
            }
            switch (value) {
            case 0:  // end of line
                m_x = 0;
                ++m_y;
                break;
            case 1:  // end of bitmap
                return;
            case 2:  // delta: move right and up
                if (pos + 1 >= size)
                    return;
                m_x = std::min(m_x + data[pos], m_target.width());
                m_y += data[pos + 1];
                pos += 2;
                break;
            default: {  // absolute run of `value` pixels, padded to a 16-bit boundary
                const std::size_t bytes = m_fourBits ? (value + 1) / 2 : value;
                const std::size_t available = std::min(bytes, size - pos);
                absoluteRun(std::min<std::size_t>(value, m_fourBits ? available * 2 : available), data.data() + pos);
                if (available < bytes)
                    return;
                pos += (bytes + 1) & ~std::size_t{1};
                break;
            }
            }
        }
    }

private:
    // The part of a run that fits in the current row; the rest is dropped.
    int fitting(std::size_t count) const
    {
        return int(std::min<std::size_t>(count, std::size_t(m_target.width() - m_x)));
    }

    std::uint32_t *rowStart() const
    {
        return reinterpret_cast<std::uint32_t *>(m_target.scanLine(m_target.height() - 1 - m_y));
    }

    void encodedRun(unsigned count, unsigned value)
    {
        const int n = fitting(count);
        if (n <= 0)
            return;
        std::uint32_t *row = rowStart() + m_x;
        if (!m_fourBits) {
            note(value);
            std::fill(row, row + n, m_colors[value]);
        } else {
            note(value >> 4);
            if (n > 1)
                note(value & 0x0F);
            const std::uint32_t pair[2] = {m_colors[value >> 4], m_colors[value & 0x0F]};
            for (int i = 0; i < n; ++i)
                row[i] = pair[i & 1];
        }
        m_x += n;
    }

    void absoluteRun(std::size_t count, const std::uint8_t *bytes)
    {
        const int n = fitting(count);
        if (n <= 0)
            return;
        std::uint32_t *row = rowStart() + m_x;
        for (int i = 0; i < n; ++i) {
            const unsigned index = m_fourBits ? ((i & 1) ? bytes[i / 2] & 0x0F : bytes[i / 2] >> 4) : bytes[i];
            note(index);
            row[i] = m_colors[index];
        }
        m_x += n;
    }

    void note(unsigned index) { m_highestIndex = std::max(m_highestIndex, index); }

    Raster &m_target;
    bool m_fourBits;
    std::array<std::uint32_t, 256> m_colors{};
    int m_x = 0;
    int m_y = 0;
    unsigned m_highestIndex = 0;
};

}  // namespace

std::shared_ptr<Raster> decodeRunLength(const BitmapInfoHeader &header, const ColorTable &colorTable,
                                        std::span<const std::uint8_t> data, unsigned *highestIndex)
{
    if (header.width <= 0 || header.height <= 0)
        return nullptr;
    const bool rle8 = header.compression == kBiRle8 && header.bitCount == 8;
    const bool rle4 = header.compression == kBiRle4 && header.bitCount == 4;
    if (!rle8 && !rle4)
        return nullptr;
    const std::uint64_t rasterBytes = std::uint64_t(header.width) * 4 * std::uint64_t(header.height);
    if (rasterBytes > kMaxRasterBytes || rasterBytes > kRleAllowanceBytes + kRleExpansionLimit * data.size())
        return nullptr;
    auto raster = Raster::createDevice(header.width, header.height);
    RleDecoder decoder(*raster, colorTable, rle4);
    decoder.decode(data);
    if (highestIndex)
        *highestIndex = decoder.highestIndex();
    return raster;
}

}  // namespace tovi::picture::bmp
