#include "process/batch.h"

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

namespace tovi::process {

namespace {

// Only "/" separates folders here; "\" and ":" are ordinary characters of a
// name. A "/" byte never occurs inside a multi-byte UTF-8 character, so a
// plain byte search finds the real separator.
constexpr char kFolderSeparator = '/';

bool processesFile(BatchAnswer answer)
{
    return answer == BatchAnswer::Yes || answer == BatchAnswer::YesToAll;
}

bool asksAgain(std::optional<BatchAnswer> answer)
{
    return !answer || (*answer != BatchAnswer::Abort && *answer != BatchAnswer::YesToAll);
}

struct ResultLine {
    enum Kind { Normal, Changed, Failed } kind = Normal;
    std::string text;
    picture::PixelFormat before = picture::PixelFormat::Device;
    picture::PixelFormat after = picture::PixelFormat::Device;
    std::string reason;  // a failed file's picture-format error
    std::uint64_t otherLinks = 0;  // of a replaced file
    bool ownerChanged = false;     // of a replaced file
};

// Takes what a writer is given and keeps nothing: a dry run still encodes each
// picture, since encoding can refuse it or change its pixel format.
class DiscardStream : public platform::Stream {
public:
    std::size_t read(void *, std::size_t) override { return 0; }
    std::size_t write(const void *, std::size_t n) override
    {
        m_size += n;
        return n;
    }
    std::uint64_t position() const override { return m_size; }
    std::uint64_t size() const override { return m_size; }

private:
    std::uint64_t m_size = 0;
};

ResultLine failedResult(const std::string &fileName, const PictureFormatError &error)
{
    return {ResultLine::Failed, failedLine(fileName), {}, {}, error.reason().empty() ? error.what() : error.reason(), 0};
}

// A file opened by the run's thread ahead of the job that works on it, and
// not yet locked, so that what the run needs to know before it starts the
// file (which file it is, how large its picture is) is read through the one
// descriptor the job goes on with: held for a real run, read for a dry run.
struct OpenedFile {
    std::unique_ptr<platform::HeldFile> held;
    std::unique_ptr<platform::FileReadStream> read;

