// Reading the version record back from executables: the three steps on
// crafted ELF files of both classes, and damaged files that must give
// "no record" without reading outside the file.

#include "platform/version_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tovi::platform {
namespace {

using test::Bytes;

void put(Bytes &bytes, std::size_t at, std::uint64_t value, std::size_t count)
{
    if (bytes.size() < at + count)
        bytes.resize(at + count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[at + i] = std::uint8_t(value >> (8 * i));
}

Bytes blockBytes(const VersionInfoBlock &block)
{
    Bytes bytes(sizeof block);
    std::memcpy(bytes.data(), &block, sizeof block);
    return bytes;
}

// A minimal ELF file: the header, the section contents, then the section
// header table (null section, the named sections, the name table last).
struct ElfSection {
    std::string name;
    Bytes data;
    std::uint32_t type = 1;  // SHT_PROGBITS
};

struct ElfFields {
    bool is64 = true;
    // Overrides applied after layout, to damage the file on purpose.
    std::int64_t shoff = -1;
    std::int64_t shentsize = -1;
    std::int64_t shnum = -1;
    std::int64_t shstrndx = -1;
};

Bytes buildElf(const std::vector<ElfSection> &sections, const ElfFields &fields = {})
{
    const bool is64 = fields.is64;
    const std::size_t headerBytes = is64 ? 64 : 52;
    const std::size_t entryBytes = is64 ? 64 : 40;
    const std::size_t word = is64 ? 8 : 4;

    Bytes file(headerBytes, 0);
    file[0] = 0x7F;
    file[1] = 'E';
    file[2] = 'L';
    file[3] = 'F';
    file[4] = is64 ? 2 : 1;
    file[5] = 1;  // little-endian
    file[6] = 1;  // version
    put(file, 16, 2, 2);  // ET_EXEC

    Bytes names(1, 0);
    std::vector<std::uint64_t> nameOffsets, dataOffsets;
    for (const ElfSection &section : sections) {
        nameOffsets.push_back(names.size());
        names.insert(names.end(), section.name.begin(), section.name.end());
        names.push_back(0);
        dataOffsets.push_back(file.size());
        file.insert(file.end(), section.data.begin(), section.data.end());
    }
    const std::uint64_t namesNameOffset = names.size();
    const std::string namesName = ".shstrtab";
    names.insert(names.end(), namesName.begin(), namesName.end());
    names.push_back(0);
    const std::uint64_t namesOffset = file.size();
    file.insert(file.end(), names.begin(), names.end());
    while (file.size() % 8)
        file.push_back(0);

    const std::uint64_t tableOffset = file.size();
    const std::size_t count = sections.size() + 2;
    file.resize(file.size() + count * entryBytes, 0);
    auto entry = [&](std::size_t index, std::uint64_t name, std::uint32_t type, std::uint64_t offset, std::uint64_t size) {
        const std::size_t at = tableOffset + index * entryBytes;
        put(file, at + 0, name, 4);
        put(file, at + 4, type, 4);
        put(file, at + (is64 ? 24 : 16), offset, word);
        put(file, at + (is64 ? 32 : 20), size, word);
    };
    for (std::size_t i = 0; i < sections.size(); ++i)
        entry(i + 1, nameOffsets[i], sections[i].type, dataOffsets[i], sections[i].data.size());
    entry(count - 1, namesNameOffset, 3 /* SHT_STRTAB */, namesOffset, names.size());

    put(file, is64 ? 40 : 32, fields.shoff >= 0 ? std::uint64_t(fields.shoff) : tableOffset, word);
    put(file, is64 ? 52 : 40, headerBytes, 2);
    put(file, is64 ? 58 : 46, fields.shentsize >= 0 ? std::uint64_t(fields.shentsize) : entryBytes, 2);
    put(file, is64 ? 60 : 48, fields.shnum >= 0 ? std::uint64_t(fields.shnum) : count, 2);
    put(file, is64 ? 62 : 50, fields.shstrndx >= 0 ? std::uint64_t(fields.shstrndx) : count - 1, 2);
    return file;
}

std::vector<ElfSection> programSections(const Bytes &record)
{
    return {{".text", Bytes(64, 0x90)}, {".rodata", Bytes(16, 0x41)}, {kVersionSectionName, record}};
}

struct ReadResult {
    std::uint32_t size = 0;
    bool read = false;
    bool queried = false;
    FixedFileInfo info;
};

// The three steps, as the about box takes them.
ReadResult readRecord(const std::string &path)
{
    ReadResult result;
    std::uint32_t handle = 1234;
    result.size = getFileVersionInfoSize(path, &handle);
    EXPECT_EQ(handle, 0u);
    if (result.size == 0)
        return result;
    std::vector<std::byte> buffer(result.size);
    result.read = getFileVersionInfo(path, handle, result.size, buffer.data());
    if (!result.read)
        return result;
    const void *value = nullptr;
    std::uint32_t length = 0;
    result.queried = verQueryValue(buffer, "\\", &value, &length);
    if (result.queried) {
        EXPECT_EQ(length, sizeof(FixedFileInfo));
        std::memcpy(&result.info, value, sizeof result.info);
    }
    return result;
}

class VersionRecordFiles : public ::testing::Test {
protected:
    std::string write(const Bytes &bytes, const std::string &name = "program")
    {
        const std::string path = m_dir.file(name);
        test::writeFile(path, bytes);
        return path;
    }

    test::TempDir m_dir;
};

TEST(VersionRecordLayout, BlockBuiltFromTheProjectVersionHoldsIt)
{
    const VersionInfoBlock block =
        makeVersionInfoBlock(TOVI_VERSION_MAJOR, TOVI_VERSION_MINOR, TOVI_VERSION_PATCH, TOVI_VERSION_TWEAK);
    EXPECT_EQ(block.value.productVersionMS, 0x00010004u);
    EXPECT_EQ(block.value.productVersionLS, 0x0003000Bu);
    EXPECT_EQ(block.value.fileVersionMS, 0x00010004u);
    EXPECT_EQ(block.value.fileVersionLS, 0x0003000Bu);
    EXPECT_EQ(block.value.signature, 0xFEEF04BDu);
    EXPECT_EQ(block.length, 92);
    EXPECT_EQ(block.valueLength, 52);
}

TEST(VersionRecordLayout, RootBlockHasTheClassicByteLayout)
{
    const Bytes bytes = blockBytes(makeVersionInfoBlock(1, 4, 3, 11));
    // wLength, wValueLength, wType
    EXPECT_EQ(bytes[0], 92);
    EXPECT_EQ(bytes[2], 52);
    EXPECT_EQ(bytes[4], 0);
    // The key in UTF-16, terminated, then the record on a 32-bit boundary.
    const std::string key = "VS_VERSION_INFO";
    for (std::size_t i = 0; i < key.size(); ++i) {
        EXPECT_EQ(bytes[6 + 2 * i], std::uint8_t(key[i]));
        EXPECT_EQ(bytes[7 + 2 * i], 0);
    }
    EXPECT_EQ(bytes[6 + 2 * key.size()], 0);
    const Bytes signature = {0xBD, 0x04, 0xEF, 0xFE};
    EXPECT_EQ(Bytes(bytes.begin() + 40, bytes.begin() + 44), signature);
    // Product version MS at offset 40 + 16: minor (4) low, major (1) high.
    EXPECT_EQ(Bytes(bytes.begin() + 56, bytes.begin() + 60), (Bytes{4, 0, 1, 0}));
}

TEST_F(VersionRecordFiles, ThreeStepsReadTheRecordOfA64BitExecutable)
{
    const Bytes record = blockBytes(makeVersionInfoBlock(1, 4, 3, 11));
    const ReadResult result = readRecord(write(buildElf(programSections(record))));
    EXPECT_EQ(result.size, 92u);
    ASSERT_TRUE(result.read);
    ASSERT_TRUE(result.queried);
    EXPECT_EQ(result.info.productVersionMS, versionWord(1, 4));
    EXPECT_EQ(result.info.productVersionLS, versionWord(3, 11));
}

TEST_F(VersionRecordFiles, ThreeStepsReadTheRecordOfA32BitExecutable)
{
    ElfFields fields;
    fields.is64 = false;
    const Bytes record = blockBytes(makeVersionInfoBlock(2, 0, 65535, 7));
    const ReadResult result = readRecord(write(buildElf(programSections(record), fields)));
    ASSERT_TRUE(result.queried);
    EXPECT_EQ(result.info.productVersionMS, 0x00020000u);
    EXPECT_EQ(result.info.productVersionLS, 0xFFFF0007u);
}

TEST_F(VersionRecordFiles, FileAndProductVersionAreKeptApart)
{
    VersionInfoBlock block = makeVersionInfoBlock(1, 4, 3, 11);
    block.value.fileVersionMS = versionWord(9, 8);
    block.value.fileVersionLS = versionWord(7, 6);
    const ReadResult result = readRecord(write(buildElf(programSections(blockBytes(block)))));
    ASSERT_TRUE(result.queried);
    EXPECT_EQ(result.info.productVersionMS, versionWord(1, 4));
    EXPECT_EQ(result.info.fileVersionMS, versionWord(9, 8));
    EXPECT_EQ(result.info.fileVersionLS, versionWord(7, 6));
}

TEST_F(VersionRecordFiles, ExecutableWithoutRecordHasSizeZero)
{
    const ReadResult result = readRecord(write(buildElf({{".text", Bytes(64, 0x90)}, {".data", Bytes(8, 1)}})));
    EXPECT_EQ(result.size, 0u);
}

TEST_F(VersionRecordFiles, SectionWithoutBytesInTheFileIsNoRecord)
{
    ElfSection bss{kVersionSectionName, Bytes(92, 0), 8 /* SHT_NOBITS */};
    EXPECT_EQ(readRecord(write(buildElf({bss}))).size, 0u);
}

TEST_F(VersionRecordFiles, ReadCopiesNoMoreThanTheGivenSize)
{
    const std::string path = write(buildElf(programSections(blockBytes(makeVersionInfoBlock(1, 4, 3, 11)))));
    std::vector<std::uint8_t> buffer(100, 0xCC);
    ASSERT_TRUE(getFileVersionInfo(path, 0, 10, buffer.data()));
    EXPECT_EQ(buffer[9], 0);     // last byte of the key's first character
    EXPECT_EQ(buffer[10], 0xCC);  // untouched
}

TEST_F(VersionRecordFiles, MissingFileHasNoRecord)
{
    EXPECT_EQ(getFileVersionInfoSize(m_dir.file("absent"), nullptr), 0u);
    std::uint8_t byte = 0;
    EXPECT_FALSE(getFileVersionInfo(m_dir.file("absent"), 0, 1, &byte));
}

// Damaged files: every one of them must give size 0 (or a refused query),
// never a read outside the file.
struct DamagedCase {
    const char *name;
    Bytes (*make)();
};

void PrintTo(const DamagedCase &c, std::ostream *out)
{
    *out << c.name;
}

Bytes goodFile()
{
    return buildElf(programSections(blockBytes(makeVersionInfoBlock(1, 4, 3, 11))));
}

Bytes withFields(ElfFields fields)
{
    return buildElf(programSections(blockBytes(makeVersionInfoBlock(1, 4, 3, 11))), fields);
}

const DamagedCase kDamaged[] = {
    {"Empty", [] { return Bytes{}; }},
    {"NotElf", [] { Bytes b = goodFile(); b[1] = 'X'; return b; }},
    {"BigEndian", [] { Bytes b = goodFile(); b[5] = 2; return b; }},
    {"UnknownClass", [] { Bytes b = goodFile(); b[4] = 3; return b; }},
    {"HeaderOnlyHalf", [] { Bytes b = goodFile(); b.resize(30); return b; }},
    {"TableBeyondEnd", [] { ElfFields f; f.shoff = 1 << 20; return withFields(f); }},
    {"TableOffsetHuge", [] { ElfFields f; f.shoff = 0x7FFFFFFFFFFFFFFF; return withFields(f); }},
    {"TableCutOff", [] { Bytes b = goodFile(); b.resize(b.size() - 10); return b; }},
    {"WrongEntrySize", [] { ElfFields f; f.shentsize = 12; return withFields(f); }},
    {"TooManySections", [] { ElfFields f; f.shnum = 0xFFFE; return withFields(f); }},
    {"NameTableIndexOutside", [] { ElfFields f; f.shstrndx = 40; return withFields(f); }},
    {"ExtendedCountWithoutTable", [] { ElfFields f; f.shnum = 0; return withFields(f); }},
    {"ExtendedNameIndexOfNullSection", [] { ElfFields f; f.shstrndx = 0xFFFF; return withFields(f); }},
    {"RecordSizeHuge",
     [] {
         Bytes b = goodFile();
         // Section 3 is the record.
         const std::uint64_t table = b.size() - 5 * 64;
         put(b, table + 3 * 64 + 32, std::uint64_t{1} << 40, 8);
         return b;
     }},
    {"RecordBeyondEnd",
     [] {
         Bytes b = goodFile();
         const std::uint64_t table = b.size() - 5 * 64;
         put(b, table + 3 * 64 + 32, 1000, 8);
         return b;
     }},
    {"RecordOffsetWraps",
     [] {
         Bytes b = goodFile();
         const std::uint64_t table = b.size() - 5 * 64;
         put(b, table + 3 * 64 + 24, ~std::uint64_t{0} - 10, 8);
         return b;
     }},
    {"NameOffsetOutsideNames",
     [] {
         Bytes b = goodFile();
         const std::uint64_t table = b.size() - 5 * 64;
         put(b, table + 3 * 64, 0xFFFFFF, 4);
         return b;
     }},
    {"NamesNotTerminated",
     [] {
         Bytes b = goodFile();
         const std::uint64_t table = b.size() - 5 * 64;
         // Shrink the name table to end in the middle of ".tovi_version".
         put(b, table + 4 * 64 + 32, 22, 8);
         return b;
     }},
};

class DamagedVersionFile : public VersionRecordFiles, public ::testing::WithParamInterface<DamagedCase> {};

TEST_P(DamagedVersionFile, GivesNoRecord)
{
    const ReadResult result = readRecord(write(GetParam().make()));
    EXPECT_FALSE(result.queried);
    EXPECT_EQ(result.size, 0u);
}

INSTANTIATE_TEST_SUITE_P(Files, DamagedVersionFile, ::testing::ValuesIn(kDamaged),
                         [](const auto &info) { return std::string(info.param.name); });

// The root-block query checks every field it relies on against the buffer.
class RootBlockQuery : public ::testing::Test {
protected:
    bool query(const Bytes &bytes, std::string_view subBlock = "\\")
    {
        std::vector<std::byte> buffer(bytes.size());
        std::memcpy(buffer.data(), bytes.data(), bytes.size());
        const void *value = &bytes;
        std::uint32_t length = 99;
        const bool ok = verQueryValue(buffer, subBlock, &value, &length);
        if (!ok) {
            EXPECT_EQ(value, nullptr);
            EXPECT_EQ(length, 0u);
        }
        return ok;
    }

    Bytes good = blockBytes(makeVersionInfoBlock(1, 4, 3, 11));
};

TEST_F(RootBlockQuery, AcceptsTheRootBlockOnly)
{
    EXPECT_TRUE(query(good));
    EXPECT_FALSE(query(good, "\\StringFileInfo\\041104b0\\ProductVersion"));
    EXPECT_FALSE(query(good, ""));
}

TEST_F(RootBlockQuery, RefusesDamagedBlocks)
{
    Bytes shortBuffer(good.begin(), good.begin() + 60);
    EXPECT_FALSE(query(shortBuffer));

    Bytes longerThanBuffer = good;
    put(longerThanBuffer, 0, 200, 2);
    EXPECT_FALSE(query(longerThanBuffer));

    Bytes wrongValueLength = good;
    put(wrongValueLength, 2, 40, 2);
    EXPECT_FALSE(query(wrongValueLength));

    Bytes wrongKey = good;
    wrongKey[6] = 'X';
    EXPECT_FALSE(query(wrongKey));

    Bytes wrongSignature = good;
    wrongSignature[40] = 0;
    EXPECT_FALSE(query(wrongSignature));

    Bytes textType = good;
    put(textType, 4, 1, 2);
    EXPECT_FALSE(query(textType));
}

TEST_F(RootBlockQuery, AcceptsARecordFollowedByChildren)
{
    Bytes withChildren = good;
    withChildren.resize(160, 0);
    put(withChildren, 0, 160, 2);
    EXPECT_TRUE(query(withChildren));
}

}  // namespace
}  // namespace tovi::platform
