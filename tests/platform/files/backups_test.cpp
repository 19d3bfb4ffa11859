#include "platform/files/backups.h"


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

}  // namespace
}  // namespace tovi::platform
