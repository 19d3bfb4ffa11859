#include "picture/bitmap.h"

#include <algorithm>
#include <cstring>

#include "picture/bmp/bmp_codec.h"
#include "platform/errors.h"
#include "platform/stream.h"
#include "platform/system_colors.h"

namespace tovi::picture {

using namespace platform;

namespace {

unsigned bitsOfFormat(PixelFormat format)
{
    switch (format) {
    case PixelFormat::Bit1:
        return 1;
    case PixelFormat::Bit4:
        return 4;
    case PixelFormat::Bit8:
        return 8;
    case PixelFormat::Bit15:
    case PixelFormat::Bit16:
        return 16;
    case PixelFormat::Bit24:
        return 24;
    default:
        return 32;
    }
}

// The colour table a new paletted raster starts with.
ColorTable defaultColorTable(unsigned bits)
{
    switch (bits) {
    case 1:
        return {{0, 0, 0, 0}, {255, 255, 255, 0}};
    case 4:
        return standard16Colors();
    case 8:
        return halftonePalette().entries;
    default:
        return {};
    }
}

// Copies the old content into the top-left corner of new storage of the same
// layout, byte for byte, so indices and unused bits are kept.
void copyTopLeft(const Raster &from, Raster &to)
{
    const int rows = std::min(from.height(), to.height());
    const std::size_t bytes = std::min(from.rowBytes(), to.rowBytes());
    for (int i = 0; i < rows; ++i)
        std::memcpy(to.scanLine(i), from.scanLine(i), bytes);
}

// Each pixel's alpha by the alpha mask, scaled to 0..255, rows from the top;
// empty for a raster without an alpha mask.
std::vector<std::uint8_t> alphaOf(const Raster &raster, std::uint32_t mask)
{
    const unsigned bits = unsigned(raster.bitsPerPixel());
    if (mask == 0 || (bits != 16 && bits != 32))
        return {};
    unsigned shift = 0;
    while (((mask >> shift) & 1u) == 0)
        ++shift;
    const std::uint64_t top = mask >> shift;
    std::vector<std::uint8_t> alpha(std::size_t(raster.width()) * std::size_t(raster.height()));
    std::uint8_t *out = alpha.data();
    for (int y = 0; y < raster.height(); ++y) {
        const std::uint8_t *row = raster.scanLine(y);
        for (int x = 0; x < raster.width(); ++x) {
            const std::uint8_t *p = row + std::size_t(x) * (bits / 8);
            std::uint32_t value = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8;
            if (bits == 32)
                value |= std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
            *out++ = std::uint8_t((((value & mask) >> shift) * 255 + top / 2) / top);
        }
    }
    return alpha;
}

}  // namespace

Bitmap::Bitmap() = default;

Bitmap::Bitmap(const Bitmap &other)
    : m_raster(other.m_raster), m_header(other.m_header), m_masks(other.m_masks), m_palette(other.m_palette),
      m_keptFileBytes(other.m_keptFileBytes), m_extras(other.m_extras), m_os2Style(other.m_os2Style), m_width(other.m_width),
      m_height(other.m_height), m_brushColor(other.m_brushColor)
{
}

Bitmap &Bitmap::operator=(const Bitmap &other)
{
    if (this != &other) {
        m_raster = other.m_raster;
        m_header = other.m_header;
        m_masks = other.m_masks;
        m_palette = other.m_palette;
        m_keptFileBytes = other.m_keptFileBytes;
        m_extras = other.m_extras;
        m_os2Style = other.m_os2Style;
        m_width = other.m_width;
        m_height = other.m_height;
        changed();
    }
    return *this;
}

Bitmap::~Bitmap() = default;

void Bitmap::changed() const
{
    if (m_onChange)
        m_onChange();
}

PixelFormat Bitmap::pixelFormat() const
{
    if ((m_raster && m_raster->isDevice()) || (!m_raster && m_header.size == 0))
        return PixelFormat::Device;
    switch (m_header.bitCount) {
    case 1:
        return PixelFormat::Bit1;
    case 4:
        return PixelFormat::Bit4;
    case 8:
        return PixelFormat::Bit8;
    case 16:
        if (m_header.compression == kBiRgb)
            return PixelFormat::Bit15;
        if (m_header.compression == kBiBitFields && m_masks.green == 0x07E0)
            return PixelFormat::Bit16;
        return PixelFormat::Custom;
    case 24:
        return PixelFormat::Bit24;
    case 32:
        return m_header.compression == kBiRgb ? PixelFormat::Bit32 : PixelFormat::Custom;
    default:
        return PixelFormat::Custom;
    }
}

void Bitmap::setWidth(int width)
{
    if (width == m_width)
        return;
    makeStorage(width, m_height);
    changed();
}

void Bitmap::setHeight(int height)
{
    if (height == m_height)
        return;
    makeStorage(m_width, height);
    changed();
}

void Bitmap::makeStorage(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    std::shared_ptr<Raster> storage;
    if (width > 0 && height > 0) {
        if (m_header.size != 0) {
            BitmapInfoHeader header = m_header;
            header.width = width;
            header.height = m_header.height < 0 ? -height : height;
            ColorTable table = m_raster ? m_raster->colorTable() : ColorTable{};
            if (table.empty() && m_palette && !m_palette->halftone)
                table = m_palette->entries;
            if (table.empty())
                table = defaultColorTable(header.bitCount);
            storage = Raster::createIndependent(header, &m_masks, table);
        } else {
            storage = Raster::createDevice(width, height);
        }
        if (!storage)
            throw OutOfResourcesError(messages::kOutOfResources);
        storage->fill(m_brushColor);
        if (m_raster && m_raster->bitsPerPixel() == storage->bitsPerPixel() &&
            m_raster->isDevice() == storage->isDevice())
            copyTopLeft(*m_raster, *storage);
        else if (m_raster)
            copyWithConversion(*m_raster, *storage, 0, 0, m_brushColor, textColor());
    }
    m_raster = std::move(storage);
    m_width = width;
    m_height = height;
    if (m_header.size != 0) {
        m_header.width = width;
        m_header.height = m_header.height < 0 ? -height : height;
        m_header.sizeImage = m_raster ? std::uint32_t(m_raster->imageBytes()) : 0;
    }
    m_keptFileBytes.reset();
}

void Bitmap::setPixelFormat(PixelFormat format)
{
    if (format == pixelFormat())
        return;
    if (format == PixelFormat::Custom)
        throw PictureFormatError(messages::kInvalidPixelFormat);
    // What the file kept belongs to its own format.
    m_extras.reset();

    if (format == PixelFormat::Device) {
        if (m_raster) {
            auto storage = Raster::createDevice(m_raster->width(), m_raster->height());
            copyWithConversion(*m_raster, *storage, 0, 0, m_brushColor, textColor());
            m_raster = std::move(storage);
            m_header = {};
            m_masks = {};
            m_keptFileBytes.reset();
            changed();
        } else {
            m_header = {};
            m_masks = {};
        }
        return;
    }

    BitmapInfoHeader header;
    header.size = kInfoHeaderBytes;
    header.width = m_width;
    header.height = m_height;
    header.planes = 1;
    header.bitCount = std::uint16_t(bitsOfFormat(format));
    header.compression = format == PixelFormat::Bit16 ? kBiBitFields : kBiRgb;
    const ChannelMasks masks = format == PixelFormat::Bit16 ? kMasks565 : ChannelMasks{};
    if (!m_raster) {
        m_header = header;
        m_masks = masks;
        return;
    }

    ColorTable table = defaultColorTable(header.bitCount);
    if (format == PixelFormat::Bit1 && m_palette && !m_palette->halftone && m_palette->entries.size() >= 2)
        table.assign(m_palette->entries.begin(), m_palette->entries.begin() + 2);
    auto storage = Raster::createIndependent(header, &masks, table);
    if (!storage)
        throw OutOfResourcesError(messages::kOutOfResources);
    copyWithConversion(*m_raster, *storage, 0, 0, m_brushColor, textColor());
    m_raster = std::move(storage);
    m_header = m_raster->header();
    m_masks = masks;
    if (header.bitCount <= 8)
        m_palette.reset();
    m_keptFileBytes.reset();
    changed();
}

void Bitmap::prepareChange()
{
    if (m_raster && m_raster.use_count() > 1)
        m_raster = m_raster->clone();
    m_header.clrUsed = 0;
    m_header.clrImportant = 0;
    m_keptFileBytes.reset();
}

std::uint8_t *Bitmap::scanLine(int row)
{
    if (!m_raster || row < 0 || row >= m_raster->height())
        throw PictureOperationError(messages::kScanLineOutOfRange);
    prepareChange();
    return m_raster->scanLine(row);
}

std::shared_ptr<Raster> Bitmap::beginPixelChange()
{
    makeLogicalPalette();
    prepareChange();
    return m_raster;
}

ColorRef Bitmap::textColor() const { return sysColor(kColorWindowText); }

void Bitmap::makeLogicalPalette() const
{
    if (m_palette || !m_raster)
        return;
    if (!m_raster->isDevice() && !m_raster->colorTable().empty())
        m_palette = LogicalPalette{m_raster->colorTable(), false};
    else if (m_raster->bitsPerPixel() > kDisplayBitsPerPixel)
        m_palette = halftonePalette();
}

void Bitmap::draw(int x, int y, const Bitmap &src)
{
    if (src.empty() || !src.m_raster || !m_raster)
        return;
    prepareChange();
    src.makeLogicalPalette();
    // Drawing a picture onto itself reads from the pixels as they were.
    std::shared_ptr<const Raster> source = src.m_raster;
    if (source == m_raster)
        source = source->clone();
    copyWithConversion(*source, *m_raster, x, y, m_brushColor, textColor());
    changed();
}

ColorRef Bitmap::pixel(int x, int y) const
{
    if (!m_raster)
        return kInvalidColor;
    return m_raster->pixel(x, y);
}

ClipboardForm Bitmap::toClipboard() const
{
    ClipboardForm form;
    if (!m_raster)
        return form;
    makeLogicalPalette();
    auto copy = Raster::createDevice(m_raster->width(), m_raster->height(), pixelFormat() == PixelFormat::Bit1);
    copyWithConversion(*m_raster, *copy, 0, 0, m_brushColor, textColor());
    form.bitmap = std::move(copy);
    form.palette = m_palette;
    if (!m_raster->isDevice())
        form.alpha = alphaOf(*m_raster, m_masks.alpha);
    try {
        MemoryStream file;
        bmp::encode(*this, file);
        form.file = std::make_shared<const std::vector<std::uint8_t>>(file.data());
    } catch (const PictureFormatError &) {
        // A picture the writer can't keep whole travels as its bitmap only.
    }
    return form;
}

void Bitmap::fromClipboard(int format, std::shared_ptr<const Raster> bitmap, const LogicalPalette *palette)
{
    if (format != kClipboardBitmap || !bitmap)
        throw PictureFormatError(messages::kUnsupportedClipboard);
    std::shared_ptr<Raster> storage;
    BitmapInfoHeader header;
    ChannelMasks masks;
    if (bitmap->isDevice()) {
        storage = Raster::createDevice(bitmap->width(), bitmap->height());
        copyWithConversion(*bitmap, *storage, 0, 0, m_brushColor, textColor());
    } else {
        storage = bitmap->clone();
        header = storage->header();
        masks = storage->masks();
    }
    m_raster = std::move(storage);
    m_header = header;
    m_masks = masks;
    m_palette = palette ? std::optional<LogicalPalette>(*palette) : std::nullopt;
    m_keptFileBytes.reset();
    m_extras.reset();
    m_os2Style = false;
    m_width = m_raster->width();
    m_height = m_raster->height();
    changed();
}

std::shared_ptr<Raster> Bitmap::makeIndependentFromDevice() const
{
    if (!m_raster || !m_raster->isDevice())
        return nullptr;
    BitmapInfoHeader header;
    header.size = kInfoHeaderBytes;
    header.width = m_raster->width();
    header.height = m_raster->height();
    header.planes = 1;
    header.bitCount = std::uint16_t(m_raster->bitsPerPixel() * m_raster->planes());
    header.compression = kBiRgb;
    ColorTable table;
    if (header.bitCount == 1)
        table = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    auto independent = Raster::createIndependent(header, nullptr, table);
    if (!independent)
        throw OutOfResourcesError(messages::kOutOfResources);
    copyWithConversion(*m_raster, *independent, 0, 0, 0x00FFFFFF, 0);
    return independent;
}

void Bitmap::assign(Content content)
{
    m_raster = std::move(content.raster);
    m_header = content.header;
    m_masks = content.masks;
    m_palette = std::move(content.palette);
    m_os2Style = content.os2Style;
    m_keptFileBytes = std::move(content.keptFileBytes);
    m_extras = std::move(content.extras);
    m_width = m_raster ? m_raster->width() : 0;
    m_height = m_raster ? m_raster->height() : 0;
    changed();
}

void Bitmap::clear()
{
    assign(Content{});
}

}  // namespace tovi::picture
