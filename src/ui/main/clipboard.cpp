#include "ui/main/clipboard.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImageReader>
#include <QMimeData>

#include <cstdint>
#include <unordered_map>

#include "picture/bmp/bmp_codec.h"
#include "platform/errors.h"
#include "platform/pixel_codec.h"
#include "platform/stream.h"
#include "ui/main/picture_image.h"

namespace tovi::ui::clipboard {

namespace {

constexpr platform::ColorRef kWhite = 0x00FFFFFF;
constexpr platform::ColorRef kBlack = 0x00000000;

// A pasted picture becomes a raster of the display's 32 bits, so the raster
// limit bounds its pixel count. Qt's image reader refuses on its own anything
// over a much lower limit (128 or 256 MB of decoded pixels, depending on the
// version), which turned a 5000x5000 picture from another program into
// "unsupported data". While decoding, the reader may use up to 8 bytes a
// pixel (16 bits a channel) before the picture is converted.
constexpr std::uint64_t kPastedPixelBytes = 4;
constexpr int kDecodeBytesPerPixel = 8;
constexpr int kDecodeLimitMegabytes = int(platform::kMaxRasterBytes >> 20) * (kDecodeBytesPerPixel / 4);
constexpr int kUnknownSizeDecodeLimitMegabytes = int(platform::kMaxRasterBytes >> 20);
const QString kQtImageFormat = QStringLiteral("application/x-qt-image");
// A copy offers the picture as a BMP file beside the image.
const QString kBmpFormat = QStringLiteral("image/bmp");

// Sets the image reader's allocation limit (a process-wide setting) for one decode.
class ReaderAllocationLimit {
public:
    explicit ReaderAllocationLimit(int megabytes) : m_previous(QImageReader::allocationLimit())
    {
        QImageReader::setAllocationLimit(megabytes);
    }
    ~ReaderAllocationLimit() { QImageReader::setAllocationLimit(m_previous); }
    ReaderAllocationLimit(const ReaderAllocationLimit &) = delete;
    ReaderAllocationLimit &operator=(const ReaderAllocationLimit &) = delete;

private:
    int m_previous;
};

// The encoded picture formats the clipboard offers that the image reader
// reads, in the order the clipboard offers them.
QStringList encodedImageFormats(const QMimeData &data)
{
    // Asked at every idle time while the clipboard holds no image; the image
    // format plugins don't change while the program runs.
    static const QList<QByteArray> readable = QImageReader::supportedMimeTypes();
    QStringList formats;
    for (const QString &format : data.formats()) {
        if (format != kQtImageFormat && readable.contains(format.toLatin1()))
            formats.append(format);
    }
    return formats;
}

QClipboard &openClipboard()
{
    QClipboard *board = qGuiApp ? QGuiApplication::clipboard() : nullptr;
    if (!board)
        throw ClipboardError();
    return *board;
}

// A one-bit picture's copy: black and white, a set bit white.
QImage monochromeImage(const platform::Raster &raster)
{
    const QImage decoded = rasterImage(raster, kWhite, kBlack);
    QImage image(decoded.size(), QImage::Format_Mono);
    if (image.isNull())
        throw OutOfResourcesError(messages::kOutOfResources);
    image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    image.fill(0);
    for (int y = 0; y < decoded.height(); ++y) {
        const auto *in = reinterpret_cast<const std::uint32_t *>(decoded.constScanLine(y));
        std::uint8_t *out = image.scanLine(y);
        for (int x = 0; x < decoded.width(); ++x) {
            if ((in[x] & 0x00FFFFFFu) == platform::colorToXrgb(kWhite))
                out[x >> 3] |= std::uint8_t(0x80u >> (x & 7));
        }
    }
    return image;
}

// The picture as an indexed image with its palette, when every pixel has its
// exact colour in the palette; a null image otherwise, since a palette that
// no longer holds the picture's colours (a pasted picture processed since)
// would change them.
QImage indexedImage(const QImage &colors, const platform::ColorTable &palette)
{
    if (palette.empty() || palette.size() > platform::kMaxColorTableEntries)
        return {};
    std::unordered_map<std::uint32_t, std::uint8_t> indexOf;
    QList<QRgb> table;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const platform::RgbQuad &entry = palette[i];
        indexOf.emplace(platform::colorToXrgb(entry.color()), std::uint8_t(i));  // the first of equal entries
        table.append(qRgb(entry.red, entry.green, entry.blue));
    }
    QImage image(colors.size(), QImage::Format_Indexed8);
    if (image.isNull())
        throw OutOfResourcesError(messages::kOutOfResources);
    image.setColorTable(table);
    for (int y = 0; y < colors.height(); ++y) {
        const auto *in = reinterpret_cast<const std::uint32_t *>(colors.constScanLine(y));
        std::uint8_t *out = image.scanLine(y);
        for (int x = 0; x < colors.width(); ++x) {
            const auto found = indexOf.find(in[x] & 0x00FFFFFFu);
            if (found == indexOf.end())
                return {};
            out[x] = found->second;
        }
    }
    return image;
}

// Whether a picture read from a BMP holds what a device raster loses: a
// header longer than 40 bytes (masks, colour space, profile), run-length
// data, an alpha mask, or the fourth bytes of a 32-bit picture without masks.
bool keepsMoreThanABitmap(const picture::Bitmap &picture)
{
    if (picture.fileExtras() || picture.masks().alpha != 0)
        return true;
    const platform::Raster *raster = picture.raster();
    if (!raster || raster->isDevice() || raster->bitsPerPixel() != 32 ||
        raster->header().compression != platform::kBiRgb)
        return false;
    for (int y = 0; y < raster->height(); ++y) {
        const std::uint8_t *row = raster->scanLine(y);
        for (int x = 0; x < raster->width(); ++x) {
            if (row[std::size_t(x) * 4 + 3] != 0)
                return true;
        }
    }
    return false;
}

// The picture a BMP on the clipboard gives, when it holds more than a
// bitmap does; none for a plain one or one the codec refuses (the image
// reader then has its say, as for any other program's picture).
std::shared_ptr<const picture::Bitmap> keptBmp(const QByteArray &encoded)
{
    platform::MemoryStream stream(std::vector<std::uint8_t>(encoded.begin(), encoded.end()));
    auto picture = std::make_shared<picture::Bitmap>();
    try {
        picture->loadFromStream(stream);
    } catch (const PictureFormatError &) {
        return nullptr;
    } catch (const StreamReadError &) {
        return nullptr;
    }
    if (picture->empty() || !keepsMoreThanABitmap(*picture))
        return nullptr;
    return picture;
}

bool hasTransparency(const QImage &image)
{
    if (!image.hasAlphaChannel())
        return false;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const auto *in = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(in[x]) != 255)
                return true;
        }
    }
    return false;
}

