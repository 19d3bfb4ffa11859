#include "platform/stream.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <filesystem>
#include <functional>

#include "platform/errors.h"
#include "support/test_support.h"

namespace tovi::platform {
namespace {

using test::Bytes;
using test::TempDir;
using Names = std::vector<std::string>;

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

mode_t permissionsOf(const std::string &path)
{
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

void replaceWith(const std::string &name, std::string_view text)
{
    SafeFileWriter writer(name);
    writer.writeExact(text.data(), text.size());
    writer.commit();
}

// Runs a piece of work in a child process and gives its exit status, or
// 128 + the signal that ended it.
int inChild(const std::function<int()> &work)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(work());
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

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

// ---------------------------------------------------------------------------
// Overwriting never loses a file

TEST(SafeFileWriterTest, CommitReplacesTheFileAndLeavesNothingElse)
{
    TempDir dir;
    const auto name = dir.file("pic.bmp");
    test::writeFile(name, "the old and longer content");
    {
        SafeFileWriter writer(name);
        writer.writeExact("new", 3);
        EXPECT_EQ(test::readFile(name), bytesOf("the old and longer content"));
        writer.commit();
    }
    EXPECT_EQ(test::readFile(name), bytesOf("new"));
    EXPECT_EQ(test::listFolder(dir.path()), Names{"pic.bmp"});
}

TEST(SafeFileWriterTest, WithoutCommitTheFileIsUntouched)
{
    TempDir dir;
    const auto name = dir.file("pic.bmp");
    test::writeFile(name, "original");
    {
        SafeFileWriter writer(name);
        writer.writeExact("half", 4);
    }
    EXPECT_EQ(test::readFile(name), bytesOf("original"));
    EXPECT_EQ(test::listFolder(dir.path()), Names{"pic.bmp"});
}

TEST(SafeFileWriterTest, EmptyContentGivesAnEmptyFile)
{
    TempDir dir;
    test::writeFile(dir.file("full.bmp"), "something");
    replaceWith(dir.file("full.bmp"), "");
    replaceWith(dir.file("new.bmp"), "");
    EXPECT_EQ(test::readFile(dir.file("full.bmp")).size(), 0u);
    EXPECT_EQ(test::readFile(dir.file("new.bmp")).size(), 0u);
    EXPECT_EQ(test::listFolder(dir.path()), (Names{"full.bmp", "new.bmp"}));
}

TEST(SafeFileWriterTest, KeepsPermissionBitsAndGivesNewFilesTheUsualOnes)
{
    TempDir dir;
    const auto name = dir.file("mode.bmp");
    for (const mode_t mode : {0600u, 0640u, 0604u, 0777u, 0200u}) {
        test::writeFile(name, "old");
        ASSERT_EQ(::chmod(name.c_str(), mode), 0);
        replaceWith(name, "new");
        EXPECT_EQ(permissionsOf(name), mode);
        ASSERT_EQ(::unlink(name.c_str()), 0);
    }
    const mode_t mask = ::umask(022);
    replaceWith(name, "new");
    ::umask(mask);
    EXPECT_EQ(permissionsOf(name), 0644u);
}

TEST(SafeFileWriterTest, RootHandsAReplacedFileBackToItsOwner)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root";
    TempDir dir;
    const auto name = dir.file("theirs.bmp");
    test::writeFile(name, "old");
    ASSERT_EQ(::chown(name.c_str(), 1234, 5678), 0);
    replaceWith(name, "new");
    struct stat info {};
    ASSERT_EQ(::stat(name.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 1234u);
    EXPECT_EQ(info.st_gid, 5678u);
}

TEST(SafeFileWriterTest, ALinkStaysALinkAndItsTargetIsReplaced)
{
    TempDir dir;
    std::filesystem::create_directories(dir.file("pictures"));
    std::filesystem::create_directories(dir.file("links"));
    test::writeFile(dir.file("pictures/real.bmp"), "old");
    // A relative link, reached through a second link; and a dangling one.
    ASSERT_EQ(::symlink("../pictures/real.bmp", dir.file("links/first.bmp").c_str()), 0);
    ASSERT_EQ(::symlink(dir.file("links/first.bmp").c_str(), dir.file("second.bmp").c_str()), 0);
    ASSERT_EQ(::symlink("pictures/made.bmp", dir.file("dangling.bmp").c_str()), 0);

    replaceWith(dir.file("second.bmp"), "new");
    replaceWith(dir.file("dangling.bmp"), "made");

    EXPECT_EQ(std::filesystem::read_symlink(dir.file("links/first.bmp")).string(), "../pictures/real.bmp");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("second.bmp")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("dangling.bmp")));
    EXPECT_EQ(test::readFile(dir.file("pictures/real.bmp")), bytesOf("new"));
    EXPECT_EQ(test::readFile(dir.file("pictures/made.bmp")), bytesOf("made"));
    EXPECT_EQ(test::listFolder(dir.file("pictures")), (Names{"made.bmp", "real.bmp"}));
}

TEST(SafeFileWriterTest, AReadOnlyFileIsRefusedBeforeAnythingIsWritten)
{
    TempDir dir;
    test::writeFile(dir.file("real.bmp"), "keep me");
    ASSERT_EQ(::chmod(dir.file("real.bmp").c_str(), 0444), 0);
    ASSERT_EQ(::symlink("real.bmp", dir.file("link.bmp").c_str()), 0);
    EXPECT_THROW(SafeFileWriter writer(dir.file("real.bmp")), FileCreateError);
    EXPECT_THROW(SafeFileWriter writer(dir.file("link.bmp")), FileCreateError);
    EXPECT_EQ(test::readFile(dir.file("real.bmp")), bytesOf("keep me"));
    EXPECT_EQ(permissionsOf(dir.file("real.bmp")), 0444u);
    EXPECT_EQ(test::listFolder(dir.path()), (Names{"link.bmp", "real.bmp"}));
}

TEST(SafeFileWriterTest, AWriteCutShortByAFileSizeLimitLeavesTheOriginal)
{
    TempDir dir;
    const auto name = dir.file("big.bmp");
    test::writeFile(name, "the original picture");
    // The limit would stop the test program itself: the write runs in a child.
    const int status = inChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, 64 * 1024};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 10;
        const Bytes block(1 << 20, 0x5A);
        SafeFileWriter writer(name);
        if (writer.write(block.data(), block.size()) >= block.size())
            return 11;
        if (writer.write(block.data(), 1) != 0)  // a failed writer takes nothing more
            return 12;
        try {
            writer.commit();
        } catch (const StreamWriteError &) {
            return 0;
        }
        return 13;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(test::readFile(name), bytesOf("the original picture"));
    EXPECT_EQ(test::listFolder(dir.path()), Names{"big.bmp"});
}

