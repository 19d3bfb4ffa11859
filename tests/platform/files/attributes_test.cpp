#include "platform/files/attributes.h"


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

}  // namespace
}  // namespace tovi::platform
