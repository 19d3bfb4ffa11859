#include "platform/version_record.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace tovi::platform {

namespace {

// The parts of the ELF format the reader needs, both classes, little-endian.
constexpr std::array<std::uint8_t, 4> kElfMagic = {0x7F, 'E', 'L', 'F'};
constexpr std::size_t kIdentClass = 4;
constexpr std::size_t kIdentData = 5;
constexpr std::uint8_t kElfClass32 = 1;
constexpr std::uint8_t kElfClass64 = 2;
constexpr std::uint8_t kElfDataLittle = 1;
constexpr std::uint32_t kSectionNoBits = 8;    // SHT_NOBITS: no bytes in the file
constexpr std::uint32_t kSectionIndexEscape = 0xFFFF;  // SHN_XINDEX
// Far more sections than any linker writes; bounds the header table read.
constexpr std::uint64_t kMaxSections = 1u << 20;

struct ElfLayout {
    std::size_t headerBytes;
    std::size_t shoffAt, shentsizeAt, shnumAt, shstrndxAt, shoffBytes;
    std::size_t sectionHeaderBytes;
    std::size_t nameAt, typeAt, offsetAt, sizeAt, linkAt, wordBytes;
};

constexpr ElfLayout kElf32 = {52, 32, 46, 48, 50, 4, 40, 0, 4, 16, 20, 24, 4};
constexpr ElfLayout kElf64 = {64, 40, 58, 60, 62, 8, 64, 0, 4, 24, 32, 40, 8};

std::uint64_t littleEndian(const std::uint8_t *bytes, std::size_t count)
{
    std::uint64_t value = 0;
    for (std::size_t i = count; i-- > 0;)
        value = (value << 8) | bytes[i];
    return value;
}

// Reads byte ranges of a file, refusing any range that leaves it.
class FileBytes {
public:
    explicit FileBytes(const std::string &path) : m_in(path, std::ios::binary)
    {
        if (m_in) {
            m_in.seekg(0, std::ios::end);
            const auto end = m_in.tellg();
            m_size = end < 0 ? 0 : std::uint64_t(end);
        }
    }

    bool read(std::uint64_t offset, std::uint64_t count, std::vector<std::uint8_t> &out)
    {
        if (!m_in || !contains(offset, count))
            return false;
        out.resize(std::size_t(count));
        m_in.clear();
        m_in.seekg(std::streamoff(offset));
        m_in.read(reinterpret_cast<char *>(out.data()), std::streamsize(count));
        return bool(m_in);
    }

    bool contains(std::uint64_t offset, std::uint64_t count) const
    {
        return offset <= m_size && count <= m_size - offset;
    }

private:
    std::ifstream m_in;
    std::uint64_t m_size = 0;
};

struct Section {
    std::uint32_t name = 0;
    std::uint32_t type = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint32_t link = 0;
};

class ElfFile {
public:
    explicit ElfFile(const std::string &path) : m_file(path) {}

    // Locates the section named `name`; nothing when the file is no ELF file
    // of ours, has no such section, or any table lies outside the file.
    std::optional<Section> find(std::string_view name)
    {
        if (!readHeader())
            return std::nullopt;
        std::vector<std::uint8_t> table;
        if (m_count > kMaxSections || !m_file.read(m_tableOffset, m_count * m_layout->sectionHeaderBytes, table))
            return std::nullopt;
        const auto section = [&](std::uint64_t index) {
            const std::uint8_t *entry = table.data() + index * m_layout->sectionHeaderBytes;
            const ElfLayout &l = *m_layout;
            return Section{std::uint32_t(littleEndian(entry + l.nameAt, 4)), std::uint32_t(littleEndian(entry + l.typeAt, 4)),
                           littleEndian(entry + l.offsetAt, l.wordBytes), littleEndian(entry + l.sizeAt, l.wordBytes),
                           std::uint32_t(littleEndian(entry + l.linkAt, 4))};
        };
        if (m_namesIndex == kSectionIndexEscape && m_count > 0)
            m_namesIndex = section(0).link;
        if (m_namesIndex >= m_count)
            return std::nullopt;
        const Section names = section(m_namesIndex);
        std::vector<std::uint8_t> strings;
        if (names.type == kSectionNoBits || !m_file.read(names.offset, names.size, strings))
            return std::nullopt;
        for (std::uint64_t i = 0; i < m_count; ++i) {
            const Section candidate = section(i);
            if (nameAt(strings, candidate.name) == name)
                return candidate;
        }
        return std::nullopt;
    }

