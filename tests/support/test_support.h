#pragma once
// Small helpers shared by the tests: a temporary folder that cleans up after
// itself, and whole-file reading and writing.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tovi::test {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return m_path; }
    // path() + "/" + name
    std::string file(std::string_view name) const;
    // Writes the file at path() + "/" + relative, making its folders; returns
    // its name.
    std::string write(std::string_view relative, const Bytes &content) const;

private:
    std::string m_path;
};

void writeFile(const std::string &path, const Bytes &bytes);
void writeFile(const std::string &path, std::string_view text);
// The whole file; throws std::runtime_error when it can't be read.
Bytes readFile(const std::string &path);
bool fileExists(const std::string &path);
// The names in a folder, without "." and "..", sorted.
std::vector<std::string> listFolder(const std::string &path);

// The descriptors this process has open (from /proc/self/fd); with a folder,
// only those of files with a name directly in it.
std::size_t openDescriptors(const std::string &folder = {});

}  // namespace tovi::test
