#include "platform/stream.h"

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
#include "support/test_support.h"

namespace tovi::platform {
namespace {

using test::Bytes;
using test::FaultySystemCalls;
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

    // Started with the hang-up ignored (nohup): it stays ignored.
    EXPECT_EQ(inChild([&] {
                  ::signal(SIGHUP, SIG_IGN);
                  removeUnfinishedFilesOnSignals();
                  ::raise(SIGHUP);
                  replaceWith(name, "processed");
                  return 0;
              }),
              0);
    EXPECT_EQ(test::readFile(name), bytesOf("processed"));
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

// ---------------------------------------------------------------------------
// The file read is the file replaced

bool hasTemporaryFile(const std::string &folder)
{
    for (const auto &name : test::listFolder(folder)) {
        if (name.find(".tovi-") != std::string::npos)
            return true;
    }
    return false;
}

std::string readAll(Stream &stream)
{
    std::string text(std::size_t(stream.remaining()), '\0');
    stream.readExact(text.data(), text.size());
    return text;
}

std::uint64_t inodeOf(const std::string &path)
{
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_ino;
}

void replaceHeld(HeldFile &file, std::string_view text, const ReplaceOptions &options = {})
{
    SafeFileWriter writer(file, options);
    writer.writeExact(text.data(), text.size());
    writer.commit();
}

TEST(HeldFileTest, ReadsTheFileAndReplacesIt)
{
    TempDir dir;
    const auto name = dir.file("pic.bmp");
    test::writeFile(name, "old picture");
    HeldFile file(name);
    EXPECT_EQ(readAll(file), "old picture");
    replaceHeld(file, "new");
    EXPECT_EQ(test::readFile(name), bytesOf("new"));
    EXPECT_EQ(test::listFolder(dir.path()), Names{"pic.bmp"});
}

TEST(HeldFileTest, AFileHeldIsInUseForEveryoneElse)
{
    TempDir dir;
    const auto name = dir.file("pic.bmp");
    test::writeFile(name, "old");
    HeldFile file(name);
    const std::string inUse = "ファイル \"" + name + "\" を作成できません。Resource temporarily unavailable";
    try {
        HeldFile second(name);
        ADD_FAILURE() << "held twice";
    } catch (const FileCreateError &error) {
        EXPECT_EQ(error.what(), inUse);
    }
    EXPECT_THROW(SafeFileWriter writer(name), FileCreateError);
    EXPECT_THROW(FileReadStream reader(name), FileOpenError);
    // In another process too: the lock belongs to the open file.
    EXPECT_EQ(inChild([&] {
                  try {
                      HeldFile second(name);
                  } catch (const FileCreateError &) {
                      return 0;
                  }
                  return 1;
              }),
              0);
}

TEST(HeldFileTest, ANameThatLeadsElsewhereBeforeReplacingIsNotWritten)
{
    TempDir dir;
    test::writeFile(dir.file("a.bmp"), "picture a");
    test::writeFile(dir.file("b.bmp"), "precious b");
    ASSERT_EQ(::symlink("a.bmp", dir.file("link.bmp").c_str()), 0);
    {
        // The link is swapped for one to b.bmp between reading and replacing.
        HeldFile file(dir.file("link.bmp"));
        readAll(file);
        ASSERT_EQ(::symlink("b.bmp", dir.file("new-link").c_str()), 0);
        ASSERT_EQ(::rename(dir.file("new-link").c_str(), dir.file("link.bmp").c_str()), 0);
        EXPECT_THROW(replaceHeld(file, "new"), FileCreateError);
    }
    {
        // The file itself is replaced by another one meanwhile.
        HeldFile file(dir.file("a.bmp"));
        test::writeFile(dir.file("other"), "someone else's");
        ASSERT_EQ(::rename(dir.file("other").c_str(), dir.file("a.bmp").c_str()), 0);
        try {
            replaceHeld(file, "new");
            ADD_FAILURE() << "replaced";
        } catch (const FileCreateError &error) {
            EXPECT_EQ(error.what(), "ファイル \"" + dir.file("a.bmp") +
                                        "\" を作成できません。読み込んだ後に別のファイルに置き換えられました");
        }
    }
    EXPECT_EQ(test::readFile(dir.file("a.bmp")), bytesOf("someone else's"));
    EXPECT_EQ(test::readFile(dir.file("b.bmp")), bytesOf("precious b"));
    EXPECT_EQ(test::listFolder(dir.path()), (Names{"a.bmp", "b.bmp", "link.bmp"}));
}

TEST(HeldFileTest, AKilledWriterLeavesNothingAndStaleFilesGoOnTheNextRun)
{
    TempDir dir;
    const auto name = dir.file("pic.bmp");
    test::writeFile(name, "original");
    EXPECT_EQ(inChild([&] {
                  SafeFileWriter writer(name);
                  writer.writeExact("half a pic", 10);
                  ::raise(SIGKILL);
                  return 0;
              }),
              128 + SIGKILL);
    EXPECT_EQ(test::readFile(name), bytesOf("original"));
    EXPECT_EQ(test::listFolder(dir.path()), Names{"pic.bmp"});

    // What a file system without unnamed files leaves: a stale one goes, one
    // still locked by its writer stays, another file's stays.
    TempDir other;
    test::writeFile(other.file("pic.bmp"), "original");
    test::writeFile(other.file(".pic.bmp.tovi-AbC123"), "stale");
    test::writeFile(other.file(".pic.bmp.tovi-InUse9"), "busy");
    test::writeFile(other.file(".other.bmp.tovi-AbC123"), "not ours");
    // Names of another form than ours, and a backup's link killed before its
    // rename (a hidden second name of the file itself, which goes).
    test::writeFile(other.file(".pic.bmp.tovi-a_b.c!"), "not our form");
    test::writeFile(other.file(".pic.bmp.tovi-AbC1234"), "not our form");
    ASSERT_EQ(::link(other.file("pic.bmp").c_str(), other.file(".pic.bmp.tovi-Link01").c_str()), 0);
    Names kept{".other.bmp.tovi-AbC123", ".pic.bmp.tovi-AbC1234", ".pic.bmp.tovi-InUse9", ".pic.bmp.tovi-a_b.c!"};
    if (::geteuid() == 0) {
        // Another user's file of our form, beside a file of ours: not ours.
        test::writeFile(other.file(".pic.bmp.tovi-mynote"), "someone's note");
        ASSERT_EQ(::chown(other.file(".pic.bmp.tovi-mynote").c_str(), 4321, 4321), 0);
        kept.push_back(".pic.bmp.tovi-mynote");
    }
    kept.push_back("pic.bmp");
    const int busy = ::open(other.file(".pic.bmp.tovi-InUse9").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(busy, LOCK_EX), 0);
    {
        HeldFile file(other.file("pic.bmp"));
        EXPECT_EQ(test::listFolder(other.path()), kept);
        EXPECT_EQ(file.otherLinks(), 0u);
        SafeFileWriter writer(file);
        writer.writeExact("new", 3);
        writer.commit();
    }
    ::close(busy);
    EXPECT_EQ(test::readFile(other.file("pic.bmp")), bytesOf("new"));
}

TEST(HeldFileTest, WithoutUnnamedFilesAHiddenNamedOneServesAndGoes)
{
    TempDir dir;
    const auto name = dir.file("pic.bmp");
    test::writeFile(name, "old");
    {
        HeldFile file(name);
        std::optional<FaultySystemCalls> calls(std::in_place);
        calls->failNth(FaultySystemCalls::Open, 1, EOPNOTSUPP);  // as on a file system without O_TMPFILE
        SafeFileWriter writer(file);
        calls.reset();
        const auto names = test::listFolder(dir.path());
        ASSERT_EQ(names.size(), 2u);
        EXPECT_TRUE(names[0].starts_with(".pic.bmp.tovi-")) << names[0];
        writer.writeExact("new", 3);
        writer.commit();
    }
    EXPECT_EQ(test::readFile(name), bytesOf("new"));
    EXPECT_EQ(test::listFolder(dir.path()), Names{"pic.bmp"});
}

TEST(HeldFileTest, OtherHardLinksKeepTheOldContent)
{
    TempDir dir;
    const auto name = dir.file("pic.bmp");
    test::writeFile(name, "old");
    ASSERT_EQ(::link(name.c_str(), dir.file("backup-tree.bmp").c_str()), 0);
    HeldFile file(name);
    EXPECT_EQ(file.otherLinks(), 1u);
    replaceHeld(file, "new");
    EXPECT_EQ(test::readFile(name), bytesOf("new"));
    EXPECT_EQ(test::readFile(dir.file("backup-tree.bmp")), bytesOf("old"));
}

TEST(HeldFileTest, AFileSizeLimitIsAWriteErrorThatNamesTheFile)
{
    TempDir dir;
    const auto name = dir.file("big.bmp");
    test::writeFile(name, "the original picture");
    // No signal disposition of our own: the writer must survive SIGXFSZ.
    EXPECT_EQ(inChild([&] {
                  const rlimit limit{64 * 1024, 64 * 1024};
                  if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                      return 10;
                  const Bytes block(1 << 20, 0x5A);
                  HeldFile file(name);
                  SafeFileWriter writer(file);
                  try {
                      writer.writeExact(block.data(), block.size());
                  } catch (const StreamWriteError &error) {
                      const std::string expected = "ファイル \"" + name + "\": write: File too large";
                      return error.what() == std::string("ストリームへの書き込みエラー") && error.reason() == expected ? 0 : 11;
                  }
                  return 12;
              }),
              0);
    EXPECT_EQ(test::readFile(name), bytesOf("the original picture"));
    EXPECT_EQ(test::listFolder(dir.path()), Names{"big.bmp"});
}

// ---------------------------------------------------------------------------
// The new version grants no more than the old one

bool aclToolsPresent() { return std::system("command -v setfacl >/dev/null && command -v getfacl >/dev/null") == 0; }

std::string shell(const std::string &command)
{
    std::string output;
    if (FILE *pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        ::pclose(pipe);
    }
    return output;
}

TEST(AttributesTest, AccessControlListsAndExtendedAttributesAreCarriedOver)
{
    if (!aclToolsPresent())
        GTEST_SKIP() << "setfacl and getfacl are needed (package acl)";
    TempDir dir;
    const auto name = dir.file("acl.bmp");
    test::writeFile(name, "old");
    ASSERT_EQ(::chmod(name.c_str(), 0600), 0);
    ASSERT_EQ(std::system(("setfacl -m u:daemon:rw '" + name + "'").c_str()), 0);
    ASSERT_EQ(::setxattr(name.c_str(), "user.origin", "scanner", 7, 0), 0);
    const std::string before = shell("getfacl -cp '" + name + "'");
    const mode_t modeBefore = permissionsOf(name);

    replaceWith(name, "new");

    EXPECT_EQ(shell("getfacl -cp '" + name + "'"), before);
    EXPECT_EQ(permissionsOf(name), modeBefore);
    char value[16] = {};
    EXPECT_EQ(::getxattr(name.c_str(), "user.origin", value, sizeof value), 7);
    EXPECT_STREQ(value, "scanner");

    // File capabilities were granted to the old content: they never travel.
    if (::geteuid() == 0 && std::system(("setcap cap_net_raw+ep '" + name + "' 2>/dev/null").c_str()) == 0) {
        ASSERT_GT(::getxattr(name.c_str(), "security.capability", nullptr, 0), 0);
        replaceWith(name, "newer");
        EXPECT_LT(::getxattr(name.c_str(), "security.capability", nullptr, 0), 0);
        EXPECT_EQ(errno, ENODATA);
        EXPECT_EQ(::getxattr(name.c_str(), "user.origin", value, sizeof value), 7);
    }
}

TEST(AttributesTest, AGroupThatCantBeKeptLosesItsPermissions)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to make a file whose owner isn't in its group";
    TempDir dir;
    constexpr uid_t kUser = 65534;      // nobody
    constexpr gid_t kOtherGroup = 4321;  // not one of nobody's groups
    const auto name = dir.file("shared.bmp");
    test::writeFile(name, "old");
    ASSERT_EQ(::chown(dir.path().c_str(), kUser, kUser), 0);
    ASSERT_EQ(::chown(name.c_str(), kUser, kOtherGroup), 0);
    ASSERT_EQ(::chmod(name.c_str(), 0664), 0);
    EXPECT_EQ(inChild([&] {
                  if (::setgroups(0, nullptr) != 0 || ::setgid(kUser) != 0 || ::setuid(kUser) != 0)
                      return 10;
                  // As any program started by that user: its /proc entries are its own.
                  ::prctl(PR_SET_DUMPABLE, 1);
                  replaceWith(name, "new");
                  return 0;
              }),
              0);
    struct stat info {};
    ASSERT_EQ(::stat(name.c_str(), &info), 0);
    EXPECT_EQ(test::readFile(name), bytesOf("new"));
    EXPECT_EQ(info.st_uid, kUser);
    EXPECT_NE(info.st_gid, kOtherGroup);
    EXPECT_EQ(info.st_mode & 07777, 0604u);
}

TEST(AttributesTest, TimesAreKeptOnlyWhenAsked)
{
    TempDir dir;
    const auto name = dir.file("pic.bmp");
    test::writeFile(name, "old");
    const struct timespec old[2] = {{1000000000, 123456789}, {1100000000, 987654321}};
    ASSERT_EQ(::utimensat(AT_FDCWD, name.c_str(), old, 0), 0);
    {
        HeldFile file(name);
        ReplaceOptions options;
        options.preserveTimestamps = true;
        replaceHeld(file, "new", options);
    }
    struct stat info {};
    ASSERT_EQ(::stat(name.c_str(), &info), 0);
    EXPECT_EQ(info.st_atim.tv_sec, old[0].tv_sec);
    EXPECT_EQ(info.st_atim.tv_nsec, old[0].tv_nsec);
    EXPECT_EQ(info.st_mtim.tv_sec, old[1].tv_sec);
    EXPECT_EQ(info.st_mtim.tv_nsec, old[1].tv_nsec);
    replaceWith(name, "newer");
    ASSERT_EQ(::stat(name.c_str(), &info), 0);
    EXPECT_GT(info.st_mtim.tv_sec, old[1].tv_sec);
}

// ---------------------------------------------------------------------------
// Backups

struct BackupRun {
    BackupControl control;
    std::string suffix;
    Names before;  // present in the folder before the run, besides pic.bmp
    std::string backup;
};

TEST(BackupTest, EachControlKeepsTheOldVersionUnderItsName)
{
    const std::vector<BackupRun> runs{
        {BackupControl::Simple, "~", {}, "pic.bmp~"},
        {BackupControl::Simple, ".orig", {"pic.bmp.orig"}, "pic.bmp.orig"},
        {BackupControl::Numbered, "~", {}, "pic.bmp.~1~"},
        {BackupControl::Numbered, "~", {"pic.bmp.~1~", "pic.bmp.~9~", "pic.bmp.~x~"}, "pic.bmp.~10~"},
        {BackupControl::Existing, "~", {}, "pic.bmp~"},
        {BackupControl::Existing, "~", {"pic.bmp.~2~"}, "pic.bmp.~3~"},
        // Numbers of any length, as the GNU tools allow.
        {BackupControl::Numbered, "~", {"pic.bmp.~999~", "pic.bmp.~1000000000~"}, "pic.bmp.~1000000001~"},
        {BackupControl::Numbered, "~", {"pic.bmp.~0099999999999999999999~"}, "pic.bmp.~100000000000000000000~"},
    };
    for (const auto &run : runs) {
        TempDir dir;
        const auto name = dir.file("pic.bmp");
        for (const auto &other : run.before)
            test::writeFile(dir.file(other), "older");
        test::writeFile(name, "old");
        ASSERT_EQ(::link(name.c_str(), dir.file("elsewhere.bmp").c_str()), 0);
        const std::uint64_t oldInode = inodeOf(name);
        {
            HeldFile file(name);
            replaceHeld(file, "new", {run.control, run.suffix, false});
        }
        EXPECT_EQ(test::readFile(name), bytesOf("new")) << run.backup;
        EXPECT_EQ(test::readFile(dir.file(run.backup)), bytesOf("old")) << run.backup;
        EXPECT_EQ(inodeOf(dir.file(run.backup)), oldInode) << "a link, not a copy: " << run.backup;
        EXPECT_EQ(test::readFile(dir.file("elsewhere.bmp")), bytesOf("old"));
        EXPECT_FALSE(hasTemporaryFile(dir.path()));
    }
}

TEST(BackupTest, WhereNoLinkCanBeMadeTheBackupIsACopy)
{
    TempDir dir;
    const auto name = dir.file("pic.bmp");
    test::writeFile(name, "old");
    ASSERT_EQ(::chmod(name.c_str(), 0640), 0);
    {
        HeldFile file(name);
        FaultySystemCalls calls;
        calls.failNth(FaultySystemCalls::Link, 1, EPERM);  // the backup's link
        replaceHeld(file, "new", {BackupControl::Simple, "~", false});
    }
    EXPECT_EQ(test::readFile(name), bytesOf("new"));
    EXPECT_EQ(test::readFile(dir.file("pic.bmp~")), bytesOf("old"));
    EXPECT_NE(inodeOf(dir.file("pic.bmp~")), inodeOf(name));
    EXPECT_EQ(permissionsOf(dir.file("pic.bmp~")), 0640u);
    EXPECT_EQ(test::listFolder(dir.path()), (Names{"pic.bmp", "pic.bmp~"}));
}

// ---------------------------------------------------------------------------
// Every system call of the replace path failing in turn

struct Fault {
    FaultySystemCalls::Call call;
    int nth;
    int code;
    const char *says;  // what the error message must hold
};

TEST(ReplaceFaultTest, EachFailingCallSaysWhatFailedAndLeavesNoTemporaryFile)
{
    const std::vector<Fault> faults{
        {FaultySystemCalls::Open, 1, EMFILE, "を作成できません。Too many open files"},
        {FaultySystemCalls::Write, 1, ENOSPC, "write: No space left on device"},
        {FaultySystemCalls::Write, 2, EIO, "write: Input/output error"},
        {FaultySystemCalls::Attributes, 1, ENOSPC, "fsetxattr: No space left on device"},
        {FaultySystemCalls::Mode, 1, EROFS, "fchmod: Read-only file system"},
        {FaultySystemCalls::Times, 1, EPERM, "futimens: Operation not permitted"},
        {FaultySystemCalls::Fsync, 1, EIO, "fsync: Input/output error"},
        {FaultySystemCalls::Link, 1, EMLINK, "linkat: Too many links"},
        {FaultySystemCalls::Rename, 1, EXDEV, "renameat: Invalid cross-device link"},
        {FaultySystemCalls::Fsync, 2, EIO, "fsync (フォルダ): Input/output error"},
    };
    for (const auto &fault : faults) {
        TempDir dir;
        const auto name = dir.file("pic.bmp");
        test::writeFile(name, "the original");
        ASSERT_EQ(::setxattr(name.c_str(), "user.kept", "1", 1, 0), 0);
        std::string message = "(no error)";
        try {
            HeldFile file(name);
            FaultySystemCalls calls;
            calls.failNth(fault.call, fault.nth, fault.code);
            SafeFileWriter writer(file, {BackupControl::None, "~", true});
            writer.writeExact("new ", 4);
            writer.writeExact("picture", 7);
            writer.commit();
        } catch (const Error &error) {
            message = error.what() + (" " + error.reason());
        }
        EXPECT_NE(message.find(fault.says), std::string::npos) << message;
        EXPECT_NE(message.find(name), std::string::npos) << message;
        // The folder is flushed after the rename: the new version is then in
        // place, whole.
        const auto expected = fault.call == FaultySystemCalls::Fsync && fault.nth == 2 ? "new picture" : "the original";
        EXPECT_EQ(test::readFile(name), bytesOf(expected)) << fault.says;
        EXPECT_EQ(test::listFolder(dir.path()), Names{"pic.bmp"}) << fault.says;
    }
}

TEST(ReplaceFaultTest, EveryCallOfTheReplacePathFailingInTurnLeavesTheOriginalOrTheWholeNewVersion)
{
    const auto replace = [](const std::string &name) {
        HeldFile file(name);
        SafeFileWriter writer(file, {BackupControl::Simple, "~", true});
        writer.writeExact("new ", 4);
        writer.writeExact("picture", 7);
        writer.commit();
    };
    const auto prepare = [](const TempDir &dir) {
        test::writeFile(dir.file("pic.bmp"), "the original");
        test::writeFile(dir.file("pic.bmp~"), "an old backup");
        ASSERT_EQ(::setxattr(dir.file("pic.bmp").c_str(), "user.kept", "1", 1, 0), 0);
    };
    int made[FaultySystemCalls::kCalls] = {};
    {
        TempDir dir;
        prepare(dir);
        FaultySystemCalls calls;
        replace(dir.file("pic.bmp"));
        for (int call = 0; call < FaultySystemCalls::kCalls; ++call)
            made[call] = calls.made(FaultySystemCalls::Call(call));
    }
    int faults = 0;
    for (int call = 0; call < FaultySystemCalls::kCalls; ++call) {
        for (int nth = 1; nth <= made[call]; ++nth, ++faults) {
            SCOPED_TRACE("call " + std::to_string(call) + ", number " + std::to_string(nth));
            TempDir dir;
            prepare(dir);
            const auto name = dir.file("pic.bmp");
            bool failed = false;
            try {
                FaultySystemCalls calls;
                calls.failNth(FaultySystemCalls::Call(call), nth, EIO);
                replace(name);
            } catch (const Error &error) {
                failed = true;
                EXPECT_NE((error.what() + std::string(" ") + error.reason()).find(name), std::string::npos);
            }
            const Bytes now = test::readFile(name);
            if (!failed) {
                EXPECT_EQ(now, bytesOf("new picture"));
            } else {
                EXPECT_TRUE(now == bytesOf("the original") || now == bytesOf("new picture"));
            }
            // The backup is the old backup or the version just replaced,
            // never lost; nothing else stays.
            const Bytes backup = test::readFile(dir.file("pic.bmp~"));
            EXPECT_TRUE(backup == bytesOf("an old backup") || backup == bytesOf("the original"));
            if (now == bytesOf("new picture")) {
                EXPECT_EQ(backup, bytesOf("the original"));
            }
            EXPECT_EQ(test::listFolder(dir.path()), (Names{"pic.bmp", "pic.bmp~"}));
        }
    }
    EXPECT_GE(faults, 8);
}

TEST(ReplaceFaultTest, AnOwnerThatCantBeGivenBackTakesTheGroupPermissionsAlong)
{
    TempDir dir;
    const auto name = dir.file("pic.bmp");
    test::writeFile(name, "old");
    ASSERT_EQ(::chmod(name.c_str(), 0664), 0);
    if (::geteuid() == 0)
        ASSERT_EQ(::chown(name.c_str(), 1234, 5678), 0);
    else
        GTEST_SKIP() << "needs root to give the file another owner";
    {
        FaultySystemCalls calls;
        calls.failNth(FaultySystemCalls::Owner, 1, EPERM);
        replaceWith(name, "new");
    }
    EXPECT_EQ(test::readFile(name), bytesOf("new"));
    EXPECT_EQ(permissionsOf(name), 0604u);
}

TEST(HeldFileTest, ALinkTheSystemWontFollowIsRefusedWithItsReason)
{
    std::string setting;
    if (FILE *file = std::fopen("/proc/sys/fs/protected_symlinks", "r")) {
        setting = std::fgetc(file) == '1' ? "1" : "0";
        std::fclose(file);
    }
    if (::geteuid() != 0 || setting != "1")
        GTEST_SKIP() << "needs root and fs.protected_symlinks = 1";
    TempDir dir;
    test::writeFile(dir.file("real.bmp"), "picture");
    std::filesystem::create_directories(dir.file("shared"));
    ASSERT_EQ(::chmod(dir.file("shared").c_str(), 01777), 0);
    // A link of another user in a shared sticky folder: the system won't
    // follow it for us.
    ASSERT_EQ(::symlink(dir.file("real.bmp").c_str(), dir.file("shared/link.bmp").c_str()), 0);
    ASSERT_EQ(::lchown(dir.file("shared/link.bmp").c_str(), 65534, 65534), 0);
    try {
        HeldFile file(dir.file("shared/link.bmp"));
        ADD_FAILURE() << "opened";
    } catch (const FileOpenError &error) {
        EXPECT_NE(std::string(error.what()).find(systemErrorText(EACCES)), std::string::npos) << error.what();
    }
    EXPECT_EQ(test::readFile(dir.file("real.bmp")), bytesOf("picture"));
}

// ---------------------------------------------------------------------------
// The name of the file the system opens

TEST(OpenedPathNameTest, ALinkedFolderBeforeDotDotIsResolved)
{
    TempDir dir;
    std::filesystem::create_directories(dir.file("target/inner"));
    std::filesystem::create_directories(dir.file("plain"));
    ASSERT_EQ(::symlink(dir.file("target/inner").c_str(), dir.file("dl").c_str()), 0);
    // The system opens target/f.bmp for dl/../f.bmp; the lexical form would
    // name dir/f.bmp.
    EXPECT_EQ(openedPathName(dir.file("dl/../f.bmp")), std::filesystem::canonical(dir.file("target")).string() + "/f.bmp");
    // Where the lexical form names the same file it stands as it is.
    EXPECT_EQ(openedPathName(dir.file("plain/../f.bmp")), dir.file("f.bmp"));
    EXPECT_EQ(openedPathName(dir.file("dl/f.bmp")), dir.file("dl/f.bmp"));
    EXPECT_EQ(openedPathName(dir.file("missing/../f.bmp")), dir.file("f.bmp"));
    EXPECT_EQ(openedPathName("/a/b/"), "/a/b/");
}

}  // namespace
}  // namespace tovi::platform
