// Run-length data (RLE8, RLE4) decoded into a device raster.

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "picture/bmp/bmp_codec.h"
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
    RleDecoder(Raster &target, const ColorTable &table, bool fourBits, std::vector<std::uint16_t> *indices)
        : m_target(target), m_fourBits(fourBits), m_indices(indices)
    {
        if (m_indices)
            m_indices->assign(std::size_t(target.width()) * std::size_t(target.height()), FileExtras::kUnsetPixel);
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

    // Where pixel m_x + i of the current row keeps its index.
    std::uint16_t *indexAt(int i) const
    {
        return m_indices->data() + std::size_t(m_target.height() - 1 - m_y) * std::size_t(m_target.width()) +
               std::size_t(m_x + i);
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
            if (m_indices)
                std::fill(indexAt(0), indexAt(n), std::uint16_t(value));
        } else {
            note(value >> 4);
            if (n > 1)
                note(value & 0x0F);
            const std::uint32_t pair[2] = {m_colors[value >> 4], m_colors[value & 0x0F]};
            const std::uint8_t pairIndex[2] = {std::uint8_t(value >> 4), std::uint8_t(value & 0x0F)};
            for (int i = 0; i < n; ++i) {
                row[i] = pair[i & 1];
                if (m_indices)
                    *indexAt(i) = pairIndex[i & 1];
            }
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
            if (m_indices)
                *indexAt(i) = std::uint16_t(index);
        }
        m_x += n;
    }

    void note(unsigned index) { m_highestIndex = std::max(m_highestIndex, index); }

    Raster &m_target;
    bool m_fourBits;
    std::vector<std::uint16_t> *m_indices;
    std::array<std::uint32_t, 256> m_colors{};
    int m_x = 0;
    int m_y = 0;
    unsigned m_highestIndex = 0;
};

}  // namespace

std::shared_ptr<Raster> decodeRunLength(const BitmapInfoHeader &header, const ColorTable &colorTable,
                                        std::span<const std::uint8_t> data, unsigned *highestIndex,
                                        std::vector<std::uint16_t> *indices)
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
    RleDecoder decoder(*raster, colorTable, rle4, indices);
    decoder.decode(data);
    if (highestIndex)
        *highestIndex = decoder.highestIndex();
    return raster;
}

namespace {

// Runs of one row: an encoded run for two or more equal indices (RLE4: one
// index repeated), an absolute run for three or more that don't repeat,
// single encoded pixels between them, and deltas over skipped pixels (the end
// of the line when the rest of the row is skipped).
class RleEncoder {
public:
    RleEncoder(bool fourBits, std::vector<std::uint8_t> &out) : m_fourBits(fourBits), m_out(out) {}

    void row(const std::uint16_t *indices, std::size_t width)
    {
        std::size_t x = 0;
        while (x < width) {
            if (indices[x] == FileExtras::kUnsetPixel) {
                std::size_t skipped = 1;
                while (x + skipped < width && indices[x + skipped] == FileExtras::kUnsetPixel)
                    ++skipped;
                if (x + skipped == width)
                    break;
                for (std::size_t left = skipped; left > 0;) {
                    const std::size_t step = std::min(left, kMaxRun);
                    m_out.insert(m_out.end(), {0, 2, std::uint8_t(step), 0});
                    left -= step;
                }
                x += skipped;
                continue;
            }
            const std::size_t run = repeated(indices, x, width);
            if (run >= 2) {
                encoded(indices[x], run);
                x += run;
                continue;
            }
            std::size_t literal = 1;
            while (x + literal < width && literal < kMaxRun && indices[x + literal] != FileExtras::kUnsetPixel &&
                   repeated(indices, x + literal, width) < 3)
                ++literal;
            if (literal >= 3) {
                absolute(indices + x, literal);
            } else {
                for (std::size_t i = 0; i < literal; ++i)
                    encoded(indices[x + i], 1);
            }
            x += literal;
        }
        m_out.insert(m_out.end(), {0, 0});  // end of line
    }

    void end() { m_out.insert(m_out.end(), {0, 1}); }

private:
    static constexpr std::size_t kMaxRun = 255;

    static std::size_t repeated(const std::uint16_t *indices, std::size_t x, std::size_t width)
    {
        std::size_t n = 1;
        while (x + n < width && n < kMaxRun && indices[x + n] == indices[x])
            ++n;
        return n;
    }

    void encoded(std::uint16_t index, std::size_t count)
    {
        const auto value = std::uint8_t(m_fourBits ? (index & 0x0F) * 0x11 : index);
        m_out.insert(m_out.end(), {std::uint8_t(count), value});
    }

