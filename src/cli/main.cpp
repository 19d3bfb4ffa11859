// tovi-batch: processes BMP files in place from a terminal or a script, with
// the same questions, result lines and failure rules as the window's batch run.

#include <sys/stat.h>

#include <clocale>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "cli/batch_options.h"
#include "cli/folder_walk.h"
#include "cli/terminal_batch.h"
#include "platform/errors.h"
#include "platform/stream.h"
#include "process/batch.h"

namespace {

using namespace tovi;

constexpr const char *kProgramName = "tovi-batch";
// The title line of a run that writes nothing, in place of the result title.
constexpr const char *kDryRunTitle = "Tovi for XP 連続処理の結果 (ドライラン: ファイルは書き換えていません)";

void printError(const std::string &message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", kProgramName, cli::escapedMessage(message).c_str());
}

// An error that ends the run names the file it happened on, unless its
// message does already (the file-open and file-create errors).
std::string inFile(const std::string &name, const std::string &message)
{
    return name.empty() || message.find(name) != std::string::npos ? message : name + ": " + message;
}

// Folders are refused before anything is done: the run would otherwise stop
// at the first one with a file-open error, part-way through the list.
bool refuseFolders(const std::vector<std::string> &files)
{
    bool refused = false;
    for (const auto &file : files) {
        struct stat info;
        if (::stat(file.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            printError("\"" + file + "\" はフォルダです。処理する画像ファイルを指定してください");
            refused = true;
        }
    }
    return refused;
}

bool isFolder(const std::string &name)
{
    struct stat info;
    return ::stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Full paths, as the window's open dialog hands them over, so that the folder
// lines read the same; with --recursive each folder gives the pictures under
// it. Sets unreadable when a folder couldn't be read.
std::vector<process::BatchEntry> namesToProcess(const cli::BatchOptions &options, bool &unreadable)
{
    // Always the file the system opens for the name given ("link/../x.bmp"
    // is the x.bmp beside the link's target).
    std::vector<process::BatchEntry> names;
    names.reserve(options.files.size());
    cli::WalkReports reports;
    reports.unreadable = [&](const std::string &folder, int code) {
        printError("フォルダ \"" + folder + "\" を読めません。" + systemErrorText(code));
        unreadable = true;
    };
    reports.linkNotFollowed = [](const std::string &link) {
        printError("\"" + link + "\" はシンボリックリンクです。辿りません");
    };
    // Every file under it was listed already: nothing is left out.
    reports.folderAgain = [](const std::string &folder, const std::string &sameAs) {
        printError("フォルダ \"" + folder + "\" は \"" + sameAs + "\" と同じフォルダです。二度は辿りません");
    };
    cli::FolderWalker walker(reports);
    for (const auto &file : options.files) {
        if (options.recursive && isFolder(file)) {
            walker.walk(platform::openedPathName(file), names);
        } else {
            names.emplace_back(platform::openedPathName(file));
        }
    }
    return names;
}

int run(const cli::BatchOptions &options)
{
    process::BatchSettings settings = options.settings;
    settings.dryRun = options.dryRun;

    cli::TerminalReporter textReporter(stdout, stderr);
    cli::JsonReporter jsonReporter(stdout, stderr, settings.mode);
    cli::TerminalReporter &reporter = options.json ? jsonReporter : textReporter;
    cli::TerminalAsker terminalAsker(stdin, stderr);
    struct : process::BatchAsker {
        process::BatchAnswer ask(const std::string &, const std::string &) override { return process::BatchAnswer::YesToAll; }
    } yesToAll;
    // A dry run asks nothing: it is the run of every file that it shows.
    const bool asks = !options.yesToAll && !options.dryRun;
    process::BatchAsker &asker = asks ? static_cast<process::BatchAsker &>(terminalAsker) : yesToAll;

    try {
        bool unreadable = false;
        const std::vector<process::BatchEntry> names = namesToProcess(options, unreadable);
        if (options.dryRun && !options.json)
            textReporter.printTitleLine(kDryRunTitle);
        else if (!options.json)
            reporter.printTitle();
        const auto summary = process::batchProcess(names, settings, asker, reporter, options.replace);
        return summary.failed > 0 || unreadable ? cli::kExitFailedFile : cli::kExitOk;
    } catch (const std::bad_alloc &) {
        printError(inFile(reporter.currentFile(), messages::kOutOfResources));
    } catch (const Error &error) {
        std::string message = error.what();
        if (!error.reason().empty())
            message += " (" + error.reason() + ")";
        printError(inFile(reporter.currentFile(), message));
    } catch (const std::exception &error) {
        printError(inFile(reporter.currentFile(), error.what()));
    }
    // Standard output failed after these were replaced: their lines are
    // missing, and they are not to be run again as if untouched.
    for (const auto &name : reporter.notReportedFiles())
        printError("\"" + name + "\" は処理済みですが、結果を標準出力に書けませんでした");
    return cli::kExitRunEnded;
}

}  // namespace

int main(int argc, char **argv)
{
    // The system's messages (strerror) in the user's language. Numbers are
    // written and read the same in every locale.
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    cli::BatchOptions options;
    try {
        options = cli::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const cli::UsageError &error) {
        printError(error.what());
        std::fprintf(stderr, "詳しくは %s --help を参照してください。\n", kProgramName);
        return cli::kExitUsage;
    }
    if (options.help) {
        std::fputs(cli::usageText().c_str(), stdout);
        return cli::kExitOk;
    }
    if (options.version) {
        std::printf("%s %s\n", kProgramName, TOVI_VERSION_STRING);
        return cli::kExitOk;
    }
    if (!options.recursive && refuseFolders(options.files))
        return cli::kExitUsage;
    // Ctrl+C in the middle of a file leaves that file as it was and no
    // temporary file beside it.
    platform::removeUnfinishedFilesOnSignals();
    return run(options);
}