void putLe(std::vector<std::uint8_t> &out, std::size_t at, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out[at + std::size_t(i)] = std::uint8_t(value >> (8 * i));
}

// An image with transparency from another program as a 32-bit picture that
// keeps its alpha: a BMP with a 108-byte header, bit-field masks for blue,
// green, red and alpha bytes and the sRGB colour space, read by the codec.
std::shared_ptr<const picture::Bitmap> pictureWithAlpha(const QImage &image)
{
    constexpr std::size_t kFileHeader = 14;
    constexpr std::size_t kHeader = 108;
    constexpr std::uint32_t kBitFields = 3;
    constexpr std::uint32_t kSrgb = 0x73524742;  // "sRGB"
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    const std::uint64_t pixelBytes = std::uint64_t(argb.width()) * std::uint64_t(argb.height()) * 4;
    if (argb.isNull() || pixelBytes > platform::kMaxRasterBytes)
        throw OutOfResourcesError(messages::kOutOfResources);
    std::vector<std::uint8_t> file(kFileHeader + kHeader + std::size_t(pixelBytes));
    putLe(file, 0, 0x4D42, 2);
    putLe(file, 2, std::uint32_t(file.size()), 4);
    putLe(file, 10, std::uint32_t(kFileHeader + kHeader), 4);
    std::size_t at = kFileHeader;
    putLe(file, at, std::uint32_t(kHeader), 4);
    putLe(file, at + 4, std::uint32_t(argb.width()), 4);
    putLe(file, at + 8, std::uint32_t(argb.height()), 4);
    putLe(file, at + 12, 1, 2);
    putLe(file, at + 14, 32, 2);
    putLe(file, at + 16, kBitFields, 4);
    putLe(file, at + 20, std::uint32_t(pixelBytes), 4);
    putLe(file, at + 40, 0x00FF0000, 4);
    putLe(file, at + 44, 0x0000FF00, 4);
    putLe(file, at + 48, 0x000000FF, 4);
    putLe(file, at + 52, 0xFF000000, 4);
    putLe(file, at + 56, kSrgb, 4);
    at += kHeader;
    for (int y = argb.height() - 1; y >= 0; --y) {  // rows from the bottom
        const auto *in = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x, at += 4)
            putLe(file, at, std::uint32_t(in[x]), 4);
    }
    platform::MemoryStream stream(std::move(file));
    auto picture = std::make_shared<picture::Bitmap>();
    picture->loadFromStream(stream);
    return picture;
}

// The image of a copy with each pixel's alpha, when the picture has one.
QImage withAlpha(const QImage &colors, const std::vector<std::uint8_t> &alpha)
{
    if (alpha.size() != std::size_t(colors.width()) * std::size_t(colors.height()) ||
        colors.format() != QImage::Format_RGB32)
        return colors;
    QImage image = colors.convertToFormat(QImage::Format_ARGB32);
    if (image.isNull())
        throw OutOfResourcesError(messages::kOutOfResources);
    const std::uint8_t *a = alpha.data();
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = (line[x] & 0x00FFFFFFu) | QRgb(*a++) << 24;
    }
    return image;
}

}  // namespace

