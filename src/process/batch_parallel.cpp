#include "process/batch_file.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

#include "picture/bitmap.h"
#include "picture/bmp/bmp_codec.h"
#include "picture/pixel_format.h"
#include "platform/errors.h"
#include "platform/stream.h"

namespace tovi::process::batchfile {

namespace {

std::uint64_t defaultMemoryBudget()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return std::uint64_t{1} << 30;
    return std::uint64_t(pages) * std::uint64_t(pageSize) / 2;
}

// Two names of one file (links, or the same name twice) are never in flight
// together: the second must see what the first wrote, as in a run of one job.
// A file is known by its device and inode.
using FileKey = std::pair<std::uint64_t, std::uint64_t>;

// How many files a group may hold: each holds its file, its folder and its
// new version open from the file's opening (by the run's thread, ahead of its
// job) until the group is replaced.
std::size_t groupFileLimit(unsigned setting, unsigned jobs)
{
    constexpr std::size_t kMostFiles = 256;
    constexpr std::size_t kDescriptorsPerFile = 3;
    constexpr std::size_t kDescriptorsKept = 64;  // for everything else
    std::size_t limit = setting ? setting : kMostFiles;
    struct rlimit files;
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
        const std::size_t room = files.rlim_cur > kDescriptorsKept ? (files.rlim_cur - kDescriptorsKept) / kDescriptorsPerFile : 0;
        limit = std::min(limit, room > jobs ? room - jobs : 1);
    }
    return std::max<std::size_t>(limit, 1);
}

// The bytes of new versions a group may wait with: they are on their way to
// the disk, in the system's cache, and count against the memory budget.
std::uint64_t groupByteLimit(std::uint64_t budget)
{
    constexpr std::uint64_t kLeast = std::uint64_t{16} << 20;
    constexpr std::uint64_t kMost = std::uint64_t{256} << 20;
    return std::clamp(budget / 4, kLeast, kMost);
}

// Works on names[first..], once every remaining file is to be processed. Each
// file is read, processed and written into its new version by one of `jobs`
// threads, which starts it on its way to the disk and goes on with the next
// file. The calling thread replaces the written files in groups (group
// commit): when a group is complete (its files, its bytes or its time are up,
// or nothing else is being worked on), each file system of the group is
// flushed once, each file checked and renamed over its name, and each folder
// flushed once; only then are the group's lines reported, from the calling
// thread, in the order of the names. Each name is opened once, by the calling
// thread while the group has room for one more file, and that descriptor goes
// with the file to its job; a file stays held from its reading to its
// renaming. An error other than a picture-format error starts no new file,
// lets the started and written ones finish their group and report their
// lines, and is then passed on.
class ParallelRun {
public:
    ParallelRun(const std::vector<BatchEntry> &names, const BatchSettings &settings,
                const platform::ReplaceOptions &replace, BatchReporter &reporter, unsigned jobs)
        : m_names(names), m_settings(settings), m_replace(replace), m_reporter(reporter), m_jobs(jobs),
          m_budget(settings.memoryBudget ? settings.memoryBudget : defaultMemoryBudget()),
          m_groupFiles(groupFileLimit(settings.groupFiles, jobs)), m_groupBytes(groupByteLimit(m_budget)),
          m_groupWait(settings.groupWaitMs ? std::chrono::milliseconds(settings.groupWaitMs) : kGroupWait)
    {
    }

