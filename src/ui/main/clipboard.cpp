#include "ui/main/clipboard.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImageReader>
#include <QMimeData>

#include <cstdint>
#include <unordered_map>

#include "platform/pixel_codec.h"
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
    if (image.isNull())
        board.clear();
    else
        board.setImage(image);
}

picture::ClipboardForm bitmap()
{
    QClipboard &board = openClipboard();
    const QMimeData *data = board.mimeData();
    if (!data)
        throw ClipboardError();
    // Another program's picture comes encoded (PNG, BMP, ...) and is decoded
    // here, within the raster limit; the program's own copy is an image already.
    for (const QString &format : encodedImageFormats(*data)) {
        const QImage image = decodeImage(data->data(format));
        if (!image.isNull())
            return fromImage(image);
    }
    if (!data->hasImage())
        return {};
    return fromImage(board.image());
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
