// The files of a run after Yes to all are replaced in groups: a failure inside
// a group, and many threads and group sizes at once.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <thread>

#include "platform/errors.h"
#include "platform/files/system_calls.h"
#include "process/batch.h"
#include "support/faulty_system_calls.h"
#include "support/test_support.h"
#include "support/tiny_bmp.h"

namespace tovi::process {
namespace {

using test::Bytes;
using test::FaultySystemCalls;
using test::TempDir;
using Lines = std::vector<std::string>;

class Asker : public BatchAsker {
public:
    BatchAnswer ask(const std::string &, const std::string &) override { return BatchAnswer::YesToAll; }
};

class Reporter : public BatchReporter {
public:
    void addNormalLine(const std::string &line) override { lines.push_back("N " + line); }
    void addChangedLine(const std::string &line) override { lines.push_back("C " + line); }
    void addFailedLine(const std::string &line) override { lines.push_back("F " + line); }
    void runEndedAt(const std::string &name) override { endedAt = name; }

    Lines lines;
    std::string endedAt;
};

Bytes picture() { return test::bmp24(3, 2, {0xFFFFFF, 0x000000, 0x102030, 0xFFFFFF, 0x000000, 0x102030}); }

Bytes swapped()
{
    return test::bmp24(3, 2, {0x000000, 0xFFFFFF, 0x102030, 0x000000, 0xFFFFFF, 0x102030});
}

// Five files in one group (nothing else is being worked on once they are
// written, so the group is complete only then): the third one's flush or
// rename fails.
TEST(GroupCommitTest, AFailureForTheThirdFileOfAGroupLeavesItsOriginalAndTheOthersReportedAsTheyAre)
{
    const auto check = [](const char *what, const std::function<void(FaultySystemCalls &)> &fault) {
        SCOPED_TRACE(what);
        TempDir pics;
        std::vector<std::string> names;
        for (int i = 1; i <= 5; ++i)
            names.push_back(pics.write(std::to_string(i) + ".bmp", picture()));
        BatchSettings settings;
        settings.jobs = 2;
        settings.groupWaitMs = 600000;
        Asker asker;
        Reporter reporter;
        {
            FaultySystemCalls calls;
            fault(calls);
            EXPECT_THROW(batchProcess(names, settings, asker, reporter), StreamWriteError);
        }
        const std::string n = "N " + processedLine(kModeSwap, "");
        EXPECT_EQ(reporter.lines, (Lines{"N " + folderLine(pics.path() + "/"), n + "1.bmp", n + "2.bmp",
                                         n + "4.bmp", n + "5.bmp"}));
        EXPECT_EQ(reporter.endedAt, names[2]);
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(test::readFile(names[i]), i == 2 ? picture() : swapped()) << names[i];
        EXPECT_EQ(test::listFolder(pics.path()), (Lines{"1.bmp", "2.bmp", "3.bmp", "4.bmp", "5.bmp"}));
    };
    check("rename", [](FaultySystemCalls &calls) { calls.failNth(FaultySystemCalls::Rename, 3, EIO); });
    // The flush of the file system fails: each file is flushed on its own.
    check("flush", [](FaultySystemCalls &calls) {
        calls.failNth(FaultySystemCalls::Syncfs, 1, EIO);
        calls.failNth(FaultySystemCalls::Fsync, 3, EIO);
    });
}

// Many tiny files, some named twice (the second name waits until the first
// is replaced and sees its result), with several jobs and group sizes: the
// lines are those of one file after the other, every file processed as often
// as it is named, and nothing left beside them.
TEST(GroupCommitTest, ManyThreadsAndGroupSizesGiveTheLinesAndFilesOfOneJob)
{
    struct Setting {
        unsigned jobs, groupFiles, groupWaitMs;
    };
    for (const Setting setting : {Setting{1, 0, 0}, Setting{2, 1, 0}, Setting{3, 7, 1}, Setting{8, 0, 2},
                                  Setting{8, 50, 0}}) {
        SCOPED_TRACE(testing::Message() << "jobs " << setting.jobs << ", group " << setting.groupFiles);
        TempDir pics;
        std::vector<std::string> names;
        Lines expected{"N " + folderLine(pics.path() + "/")};
        constexpr int kFiles = 150;
        for (int i = 0; i < kFiles; ++i) {
            const std::string name = std::to_string(1000 + i) + ".bmp";
            names.push_back(pics.write(name, picture()));
            expected.push_back("N " + processedLine(kModeSwap, name));
            // Every tenth file named again a little later: processed twice.
            if (i % 10 == 9) {
                const std::string again = names[names.size() - 3];
                const std::string line = expected[expected.size() - 3];
                names.push_back(again);
                expected.push_back(line);
            }
        }
        BatchSettings settings;
        settings.jobs = setting.jobs;
        settings.groupFiles = setting.groupFiles;
        settings.groupWaitMs = setting.groupWaitMs;
        Asker asker;
        Reporter reporter;
        const BatchSummary summary = batchProcess(names, settings, asker, reporter);
        EXPECT_EQ(summary.processed, names.size());
        EXPECT_EQ(reporter.lines, expected);
        std::map<std::string, int> times;
        for (const auto &name : names)
            ++times[name];
        for (const auto &[name, count] : times)
            EXPECT_EQ(test::readFile(name), count % 2 ? swapped() : picture()) << name;
        EXPECT_EQ(test::listFolder(pics.path()).size(), std::size_t(kFiles));
    }
}

// Jobs that read slowly, and each time a picture is opened, how many of the
// folder's pictures are open then (the pictures are opened on the run's
// thread only, so none opens while they are counted).
class SlowJobs : public platform::SystemCalls {
public:
    explicit SlowJobs(std::string folder) : m_folder(std::move(folder)), m_previous(platform::useSystemCalls(this)) {}
    ~SlowJobs() override { platform::useSystemCalls(m_previous); }
    SlowJobs(const SlowJobs &) = delete;
    SlowJobs &operator=(const SlowJobs &) = delete;

