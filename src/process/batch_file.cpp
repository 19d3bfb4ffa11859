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
    const std::size_t got = file.peek(start, sizeof start);
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

// The most a file's picture takes per pixel while it is worked on: its own
// raster (at most 32 bits) and the 24-bit copy the colour operations rewrite,
// rounded up.
constexpr std::uint64_t kBytesPerPixelAtWork = 8;
// Past any picture the reader accepts; keeps the product far from overflow.
constexpr std::uint64_t kMaxCountedPixels = std::uint64_t{1} << 36;

}  // namespace

ResultLine failedResult(const std::string &fileName, const PictureFormatError &error)
{
    return {ResultLine::Failed, failedLine(fileName), {}, {}, error.reason().empty() ? error.what() : error.reason(), 0};
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
                       WrittenFile *deferred, OpenedFile *opened)
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

}  // namespace tovi::process::batchfile
