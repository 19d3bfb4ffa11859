#pragma once
// The batch run: applies one processing mode to every picture file of a list,
// asking before each file, overwriting each file in place and reporting one
// line per folder change, processed file and failed file.
//
// The engine knows no window and no terminal. It asks through a BatchAsker
// (the confirmation dialog, or a prompt) and reports through a BatchReporter
// (the result window, or standard output).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/raster.h"
#include "platform/stream.h"
#include "process/color_ops.h"

namespace tovi::process {

// The first line of every batch result, in the result window and on the
// command line alike.
inline constexpr const char *kBatchResultTitle = "Tovi for XP 連続処理の結果";

// The answers of the confirmation question.
enum class BatchAnswer {
    Yes,       // process this file, ask again for the next
    No,        // skip this file, ask again for the next
    Abort,     // skip this file and every later one without asking
    YesToAll,  // process this file and every later one without asking
    Closed,    // the question was closed without an answer: as No
};

class BatchAsker {
public:
    virtual ~BatchAsker() = default;
    // Asks whether a file is to be processed and overwritten with the current
    // settings. fileName is its file-name part (what the confirmation dialog
    // shows), name the name as the list holds it.
    virtual BatchAnswer ask(const std::string &fileName, const std::string &name) = 0;
};

// What became of one file of the list, for reporters that keep a record of
// every file rather than the result lines (the command line's --json).
enum class FileOutcome { Processed, Changed, Failed, Skipped };

struct FileResult {
    std::string name;  // as the list holds it
    FileOutcome outcome = FileOutcome::Processed;
    // The pixel format before and after, for processed and changed files.
    picture::PixelFormat before = picture::PixelFormat::Device;
    picture::PixelFormat after = picture::PixelFormat::Device;
    // Failed: the picture-format error's own message. Skipped: "no",
    // "closed" or "aborted", after the answer that skipped it.
    std::string reason;
};

class BatchReporter {
public:
    virtual ~BatchReporter() = default;
    // Folder lines and processed lines.
    virtual void addNormalLine(const std::string &line) = 0;
    // A file whose pixel format changed on the way.
    virtual void addChangedLine(const std::string &line) = 0;
    // A file that isn't a picture the program can handle.
    virtual void addFailedLine(const std::string &line) = 0;
    // Why names[index] got its failed line, in plain words (may be empty).
    virtual void refused(const std::string &name, const std::string &reason);

    // A file is about to be read, processed and written: names[index] of the
    // count names of the run.
    virtual void processing(std::size_t index, std::size_t count, const std::string &name);
    // Every name has been gone through: the result window is shown here.
    virtual void finished();
    // An error other than a picture-format error ends the run and is about to
    // reach the caller; the lines so far are not to be shown as a result.
    virtual void abandoned();
    // Just before abandoned(): the name whose error ends the run, when the
    // error came from working on a file.
    virtual void runEndedAt(const std::string &name);

    // A name as the lines show it (a folder, or a file-name part).
    virtual std::string shownName(const std::string &name) const;
    // names[index] was replaced, and its `count` other names (hard links)
    // keep the old picture.
    virtual void otherLinksKept(const std::string &name, std::uint64_t count);
    // name was replaced by a version that belongs to the runner: its owner
    // or group couldn't be kept (and neither its set-ID bits).
    virtual void ownerChanged(const std::string &name);
    // Every name of the list, after its result line if it has one, in the
    // order of the list; skipped files too.
    virtual void fileDone(const FileResult &result);
    // names[index] was replaced, but its result (or the folder line before
    // it) couldn't be reported: the reporting error that ends the run follows.
    virtual void notReported(const std::string &name);
};

struct BatchSettings {
    int mode = kModeSwap;
    ColorRef color1 = 0x00FFFFFF;  // white
    ColorRef color2 = 0x00000000;  // black
    // Files worked on at once after Yes to all (0: one per processor). Until
    // then each file waits for its question. The result lines come in the
    // order of the names whatever the number; after Yes to all, a file's line
    // comes once its group has been replaced and flushed.
    unsigned jobs = 0;
    // The pictures of the files in flight, as their headers declare them, and
    // the new versions waiting for their group stay within this many bytes (0:
    // half of the physical memory); a larger one is worked on alone.
    std::uint64_t memoryBudget = 0;
    // After Yes to all the written files are replaced in groups: at most this
    // many files (0: as many as the open-file limit allows, up to 256), a group
    // waiting at most this long for more (0: half a second).
    unsigned groupFiles = 0;
    unsigned groupWaitMs = 0;
    // Reads and processes every file as a real run would, writes nothing
    // back; a file that couldn't be replaced ends the run as it would.
    bool dryRun = false;
    // The swap's tolerance and the grayscale formula (ColorSettings); the
    // defaults are the described rules.
    int tolerance = 0;
    GrayFormula grayFormula = kDefaultGrayFormula;
};

// Counts of one run, for callers that need them (the command line's exit
// status).
struct BatchSummary {
    std::size_t asked = 0;
    std::size_t processed = 0;
    std::size_t failed = 0;
};

// One file of a run's list: its name as the lines show it and, for a file
// found by a folder walk, the folder it was found in, held since: the file is
// then opened by its file-name part inside that folder only, wherever its
// name leads meanwhile.
struct BatchEntry {
    explicit BatchEntry(std::string fileName, std::shared_ptr<platform::HeldFolder> heldFolder = {})
        : name(std::move(fileName)), folder(std::move(heldFolder))
    {
    }
    operator const std::string &() const { return name; }

    std::string name;
    std::shared_ptr<platform::HeldFolder> folder;  // none for a name given
};

// The folder part of a name: everything up to and including the last "/".
std::string folderPart(const std::string &name);
// What follows the folder part.
std::string fileNamePart(const std::string &name);

// The result line texts.
std::string folderLine(const std::string &folder);
std::string processedLine(int mode, const std::string &fileName);
std::string changedLine(const std::string &fileName, picture::PixelFormat before, picture::PixelFormat after);
std::string failedLine(const std::string &fileName);

// What a file takes in memory while it is worked on, estimated from its size
// and the picture size its header declares; 0 for a name that isn't a file.
std::uint64_t memoryAtWork(const std::string &name);

// The processors this program may run on.
unsigned processorCount();

// Runs the batch over names, synchronously. A picture-format error gives the
// file a failed line and the run goes on; any other error calls
// reporter.abandoned() and leaves the run, passing the error on. After the
// last name reporter.finished() is called. `replace` chooses backups and kept
// times of the replaced files (none by default). The reporter and the asker
// are only ever called from the calling thread.
BatchSummary batchProcess(const std::vector<BatchEntry> &names, const BatchSettings &settings,
                          BatchAsker &asker, BatchReporter &reporter, const platform::ReplaceOptions &replace = {});
// The same for names given, each opened by its name.
BatchSummary batchProcess(const std::vector<std::string> &names, const BatchSettings &settings,
                          BatchAsker &asker, BatchReporter &reporter, const platform::ReplaceOptions &replace = {});

}  // namespace tovi::process
