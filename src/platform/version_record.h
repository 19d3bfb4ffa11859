#pragma once
// The version record of an executable, in place of a version resource.
//
// Every program carries one fixed-file-info record (the classic layout, with
// its signature 0xFEEF04BD) inside a small resource-like block keyed
// "VS_VERSION_INFO", placed in a section of its own (kVersionSectionName) of
// its ELF file. The record is read back from the file through the same three
// steps as a version resource: size query, read, root-block query.
//
// How an executable gets its record: link the object library
// `tovi_version_record` (src/platform/version_record_data.cpp) into it:
//     target_link_libraries(my_program PRIVATE tovi_version_record)
// The numbers come from the project version of the build.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tovi::platform {

inline constexpr char kVersionSectionName[] = ".tovi_version";
inline constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
inline constexpr std::uint32_t kFixedFileInfoStrucVersion = 0x00010000;
inline constexpr std::uint32_t kFileFlagsMask = 0x3F;
inline constexpr std::uint32_t kFileOsUnknown = 0;
inline constexpr std::uint32_t kFileTypeApp = 1;

// Refuses records beyond this size: ours is under a hundred bytes, and a
// malformed file must not ask for a runaway buffer.
inline constexpr std::uint32_t kMaxVersionInfoBytes = 64 * 1024;

// VS_FIXEDFILEINFO.
struct FixedFileInfo {
    std::uint32_t signature = 0;
    std::uint32_t strucVersion = 0;
    std::uint32_t fileVersionMS = 0;
    std::uint32_t fileVersionLS = 0;
    std::uint32_t productVersionMS = 0;
    std::uint32_t productVersionLS = 0;
    std::uint32_t fileFlagsMask = 0;
    std::uint32_t fileFlags = 0;
    std::uint32_t fileOS = 0;
    std::uint32_t fileType = 0;
    std::uint32_t fileSubtype = 0;
    std::uint32_t fileDateMS = 0;
    std::uint32_t fileDateLS = 0;
};
static_assert(sizeof(FixedFileInfo) == 52);

// The root block of a version resource, without children: a 6-byte header,
// the key u"VS_VERSION_INFO" with its terminator, padding to a 32-bit
// boundary, then the fixed record.
inline constexpr std::size_t kVersionKeyChars = 16;
inline constexpr char16_t kVersionKey[kVersionKeyChars] = u"VS_VERSION_INFO";
inline constexpr std::uint16_t kBinaryValue = 0;

struct VersionInfoBlock {
    std::uint16_t length = 0;       // the whole block in bytes
    std::uint16_t valueLength = 0;  // sizeof(FixedFileInfo)
    std::uint16_t type = kBinaryValue;
    char16_t key[kVersionKeyChars] = {};
    std::uint16_t padding = 0;
    FixedFileInfo value;
};
static_assert(offsetof(VersionInfoBlock, value) == 40);
static_assert(sizeof(VersionInfoBlock) == 92);

// Two 16-bit halves as one 32-bit version word (MAKELONG(low, high)).
constexpr std::uint32_t versionWord(std::uint32_t high, std::uint32_t low)
{
    return ((high & 0xFFFF) << 16) | (low & 0xFFFF);
}

// The record of an executable whose file version and product version are
// both major.minor.release.build.
constexpr VersionInfoBlock makeVersionInfoBlock(std::uint32_t major, std::uint32_t minor, std::uint32_t release,
                                                std::uint32_t build)
{
    VersionInfoBlock block;
    block.length = sizeof(VersionInfoBlock);
    block.valueLength = sizeof(FixedFileInfo);
    block.type = kBinaryValue;
    for (std::size_t i = 0; i < kVersionKeyChars; ++i)
        block.key[i] = kVersionKey[i];
    block.value.signature = kFixedFileInfoSignature;
    block.value.strucVersion = kFixedFileInfoStrucVersion;
    block.value.fileVersionMS = versionWord(major, minor);
    block.value.fileVersionLS = versionWord(release, build);
    block.value.productVersionMS = block.value.fileVersionMS;
    block.value.productVersionLS = block.value.fileVersionLS;
    block.value.fileFlagsMask = kFileFlagsMask;
    block.value.fileOS = kFileOsUnknown;
    block.value.fileType = kFileTypeApp;
    return block;
}

// GetFileVersionInfoSize: the size of the version information of the file at
// `path`, 0 when it has none or can't be read (a malformed file included).
// `handle` receives 0, as on the original platform.
std::uint32_t getFileVersionInfoSize(const std::string &path, std::uint32_t *handle);

// GetFileVersionInfo: copies up to `size` bytes of the file's version
// information into `data`. False when the file has none.
bool getFileVersionInfo(const std::string &path, std::uint32_t handle, std::uint32_t size, void *data);

// VerQueryValue on a buffer filled by getFileVersionInfo. Only the root block
// "\" is known: it yields the fixed record. Every length is checked against
// the buffer, so a damaged block gives false.
bool verQueryValue(std::span<const std::byte> block, std::string_view subBlock, const void **value,
                   std::uint32_t *length);

}  // namespace tovi::platform