    bool contains(const Section &section) const { return m_file.contains(section.offset, section.size); }
    bool read(const Section &section, std::vector<std::uint8_t> &out) { return m_file.read(section.offset, section.size, out); }

private:
    bool readHeader()
    {
        std::vector<std::uint8_t> ident;
        if (!m_file.read(0, kElf64.headerBytes, ident) && !m_file.read(0, kElf32.headerBytes, ident))
            return false;
        if (!std::equal(kElfMagic.begin(), kElfMagic.end(), ident.begin()) || ident[kIdentData] != kElfDataLittle)
            return false;
        if (ident[kIdentClass] == kElfClass64)
            m_layout = &kElf64;
        else if (ident[kIdentClass] == kElfClass32)
            m_layout = &kElf32;
        else
            return false;
        if (ident.size() < m_layout->headerBytes)
            return false;
        const ElfLayout &l = *m_layout;
        m_tableOffset = littleEndian(&ident[l.shoffAt], l.shoffBytes);
        const std::uint64_t entryBytes = littleEndian(&ident[l.shentsizeAt], 2);
        m_count = littleEndian(&ident[l.shnumAt], 2);
        m_namesIndex = littleEndian(&ident[l.shstrndxAt], 2);
        if (m_tableOffset == 0 || entryBytes != l.sectionHeaderBytes)
            return false;
        // Extended numbering: a count of 0 means the real count sits in the
        // size field of section header 0.
        if (m_count == 0) {
            std::vector<std::uint8_t> first;
            if (!m_file.read(m_tableOffset, l.sectionHeaderBytes, first))
                return false;
            m_count = littleEndian(&first[l.sizeAt], l.wordBytes);
        }
        return m_count > 0;
    }

    static std::string_view nameAt(const std::vector<std::uint8_t> &strings, std::uint32_t offset)
    {
        if (offset >= strings.size())
            return {};
        const auto begin = strings.begin() + offset;
        const auto end = std::find(begin, strings.end(), std::uint8_t(0));
        if (end == strings.end())
            return {};
        return {reinterpret_cast<const char *>(&*begin), std::size_t(end - begin)};
    }

    FileBytes m_file;
    const ElfLayout *m_layout = nullptr;
    std::uint64_t m_tableOffset = 0;
    std::uint64_t m_count = 0;
    std::uint64_t m_namesIndex = 0;
};

// The version section of the file, when it exists and has a usable size.
std::optional<Section> versionSection(ElfFile &elf)
{
    const std::optional<Section> section = elf.find(kVersionSectionName);
    if (!section || section->type == kSectionNoBits || section->size == 0 || section->size > kMaxVersionInfoBytes ||
        !elf.contains(*section))
        return std::nullopt;
    return section;
}

}  // namespace

std::uint32_t getFileVersionInfoSize(const std::string &path, std::uint32_t *handle)
{
    if (handle)
        *handle = 0;
    ElfFile elf(path);
    const std::optional<Section> section = versionSection(elf);
    return section ? std::uint32_t(section->size) : 0;
}

bool getFileVersionInfo(const std::string &path, std::uint32_t /*handle*/, std::uint32_t size, void *data)
{
    if (!data)
        return false;
    ElfFile elf(path);
    const std::optional<Section> section = versionSection(elf);
    std::vector<std::uint8_t> bytes;
    if (!section || !elf.read(*section, bytes))
        return false;
    const std::size_t count = std::min<std::size_t>(size, bytes.size());
    std::memcpy(data, bytes.data(), count);
    return true;
}

bool verQueryValue(std::span<const std::byte> block, std::string_view subBlock, const void **value,
                   std::uint32_t *length)
{
    if (value)
        *value = nullptr;
    if (length)
        *length = 0;
    if (subBlock != "\\" || block.size() < sizeof(VersionInfoBlock))
        return false;
    VersionInfoBlock header;
    std::memcpy(&header, block.data(), sizeof header);
    if (header.length < sizeof(VersionInfoBlock) || header.length > block.size() ||
        header.valueLength != sizeof(FixedFileInfo) || header.type != kBinaryValue ||
        !std::equal(std::begin(kVersionKey), std::end(kVersionKey), std::begin(header.key)) ||
        header.value.signature != kFixedFileInfoSignature)
        return false;
    if (value)
        *value = block.data() + offsetof(VersionInfoBlock, value);
    if (length)
        *length = header.valueLength;
    return true;
}

}  // namespace tovi::platform
