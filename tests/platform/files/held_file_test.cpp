#include "platform/files/held_file.h"


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
#include "platform/files/read_stream.h"
#include "support/faulty_system_calls.h"
#include "platform/files/file_test_support.h"
#include "support/test_support.h"


namespace tovi::platform {
namespace {

using namespace file_tests;
using test::FaultySystemCalls;

// ---------------------------------------------------------------------------
// The file read is the file replaced

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

// Opened ahead, a file is neither locked nor read until it is held; what kept
// it from opening is thrown then, as the constructor throws it, and a file
// saved in its place meanwhile is the one held.
TEST(HeldFileTest, OpenedAheadItIsHeldLaterAsIfOpenedThen)
{
    TempDir dir;
    const auto name = dir.file("pic.bmp");
    test::writeFile(name, "old picture");
    const auto file = HeldFile::openAhead(name);
    const auto reading = FileReadStream::openAhead(name);
    ASSERT_TRUE(file->identity() && reading->identity());
    EXPECT_EQ(file->identity()->inode, reading->identity()->inode);
    char start[100] = {};
    ASSERT_EQ(file->peek(start, 4), 4u);
    EXPECT_EQ(std::string(start, 4), "old ");
    EXPECT_EQ(reading->peek(start, sizeof start), 11u);
    EXPECT_EQ(file->position(), 0u);
    {
        HeldFile other(name);  // nothing is locked yet
    }
    reading->lock();
    EXPECT_EQ(readAll(*reading), "old picture");

    test::writeFile(dir.file("saved"), "saved meanwhile");
    ASSERT_EQ(::rename(dir.file("saved").c_str(), name.c_str()), 0);
    file->hold();
    EXPECT_THROW(HeldFile again(name), FileCreateError);
    EXPECT_EQ(readAll(*file), "saved meanwhile");
    replaceHeld(*file, "new");
    EXPECT_EQ(test::readFile(name), bytesOf("new"));

    const std::string missing = dir.file("missing.bmp");
    const auto absent = HeldFile::openAhead(missing);
    const auto absentReading = FileReadStream::openAhead(missing);
    EXPECT_EQ(absent->identity(), nullptr);
    EXPECT_EQ(absent->peek(start, sizeof start), 0u);
    const std::string says = "ファイル \"" + missing + "\" は開けません。No such file or directory";
    for (const auto &open : std::vector<std::function<void()>>{[&] { absent->hold(); },
                                                               [&] { absentReading->lock(); },
                                                               [&] { HeldFile direct(missing); }}) {
        try {
            open();
            ADD_FAILURE() << "opened";
        } catch (const FileOpenError &error) {
            EXPECT_EQ(error.what(), says);
        }
    }
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

}  // namespace
}  // namespace tovi::platform
