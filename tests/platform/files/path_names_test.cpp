#include "platform/files/path_names.h"


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
