// The replace path as a batch run meets it: other programs and other users.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "platform/errors.h"
#include "platform/stream.h"
#include "process/batch.h"
#include "support/faulty_system_calls.h"
#include "support/test_support.h"
#include "support/tiny_bmp.h"

namespace tovi::process {
namespace {

using test::Bytes;
using test::TempDir;
using Lines = std::vector<std::string>;

class Asker : public BatchAsker {
public:
    BatchAnswer ask(const std::string &, const std::string &) override { return BatchAnswer::YesToAll; }
};

// Lines by kind ("N ", "C ", "F "), reasons and notes.
class Reporter : public BatchReporter {
public:
    void addNormalLine(const std::string &line) override { lines.push_back("N " + line); }
    void addChangedLine(const std::string &line) override { lines.push_back("C " + line); }
    void addFailedLine(const std::string &line) override { lines.push_back("F " + line); }
    void refused(const std::string &name, const std::string &reason) override
    {
        notes.push_back(name + ": " + reason);
    }
    void ownerChanged(const std::string &name) override { notes.push_back(name + ": owner changed"); }

    Lines lines;
    Lines notes;
};

Bytes samplePicture() { return test::bmp24(4, 1, {0xFFFFFF, 0x000000, 0x0A141E, 0xFFFFFE}); }

// Runs work in a child process; its exit status, or 128 + its signal.
int inChild(const std::function<int()> &work)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(work());
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// At the first flush of a new version, another program writes into the
// original in place, ignoring the lock, as an editor saving over it would.
class WriterInPlace : public test::FaultySystemCalls {
public:
    explicit WriterInPlace(std::string name) : m_name(std::move(name)) {}
    int fsync(int fd) override
    {
        editOnce();
        return FaultySystemCalls::fsync(fd);
    }
    // The flush of a group of new versions.
    int syncfs(int fd) override
    {
        editOnce();
        return FaultySystemCalls::syncfs(fd);
    }

private:
    void editOnce()
    {
        if (!m_done) {
            m_done = true;
            EXPECT_EQ(inChild([&] {
                          const int file = ::open(m_name.c_str(), O_WRONLY);
                          return file >= 0 && ::pwrite(file, "EDIT", 4, 60) == 4 ? 0 : 1;
                      }),
                      0);
        }
    }

    std::string m_name;
    bool m_done = false;
};

TEST(BatchReplaceTest, AFileChangedInPlaceMeanwhileKeepsThatChangeAndGetsAFailedLine)
{
    TempDir pics;
    const std::string first = pics.write("1.bmp", samplePicture());
    const std::string second = pics.write("2.bmp", samplePicture());
    Bytes edited = samplePicture();
    std::copy_n("EDIT", 4, edited.begin() + 60);
    Asker asker;
    Reporter reporter;
    BatchSettings settings;
    settings.jobs = 1;
    BatchSummary summary;
    {
        WriterInPlace other(first);
        summary = batchProcess({first, second}, settings, asker, reporter);
    }
    EXPECT_EQ(reporter.lines, (Lines{"N " + folderLine(pics.path() + "/"), "F " + failedLine("1.bmp"),
                                     "N " + processedLine(kModeSwap, "2.bmp")}));
    EXPECT_EQ(reporter.notes, Lines{first + ": changed while it was being processed"});
    EXPECT_EQ(summary.failed, 1u);
    EXPECT_EQ(test::readFile(first), edited);
    EXPECT_NE(test::readFile(second), samplePicture());
    EXPECT_EQ(test::listFolder(pics.path()), (Lines{"1.bmp", "2.bmp"}));
}

TEST(BatchReplaceTest, AnotherUsersFileLosesItsSetIdBitsAndTheOwnerChangeIsReported)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to make files of two users";
    constexpr uid_t kRunner = 65534;  // nobody
    constexpr uid_t kOwner = 4321;
    TempDir pics;
    const std::string name = pics.write("shared.bmp", samplePicture());
    ASSERT_EQ(::chmod(pics.path().c_str(), 0777), 0);
    ASSERT_EQ(::chown(name.c_str(), kOwner, kOwner), 0);
    ASSERT_EQ(::chmod(name.c_str(), 06666), 0);
    EXPECT_EQ(inChild([&] {
                  if (::setgroups(0, nullptr) != 0 || ::setgid(kRunner) != 0 || ::setuid(kRunner) != 0)
                      return 10;
                  // As any program started by that user: its /proc entries are its own.
                  ::prctl(PR_SET_DUMPABLE, 1);
                  Asker asker;
                  Reporter reporter;
                  batchProcess({name}, {}, asker, reporter);
                  return reporter.notes == Lines{name + ": owner changed"} ? 0 : 11;
              }),
              0);
    struct stat info {};
    ASSERT_EQ(::stat(name.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, kRunner);
    EXPECT_EQ(info.st_mode & 07777, 0606u) << "no set-ID bits, no group permissions";
    EXPECT_NE(test::readFile(name), samplePicture());
}

}  // namespace
}  // namespace tovi::process