    void absolute(const std::uint16_t *indices, std::size_t count)
    {
        m_out.insert(m_out.end(), {0, std::uint8_t(count)});
        const std::size_t start = m_out.size();
        if (m_fourBits) {
            for (std::size_t i = 0; i < count; i += 2)
                m_out.push_back(std::uint8_t((indices[i] & 0x0F) << 4 | (i + 1 < count ? indices[i + 1] & 0x0F : 0)));
        } else {
            for (std::size_t i = 0; i < count; ++i)
                m_out.push_back(std::uint8_t(indices[i]));
        }
        if ((m_out.size() - start) & 1)
            m_out.push_back(0);  // to a 16-bit boundary
    }

    bool m_fourBits;
    std::vector<std::uint8_t> &m_out;
};

}  // namespace

std::vector<std::uint8_t> encodeRunLength(std::span<const std::uint16_t> indices, int width, int height, bool fourBits)
{
    std::vector<std::uint8_t> out;
    RleEncoder encoder(fourBits, out);
    for (int y = height - 1; y >= 0; --y)
        encoder.row(indices.data() + std::size_t(y) * std::size_t(width), std::size_t(width));
    encoder.end();
    return out;
}


namespace {

// Walks run-length data that sets each pixel once, row after row, mapping
// every index it holds; fails at anything else.
class RleRemapper {
public:
    RleRemapper(std::uint8_t *data, std::size_t size, int width, int height, bool fourBits,
                const std::array<std::uint8_t, 256> &map, std::size_t entries)
        : m_data(data), m_size(size), m_width(std::size_t(width)), m_height(std::size_t(height)),
          m_fourBits(fourBits), m_map(map), m_entries(entries)
    {
    }

    bool remap()
    {
        std::size_t pos = 0;
        while (m_y < m_height) {
            if (pos + 1 >= m_size)
                return false;
            const unsigned count = m_data[pos];
            const unsigned value = m_data[pos + 1];
            if (count > 0) {
                if (!encodedRun(count, m_data + pos + 1))
                    return false;
                pos += 2;
                continue;
            }
            pos += 2;
            if (value == 0 || value == 1) {  // end of line, end of bitmap
                if (m_x != m_width || (value == 1 && m_y + 1 != m_height))
                    return false;
                m_x = 0;
                ++m_y;
                continue;
            }
            if (value == 2)  // a delta skips pixels
                return false;
            const std::size_t bytes = m_fourBits ? (value + 1) / 2 : value;
            if (bytes > m_size - pos || !absoluteRun(value, m_data + pos))
                return false;
            pos += (bytes + 1) & ~std::size_t{1};
        }
        return true;
    }

private:
    bool fits(unsigned count) const { return count <= m_width - m_x; }

    bool known(unsigned index) const { return index < m_entries; }

    bool encodedRun(unsigned count, std::uint8_t *value)
    {
        if (!fits(count))
            return false;
        if (!m_fourBits) {
            if (!known(*value))
                return false;
            *value = m_map[*value];
        } else {
            const unsigned high = *value >> 4, low = *value & 0x0F;
            if (!known(high) || (count > 1 && !known(low)))
                return false;
            *value = std::uint8_t(m_map[high] << 4 | (count > 1 ? m_map[low] : low));
        }
        m_x += count;
        return true;
    }

    bool absoluteRun(unsigned count, std::uint8_t *bytes)
    {
        if (!fits(count))
            return false;
        for (unsigned i = 0; i < count; ++i) {
            if (!m_fourBits) {
                if (!known(bytes[i]))
                    return false;
                bytes[i] = m_map[bytes[i]];
                continue;
            }
            std::uint8_t &pair = bytes[i / 2];
            const unsigned shift = (i & 1) ? 0 : 4;
            const unsigned index = (pair >> shift) & 0x0F;
            if (!known(index))
                return false;
            pair = std::uint8_t((pair & ~(0x0F << shift)) | m_map[index] << shift);
        }
        m_x += count;
        return true;
    }

    std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_width;
    std::size_t m_height;
    bool m_fourBits;
    const std::array<std::uint8_t, 256> &m_map;
    std::size_t m_entries;
    std::size_t m_x = 0;
    std::size_t m_y = 0;
};

}  // namespace

std::optional<std::vector<std::uint8_t>> remapRunLengthIndices(const RunLengthFile &file,
                                                              const std::array<std::uint8_t, 256> &map)
{
    if (!file.bytes || file.width <= 0 || file.height <= 0 || file.dataAt > file.bytes->size() ||
        file.dataSize > file.bytes->size() - file.dataAt ||
        std::uint64_t(file.width) * 4 * std::uint64_t(file.height) > kMaxRasterBytes)
        return std::nullopt;
    std::vector<std::uint8_t> out(*file.bytes);
    const std::size_t entries = std::min<std::size_t>(file.table.size(), file.fourBits ? 16 : 256);
    RleRemapper remapper(out.data() + file.dataAt, file.dataSize, file.width, file.height, file.fourBits, map,
                         entries);
    if (!remapper.remap())
        return std::nullopt;
    return out;
}

}  // namespace tovi::picture::bmp
