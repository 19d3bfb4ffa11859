// The parallel run under load: thousands of files, small ones that several
// jobs share and header-only ones declaring pictures so large that each is
// worked on alone, so that the run keeps switching between a full set of jobs
// and a single one, while its output goes to a pipe read slowly or to a file.
// Every run must end (a watchdog kills it otherwise) with every line there, in
// the order of the names.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"
#include "support/tiny_bmp.h"

namespace tovi::cli {
namespace {

using test::Bytes;
using Clock = std::chrono::steady_clock;

// Far beyond what a healthy run takes (about a second here), even on a loaded
// machine or under a sanitizer.
constexpr auto kRunLimit = std::chrono::seconds(40);

struct Finished {
    bool ended = false;  // false: killed by the watchdog
    int status = -1;
    std::string out;  // when read from the pipe
};

bool waitUntil(pid_t child, Clock::time_point deadline, int &status)
{
    for (;;) {
        if (::waitpid(child, &status, WNOHANG) == child)
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Runs tovi-batch with standard output to a pipe read a little at a time
// (outFile empty) or to outFile, standard error to errFile.
Finished runWatched(const std::vector<std::string> &arguments, const std::string &outFile, const std::string &errFile)
{
    int pipeFds[2] = {-1, -1};
    if (outFile.empty() && ::pipe2(pipeFds, O_CLOEXEC) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = outFile.empty() ? pipeFds[1] : ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
            ::_exit(120);
        std::vector<char *> argv{const_cast<char *>(TOVI_BATCH_PROGRAM)};
        for (const auto &argument : arguments)
            argv.push_back(const_cast<char *>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(122);
    }
    const auto deadline = Clock::now() + kRunLimit;
    Finished result;
    if (outFile.empty()) {
        ::close(pipeFds[1]);
        char buffer[256];
        for (;;) {
            pollfd readable{pipeFds[0], POLLIN, 0};
            if (Clock::now() >= deadline)
                break;
            if (::poll(&readable, 1, 50) <= 0)
                continue;
            const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
            if (got <= 0)
                break;
            result.out.append(buffer, std::size_t(got));
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        ::close(pipeFds[0]);
    }
    int status = 0;
    result.ended = waitUntil(child, deadline, status);
    if (!result.ended) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

// 14 + 40 bytes declaring a 30000 x 30000 24-bit picture, and nothing after.
Bytes headerOnly()
{
    return test::tiny_bmp::headers(30000, 30000, 24, 0, 30000u * 30000u * 3u);
}

// The files in memory where the system has such a folder: what is tried here
// is the engine, not how fast the disk takes thousands of flushes.
class InMemoryTempFolder {
public:
    InMemoryTempFolder()
    {
        if (const char *old = std::getenv("TMPDIR"))
            m_old = old;
        if (::access("/dev/shm", W_OK | X_OK) == 0)
            ::setenv("TMPDIR", "/dev/shm", 1);
    }
    ~InMemoryTempFolder()
    {
        if (m_old)
            ::setenv("TMPDIR", m_old->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }

private:
    std::optional<std::string> m_old;
};

TEST(ParallelStressTest, EveryRunEndsWithEveryLineInTheOrderOfTheNames)
{
    constexpr int kFiles = 2400;
    std::optional<InMemoryTempFolder> inMemory(std::in_place);
    test::TempDir pics;
    inMemory.reset();
    test::TempDir io;
    std::vector<std::string> names;
    std::string expected = "Tovi for XP 連続処理の結果\nフォルダ:\t" + pics.file("") + "\n";
    for (int i = 0; i < kFiles; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%04d.bmp", i);
        const bool large = i % 4 == 1;
        names.push_back(pics.write(name, large ? headerOnly() : test::bmp24(4, 1, {0xFFFFFF, 0, 0xFFFFFF, 0})));
        expected += large ? std::string("処理できませんでした:\t") + name + "\t未サポートフォーマット\n"
                          : std::string("色交換モード処理しました:\t") + name + "\n";
    }
    for (const char *jobs : {"1", "2", "8", "32"}) {
        for (const bool toPipe : {true, false}) {
            std::vector<std::string> arguments{"-y", "-j", jobs};
            arguments.insert(arguments.end(), names.begin(), names.end());
            const std::string outFile = toPipe ? "" : io.file("out");
            const Finished run = runWatched(arguments, outFile, io.file("err"));
            const std::string what = std::string("-j ") + jobs + (toPipe ? " to a slow pipe" : " to a file");
            ASSERT_TRUE(run.ended) << what << ": still running after " << kRunLimit.count() << " s";
            EXPECT_EQ(run.status, 1) << what;
            const Bytes written = toPipe ? Bytes() : test::readFile(outFile);
            const std::string out = toPipe ? run.out : std::string(written.begin(), written.end());
            EXPECT_TRUE(out == expected) << what << ": " << out.size() << " bytes instead of " << expected.size();
        }
    }
}

}  // namespace
}  // namespace tovi::cli
