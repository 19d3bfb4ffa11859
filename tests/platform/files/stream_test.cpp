#include "platform/files/read_stream.h"


#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <climits>
#include <filesystem>
#include <functional>
#include <optional>

#include "platform/errors.h"
#include "support/faulty_system_calls.h"
#include "platform/files/file_test_support.h"
#include "support/test_support.h"


namespace tovi::platform {
namespace {

using namespace file_tests;
using test::FaultySystemCalls;

TEST(StreamTest, MemoryStreamReadsWritesAndStopsAtItsEnd)
{
    MemoryStream stream(bytesOf("abcd"));
    stream.seek(3);
    stream.writeExact("XYZ", 3);
    EXPECT_EQ(stream.data(), bytesOf("abcXYZ"));
    stream.seek(4);
    char buffer[4];
    EXPECT_EQ(stream.read(buffer, 4), 2u);
    EXPECT_THROW(stream.readExact(buffer, 1), StreamReadError);
}

TEST(StreamTest, AFileIsReadWholeAndReadersShareIt)
{
    TempDir dir;
    const auto name = dir.file("a.bmp");
    test::writeFile(name, "0123456789");
    FileReadStream stream(name);
    FileReadStream second(name);
    EXPECT_EQ(stream.size(), 10u);
    char buffer[16] = {};
    EXPECT_EQ(stream.read(buffer, sizeof buffer), 10u);
    EXPECT_EQ(std::string(buffer, 10), "0123456789");
    EXPECT_THROW(second.readExact(buffer, 14), StreamReadError);
}

// ---------------------------------------------------------------------------
// The failure texts: kind, full path and the system's reason

struct FailureCase {
    const char *what;
    std::function<void(const TempDir &)> prepare;
    std::function<void(const TempDir &)> act;
    std::string expected;  // "%s" stands for the full path of dir/x
};

void PrintTo(const FailureCase &failure, std::ostream *out) { *out << failure.what; }

class FileFailureTest : public testing::TestWithParam<FailureCase> {};

TEST_P(FileFailureTest, GivesTheMessageWithTheFullPath)
{
    TempDir dir;
    GetParam().prepare(dir);
    std::string message = "(no error)";
    try {
        GetParam().act(dir);
    } catch (const Error &error) {
        message = error.what();
    }
    std::string expected = GetParam().expected;
    expected.replace(expected.find("%s"), 2, dir.file("x"));
    EXPECT_EQ(message, expected);
    // Nothing beside what the case made itself.
    for (const auto &name : test::listFolder(dir.path()))
        EXPECT_EQ(name.find(".tovi-"), std::string::npos) << name;
}

void nothing(const TempDir &) {}
void openToRead(const TempDir &dir) { FileReadStream stream(dir.file("x")); }
void openToWrite(const TempDir &dir) { SafeFileWriter writer(dir.file("x")); }

INSTANTIATE_TEST_SUITE_P(
    Cases, FileFailureTest,
    testing::Values(
        FailureCase{"missing", nothing, openToRead, "ファイル \"%s\" は開けません。No such file or directory"},
        FailureCase{"folder to read", [](auto &d) { ::mkdir(d.file("x").c_str(), 0755); }, openToRead,
                    "ファイル \"%s\" は開けません。Is a directory"},
        FailureCase{"pipe to read", [](auto &d) { ::mkfifo(d.file("x").c_str(), 0644); }, openToRead,
                    "ファイル \"%s\" は開けません。Invalid argument"},
        FailureCase{"dotted name", [](auto &d) { ::mkdir(d.file("sub").c_str(), 0755); },
                    [](auto &d) { FileReadStream stream(d.file("sub/./../sub/../x")); },
                    "ファイル \"%s\" は開けません。No such file or directory"},
        FailureCase{"being written", [](auto &d) { test::writeFile(d.file("x"), "old"); },
                    [](auto &d) {
                        SafeFileWriter writer(d.file("x"));
                        FileReadStream stream(d.file("x"));
                    },
                    "ファイル \"%s\" は開けません。Resource temporarily unavailable"},
        FailureCase{"being read", [](auto &d) { test::writeFile(d.file("x"), "old"); },
                    [](auto &d) {
                        FileReadStream stream(d.file("x"));
                        SafeFileWriter writer(d.file("x"));
                    },
                    "ファイル \"%s\" を作成できません。Resource temporarily unavailable"},
        FailureCase{"no folder", nothing, [](auto &d) { SafeFileWriter writer(d.file("x/y")); },
                    "ファイル \"%s/y\" を作成できません。No such file or directory"},
        FailureCase{"folder to write", [](auto &d) { ::mkdir(d.file("x").c_str(), 0755); }, openToWrite,
                    "ファイル \"%s\" を作成できません。Is a directory"},
        FailureCase{"read-only, even for root",
                    [](auto &d) {
                        test::writeFile(d.file("x"), "keep");
                        ::chmod(d.file("x").c_str(), 0444);
                    },
                    openToWrite, "ファイル \"%s\" を作成できません。Permission denied"},
        FailureCase{"link loop",
                    [](auto &d) {
                        ::symlink("y", d.file("x").c_str());
                        ::symlink("x", d.file("y").c_str());
                    },
                    openToWrite, "ファイル \"%s\" を作成できません。Too many levels of symbolic links"}),
    [](const auto &info) {
        std::string name = info.param.what;
        for (auto &c : name)
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

}  // namespace
}  // namespace tovi::platform
