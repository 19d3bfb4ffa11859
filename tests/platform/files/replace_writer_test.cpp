#include "platform/files/replace_writer.h"


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

}  // namespace
}  // namespace tovi::platform
