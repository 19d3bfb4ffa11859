#pragma once
// The batch run: applies one processing mode to every picture file of a list,
// asking before each file, overwriting each file in place and reporting one
// line per folder change, processed file and failed file.
//
// The engine knows no window and no terminal. It asks through a BatchAsker
// (the confirmation dialog, or a prompt) and reports through a BatchReporter
// (the result window, or standard output).

#include <cstddef>
#include <string>
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

    // A name as the lines show it (a folder, or a file-name part).
    virtual std::string shownName(const std::string &name) const;
    // names[index] was replaced, and its `count` other names (hard links)
    // keep the old picture.
    virtual void otherLinksKept(const std::string &name, std::uint64_t count);
};

struct BatchSettings {
    int mode = kModeSwap;
    ColorRef color1 = 0x00FFFFFF;  // white
    ColorRef color2 = 0x00000000;  // black
};

// Counts of one run, for callers that need them (the command line's exit
// status).
struct BatchSummary {
    std::size_t asked = 0;
    std::size_t processed = 0;
    std::size_t failed = 0;
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

// Runs the batch over names, synchronously. A picture-format error gives the
// file a failed line and the run goes on; any other error calls
// reporter.abandoned() and leaves the run, passing the error on. After the
// last name reporter.finished() is called. `replace` chooses backups and kept
// times of the replaced files (none by default).
BatchSummary batchProcess(const std::vector<std::string> &names, const BatchSettings &settings,
                          BatchAsker &asker, BatchReporter &reporter, const platform::ReplaceOptions &replace = {});

}  // namespace tovi::process
