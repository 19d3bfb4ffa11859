#include "platform/stream.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>

#include "platform/errors.h"
#include "support/test_support.h"

namespace tovi::platform {
namespace {

using test::Bytes;
using test::TempDir;

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

mode_t permissionsOf(const std::string &path)
{
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// Runs the test body with the current folder set to `folder`.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::string &folder)
    {
        char saved[PATH_MAX];
        EXPECT_NE(::getcwd(saved, sizeof saved), nullptr);
        m_saved = saved;
        EXPECT_EQ(::chdir(folder.c_str()), 0);
    }
    ~CurrentFolder() { EXPECT_EQ(::chdir(m_saved.c_str()), 0); }

private:
    std::string m_saved;
};

template <typename ErrorType>
std::string messageOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const ErrorType &error) {
        return error.what();
    }
    ADD_FAILURE() << "no error of the expected kind";
    return {};
}

void writeAll(SafeFileWriter &writer, std::string_view text)
{
    writer.writeExact(text.data(), text.size());
}

// ---------------------------------------------------------------------------
// Memory streams

TEST(MemoryStreamTest, ReadsWhatWasWrittenAndStopsAtTheEnd)
{
    MemoryStream stream;
    stream.writeExact("abcdef", 6);
    EXPECT_EQ(stream.position(), 6u);
    stream.seek(2);
    char buffer[8] = {};
    EXPECT_EQ(stream.read(buffer, 8), 4u);
    EXPECT_EQ(std::string(buffer, 4), "cdef");
    EXPECT_EQ(stream.remaining(), 0u);
    EXPECT_THROW(stream.readExact(buffer, 1), StreamReadError);
}

TEST(MemoryStreamTest, WritingInTheMiddleOverwritesAndGrows)
{
    MemoryStream stream(bytesOf("abcd"));
    stream.seek(3);
    stream.writeExact("XYZ", 3);
    EXPECT_EQ(stream.data(), bytesOf("abcXYZ"));
}

// ---------------------------------------------------------------------------
// Reading files

TEST(FileReadStreamTest, ReadsTheWholeFileInOneCall)
{
    TempDir dir;
    const auto name = dir.file("a.bin");
    test::writeFile(name, "0123456789");
    FileReadStream stream(name);
    EXPECT_EQ(stream.size(), 10u);
    char buffer[16] = {};
    EXPECT_EQ(stream.read(buffer, sizeof buffer), 10u);
    EXPECT_EQ(std::string(buffer, 10), "0123456789");
    EXPECT_EQ(stream.position(), 10u);
    EXPECT_EQ(stream.read(buffer, 1), 0u);
}

TEST(FileReadStreamTest, ReadingPastTheEndIsAStreamReadError)
{
    TempDir dir;
    const auto name = dir.file("short.bmp");
    test::writeFile(name, "BM12345");
    FileReadStream stream(name);
    char header[14];
    EXPECT_THROW(stream.readExact(header, sizeof header), StreamReadError);
}

TEST(FileReadStreamTest, AnEmptyFileHasNothingToRead)
{
    TempDir dir;
    const auto name = dir.file("empty.bmp");
    test::writeFile(name, "");
    FileReadStream stream(name);
    EXPECT_EQ(stream.size(), 0u);
    EXPECT_EQ(stream.remaining(), 0u);
}

TEST(FileReadStreamTest, TwoReadersShareAFile)
{
    TempDir dir;
    const auto name = dir.file("shared.bmp");
    test::writeFile(name, "xy");
    FileReadStream first(name);
    FileReadStream second(name);
    char c;
    EXPECT_EQ(second.read(&c, 1), 1u);
    EXPECT_EQ(c, 'x');
}

// ---------------------------------------------------------------------------
// The failure texts: kind, full path and the system's reason

TEST(FileFailureTextTest, AMissingFileCantBeOpened)
{
    TempDir dir;
    const auto name = dir.file("missing.bmp");
    EXPECT_EQ(messageOf<FileOpenError>([&] { FileReadStream stream(name); }),
              "ファイル \"" + name + "\" は開けません。No such file or directory");
}

TEST(FileFailureTextTest, TheMessageNamesTheFullPathOfARelativeName)
{
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0755), 0);
    CurrentFolder here(dir.file("sub"));
    EXPECT_EQ(messageOf<FileOpenError>([] { FileReadStream stream("./x/../gone.bmp"); }),
              "ファイル \"" + dir.file("sub/gone.bmp") + "\" は開けません。No such file or directory");
}

