#include "process/batch.h"
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
}  // namespace

using namespace batchfile;

// Looks without locking or waiting: a name that isn't a plain file counts as
// nothing here and is refused by the reader in its turn.
std::uint64_t memoryAtWork(const std::string &name)
{
    OpenedFile file;
    file.read = platform::FileReadStream::openAhead(name);
    return memoryAtWorkOf(file);
}

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
                workInParallel(names, settings, replace, reporter, jobs, i, summary, previousFolder, endedAt);
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
