#include "process/batch.h"

#include <optional>

#include "picture/bitmap.h"
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
    enum Kind { Normal, Changed, Failed } kind;
    std::string text;
    std::uint64_t otherLinks = 0;  // of a replaced file
    std::string reason;  // of a failed file
};

// Reads, processes and writes back one file. A picture-format error anywhere on
// the way makes it a failed file; the file is then left as it was, since
// writing is the last step and replaces the file only when it completes. The
// file is held from reading to replacing, so what is replaced is what was read.
ResultLine processFile(picture::Bitmap &work, const std::string &name, const BatchSettings &settings,
                       const platform::ReplaceOptions &replace, const BatchReporter &reporter)
{
    const std::string fileName = reporter.shownName(fileNamePart(name));
    try {
        platform::HeldFile file(name);
        work.loadFromStream(file);
        const picture::PixelFormat before = work.pixelFormat();
        processColors(work, settings.mode, settings.color1, settings.color2);
        platform::SafeFileWriter writer(file, replace);
        work.saveToStream(writer);
        writer.commit();
        const picture::PixelFormat after = work.pixelFormat();
        if (after == before)
            return {ResultLine::Normal, processedLine(settings.mode, fileName), file.otherLinks(), {}};
        return {ResultLine::Changed, changedLine(fileName, before, after), file.otherLinks(), {}};
    } catch (const PictureFormatError &error) {
        return {ResultLine::Failed, failedLine(fileName), 0, error.reason()};
    }
}

void report(BatchReporter &reporter, const ResultLine &line)
{
    switch (line.kind) {
    case ResultLine::Normal:
        reporter.addNormalLine(line.text);
        break;
    case ResultLine::Changed:
        reporter.addChangedLine(line.text);
        break;
    case ResultLine::Failed:
        reporter.addFailedLine(line.text);
        break;
    }
}

}  // namespace

void BatchReporter::refused(const std::string &, const std::string &) {}
void BatchReporter::processing(std::size_t, std::size_t, const std::string &) {}
void BatchReporter::finished() {}
void BatchReporter::abandoned() {}
std::string BatchReporter::shownName(const std::string &name) const { return name; }
void BatchReporter::otherLinksKept(const std::string &, std::uint64_t) {}

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
    BatchSummary summary;
    // One work picture for the whole run: each load replaces its whole content.
    picture::Bitmap work;
    std::string previousFolder;
    std::optional<BatchAnswer> answer;
    const std::size_t count = names.size();

    try {
        for (std::size_t i = 0; i < count; ++i) {
            const std::string &name = names[i];
            const std::string folder = folderPart(name);
            // Also for files that end up skipped, so that after Abort the
            // folders of the remaining names still show.
            if (folder != previousFolder) {
                previousFolder = folder;
                reporter.addNormalLine(folderLine(reporter.shownName(folder)));
            }
            if (asksAgain(answer)) {
                answer = asker.ask(fileNamePart(name), name);
                ++summary.asked;
            }
            if (!processesFile(*answer))
                continue;
            reporter.processing(i, count, name);
            const ResultLine line = processFile(work, name, settings, replace, reporter);
            if (line.kind == ResultLine::Failed)
                ++summary.failed;
            else
                ++summary.processed;
            report(reporter, line);
            if (line.otherLinks > 0)
                reporter.otherLinksKept(name, line.otherLinks);
            if (line.kind == ResultLine::Failed)
                reporter.refused(name, line.reason);
        }
    } catch (...) {
        reporter.abandoned();
        throw;
    }
    reporter.finished();
    return summary;
}

}  // namespace tovi::process