TEST(FileFailureTextTest, AFolderCantBeOpenedAsAFile)
{
    TempDir dir;
    EXPECT_EQ(messageOf<FileOpenError>([&] { FileReadStream stream(dir.path()); }),
              "ファイル \"" + dir.path() + "\" は開けません。Is a directory");
}

TEST(FileFailureTextTest, AFileBeingWrittenCantBeOpenedForReading)
{
    TempDir dir;
    const auto name = dir.file("busy.bmp");
    test::writeFile(name, "old");
    SafeFileWriter writer(name);
    EXPECT_EQ(messageOf<FileOpenError>([&] { FileReadStream stream(name); }),
              "ファイル \"" + name + "\" は開けません。Resource temporarily unavailable");
}

TEST(FileFailureTextTest, AFileBeingReadCantBeCreated)
{
    TempDir dir;
    const auto name = dir.file("open.bmp");
    test::writeFile(name, "old");
    FileReadStream reader(name);
    EXPECT_EQ(messageOf<FileCreateError>([&] { SafeFileWriter writer(name); }),
              "ファイル \"" + name + "\" を作成できません。Resource temporarily unavailable");
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"open.bmp"});
}

TEST(FileFailureTextTest, AMissingFolderCantTakeAFile)
{
    TempDir dir;
    const auto name = dir.file("nowhere/new.bmp");
    EXPECT_EQ(messageOf<FileCreateError>([&] { SafeFileWriter writer(name); }),
              "ファイル \"" + name + "\" を作成できません。No such file or directory");
}

TEST(FileFailureTextTest, AFolderCantBeReplacedByAFile)
{
    TempDir dir;
    const auto name = dir.file("folder");
    ASSERT_EQ(::mkdir(name.c_str(), 0755), 0);
    EXPECT_EQ(messageOf<FileCreateError>([&] { SafeFileWriter writer(name); }),
              "ファイル \"" + name + "\" を作成できません。Is a directory");
}

TEST(FileFailureTextTest, AReadOnlyFileIsRefusedEvenForRoot)
{
    TempDir dir;
    const auto name = dir.file("locked.bmp");
    test::writeFile(name, "keep me");
    ASSERT_EQ(::chmod(name.c_str(), 0444), 0);
    EXPECT_EQ(messageOf<FileCreateError>([&] { SafeFileWriter writer(name); }),
              "ファイル \"" + name + "\" を作成できません。Permission denied");
    EXPECT_EQ(test::readFile(name), bytesOf("keep me"));
    EXPECT_EQ(permissionsOf(name), 0444u);
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"locked.bmp"});
}

TEST(FileFailureTextTest, AReadOnlyLinkTargetIsRefusedUnderTheLinksName)
{
    TempDir dir;
    test::writeFile(dir.file("real.bmp"), "keep me");
    ASSERT_EQ(::chmod(dir.file("real.bmp").c_str(), 0444), 0);
    ASSERT_EQ(::symlink("real.bmp", dir.file("link.bmp").c_str()), 0);
    EXPECT_EQ(messageOf<FileCreateError>([&] { SafeFileWriter writer(dir.file("link.bmp")); }),
              "ファイル \"" + dir.file("link.bmp") + "\" を作成できません。Permission denied");
    EXPECT_EQ(test::readFile(dir.file("real.bmp")), bytesOf("keep me"));
}

// ---------------------------------------------------------------------------
// Overwriting never loses a file

TEST(SafeFileWriterTest, CommitReplacesTheFileAndLeavesNothingElse)
{
    TempDir dir;
    const auto name = dir.file("pic.bmp");
    test::writeFile(name, "the old and longer content");
    {
        SafeFileWriter writer(name);
        writeAll(writer, "new");
        EXPECT_EQ(writer.position(), 3u);
        EXPECT_EQ(test::readFile(name), bytesOf("the old and longer content"));
        writer.commit();
    }
    EXPECT_EQ(test::readFile(name), bytesOf("new"));
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"pic.bmp"});
}

TEST(SafeFileWriterTest, WithoutCommitTheFileIsUntouchedAndTheTemporaryFileGone)
{
    TempDir dir;
    const auto name = dir.file("pic.bmp");
    test::writeFile(name, "original");
    {
        SafeFileWriter writer(name);
        writeAll(writer, "half of a new pic");
        EXPECT_EQ(test::listFolder(dir.path()).size(), 2u);
    }
    EXPECT_EQ(test::readFile(name), bytesOf("original"));
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"pic.bmp"});
}

