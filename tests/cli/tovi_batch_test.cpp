// tovi-batch end to end: the built program run on files written by the test,
// checking its exit status, what it prints and what it leaves on disk.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <utility>

#include "process/color_modes.h"
#include "support/test_support.h"
#include "support/tiny_bmp.h"

namespace tovi::cli {
namespace {

using test::Bytes;
using test::TempDir;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

struct RunOptions {
    std::string input;           // standard input
    std::string folder;          // the current folder, when not empty
    bool errorOnTerminal = false;  // standard error on a pseudo-terminal
    std::string output;          // standard output into this file instead
};

RunOptions withInput(std::string input)
{
    RunOptions options;
    options.input = std::move(input);
    return options;
}

RunOptions inFolder(std::string folder)
{
    RunOptions options;
    options.folder = std::move(folder);
    return options;
}

RunOptions withErrorOnTerminal()
{
    RunOptions options;
    options.errorOnTerminal = true;
    return options;
}

std::string readAll(int fd)
{
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            return text;
        text.append(buffer, std::size_t(got));
    }
}

// Runs the program with standard input, output and error in files (or error
// on a pseudo-terminal), so that no pipe can fill up while we wait.
Result runBatch(const std::vector<std::string> &arguments, const RunOptions &options = {})
{
    TempDir io;
    test::writeFile(io.file("in"), options.input);
    int terminal = -1;
    std::string terminalName;
    if (options.errorOnTerminal) {
        terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(terminal, 0);
        EXPECT_EQ(::grantpt(terminal), 0);
        EXPECT_EQ(::unlockpt(terminal), 0);
        terminalName = ::ptsname(terminal);
    }
    const pid_t child = ::fork();
    if (child == 0) {
        const int in = ::open(io.file("in").c_str(), O_RDONLY);
        const std::string outName = options.output.empty() ? io.file("out") : options.output;
        const int out = ::open(outName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = options.errorOnTerminal ? ::open(terminalName.c_str(), O_RDWR | O_NOCTTY)
                                                : ::open(io.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
            ::_exit(120);
        if (!options.folder.empty() && ::chdir(options.folder.c_str()) != 0)
            ::_exit(121);
        std::vector<char *> argv{const_cast<char *>(TOVI_BATCH_PROGRAM)};
        for (const auto &argument : arguments)
            argv.push_back(const_cast<char *>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(122);
    }
    Result result;
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (options.output.empty()) {
        const Bytes out = test::readFile(io.file("out"));
        result.out.assign(out.begin(), out.end());
    }
    if (options.errorOnTerminal) {
        ::fcntl(terminal, F_SETFL, O_NONBLOCK);
        result.err = readAll(terminal);
        ::close(terminal);
    } else {
        const Bytes err = test::readFile(io.file("err"));
        result.err.assign(err.begin(), err.end());
    }
    return result;
}

const std::string kTitle = "Tovi for XP 連続処理の結果\n";
const std::string kSwapped = "色交換モード処理しました:\t";

// A 4 x 1 picture: white, black, and two colours that only some modes change.
Bytes samplePicture() { return test::bmp24(4, 1, {0xFFFFFF, 0x000000, 0x0A141E, 0xFFFFFE}); }
const Bytes kSwappedPixels = test::bgrBytes({0x000000, 0xFFFFFF, 0x0A141E, 0xFFFFFE});

class ToviBatchTest : public testing::Test {
protected:
    std::string add(const std::string &relative, const Bytes &content = samplePicture())
    {
        return m_dir.write(relative, content);
    }
    std::string path(const std::string &relative = "") const { return m_dir.file(relative); }
    std::string folderLine(const std::string &relative = "") const { return "フォルダ:\t" + path(relative) + "\n"; }
    Bytes pixelsOf(const std::string &name) const { return test::pixelBytes(test::readFile(name)); }
    bool unchanged(const std::string &name) const { return test::readFile(name) == samplePicture(); }

    TempDir m_dir;
};

// ---------------------------------------------------------------------------
// Information and usage errors

TEST_F(ToviBatchTest, VersionAndHelp)
{
    const auto version = runBatch({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "tovi-batch 1.4.3.11\n");
    const auto help = runBatch({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char *option : {"--mode", "--color1", "--color2", "--yes", "--version", "invert-gray"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    // Every mode of the table, with the name its result lines carry, and each
    // taken by --mode.
    const auto name = add("p.bmp");
    for (const process::ModeInfo &mode : process::kModes) {
        const std::string line = std::string(mode.commandName) + " ";
        EXPECT_NE(help.out.find(line), std::string::npos) << line;
        EXPECT_NE(help.out.find(mode.resultName), std::string::npos) << mode.resultName;
        const auto result = runBatch({"--mode", std::string(mode.commandName), "--yes", name});
        EXPECT_EQ(result.out, kTitle + folderLine() + std::string(mode.resultName) + "処理しました:\tp.bmp\n");
    }
}

TEST_F(ToviBatchTest, UsageErrorsExitWith64AndTouchNothing)
{
    const auto name = add("p.bmp");
    const std::vector<std::vector<std::string>> wrong{
        {},          {"--yes"}, {"--frobnicate", name}, {"--mode", "negate", name}, {"--mode"},
        {"--color1", "#12345", name}, {"--color2=red", name}, {"--color1", "#12345G", name}, {"--yes=1", name},
    };
    for (const auto &arguments : wrong) {
        const auto result = runBatch(arguments);
        const std::string shown = arguments.empty() ? "(none)" : arguments.front();
        EXPECT_EQ(result.status, 64) << shown;
        EXPECT_EQ(result.out, "") << shown;
        EXPECT_TRUE(result.err.starts_with("tovi-batch: ")) << shown;
        EXPECT_NE(result.err.find("--help"), std::string::npos) << shown;
    }
    EXPECT_TRUE(unchanged(name));
}

TEST_F(ToviBatchTest, AFolderIsRefusedBeforeAnythingIsDone)
{
    const auto first = add("p.bmp");
    std::filesystem::create_directories(path("pictures"));
    const auto result = runBatch({"--yes", first, path("pictures")});
    EXPECT_EQ(result.status, 64);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "tovi-batch: \"" + path("pictures") + "\" はフォルダです。処理する画像ファイルを指定してください\n");
    EXPECT_TRUE(unchanged(first));
}

// ---------------------------------------------------------------------------
// Runs without questions

TEST_F(ToviBatchTest, YesProcessesEveryFileAndPrintsTheResultLines)
{
    const auto one = add("a/1.bmp");
    const auto two = add("a/2.bmp");
    const auto three = add("b/3.bmp");
    const auto result = runBatch({"--yes", one, two, three});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, kTitle + folderLine("a/") + kSwapped + "1.bmp\n" + kSwapped + "2.bmp\n" + folderLine("b/") +
                              kSwapped + "3.bmp\n");
    EXPECT_EQ(result.err, "");  // no progress: standard error is no terminal
    for (const auto &name : {one, two, three})
        EXPECT_EQ(pixelsOf(name), kSwappedPixels) << name;
}

TEST_F(ToviBatchTest, ModesAndColoursFromTheCommandLine)
{
    const auto name = add("p.bmp");
    const std::pair<const char *, const char *> modes[]{
        {"swap", "色交換モード"}, {"invert", "色反転モード"}, {"gray", "グレースケール化"}, {"invert-gray", "反転グレースケール化"}};
    for (const auto &[option, modeName] : modes) {
        const auto result = runBatch({"--mode", option, "--yes", name});
        EXPECT_EQ(result.out, kTitle + folderLine() + modeName + "処理しました:\tp.bmp\n");
    }
    // After swap, invert, gray and invert-gray, one after the other.
    EXPECT_EQ(pixelsOf(name), test::bgrBytes({0x000000, 0xFFFFFF, 0x141414, 0xFFFFFF}));

    add("p.bmp");
    const auto result = runBatch({"--color1=#0a141E", "--color2", "#FFFFFF", "-y", name});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(pixelsOf(name), test::bgrBytes({0x0A141E, 0x000000, 0xFFFFFF, 0xFFFFFE}));
}

TEST_F(ToviBatchTest, RelativeAndNonBmpNamesAreProcessedUnderTheirFullFolder)
{
    const auto name = add("sub/picture.dat");
    const auto result = runBatch({"-y", "--", "sub/../sub/picture.dat"}, inFolder(path()));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, kTitle + folderLine("sub/") + kSwapped + "picture.dat\n");
    EXPECT_EQ(pixelsOf(name), kSwappedPixels);
}

TEST_F(ToviBatchTest, ProgressShowsOnATerminal)
{
    const auto one = add("1.bmp");
    const auto two = add("2.bmp");
    const auto result = runBatch({"-y", one, two}, withErrorOnTerminal());
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.err.find("1/2 " + one), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("2/2 " + two), std::string::npos) << result.err;
    EXPECT_EQ(result.out.find("1/2"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Questions on the terminal

TEST_F(ToviBatchTest, NoThenYesToAllAsksTwice)
{
    const auto one = add("1.bmp");
    const auto two = add("2.bmp");
    const auto three = add("3.bmp");
    const auto result = runBatch({one, two, three}, withInput("x\nn\nA\n"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, kTitle + folderLine() + kSwapped + "2.bmp\n" + kSwapped + "3.bmp\n");
    EXPECT_TRUE(unchanged(one));
    EXPECT_EQ(pixelsOf(two), kSwappedPixels);
    EXPECT_EQ(pixelsOf(three), kSwappedPixels);
    const std::string question = "現在の設定で画像処理し、上書きします. ";
    EXPECT_EQ(result.err, question + one + " [y/n/a/A]: x\n" +
                              "y (はい), n (いいえ), a (中止), A (すべてはい) のいずれかを入力してください。\n" +
                              question + one + " [y/n/a/A]: n\n" + question + two + " [y/n/a/A]: A\n");
}

TEST_F(ToviBatchTest, AbortAtTheFirstFileStillListsTheFolders)
{
    const auto one = add("a/1.bmp");
    const auto two = add("b/2.bmp");
    const auto result = runBatch({one, two}, withInput("a\n"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, kTitle + folderLine("a/") + folderLine("b/"));
    EXPECT_TRUE(unchanged(one));
    EXPECT_TRUE(unchanged(two));
}

TEST_F(ToviBatchTest, TheEndOfInputSkipsTheRemainingFiles)
{
    const auto one = add("1.bmp");
    const auto two = add("2.bmp");
    const auto result = runBatch({one, two}, withInput("y"));  // no line feed, then the end
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(pixelsOf(one), kSwappedPixels);
    EXPECT_TRUE(unchanged(two));
    EXPECT_EQ(result.out, kTitle + folderLine() + kSwapped + "1.bmp\n");
}

// ---------------------------------------------------------------------------
// Failed files and errors

TEST_F(ToviBatchTest, AFileThatIsNoPictureGetsAFailedLineAndExitStatus1)
{
    const Bytes text(40, 'x');
    const auto bad = add("notes.bmp", text);
    const auto good = add("good.bmp");
    const auto result = runBatch({"-y", bad, good});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, kTitle + folderLine() + "処理できませんでした:\tnotes.bmp\t未サポートフォーマット\n" + kSwapped +
                              "good.bmp\n");
    EXPECT_EQ(test::readFile(bad), text);
    EXPECT_EQ(pixelsOf(good), kSwappedPixels);
}

TEST_F(ToviBatchTest, AReadOnlyFileEndsTheRunWithExitStatus2)
{
    const auto one = add("1.bmp");
    const auto locked = add("2.bmp");
    const auto three = add("3.bmp");
    ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
    const auto result = runBatch({"-y", one, locked, three});
    EXPECT_EQ(result.status, 2);
    // What was done before the error is still on record.
    EXPECT_EQ(result.out, kTitle + folderLine() + kSwapped + "1.bmp\n");
    EXPECT_EQ(result.err, "tovi-batch: ファイル \"" + locked + "\" を作成できません。Permission denied\n");
    EXPECT_EQ(pixelsOf(one), kSwappedPixels);
    EXPECT_TRUE(unchanged(locked));
    EXPECT_TRUE(unchanged(three));
    EXPECT_EQ(test::listFolder(path()), (std::vector<std::string>{"1.bmp", "2.bmp", "3.bmp"}));
}

TEST_F(ToviBatchTest, AResultThatCantBeWrittenEndsTheRunBeforeAnyFileIsTouched)
{
    const auto name = add("1.bmp");
    RunOptions options;
    options.output = "/dev/full";
    const auto result = runBatch({"-y", name}, options);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "tovi-batch: 標準出力に書き込めません。No space left on device\n");
    EXPECT_TRUE(unchanged(name));
}

}  // namespace
}  // namespace tovi::cli
