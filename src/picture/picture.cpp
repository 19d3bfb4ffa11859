#include "picture/picture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/errors.h"
#include "platform/stream.h"

namespace tovi::picture {

namespace {

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return text;
}

std::vector<std::uint8_t> readWholeFile(const std::string &fileName)
{
    platform::FileReadStream stream(fileName);
    // An icon or metafile larger than this is no icon or metafile.
    constexpr std::uint64_t kMaxGraphicBytes = std::uint64_t{256} << 20;
    if (stream.size() > kMaxGraphicBytes)
        throw PictureFormatError(messages::kInvalidMetafile);
    std::vector<std::uint8_t> data(std::size_t(stream.size()));
    stream.readExact(data.data(), data.size());
    return data;
}

std::uint32_t le32(const std::vector<std::uint8_t> &d, std::size_t at)
{
    return std::uint32_t(d[at]) | (std::uint32_t(d[at + 1]) << 8) | (std::uint32_t(d[at + 2]) << 16) |
           (std::uint32_t(d[at + 3]) << 24);
}

std::uint16_t le16(const std::vector<std::uint8_t> &d, std::size_t at)
{
    return std::uint16_t(d[at] | (d[at + 1] << 8));
}

}  // namespace

std::string fileExtension(const std::string &fileName)
{
    const std::size_t slash = fileName.rfind('/');
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return fileName.substr(dot + 1);
}

void IconGraphic::check(const std::vector<std::uint8_t> &data)
{
    // The second 16-bit word is the resource type.
    if (data.size() < 4 || (le16(data, 2) != 0 && le16(data, 2) != 1))
        throw PictureFormatError(messages::kInvalidIcon);
}

void RawGraphic::loadFromFile(const std::string &fileName)
{
    auto data = readWholeFile(fileName);
    checkData(data);
    m_data = std::move(data);
}

void RawGraphic::saveToFile(const std::string &fileName) const
{
    platform::SafeFileWriter writer(fileName);
    writer.writeExact(m_data.data(), m_data.size());
    writer.commit();
}

void MetafileGraphic::check(const std::vector<std::uint8_t> &data)
{
    constexpr std::uint32_t kEnhancedSignature = 0x464D4520;  // " EMF"
    constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7;
    const bool enhanced = data.size() > 100 && le32(data, 0) == 1 && le32(data, 40) == kEnhancedSignature;
    bool placeable = false;
    if (!enhanced && data.size() >= 22 && le32(data, 0) == kPlaceableKey) {
        std::uint16_t sum = 0;
        for (std::size_t i = 0; i < 10; ++i)
            sum ^= le16(data, 2 * i);
        placeable = le16(data, 20) == sum;
    }
    if (!enhanced && !placeable)
        throw PictureFormatError(messages::kInvalidMetafile);
}

Picture::Picture() = default;
Picture::~Picture() = default;

void Picture::loadFromFile(const std::string &fileName)
{
    const std::string extension = fileExtension(fileName);
    const std::string key = lower(extension);
    std::unique_ptr<Graphic> graphic;
    if (key == "bmp")
        graphic = std::make_unique<BitmapGraphic>();
    else if (key == "ico")
        graphic = std::make_unique<IconGraphic>();
    else if (key == "wmf" || key == "emf")
        graphic = std::make_unique<MetafileGraphic>();
    if (!graphic) {
        char message[512];
        std::snprintf(message, sizeof message, messages::kUnknownExtension, extension.c_str());
        throw PictureFormatError(message);
    }
    graphic->loadFromFile(fileName);
    setGraphic(std::move(graphic));
}

void Picture::saveToFile(const std::string &fileName) const
{
    if (m_graphic)
        m_graphic->saveToFile(fileName);
}

Bitmap &Picture::bitmap()
{
    auto *held = dynamic_cast<BitmapGraphic *>(m_graphic.get());
    if (!held) {
        setGraphic(std::make_unique<BitmapGraphic>());
        held = static_cast<BitmapGraphic *>(m_graphic.get());
    }
    return held->bitmap();
}

void Picture::setGraphic(std::unique_ptr<Graphic> graphic)
{
    m_graphic = std::move(graphic);
    hook();
    changed();
}

void Picture::setOnChange(std::function<void()> handler)
{
    m_onChange = std::move(handler);
    hook();
}

void Picture::hook()
{
    if (auto *held = dynamic_cast<BitmapGraphic *>(m_graphic.get()))
        held->bitmap().setOnChange([this] { changed(); });
}

void Picture::changed()
{
    if (m_onChange)
        m_onChange();
}

}  // namespace tovi::picture