TEST(SafeFileWriterTest, CreatesANewFileWithTheUsualPermissions)
{
    TempDir dir;
    const auto name = dir.file("new.bmp");
    const mode_t mask = ::umask(022);
    {
        SafeFileWriter writer(name);
        writeAll(writer, "fresh");
        writer.commit();
    }
    ::umask(mask);
    EXPECT_EQ(test::readFile(name), bytesOf("fresh"));
    EXPECT_EQ(permissionsOf(name), 0644u);
}

TEST(SafeFileWriterTest, EmptyContentGivesAnEmptyFile)
{
    TempDir dir;
    const auto existing = dir.file("was-full.bmp");
    test::writeFile(existing, "something");
    for (const auto &name : {existing, dir.file("new-empty.bmp")}) {
        SafeFileWriter writer(name);
        writer.commit();
        EXPECT_TRUE(test::fileExists(name));
        EXPECT_EQ(test::readFile(name).size(), 0u) << name;
    }
    EXPECT_EQ(test::listFolder(dir.path()), (std::vector<std::string>{"new-empty.bmp", "was-full.bmp"}));
}

TEST(SafeFileWriterTest, KeepsThePermissionBitsOfTheFileItReplaces)
{
    TempDir dir;
    for (const mode_t mode : {0600u, 0640u, 0604u, 0777u, 0200u}) {
        const auto name = dir.file("mode.bmp");
        test::writeFile(name, "old");
        ASSERT_EQ(::chmod(name.c_str(), mode), 0);
        SafeFileWriter writer(name);
        writeAll(writer, "new");
        writer.commit();
        EXPECT_EQ(permissionsOf(name), mode);
        ASSERT_EQ(::chmod(name.c_str(), 0600), 0);
        EXPECT_EQ(test::readFile(name), bytesOf("new"));
        ASSERT_EQ(::unlink(name.c_str()), 0);
    }
}

TEST(SafeFileWriterTest, ALinkStaysALinkAndItsTargetIsReplaced)
{
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("pictures").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dir.file("links").c_str(), 0755), 0);
    test::writeFile(dir.file("pictures/real.bmp"), "old");
    ASSERT_EQ(::chmod(dir.file("pictures/real.bmp").c_str(), 0640), 0);
    // A relative link, through a second link.
    ASSERT_EQ(::symlink("../pictures/real.bmp", dir.file("links/first.bmp").c_str()), 0);
    ASSERT_EQ(::symlink(dir.file("links/first.bmp").c_str(), dir.file("second.bmp").c_str()), 0);

    SafeFileWriter writer(dir.file("second.bmp"));
    writeAll(writer, "new");
    writer.commit();

    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("second.bmp")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("links/first.bmp")));
    EXPECT_EQ(std::filesystem::read_symlink(dir.file("links/first.bmp")).string(), "../pictures/real.bmp");
    EXPECT_EQ(test::readFile(dir.file("pictures/real.bmp")), bytesOf("new"));
    EXPECT_EQ(permissionsOf(dir.file("pictures/real.bmp")), 0640u);
    EXPECT_EQ(test::listFolder(dir.file("pictures")), std::vector<std::string>{"real.bmp"});
    EXPECT_EQ(test::listFolder(dir.file("links")), std::vector<std::string>{"first.bmp"});
}

TEST(SafeFileWriterTest, ADanglingLinkGetsItsTargetCreated)
{
    TempDir dir;
    ASSERT_EQ(::symlink("target.bmp", dir.file("link.bmp").c_str()), 0);
    SafeFileWriter writer(dir.file("link.bmp"));
    writeAll(writer, "made");
    writer.commit();
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.bmp")));
    EXPECT_EQ(test::readFile(dir.file("target.bmp")), bytesOf("made"));
}

TEST(SafeFileWriterTest, ALinkLoopIsAFileCreateError)
{
    TempDir dir;
    ASSERT_EQ(::symlink("b.bmp", dir.file("a.bmp").c_str()), 0);
    ASSERT_EQ(::symlink("a.bmp", dir.file("b.bmp").c_str()), 0);
    EXPECT_EQ(messageOf<FileCreateError>([&] { SafeFileWriter writer(dir.file("a.bmp")); }),
              "ファイル \"" + dir.file("a.bmp") + "\" を作成できません。Too many levels of symbolic links");
}