    ~ParallelRun()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_closing = true;
            m_queue.clear();
        }
        m_workReady.notify_all();
        for (auto &thread : m_threads)
            thread.join();
    }

    ParallelRun(const ParallelRun &) = delete;
    ParallelRun &operator=(const ParallelRun &) = delete;

    // endedAt: the name of the file whose error ends the run, if one does.
    void run(std::size_t first, BatchSummary &summary, std::string &previousFolder, std::string &endedAt)
    {
        m_next = first;
        std::size_t reported = first;
        std::exception_ptr firstError;
        // Once a line couldn't be reported, the later ones aren't tried.
        bool reportingFailed = false;
        const std::size_t threads = std::min<std::size_t>(m_jobs, m_names.size() - first);
        for (std::size_t i = 0; i < threads; ++i)
            m_threads.emplace_back([this] { work(); });

        for (;;) {
            startFiles();
            std::unique_lock lock(m_mutex);
            if (m_pendingFiles > 0 && groupComplete()) {
                commitGroup(lock);
                continue;
            }
            for (auto done = m_done.find(reported); done != m_done.end() && !done->second.written.writer;
                 done = m_done.find(reported)) {
                Outcome outcome = std::move(done->second);
                m_done.erase(done);
                const bool stopping = m_stopping;
                lock.unlock();
                // The run ends: the file opened for the next start is let go
                // of before any more lines.
                if (stopping)
                    m_candidate.reset();
                const std::string &name = m_names[reported];
                if (outcome.error) {
                    // The first in the order of the names: the one a run of one
                    // job would have ended with.
                    if (!firstError) {
                        firstError = outcome.error;
                        endedAt = name;
                    }
                } else if (!reportingFailed) {
                    tally(summary, outcome.line);
                }
                if (!reportingFailed) {
                    try {
                        reportFolder(m_reporter, name, previousFolder);
                        if (!outcome.error)
                            report(m_reporter, name, outcome.line);
                    } catch (...) {
                        // The files under way still finish; none starts.
                        reportingFailed = true;
                        if (!firstError)
                            firstError = std::current_exception();
                        const std::lock_guard stop(m_mutex);
                        m_stopping = true;
                    }
                }
                if (reportingFailed && !outcome.error && replaced(outcome.line, m_settings))
                    m_reporter.notReported(name);
                ++reported;
                lock.lock();
            }
            if (reported == m_next && (m_stopping || m_next == m_names.size()))
                break;
            // Only a file under way can bring what startFiles() lacked (a job,
            // room in the budget) or the next line: with none, every started
            // file has finished, its line is reported (or waits for its group,
            // which is then complete), and the next file finds room. The files
            // may well have finished while the lines were being reported, so
            // this is decided here, under the lock, not before.
            if (m_running > 0) {
                const std::size_t finished = m_finished;
                const auto changed = [&] { return m_finished != finished; };
                if (m_pendingFiles > 0)
                    m_jobDone.wait_until(lock, m_groupStarted + m_groupWait, changed);
                else
                    m_jobDone.wait(lock, changed);
            }
        }
        m_candidate.reset();
        if (firstError)
            std::rethrow_exception(firstError);
    }