    int open(int folder, const char *name, int flags, mode_t mode) override
    {
        const int fd = SystemCalls::open(folder, name, flags, mode);
        if (fd >= 0 && std::string_view(name).ends_with(".bmp")) {
            const int open = int(test::openDescriptors(m_folder));
            for (int most = mostOpen.load(); open > most && !mostOpen.compare_exchange_weak(most, open);)
                ;
        }
        return fd;
    }
    ssize_t pread(int fd, void *buffer, std::size_t n, off_t offset) override
    {
        if (std::this_thread::get_id() != m_runThread)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return SystemCalls::pread(fd, buffer, n, offset);
    }

    std::atomic<int> mostOpen{0};

private:
    std::string m_folder;
    std::thread::id m_runThread = std::this_thread::get_id();
    platform::SystemCalls *m_previous;
};

// However slowly the jobs go, the files of a group, each held open from its
// opening (ahead of its job) to the group's replacing, stay within the
// group's limit: the one set, or what the open-file limit leaves room for
// (each file and its folder and new version, beside a reserve).
TEST(GroupCommitTest, TheFilesHeldOpenStayWithinTheGroupLimitHoweverSlowTheJobs)
{
    struct Setting {
        unsigned jobs, groupFiles;
        rlim_t openFiles;  // 0: as it is
        int limit;
    };
    for (const Setting setting : {Setting{8, 3, 0, 3}, Setting{4, 1, 0, 1}, Setting{2, 6, 0, 6},
                                  Setting{3, 0, 64 + 3 * 8, 8 - 3}}) {
        SCOPED_TRACE(testing::Message() << "jobs " << setting.jobs << ", group " << setting.groupFiles);
        TempDir pics;
        std::vector<std::string> names;
        Lines expected{"N " + folderLine(pics.path() + "/")};
        for (int i = 0; i < 40; ++i) {
            const std::string name = std::to_string(1000 + i) + ".bmp";
            names.push_back(pics.write(name, picture()));
            expected.push_back("N " + processedLine(kModeSwap, name));
        }
        BatchSettings settings;
        settings.jobs = setting.jobs;
        settings.groupFiles = setting.groupFiles;
        settings.groupWaitMs = 600000;  // complete only when full or when nothing else is under way
        Asker asker;
        Reporter reporter;
        struct rlimit files;
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &files), 0);
        const struct rlimit usual = files;
        if (setting.openFiles) {
            files.rlim_cur = setting.openFiles;
            ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &files), 0);
        }
        {
            SlowJobs calls(pics.path());
            EXPECT_NO_THROW(batchProcess(names, settings, asker, reporter));
            EXPECT_LE(calls.mostOpen.load(), setting.limit);
            EXPECT_GE(calls.mostOpen.load(), std::min(setting.limit, int(setting.jobs)));
        }
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &usual), 0);
        EXPECT_EQ(reporter.lines, expected);
        for (const auto &name : names)
            EXPECT_EQ(test::readFile(name), swapped()) << name;
    }
}

}  // namespace
}  // namespace tovi::process
