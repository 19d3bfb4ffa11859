#pragma once
// What the tests of the file layer share: small files, a look at them, and a
// child process to run a piece of work in.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <string_view>

#include "platform/stream.h"
#include "support/test_support.h"

namespace tovi::platform::file_tests {

using test::Bytes;
using test::TempDir;
using Names = std::vector<std::string>;

inline Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

inline mode_t permissionsOf(const std::string &path)
{
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

inline void replaceWith(const std::string &name, std::string_view text)
{
    SafeFileWriter writer(name);
    writer.writeExact(text.data(), text.size());
    writer.commit();
}

// Runs a piece of work in a child process and gives its exit status, or
// 128 + the signal that ended it.
inline int inChild(const std::function<int()> &work)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(work());
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline bool hasTemporaryFile(const std::string &folder)
{
    for (const auto &name : test::listFolder(folder)) {
        if (name.find(".tovi-") != std::string::npos)
            return true;
    }
    return false;
}

inline std::string readAll(Stream &stream)
{
    std::string text(std::size_t(stream.remaining()), '\0');
    stream.readExact(text.data(), text.size());
    return text;
}

inline std::uint64_t inodeOf(const std::string &path)
{
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_ino;
}

inline void replaceHeld(HeldFile &file, std::string_view text, const ReplaceOptions &options = {})
{
    SafeFileWriter writer(file, options);
    writer.writeExact(text.data(), text.size());
    writer.commit();
}

}  // namespace tovi::platform::file_tests