private:
    static constexpr std::chrono::milliseconds kGroupWait{500};

    struct Job {
        std::size_t index = 0;
        OpenedFile file;
        std::uint64_t memory = 0;
        std::optional<FileKey> identity;
    };

    struct Outcome {
        ResultLine line;
        std::exception_ptr error;
        WrittenFile written;  // waiting for its group while it has a writer
        std::optional<FileKey> identity;
        std::string name;
    };

    // Called with the mutex held.
    bool groupComplete() const
    {
        // Nothing being worked on: waiting would bring nothing new. An error:
        // the written files finish now.
        return m_running == 0 || m_stopping || m_pendingFiles >= m_groupFiles || m_pendingBytes >= m_groupBytes ||
               std::chrono::steady_clock::now() >= m_groupStarted + m_groupWait;
    }

    // Replaces the files of the group, with the mutex held on entry and on
    // return (not in between). A file that fails gets its error, and the
    // others go on: each is reported as it ends up.
    void commitGroup(std::unique_lock<std::mutex> &lock)
    {
        std::vector<Outcome *> group;
        for (auto &[index, outcome] : m_done)
            if (outcome.written.writer)
                group.push_back(&outcome);  // in the order of the names
        lock.unlock();

        // A file changed meanwhile by another program is a failed file, as
        // in a run of one job; any other error ends the run.
        const auto failed = [&](Outcome &outcome) {
            try {
                throw;
            } catch (const PictureFormatError &error) {
                outcome.line = failedResult(m_reporter.shownName(fileNamePart(outcome.name)), error);
            } catch (...) {
                outcome.error = std::current_exception();
            }
            outcome.written.writer.reset();
        };
        std::map<std::uint64_t, bool> fileSystems;
        for (Outcome *outcome : group) {
            auto &writer = *outcome->written.writer;
            const auto [place, added] = fileSystems.try_emplace(writer.fileSystem(), false);
            if (added)
                place->second = writer.flushFileSystem();
        }
        for (Outcome *outcome : group) {
            try {
                auto &writer = *outcome->written.writer;
                writer.flush(fileSystems.at(writer.fileSystem()));
            } catch (...) {
                failed(*outcome);
            }
        }
        for (Outcome *outcome : group) {
            if (!outcome->written.writer)
                continue;
            try {
                outcome->written.writer->replace();
                outcome->line.ownerChanged = outcome->written.file->ownerChanged();
            } catch (...) {
                failed(*outcome);
            }
        }
        std::set<std::pair<std::uint64_t, std::uint64_t>> folders;
        for (Outcome *outcome : group) {
            if (!outcome->written.writer)
                continue;
            try {
                auto &writer = *outcome->written.writer;
                if (folders.insert(writer.folder()).second)
                    writer.flushFolder();
            } catch (...) {
                failed(*outcome);
            }
        }
        for (Outcome *outcome : group) {
            outcome->written.writer.reset();
            outcome->written.file.reset();
        }

        lock.lock();
        for (Outcome *outcome : group) {
            if (outcome->identity)
                m_inFlight.erase(m_inFlight.find(*outcome->identity));
            if (outcome->error)
                m_stopping = true;
        }
        // Files written meanwhile wait for the next group.
        m_pendingFiles -= group.size();
        for (const Outcome *outcome : group)
            m_pendingBytes -= outcome->written.bytes;
        m_groupStarted = std::chrono::steady_clock::now();
    }

    // Starts the next files while the group's room, a thread, the memory
    // budget and their identity allow. Called from the run's thread only.
    void startFiles()
    {
        while (m_next < m_names.size()) {
            {
                const std::lock_guard lock(m_mutex);
                if (m_stopping)
                    break;
                if (!m_candidate && (!hasRoomToOpen() || (m_waitingFor && m_inFlight.contains(*m_waitingFor))))
                    return;
            }
            if (!m_candidate) {
                m_waitingFor.reset();
                m_candidate = openAhead(m_next);
            }
            {
                const std::lock_guard lock(m_mutex);
                if (m_stopping)
                    break;
                // Another name of the same file: what was opened is what the
                // first one replaces. Opened again once that is done.
                if (m_candidate->identity && m_inFlight.contains(*m_candidate->identity)) {
                    m_waitingFor = m_candidate->identity;
                } else if (!hasRoomFor(*m_candidate)) {
                    return;
                }
            }
            if (m_waitingFor) {
                m_candidate.reset();
                return;
            }
            m_reporter.processing(m_next, m_names.size(), m_names[m_next]);
            {
                const std::lock_guard lock(m_mutex);
                ++m_running;
                m_memoryInFlight += m_candidate->memory;
                if (m_candidate->identity)
                    m_inFlight.insert(*m_candidate->identity);
                m_queue.push_back(std::move(*m_candidate));
            }
            m_workReady.notify_one();
            m_candidate.reset();
            ++m_next;
        }
        // An error ends the run: nothing more starts, and what was opened
        // for it goes.
        m_candidate.reset();
    }

    // Opens names[index] for its job.
    Job openAhead(std::size_t index) const
    {
        const BatchEntry &entry = m_names[index];
        Job job;
        job.index = index;
        if (m_settings.dryRun)
            job.file.read = entry.folder ? platform::FileReadStream::openAhead(*entry.folder, fileNamePart(entry.name),
                                                                               entry.name)
                                         : platform::FileReadStream::openAhead(entry.name);
        else
            job.file.held = entry.folder
                                ? platform::HeldFile::openAhead(*entry.folder, fileNamePart(entry.name), entry.name)
                                : platform::HeldFile::openAhead(entry.name);
        job.memory = memoryAtWorkOf(job.file);
        if (const platform::FileIdentity *identity = job.file.identity())
            job.identity = FileKey{identity->device, identity->inode};
        return job;
    }

    // Whether the group has room for one more file: from its opening to the
    // group's replacing it holds its descriptors. An empty group always has.
    // Called with the mutex held.
    bool hasRoomToOpen() const { return m_running + m_pendingFiles < m_groupFiles; }

    // Whether the file opened (with room in the group) can start now. Called
    // with the mutex held.
    bool hasRoomFor(const Job &job) const
    {
        // The new versions waiting for their group count too: they are in
        // the system's cache until they are flushed.
        const bool fits = m_memoryInFlight + m_pendingBytes + job.memory <= m_budget;
        if (m_running == 0)
            return m_pendingFiles == 0 || fits;  // else the group goes first
        return m_running < m_jobs && fits;
    }

    void work()
    {
        // One work picture per thread, each load replacing its whole content.
        picture::Bitmap picture;
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_workReady.wait(lock, [&] { return m_closing || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            Job job = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            Outcome outcome;
            outcome.identity = job.identity;
            outcome.name = m_names[job.index];
            try {
                outcome.line = processFile(picture, m_names[job.index], m_settings, m_replace, m_reporter,
                                           &outcome.written, &job.file);
            } catch (...) {
                outcome.error = std::current_exception();
            }
            // A file not waiting for its group is closed before it counts
            // no more.
            job.file = {};
            lock.lock();
            if (outcome.error)
                m_stopping = true;
            --m_running;
            m_memoryInFlight -= job.memory;
            if (outcome.written.writer) {
                if (m_pendingFiles++ == 0)
                    m_groupStarted = std::chrono::steady_clock::now();
                m_pendingBytes += outcome.written.bytes;
            } else if (job.identity) {
                m_inFlight.erase(m_inFlight.find(*job.identity));
            }
            m_done.emplace(job.index, std::move(outcome));
            ++m_finished;
            m_jobDone.notify_one();
        }
    }

    const std::vector<BatchEntry> &m_names;
    const BatchSettings &m_settings;
    const platform::ReplaceOptions &m_replace;
    BatchReporter &m_reporter;
    const unsigned m_jobs;
    const std::uint64_t m_budget;
    const std::size_t m_groupFiles;
    const std::uint64_t m_groupBytes;
    const std::chrono::milliseconds m_groupWait;

    // The run's thread alone.
    std::size_t m_next = 0;
    // names[m_next], opened and waiting for a thread or room in the budget.
    std::optional<Job> m_candidate;
    // The file names[m_next] was found to be when it was opened, started
    // under an earlier name: it is opened again once that one is done.
    std::optional<FileKey> m_waitingFor;

    std::mutex m_mutex;
    std::condition_variable m_workReady;
    std::condition_variable m_jobDone;
    std::deque<Job> m_queue;
    // Finished files by index; those with a writer wait for their group and
    // are touched by the run's thread alone.
    std::map<std::size_t, Outcome> m_done;
    std::multiset<FileKey> m_inFlight;  // started and not yet replaced
    std::size_t m_running = 0;
    std::uint64_t m_memoryInFlight = 0;
    std::size_t m_pendingFiles = 0;
    std::uint64_t m_pendingBytes = 0;
    std::chrono::steady_clock::time_point m_groupStarted;
    std::size_t m_finished = 0;
    bool m_stopping = false;
    bool m_closing = false;
    std::vector<std::thread> m_threads;
};

}  // namespace

void workInParallel(const std::vector<BatchEntry> &names, const BatchSettings &settings,
                    const platform::ReplaceOptions &replace, BatchReporter &reporter, unsigned jobs,
                    std::size_t first, BatchSummary &summary, std::string &previousFolder, std::string &endedAt)
{
    ParallelRun(names, settings, replace, reporter, jobs).run(first, summary, previousFolder, endedAt);
}

}  // namespace tovi::process::batchfile