    const platform::FileIdentity *identity() const { return held ? held->identity() : read ? read->identity() : nullptr; }
    std::size_t peek(void *buffer, std::size_t n) const
    {
        return held ? held->peek(buffer, n) : read ? read->peek(buffer, n) : 0;
    }
};

// A file read, processed and written into its new version, whose replacing
// is left to a group commit: it holds the file (and its lock) until then.
struct WrittenFile {
    std::unique_ptr<platform::HeldFile> file;
    std::unique_ptr<platform::SafeFileWriter> writer;  // of file: let go of first
    std::uint64_t bytes = 0;
};

// The file of entry held: the one opened ahead, or opened now.
std::unique_ptr<platform::HeldFile> holdFile(const BatchEntry &entry, OpenedFile *opened)
{
    if (opened && opened->held) {
        std::unique_ptr<platform::HeldFile> file = std::move(opened->held);
        file->hold();
        return file;
    }
    const std::string &name = entry.name;
    return entry.folder ? std::make_unique<platform::HeldFile>(*entry.folder, fileNamePart(name), name)
                        : std::make_unique<platform::HeldFile>(name);
}

// A run-length file whose data sets every pixel, processed by mapping the
// colour-table index of each pixel in its data, which gives the pixels that
// decoding, processing and encoding it again would, in a fraction of the
// time. Nothing for any other file, with the file then read from its start
// again.
std::optional<std::vector<std::uint8_t>> recoloredRunLength(platform::HeldFile &file, const BatchSettings &settings)
{
    std::uint8_t start[picture::bmp::kCompressionPeekBytes];
    const std::size_t got = file.read(start, sizeof start);
    file.rewind();
    if (!picture::bmp::peekRunLength(std::span(start, got)))
        return std::nullopt;
    std::optional<std::vector<std::uint8_t>> recolored;
    if (const auto rle = picture::bmp::readRunLengthFile(file)) {
        recolored = picture::bmp::remapRunLengthIndices(
            *rle, runLengthIndexMap(rle->table, rle->fourBits, settings.mode, settings.color1, settings.color2,
                                    ColorSettings{settings.tolerance, settings.grayFormula}));
    }
    if (!recolored)
        file.rewind();
    return recolored;
}

// Reads, processes and writes back one file. A picture-format error anywhere on
// the way makes it a failed file; the file is then left as it was, since
// writing is the last step and replaces the file only when it completes. The
// file is held from reading to replacing, so what is replaced is what was read.
// With `deferred`, a file that is to be replaced is only written and finished
// (its write-back started); the caller replaces it, and completes the line's
// ownerChanged after that. `opened`: the file opened ahead, which is then
// taken over rather than opened.
ResultLine processFile(picture::Bitmap &work, const BatchEntry &entry, const BatchSettings &settings,
                       const platform::ReplaceOptions &replace, const BatchReporter &reporter,
                       WrittenFile *deferred = nullptr, OpenedFile *opened = nullptr)
{
    const std::string &name = entry.name;
    const std::string fileName = reporter.shownName(fileNamePart(name));
    try {
        // A dry run reads without holding, so it neither locks the file nor
        // tidies temporary files beside it: it leaves the folder as it is.
        std::unique_ptr<platform::HeldFile> file;
        std::optional<platform::FileReadStream> reading;
        std::optional<std::vector<std::uint8_t>> recolored;
        try {
            if (opened && opened->read) {
                opened->read->lock();
                work.loadFromStream(*opened->read);
            } else if (settings.dryRun && entry.folder) {
                work.loadFromStream(reading.emplace(*entry.folder, fileNamePart(name), name));
            } else if (settings.dryRun) {
                work.loadFromFile(name);
            } else {
                file = holdFile(entry, opened);
                recolored = recoloredRunLength(*file, settings);
                if (!recolored)
                    work.loadFromStream(*file);
            }
        } catch (const StreamReadError &error) {
            // A file that ends before its headers or its pixels do can't be
            // processed like any other unreadable picture; it doesn't end the
            // run, or every later run would stop at it too.
            return {ResultLine::Failed, failedLine(fileName), {}, {}, error.reason().empty() ? error.what() : error.reason(), 0};
        }
        // A run-length file is held as a picture of the screen's format.
        const picture::PixelFormat before = recolored ? picture::PixelFormat::Device : work.pixelFormat();
        if (!recolored)
            processColorsWith(work, settings.mode, settings.color1, settings.color2,
                              ColorSettings{settings.tolerance, settings.grayFormula});
        std::unique_ptr<platform::SafeFileWriter> writer;
        if (file) {
            writer = std::make_unique<platform::SafeFileWriter>(*file, replace);
            if (recolored)
                writer->writeExact(recolored->data(), recolored->size());
            else
                work.saveToStream(*writer);
            if (deferred)
                writer->finish();
            else
                writer->commit();
        } else {
            // The writer's own refusals, so that a dry run ends at the file
            // where a real run would end, with the same message.
            if (entry.folder)
                platform::checkReplaceable(*entry.folder, fileNamePart(name), name);
            else
                platform::checkReplaceable(name);
            DiscardStream sink;
            work.saveToStream(sink);
        }
        const picture::PixelFormat after = recolored ? before : work.pixelFormat();
        const std::uint64_t otherLinks = file ? file->otherLinks() : 0;
        const bool ownerChanged = file && file->ownerChanged();
        if (deferred && writer) {
            deferred->bytes = writer->size();
            deferred->file = std::move(file);
            deferred->writer = std::move(writer);
        }
        if (after == before)
            return {ResultLine::Normal, processedLine(settings.mode, fileName), before, after, {}, otherLinks, ownerChanged};
        return {ResultLine::Changed, changedLine(fileName, before, after), before, after, {}, otherLinks, ownerChanged};
    } catch (const PictureFormatError &error) {
        return failedResult(fileName, error);
    }
}

void report(BatchReporter &reporter, const std::string &name, const ResultLine &line)
{
    FileResult result;
    result.name = name;
    result.before = line.before;
    result.after = line.after;
    switch (line.kind) {
    case ResultLine::Normal:
        reporter.addNormalLine(line.text);
        result.outcome = FileOutcome::Processed;
        break;
    case ResultLine::Changed:
        reporter.addChangedLine(line.text);
        result.outcome = FileOutcome::Changed;
        break;
    case ResultLine::Failed:
        reporter.addFailedLine(line.text);
        result.outcome = FileOutcome::Failed;
        result.reason = line.reason;
        break;
    }
    if (line.otherLinks > 0)
        reporter.otherLinksKept(name, line.otherLinks);
    if (line.ownerChanged)
        reporter.ownerChanged(name);
    if (line.kind == ResultLine::Failed)
        reporter.refused(name, line.reason);
    reporter.fileDone(result);
}

void reportSkipped(BatchReporter &reporter, const std::string &name, BatchAnswer answer)
{
    FileResult result;
    result.name = name;
    result.outcome = FileOutcome::Skipped;
    result.reason = answer == BatchAnswer::Abort ? "aborted" : answer == BatchAnswer::Closed ? "closed" : "no";
    reporter.fileDone(result);
}

// Whether the file of this line was written back (not a failed file, not a
// dry run).
bool replaced(const ResultLine &line, const BatchSettings &settings)
{
    return line.kind != ResultLine::Failed && !settings.dryRun;
}

void tally(BatchSummary &summary, const ResultLine &line)
{
    if (line.kind == ResultLine::Failed)
        ++summary.failed;
    else
        ++summary.processed;
}

// Adds the folder line when name lies in another folder than the previous one.
void reportFolder(BatchReporter &reporter, const std::string &name, std::string &previousFolder)
{
    const std::string folder = folderPart(name);
    if (folder != previousFolder) {
        previousFolder = folder;
        reporter.addNormalLine(folderLine(reporter.shownName(folder)));
    }
}

// The most a file's picture takes per pixel while it is worked on: its own
// raster (at most 32 bits) and the 24-bit copy the colour operations rewrite,
// rounded up.
constexpr std::uint64_t kBytesPerPixelAtWork = 8;
// Past any picture the reader accepts; keeps the product far from overflow.
constexpr std::uint64_t kMaxCountedPixels = std::uint64_t{1} << 36;

}  // namespace

namespace {

// What a file opened ahead takes at work (see memoryAtWork()).
std::uint64_t memoryAtWorkOf(const OpenedFile &file)
{
    const platform::FileIdentity *identity = file.identity();
    if (!identity)
        return 0;
    std::uint8_t header[picture::bmp::kPeekBytes] = {};
    const std::size_t got = file.peek(header, sizeof header);
    const auto size = picture::bmp::peekDimensions(std::span(header, got));
    if (!size)
        return identity->size;
    return identity->size + std::min(size->width * size->height, kMaxCountedPixels) * kBytesPerPixelAtWork;
}

}  // namespace

// Looks without locking or waiting: a name that isn't a plain file counts as
// nothing here and is refused by the reader in its turn.
std::uint64_t memoryAtWork(const std::string &name)
{
    OpenedFile file;
    file.read = platform::FileReadStream::openAhead(name);
    return memoryAtWorkOf(file);
}

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

void BatchReporter::refused(const std::string &, const std::string &) {}
void BatchReporter::processing(std::size_t, std::size_t, const std::string &) {}
void BatchReporter::finished() {}
void BatchReporter::abandoned() {}
void BatchReporter::runEndedAt(const std::string &) {}
std::string BatchReporter::shownName(const std::string &name) const { return name; }
void BatchReporter::otherLinksKept(const std::string &, std::uint64_t) {}
void BatchReporter::ownerChanged(const std::string &) {}
void BatchReporter::fileDone(const FileResult &) {}
void BatchReporter::notReported(const std::string &) {}

unsigned processorCount()
{
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return unsigned(CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

std::string folderPart(const std::string &name)
{
    const auto separator = name.rfind(kFolderSeparator);
    return separator == std::string::npos ? std::string() : name.substr(0, separator + 1);
}

std::string fileNamePart(const std::string &name)
{
    const auto separator = name.rfind(kFolderSeparator);
    return separator == std::string::npos ? name : name.substr(separator + 1);
}

std::string folderLine(const std::string &folder)
{
    return "フォルダ:\t" + folder;
}

std::string processedLine(int mode, const std::string &fileName)
{
    return modeName(mode) + "処理しました:\t" + fileName;
}

std::string changedLine(const std::string &fileName, picture::PixelFormat before, picture::PixelFormat after)
{
    return "フォーマット変更しました:\t" + fileName + "\t" + picture::pixelFormatName(before) + " → " +
           picture::pixelFormatName(after);
}

std::string failedLine(const std::string &fileName)
{
    return "処理できませんでした:\t" + fileName + "\t" + "未サポートフォーマット";
}

BatchSummary batchProcess(const std::vector<std::string> &names, const BatchSettings &settings,
                          BatchAsker &asker, BatchReporter &reporter, const platform::ReplaceOptions &replace)
{
    return batchProcess(std::vector<BatchEntry>(names.begin(), names.end()), settings, asker, reporter, replace);
}

BatchSummary batchProcess(const std::vector<BatchEntry> &names, const BatchSettings &settings,
                          BatchAsker &asker, BatchReporter &reporter, const platform::ReplaceOptions &replace)
{
    BatchSummary summary;
    // One work picture for the whole run: each load replaces its whole content.
    picture::Bitmap work;
    std::string previousFolder;
    std::optional<BatchAnswer> answer;
    std::string endedAt;
    const std::size_t count = names.size();
    const unsigned jobs = settings.jobs ? settings.jobs : processorCount();

    try {
        for (std::size_t i = 0; i < count; ++i) {
            const std::string &name = names[i];
            // Also for files that end up skipped, so that after Abort the
            // folders of the remaining names still show.
            reportFolder(reporter, name, previousFolder);
            if (asksAgain(answer)) {
                answer = asker.ask(fileNamePart(name), name);
                ++summary.asked;
            }
            if (!processesFile(*answer)) {
                reportSkipped(reporter, name, *answer);
                continue;
            }
            if (*answer == BatchAnswer::YesToAll && count - i > 1) {
                ParallelRun(names, settings, replace, reporter, jobs).run(i, summary, previousFolder, endedAt);
                break;
            }
            reporter.processing(i, count, name);
            endedAt = name;
            const ResultLine line = processFile(work, names[i], settings, replace, reporter);
            endedAt.clear();
            tally(summary, line);
            try {
                report(reporter, name, line);
            } catch (...) {
                if (replaced(line, settings))
                    reporter.notReported(name);
                throw;
            }
        }
    } catch (...) {
        if (!endedAt.empty())
            reporter.runEndedAt(endedAt);
        reporter.abandoned();
        throw;
    }
    reporter.finished();
    return summary;
}

}  // namespace tovi::process