TEST(SafeFileWriterTest, AnInterruptedWriteLeavesNoTemporaryFile)
{
    TempDir dir;
    const auto name = dir.file("pic.bmp");
    test::writeFile(name, "original");
    const int status = inChild([&] {
        removeUnfinishedFilesOnSignals();
        SafeFileWriter writer(name);
        writer.writeExact("half a pic", 10);
        ::raise(SIGTERM);
        return 0;
    });
    EXPECT_EQ(status, 128 + SIGTERM) << "the signal still ends the program";
    EXPECT_EQ(test::readFile(name), bytesOf("original"));
    EXPECT_EQ(test::listFolder(dir.path()), Names{"pic.bmp"});
}

TEST(SafeFileWriterTest, ALongFileNameStillFindsRoomForTheTemporaryFile)
{
    TempDir dir;
    const auto name = dir.file(std::string(250, 'n') + ".bmp");
    replaceWith(name, "ok");
    EXPECT_EQ(test::readFile(name), bytesOf("ok"));
}

// ---------------------------------------------------------------------------
// Full path names

TEST(FullPathNameTest, FoldsDotsAndSeparatorsButNotBackslashesColonsOrLinks)
{
    EXPECT_EQ(fullPathName("/a/b/../c/./d"), "/a/c/d");
    EXPECT_EQ(fullPathName("//a///b"), "/a/b");
    EXPECT_EQ(fullPathName("/../x"), "/x");
    EXPECT_EQ(fullPathName("/a/.."), "/");
    EXPECT_EQ(fullPathName("/a/b/"), "/a/b/");
    EXPECT_EQ(fullPathName("/pics/C:\\a\\..\\1.bmp"), "/pics/C:\\a\\..\\1.bmp");

    TempDir dir;
    std::filesystem::create_directories(dir.file("deep/inner"));
    ASSERT_EQ(::symlink(dir.file("deep/inner").c_str(), dir.file("link").c_str()), 0);
    EXPECT_EQ(fullPathName(dir.file("link/../p.bmp")), dir.file("p.bmp"));
}

TEST(FullPathNameTest, PrependsTheCurrentFolderToARelativeName)
{
    TempDir dir;
    char saved[PATH_MAX];
    ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    const std::string plain = fullPathName("p.bmp");
    const std::string folded = fullPathName("./x/../p.bmp");
    const std::string here = fullPathName(".");
    ASSERT_EQ(::chdir(saved), 0);
    EXPECT_EQ(plain, dir.file("p.bmp"));
    EXPECT_EQ(folded, dir.file("p.bmp"));
    EXPECT_EQ(here, dir.path());
}

}  // namespace
}  // namespace tovi::platform