bool hasBitmap()
{
    QClipboard *board = qGuiApp ? QGuiApplication::clipboard() : nullptr;
    const QMimeData *data = board ? board->mimeData() : nullptr;
    return data && (data->hasImage() || !encodedImageFormats(*data).isEmpty());
}

void setBitmap(const picture::ClipboardForm &form)
{
    QClipboard &board = openClipboard();
    const QImage image = toImage(form);
    if (image.isNull()) {
        board.clear();
        return;
    }
    auto *data = new QMimeData;
    data->setImageData(withAlpha(image, form.alpha));
    if (form.file)
        data->setData(kBmpFormat, QByteArray(reinterpret_cast<const char *>(form.file->data()), qsizetype(form.file->size())));
    board.setMimeData(data);
}

picture::ClipboardForm bitmap()
{
    QClipboard &board = openClipboard();
    const QMimeData *data = board.mimeData();
    if (!data)
        throw ClipboardError();
    // Another program's picture comes encoded (PNG, BMP, ...) and is decoded
    // here, within the raster limit; the program's own copy is an image already.
    // A BMP (the program's own copy offers one) that holds more than a
    // bitmap is taken as it is; a picture with transparency keeps its alpha.
    for (const QString &format : encodedImageFormats(*data)) {
        const QByteArray encoded = data->data(format);
        if (format == kBmpFormat) {
            if (auto kept = keptBmp(encoded)) {
                picture::ClipboardForm form;
                form.picture = std::move(kept);
                return form;
            }
            // The program's own plain copy: its image says the same.
            if (data->hasImage())
                continue;
        }
        const QImage image = decodeImage(encoded);
        if (!image.isNull())
            return fromPastedImage(image);
    }
    if (!data->hasImage())
        return {};
    return fromPastedImage(board.image());
}

picture::ClipboardForm fromPastedImage(const QImage &image)
{
    if (!hasTransparency(image))
        return fromImage(image);
    picture::ClipboardForm form;
    form.picture = pictureWithAlpha(image);
    return form;
}

QImage decodeImage(const QByteArray &encoded)
{
    QBuffer buffer;
    buffer.setData(encoded);
    if (encoded.isEmpty() || !buffer.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (size.isValid()) {
        if (std::uint64_t(size.width()) * std::uint64_t(size.height()) * kPastedPixelBytes > platform::kMaxRasterBytes)
            throw OutOfResourcesError(messages::kOutOfResources);
        const ReaderAllocationLimit limit(kDecodeLimitMegabytes);
        return reader.read();
    }
    // A format that tells its size only while decoding gets no more room
    // than the raster limit itself.
    const ReaderAllocationLimit limit(kUnknownSizeDecodeLimitMegabytes);
    return reader.read();
}

QImage toImage(const picture::ClipboardForm &form)
{
    if (form.format != picture::kClipboardBitmap || !form.bitmap)
        return {};
    const platform::Raster &raster = *form.bitmap;
    if (raster.isMonochromeDevice())
        return monochromeImage(raster);
    QImage colors = rasterImage(raster, kWhite, kBlack);
    if (colors.isNull())
        throw OutOfResourcesError(messages::kOutOfResources);
    if (form.palette && !form.palette->halftone) {
        QImage indexed = indexedImage(colors, form.palette->entries);
        if (!indexed.isNull())
            return indexed;
    }
    return colors;
}

picture::ClipboardForm fromImage(const QImage &image)
{
    picture::ClipboardForm form;
    if (image.isNull())
        return form;
    const bool indexed = image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono ||
                         image.format() == QImage::Format_MonoLSB;
    if (indexed && image.colorCount() > 0) {
        platform::LogicalPalette palette;
        for (int i = 0; i < image.colorCount() && std::size_t(i) < platform::kMaxColorTableEntries; ++i) {
            const QRgb c = image.color(i);
            palette.entries.push_back(platform::RgbQuad::fromColor(platform::rgb(unsigned(qRed(c)), unsigned(qGreen(c)),
                                                                                 unsigned(qBlue(c)))));
        }
        form.palette = std::move(palette);
    }
    const QImage colors = image.convertToFormat(QImage::Format_RGB32);
    auto raster = platform::Raster::createDevice(colors.width(), colors.height());
    if (colors.isNull() || !raster)
        throw OutOfResourcesError(messages::kOutOfResources);
    for (int y = 0; y < colors.height(); ++y) {
        const auto *in = reinterpret_cast<const std::uint32_t *>(colors.constScanLine(y));
        auto *out = reinterpret_cast<std::uint32_t *>(raster->scanLine(y));
        // The display's fourth byte is unused and kept 0.
        for (int x = 0; x < colors.width(); ++x)
            out[x] = in[x] & 0x00FFFFFFu;
    }
    form.bitmap = std::move(raster);
    return form;
}

}  // namespace tovi::ui::clipboard
