#include "support/test_support.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tovi::test {

namespace fs = std::filesystem;

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "tovi-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed for " + pattern);
    m_path = pattern;
}

TempDir::~TempDir()
{
    // Tests take write permission away from files and folders; give it back so
    // that everything can be removed.
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(m_path, error); !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_symlink())
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
    fs::remove_all(m_path, error);
}

std::string TempDir::file(std::string_view name) const
{
    return m_path + "/" + std::string(name);
}

std::string TempDir::write(std::string_view relative, const Bytes &content) const
{
    const std::string name = file(relative);
    fs::create_directories(fs::path(name).parent_path());
    writeFile(name, content);
    return name;
}

void writeFile(const std::string &path, const Bytes &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void writeFile(const std::string &path, std::string_view text)
{
    writeFile(path, Bytes(text.begin(), text.end()));
}

Bytes readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string &path)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

std::vector<std::string> listFolder(const std::string &path)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::size_t openDescriptors(const std::string &folder)
{
    std::size_t count = 0;
    std::error_code error;
    std::vector<fs::path> entries;
    // Listed first: the listing's own descriptor is not counted.
    for (const auto &entry : fs::directory_iterator("/proc/self/fd", error))
        entries.push_back(entry.path());
    for (const auto &entry : entries) {
        const fs::path target = fs::read_symlink(entry, error);
        if (error)
            continue;  // the listing's own, closed by now
        const std::string name = target.string();
        count += folder.empty() || (target.parent_path() == folder && !name.ends_with(" (deleted)"));
    }
    return count;
}

}  // namespace tovi::test
