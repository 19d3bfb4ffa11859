#pragma once
// Inside the batch engine (batch.cpp, batch_file.cpp, batch_parallel.cpp):
// the work on one file and its result line, shared by the run that goes from
// file to file and the run that works on several at once.

#include <cstdint>
#include <memory>
#include <string>

#include "picture/bitmap.h"
#include "picture/pixel_format.h"
#include "platform/errors.h"
#include "platform/stream.h"
#include "process/batch.h"

namespace tovi::process::batchfile {

struct ResultLine {
    enum Kind { Normal, Changed, Failed } kind = Normal;
    std::string text;
    picture::PixelFormat before = picture::PixelFormat::Device;
    picture::PixelFormat after = picture::PixelFormat::Device;
    std::string reason;  // a failed file's picture-format error
    std::uint64_t otherLinks = 0;  // of a replaced file
    bool ownerChanged = false;     // of a replaced file
};

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

ResultLine failedResult(const std::string &fileName, const PictureFormatError &error);

// Reads, processes and writes back one file (batch_file.cpp tells how).
ResultLine processFile(picture::Bitmap &work, const BatchEntry &entry, const BatchSettings &settings,
                       const platform::ReplaceOptions &replace, const BatchReporter &reporter,
                       WrittenFile *deferred = nullptr, OpenedFile *opened = nullptr);

void report(BatchReporter &reporter, const std::string &name, const ResultLine &line);
void reportSkipped(BatchReporter &reporter, const std::string &name, BatchAnswer answer);
// Whether the line's file was replaced (or would be, in a dry run: no).
bool replaced(const ResultLine &line, const BatchSettings &settings);
void tally(BatchSummary &summary, const ResultLine &line);
// The folder line before a name whose folder differs from the previous one.
void reportFolder(BatchReporter &reporter, const std::string &name, std::string &previousFolder);

// What a file opened ahead takes at work (see memoryAtWork()).
std::uint64_t memoryAtWorkOf(const OpenedFile &file);

// After Yes to all: the names from `first` on, several at once
// (batch_parallel.cpp).
void workInParallel(const std::vector<BatchEntry> &names, const BatchSettings &settings,
                    const platform::ReplaceOptions &replace, BatchReporter &reporter, unsigned jobs,
                    std::size_t first, BatchSummary &summary, std::string &previousFolder, std::string &endedAt);

}  // namespace tovi::process::batchfile