TEST(SafeFileWriterTest, AWriteCutShortByAFileSizeLimitLeavesTheOriginal)
{
    TempDir dir;
    const auto name = dir.file("big.bmp");
    test::writeFile(name, "the original picture");

    // The limit would kill the test program itself, so the write runs in a
    // child that reports what it saw through its exit status.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, 64 * 1024};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            ::_exit(10);
        const Bytes block(1 << 20, 0x5A);
        try {
            SafeFileWriter writer(name);
            if (writer.write(block.data(), block.size()) >= block.size())
                ::_exit(11);
            if (writer.write(block.data(), 1) != 0)  // a failed writer takes nothing more
                ::_exit(12);
            try {
                writer.commit();
                ::_exit(13);
            } catch (const StreamWriteError &) {
            }
            SafeFileWriter again(name);
            again.writeExact(block.data(), block.size());
            ::_exit(14);
        } catch (const StreamWriteError &) {
            ::_exit(0);
        } catch (...) {
            ::_exit(15);
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(test::readFile(name), bytesOf("the original picture"));
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"big.bmp"});
}

TEST(SafeFileWriterTest, TheFileIsLockedWhileItIsReplaced)
{
    TempDir dir;
    const auto name = dir.file("pic.bmp");
    test::writeFile(name, "old");
    SafeFileWriter writer(name);
    EXPECT_THROW(SafeFileWriter second(name), FileCreateError);
    writeAll(writer, "new");
    writer.commit();
    FileReadStream reader(name);  // free again once the new version is in place
    EXPECT_EQ(reader.size(), 3u);
}

TEST(SafeFileWriterTest, ALongFileNameStillFindsRoomForTheTemporaryFile)
{
    TempDir dir;
    const auto name = dir.file(std::string(250, 'n') + ".bmp");
    SafeFileWriter writer(name);
    writeAll(writer, "ok");
    writer.commit();
    EXPECT_EQ(test::readFile(name), bytesOf("ok"));
    EXPECT_EQ(test::listFolder(dir.path()).size(), 1u);
}

TEST(SafeFileWriterTest, AnInterruptedWriteLeavesNoTemporaryFile)
{
    TempDir dir;
    const auto name = dir.file("pic.bmp");
    test::writeFile(name, "original");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        removeUnfinishedFilesOnSignals();
        SafeFileWriter writer(name);
        writer.writeExact("half a pic", 10);
        ::raise(SIGTERM);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the signal still ends the program";
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_EQ(test::readFile(name), bytesOf("original"));
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"pic.bmp"});
}

TEST(SafeFileWriterTest, RemovingUnfinishedFilesSparesCommittedOnes)
{
    TempDir dir;
    {
        SafeFileWriter done(dir.file("done.bmp"));
        writeAll(done, "done");
        done.commit();
    }
    SafeFileWriter open(dir.file("open.bmp"));
    writeAll(open, "open");
    EXPECT_EQ(test::listFolder(dir.path()).size(), 2u);
    removeUnfinishedFiles();
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"done.bmp"});
    EXPECT_EQ(test::readFile(dir.file("done.bmp")), bytesOf("done"));
}

// ---------------------------------------------------------------------------
// Full path names

TEST(FullPathNameTest, FoldsDotsAndRepeatedSeparators)
{
    EXPECT_EQ(fullPathName("/a/b/../c/./d"), "/a/c/d");
    EXPECT_EQ(fullPathName("//a///b"), "/a/b");
    EXPECT_EQ(fullPathName("/../x"), "/x");
    EXPECT_EQ(fullPathName("/a/.."), "/");
    EXPECT_EQ(fullPathName("/"), "/");
    EXPECT_EQ(fullPathName("/a/b/"), "/a/b/");
}

TEST(FullPathNameTest, PrependsTheCurrentFolderToARelativeName)
{
    TempDir dir;
    CurrentFolder here(dir.path());
    EXPECT_EQ(fullPathName("p.bmp"), dir.path() + "/p.bmp");
    EXPECT_EQ(fullPathName("./x/../p.bmp"), dir.path() + "/p.bmp");
    EXPECT_EQ(fullPathName(""), dir.path());
    EXPECT_EQ(fullPathName("."), dir.path());
}

TEST(FullPathNameTest, BackslashAndColonAreOrdinaryCharacters)
{
    EXPECT_EQ(fullPathName("/pics/C:\\a\\1.bmp"), "/pics/C:\\a\\1.bmp");
    EXPECT_EQ(fullPathName("/写真/..\\x.bmp"), "/写真/..\\x.bmp");
}

TEST(FullPathNameTest, LinksAreNotResolved)
{
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("deep").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dir.file("deep/inner").c_str(), 0755), 0);
    ASSERT_EQ(::symlink(dir.file("deep/inner").c_str(), dir.file("link").c_str()), 0);
    EXPECT_EQ(fullPathName(dir.file("link/../p.bmp")), dir.path() + "/p.bmp");
    EXPECT_EQ(fullPathName(dir.file("link/p.bmp")), dir.path() + "/link/p.bmp");
}

}  // namespace
}  // namespace tovi::platform
