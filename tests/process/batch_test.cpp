#include "process/batch.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "picture/bitmap.h"
#include "picture/pixel_format.h"
#include "process/color_ops.h"
#include "platform/errors.h"
#include "platform/files/system_calls.h"
#include "platform/stream.h"
#include "support/test_support.h"
#include "support/tiny_bmp.h"

namespace tovi::process {
namespace {

using test::Bytes;
using test::TempDir;
using Lines = std::vector<std::string>;

// Gives the scripted answers in order; a question beyond the script is a test
// failure (answered Closed).
class ScriptedAsker : public BatchAsker {
public:
    explicit ScriptedAsker(std::deque<BatchAnswer> answers) : m_answers(std::move(answers)) {}
    BatchAnswer ask(const std::string &fileName, const std::string &name) override
    {
        asked.push_back(fileName);
        names.push_back(name);
        if (m_answers.empty()) {
            ADD_FAILURE() << "unexpected question for " << name;
            return BatchAnswer::Closed;
        }
        const BatchAnswer answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }

    Lines asked;
    Lines names;

private:
    std::deque<BatchAnswer> m_answers;
};

// Records every line with its kind: "N " normal, "C " changed, "F " failed.
class RecordingReporter : public BatchReporter {
public:
    void addNormalLine(const std::string &line) override { lines.push_back("N " + line); }
    void addChangedLine(const std::string &line) override { lines.push_back("C " + line); }
    void addFailedLine(const std::string &line) override { lines.push_back("F " + line); }
    void processing(std::size_t index, std::size_t count, const std::string &name) override
    {
        progress.push_back(std::to_string(index + 1) + "/" + std::to_string(count) + " " + name);
        ++started;
        notOnTheRunsThread += std::this_thread::get_id() != m_thread;
    }
    void finished() override { ++finishedCalls; }
    void abandoned() override { ++abandonedCalls; }
    void otherLinksKept(const std::string &name, std::uint64_t count) override
    {
        notes.push_back(name + " " + std::to_string(count));
    }
    void fileDone(const FileResult &result) override
    {
        done.push_back(result.name);
        if (result.outcome != FileOutcome::Skipped)
            mostInFlight = std::max(mostInFlight, started - reported++);
        notOnTheRunsThread += std::this_thread::get_id() != m_thread;
    }

    Lines lines;
    Lines notes;
    Lines progress;
    Lines done;
    int finishedCalls = 0;
    int abandonedCalls = 0;
    // Files started and not yet reported, at most, as seen from here.
    int started = 0;
    int reported = 0;
    int mostInFlight = 0;
    int notOnTheRunsThread = 0;

private:
    std::thread::id m_thread = std::this_thread::get_id();
};

constexpr BatchAnswer Yes = BatchAnswer::Yes;
constexpr BatchAnswer No = BatchAnswer::No;
constexpr BatchAnswer Abort = BatchAnswer::Abort;
constexpr BatchAnswer YesToAll = BatchAnswer::YesToAll;
constexpr BatchAnswer Closed = BatchAnswer::Closed;

const std::string kSwapped = "色交換モード処理しました:\t";

// A 4 x 1 picture (rows of 12 bytes, no padding to ignore): white, black and
// two colours that only some modes change.
Bytes samplePicture() { return test::bmp24(4, 1, {0xFFFFFF, 0x000000, 0x0A141E, 0xFFFFFE}); }

// Writes the sample picture under each name; returns the full names.
std::vector<std::string> writeSamples(const TempDir &dir, std::initializer_list<const char *> relatives)
{
    std::vector<std::string> names;
    for (const char *relative : relatives)
        names.push_back(dir.write(relative, samplePicture()));
    return names;
}

const Bytes kSwappedPixels = test::bgrBytes({0x000000, 0xFFFFFF, 0x0A141E, 0xFFFFFE});

// One run with a scripted asker and a recording reporter.
struct BatchRun {
    explicit BatchRun(std::deque<BatchAnswer> answers) : asker(std::move(answers)) {}
    BatchSummary operator()(const std::vector<std::string> &names, const BatchSettings &settings = {})
    {
        return batchProcess(names, settings, asker, reporter);
    }

    ScriptedAsker asker;
    RecordingReporter reporter;
};

TEST(BatchTextTest, NamesSplitAtTheLastSlashOnly)
{
    EXPECT_EQ(folderPart("/home/u/1.bmp"), "/home/u/");
    EXPECT_EQ(fileNamePart("/home/u/1.bmp"), "1.bmp");
    EXPECT_EQ(folderPart("1.bmp"), "");
    EXPECT_EQ(fileNamePart("1.bmp"), "1.bmp");
    EXPECT_EQ(folderPart("/写真/C:\\a\\1.bmp"), "/写真/");
    EXPECT_EQ(fileNamePart("/写真/C:\\a\\1.bmp"), "C:\\a\\1.bmp");
}

TEST(BatchTextTest, LineTexts)
{
    EXPECT_STREQ(kBatchResultTitle, "Tovi for XP 連続処理の結果");
    EXPECT_EQ(folderLine("/home/u/"), "フォルダ:\t/home/u/");
    EXPECT_EQ(processedLine(kModeInvertGray, "1.bmp"), "反転グレースケール化処理しました:\t1.bmp");
    EXPECT_EQ(changedLine("x.bmp", picture::PixelFormat::Bit8, picture::PixelFormat::Bit24),
              "フォーマット変更しました:\tx.bmp\t8bit : 256色 ビットマップ → 24bit : TrueColorビットマップ");
    EXPECT_EQ(failedLine("x.bmp"), "処理できませんでした:\tx.bmp\t未サポートフォーマット");
}

// ---------------------------------------------------------------------------
// Questions and answers (nothing is processed: no file needs to exist)

TEST(BatchAnswerTest, FolderLinesComeBeforeTheQuestionAndAlsoForSkippedFiles)
{
    BatchRun run({No, Closed, No});
    run({"/c/a/1.bmp", "/c/a/2.bmp", "/c/b/3.bmp"});
    EXPECT_EQ(run.asker.asked, (Lines{"1.bmp", "2.bmp", "3.bmp"}));
    EXPECT_EQ(run.asker.names, (Lines{"/c/a/1.bmp", "/c/a/2.bmp", "/c/b/3.bmp"}));
    EXPECT_EQ(run.reporter.lines, (Lines{"N フォルダ:\t/c/a/", "N フォルダ:\t/c/b/"}));
    EXPECT_TRUE(run.reporter.progress.empty());
    EXPECT_EQ(run.reporter.finishedCalls, 1);
}

TEST(BatchAnswerTest, FolderComparisonIsByteExactAndCaseSensitive)
{
    BatchRun run({No, No});
    run({"/C/A/x.bmp", "/c/a/y.bmp"});
    EXPECT_EQ(run.reporter.lines, (Lines{"N フォルダ:\t/C/A/", "N フォルダ:\t/c/a/"}));

    BatchRun again({No, No, No});
    again({"/c/a/x.bmp", "/c/b/y.bmp", "/c/a/z.bmp"});
    EXPECT_EQ(again.reporter.lines, (Lines{"N フォルダ:\t/c/a/", "N フォルダ:\t/c/b/", "N フォルダ:\t/c/a/"}));
}

TEST(BatchAnswerTest, AbortSkipsEveryLaterFileButStillShowsItsFolders)
{
    BatchRun run({Abort});
    const auto summary = run({"/c/a/1.bmp", "/c/a/2.bmp", "/c/b/3.bmp"});
    EXPECT_EQ(run.asker.asked, Lines{"1.bmp"});
    EXPECT_EQ(run.reporter.lines, (Lines{"N フォルダ:\t/c/a/", "N フォルダ:\t/c/b/"}));
    EXPECT_EQ(summary.processed, 0u);
    EXPECT_EQ(summary.asked, 1u);
    EXPECT_EQ(run.reporter.finishedCalls, 1);
}

// ---------------------------------------------------------------------------
// Processing files

TEST(BatchProcessingTest, ThreeFilesInTwoFoldersAllAnsweredYes)
{
    TempDir pics;
    const auto names = writeSamples(pics, {"a/1.bmp", "a/2.bmp", "b/3.bmp"});
    BatchRun run({Yes, Yes, Yes});
    const auto summary = run(names);
    EXPECT_EQ(run.reporter.lines, (Lines{
                                      "N フォルダ:\t" + pics.file("a/"),
                                      "N " + kSwapped + "1.bmp",
                                      "N " + kSwapped + "2.bmp",
                                      "N フォルダ:\t" + pics.file("b/"),
                                      "N " + kSwapped + "3.bmp",
                                  }));
    for (const auto &name : names)
        EXPECT_EQ(test::pixelBytes(test::readFile(name)), kSwappedPixels) << name;
    EXPECT_EQ(summary.processed, 3u);
    EXPECT_EQ(summary.failed, 0u);
    EXPECT_EQ(run.reporter.progress, (Lines{"1/3 " + names[0], "2/3 " + names[1], "3/3 " + names[2]}));
    EXPECT_EQ(run.reporter.finishedCalls, 1);
    EXPECT_EQ(run.reporter.abandonedCalls, 0);
}

TEST(BatchProcessingTest, NoThenYesToAllAsksTwiceAndProcessesTheRest)
{
    TempDir pics;
    const auto names = writeSamples(pics, {"a/1.bmp", "a/2.bmp", "b/3.bmp"});
    BatchRun run({No, YesToAll});
    run(names);
    EXPECT_EQ(run.asker.asked, (Lines{"1.bmp", "2.bmp"}));
    EXPECT_EQ(test::readFile(names[0]), samplePicture());
    EXPECT_EQ(test::pixelBytes(test::readFile(names[1])), kSwappedPixels);
    EXPECT_EQ(test::pixelBytes(test::readFile(names[2])), kSwappedPixels);
    EXPECT_EQ(run.reporter.lines, (Lines{
                                      "N フォルダ:\t" + pics.file("a/"),
                                      "N " + kSwapped + "2.bmp",
                                      "N フォルダ:\t" + pics.file("b/"),
                                      "N " + kSwapped + "3.bmp",
                                  }));
    EXPECT_EQ(run.reporter.progress, (Lines{"2/3 " + names[1], "3/3 " + names[2]}));
}

struct ModeCase {
    int mode;
    const char *name;
    Bytes pixels;
};

void PrintTo(const ModeCase &mode, std::ostream *out) { *out << mode.name; }

class BatchModeTest : public testing::TestWithParam<ModeCase> {};

TEST_P(BatchModeTest, EachModeRewritesThePixelsAndNamesItself)
{
    TempDir pics;
    const auto name = pics.write("p.bmp", samplePicture());
    BatchSettings settings;
    settings.mode = GetParam().mode;
    BatchRun run({Yes});
    run({name}, settings);
    ASSERT_EQ(run.reporter.lines.size(), 2u);
    EXPECT_EQ(run.reporter.lines[1], std::string("N ") + GetParam().name + "処理しました:\tp.bmp");
    EXPECT_EQ(test::pixelBytes(test::readFile(name)), GetParam().pixels);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, BatchModeTest,
    testing::Values(ModeCase{kModeSwap, "色交換モード", kSwappedPixels},
                    ModeCase{kModeInvert, "色反転モード", test::bgrBytes({0x000000, 0xFFFFFF, 0xF5EBE1, 0x000001})},
                    ModeCase{kModeGray, "グレースケール化", test::bgrBytes({0xFFFFFF, 0x000000, 0x141414, 0xFEFEFE})},
                    ModeCase{kModeInvertGray, "反転グレースケール化", test::bgrBytes({0x000000, 0xFFFFFF, 0xEBEBEB, 0x010101})}));

TEST(BatchProcessingTest, ABlackAndWhitePictureStaysOneBitAndBecomesItsNegative)
{
    TempDir pics;
    std::vector<int> bits(32);
    for (std::size_t i = 0; i < bits.size(); ++i)
        bits[i] = int(i % 3 == 0);
    const auto name = pics.write("mono.bmp", test::bmp1(32, 1, bits));
    BatchRun run({Yes});
    run({name});
    EXPECT_EQ(run.reporter.lines.back(), "N " + kSwapped + "mono.bmp");
    const Bytes written = test::readFile(name);
    ASSERT_GT(written.size(), 28u);
    EXPECT_EQ(written[28], 1) << "bits per pixel";
    Bytes negative = test::pixelBytes(test::bmp1(32, 1, bits));
    for (auto &byte : negative)
        byte = std::uint8_t(~byte);
    EXPECT_EQ(test::pixelBytes(written), negative);
}

// A run-length file is written with its own runs and the pixels the whole
// pipeline gives, one after the other and several at once.
TEST(BatchProcessingTest, ARunLengthFileKeepsItsRunsAndGetsThePipelinesPixels)
{
    const Bytes original = test::readFile(std::string(TOVI_TEST_FILES_DIR) + "/magick-pal8rle.bmp");
    picture::Bitmap expected;
    platform::MemoryStream in(original);
    expected.loadFromStream(in);
    processColors(expected, kModeInvert, 0x00FFFFFF, 0);
    for (const BatchAnswer answer : {Yes, YesToAll}) {
        TempDir pics;
        const std::vector<std::string> names = {pics.write("a.bmp", original), pics.write("b.bmp", original)};
        BatchRun run({answer, Yes});
        BatchSettings settings;
        settings.mode = kModeInvert;
        run(names, settings);
        EXPECT_EQ(run.reporter.lines.back(), "N 色反転モード処理しました:\tb.bmp");
        for (const std::string &name : names) {
            const Bytes written = test::readFile(name);
            EXPECT_EQ(written.size(), original.size());
            picture::Bitmap read;
            platform::MemoryStream back(written);
            read.loadFromStream(back);
            ASSERT_TRUE(read.fileExtras());
            EXPECT_EQ(read.fileExtras()->runLengthIndices, [&] {
                platform::MemoryStream encoded;
                expected.saveToStream(encoded);
                picture::Bitmap again;
                encoded.seek(0);
                again.loadFromStream(encoded);
                return again.fileExtras()->runLengthIndices;
            }());
        }
    }
}

TEST(BatchProcessingTest, ANonPictureGetsAFailedLineIsLeftAsItWasAndTheRunGoesOn)
{
    TempDir pics;
    const Bytes notAPicture = {'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const auto names = writeSamples(pics, {"1.bmp", "zip.bmp", "3.bmp"});
    pics.write("zip.bmp", notAPicture);
    BatchRun run({Yes, Yes, Yes});
    const auto summary = run(names);
    EXPECT_EQ(run.reporter.lines, (Lines{
                                      "N フォルダ:\t" + pics.file(""),
                                      "N " + kSwapped + "1.bmp",
                                      "F 処理できませんでした:\tzip.bmp\t未サポートフォーマット",
                                      "N " + kSwapped + "3.bmp",
                                  }));
    // Neither written with the previous file's picture nor emptied.
    EXPECT_EQ(test::readFile(names[1]), notAPicture);
    EXPECT_EQ(test::pixelBytes(test::readFile(names[2])), kSwappedPixels);
    EXPECT_EQ(run.asker.asked.size(), 3u);
    EXPECT_EQ(summary.failed, 1u);
    EXPECT_EQ(summary.processed, 2u);
    EXPECT_EQ(test::listFolder(pics.path()), (Lines{"1.bmp", "3.bmp", "zip.bmp"}));
}

TEST(BatchProcessingTest, AnEmptyFileIsProcessedAndStaysEmpty)
{
    TempDir pics;
    const auto name = pics.write("empty.bmp", Bytes{});
    BatchRun run({Yes});
    run({name});
    EXPECT_EQ(run.reporter.lines.back(), "N " + kSwapped + "empty.bmp");
    EXPECT_TRUE(test::fileExists(name));
    EXPECT_EQ(test::readFile(name).size(), 0u);
}

// ---------------------------------------------------------------------------
// Errors other than the picture-format error end the run

template <typename ErrorType>
std::string runUntilError(BatchRun &run, const std::vector<std::string> &names, const BatchSettings &settings = {})
{
    try {
        run(names, settings);
    } catch (const ErrorType &error) {
        return error.what();
    } catch (const std::exception &error) {
        ADD_FAILURE() << "other error: " << error.what();
        return {};
    }
    ADD_FAILURE() << "the run ended without an error";
    return {};
}

TEST(BatchErrorTest, AFileShorterThanItsHeadersIsAFailedFileAndTheRunGoesOn)
{
    const Bytes whole = samplePicture();
    Bytes hugeHeader(whole.begin(), whole.begin() + 54);
    hugeHeader[14] = 0xF0;  // a header of 0x7FFFFFF0 bytes
    hugeHeader[15] = hugeHeader[16] = 0xFF;
    hugeHeader[17] = 0x7F;
    Bytes v4Header(whole.begin(), whole.begin() + 54);
    v4Header[14] = 108;
    const std::vector<Bytes> cuts{Bytes(whole.begin(), whole.begin() + 2),  Bytes(whole.begin(), whole.begin() + 12),
                                  Bytes(whole.begin(), whole.begin() + 20), Bytes(whole.begin(), whole.begin() + 40),
                                  v4Header, hugeHeader};
    for (const unsigned jobs : {1u, 4u}) {
        TempDir pics;
        std::vector<std::string> names{pics.write("0.bmp", whole)};
        for (std::size_t i = 0; i < cuts.size(); ++i)
            names.push_back(pics.write("cut" + std::to_string(i) + ".bmp", cuts[i]));
        names.push_back(pics.write("z.bmp", whole));
        struct : RecordingReporter {
            void refused(const std::string &, const std::string &reason) override { reasons.push_back(reason); }
            Lines reasons;
        } reporter;
        ScriptedAsker asker({YesToAll});
        BatchSettings settings;
        settings.jobs = jobs;
        const BatchSummary summary = batchProcess(names, settings, asker, reporter);
        EXPECT_EQ(summary.failed, cuts.size());
        EXPECT_EQ(reporter.finishedCalls, 1);
        ASSERT_EQ(reporter.lines.size(), cuts.size() + 3);
        EXPECT_EQ(reporter.lines.back(), "N " + kSwapped + "z.bmp");
        for (std::size_t i = 0; i < cuts.size(); ++i) {
            EXPECT_EQ(reporter.lines[i + 2], "F 処理できませんでした:\tcut" + std::to_string(i) + ".bmp\t未サポートフォーマット");
            EXPECT_EQ(test::readFile(names[i + 1]), cuts[i]);
        }
        ASSERT_EQ(reporter.reasons.size(), cuts.size());
        EXPECT_EQ(reporter.reasons[2], "the file ends inside its 40-byte header");
        EXPECT_EQ(reporter.reasons[5], "the file ends inside its 2147483632-byte header");
        EXPECT_EQ(test::pixelBytes(test::readFile(names.back())), kSwappedPixels);
    }
}

TEST(BatchErrorTest, AReadOnlyFileEndsTheRunAndKeepsItsContent)
{
    TempDir pics;
    const auto names = writeSamples(pics, {"1.bmp", "locked.bmp", "3.bmp"});
    ASSERT_EQ(::chmod(names[1].c_str(), 0444), 0);
    BatchRun run({Yes, Yes, Yes});
    EXPECT_EQ(runUntilError<FileCreateError>(run, names),
              "ファイル \"" + names[1] + "\" を作成できません。Permission denied");
    EXPECT_EQ(run.asker.asked, (Lines{"1.bmp", "locked.bmp"}));
    EXPECT_EQ(run.reporter.abandonedCalls, 1);
    EXPECT_EQ(run.reporter.finishedCalls, 0);
    EXPECT_EQ(test::pixelBytes(test::readFile(names[0])), kSwappedPixels);
    EXPECT_EQ(test::readFile(names[1]), samplePicture());
    EXPECT_EQ(test::readFile(names[2]), samplePicture());
    EXPECT_EQ(test::listFolder(pics.path()), (Lines{"1.bmp", "3.bmp", "locked.bmp"}));
}

// ---------------------------------------------------------------------------
// The file read is the file replaced

TEST(BatchReplaceTest, AFileAnotherRunHoldsEndsTheRunAsInUse)
{
    TempDir pics;
    const auto names = writeSamples(pics, {"1.bmp", "2.bmp"});
    platform::HeldFile otherRun(names[0]);
    BatchRun run({YesToAll});
    BatchSettings oneJob;
    oneJob.jobs = 1;
    EXPECT_EQ(runUntilError<FileCreateError>(run, names, oneJob),
              "ファイル \"" + names[0] + "\" を作成できません。Resource temporarily unavailable");
    EXPECT_EQ(test::readFile(names[0]), samplePicture());
    EXPECT_EQ(test::readFile(names[1]), samplePicture());
}

TEST(BatchReplaceTest, OtherHardLinksKeepTheOldPictureAndAreReported)
{
    TempDir pics;
    const auto names = writeSamples(pics, {"1.bmp", "2.bmp"});
    ASSERT_EQ(::link(names[1].c_str(), pics.file("tree-1.bmp").c_str()), 0);
    ASSERT_EQ(::link(names[1].c_str(), pics.file("tree-2.bmp").c_str()), 0);
    BatchRun run({YesToAll});
    run(names);
    EXPECT_EQ(run.reporter.notes, Lines{names[1] + " 2"});
    EXPECT_EQ(test::pixelBytes(test::readFile(names[1])), kSwappedPixels);
    EXPECT_EQ(test::readFile(pics.file("tree-1.bmp")), samplePicture());
}

TEST(BatchReplaceTest, BackupsAndTimesFollowTheSettings)
{
    TempDir pics;
    const auto names = writeSamples(pics, {"1.bmp"});
    const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, names[0].c_str(), old, 0), 0);
    ScriptedAsker asker({YesToAll});
    RecordingReporter reporter;
    batchProcess(names, {}, asker, reporter, {platform::BackupControl::Numbered, "~", true});
    EXPECT_EQ(test::listFolder(pics.path()), (Lines{"1.bmp", "1.bmp.~1~"}));
    EXPECT_EQ(test::readFile(pics.file("1.bmp.~1~")), samplePicture());
    EXPECT_EQ(test::pixelBytes(test::readFile(names[0])), kSwappedPixels);
    struct stat info {};
    ASSERT_EQ(::stat(names[0].c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, old[1].tv_sec);
}

TEST(BatchReplaceTest, LinesShowNamesAsTheReporterShowsThem)
{
    struct : RecordingReporter {
        std::string shownName(const std::string &name) const override { return "<" + name + ">"; }
    } reporter;
    TempDir pics;
    const auto names = writeSamples(pics, {"1.bmp", "bad.bmp"});
    test::writeFile(names[1], "not a picture at all");
    ScriptedAsker asker({YesToAll});
    batchProcess(names, {}, asker, reporter);
    EXPECT_EQ(reporter.lines, (Lines{"N フォルダ:\t<" + pics.file("") + ">", "N " + kSwapped + "<1.bmp>",
                                     "F 処理できませんでした:\t<bad.bmp>\t未サポートフォーマット"}));
    EXPECT_EQ(asker.asked, Lines{"1.bmp"});
}

// ---------------------------------------------------------------------------
// Several files at once after Yes to all

BatchSettings withJobs(unsigned jobs)
{
    BatchSettings settings;
    settings.mode = kModeInvert;
    settings.jobs = jobs;
    return settings;
}

// Twelve pictures in two folders, the fourth no picture at all.
std::vector<std::string> writeFolderOfSamples(const TempDir &dir)
{
    std::vector<std::string> names;
    for (int i = 0; i < 12; ++i)
        names.push_back(dir.write((i < 6 ? "a/" : "b/") + std::to_string(10 + i) + ".bmp", samplePicture()));
    dir.write("a/13.bmp", Bytes(40, 'x'));
    return names;
}

TEST(BatchParallelTest, LinesFilesAndCallsAreThoseOfOneJobWhateverTheJobs)
{
    TempDir one;
    TempDir four;
    const auto oneNames = writeFolderOfSamples(one);
    const auto fourNames = writeFolderOfSamples(four);
    BatchRun oneRun({Yes, YesToAll});
    BatchRun fourRun({Yes, YesToAll});
    const auto oneSummary = oneRun(oneNames, withJobs(1));
    const auto fourSummary = fourRun(fourNames, withJobs(4));

    auto lines = fourRun.reporter.lines;
    for (auto &line : lines) {
        if (const auto at = line.find(four.path()); at != std::string::npos)
            line.replace(at, four.path().size(), one.path());
    }
    EXPECT_EQ(lines, oneRun.reporter.lines);
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_EQ(lines[4], "F 処理できませんでした:\t13.bmp\t未サポートフォーマット");
    EXPECT_EQ(fourRun.reporter.progress.size(), 12u);
    EXPECT_EQ(fourRun.reporter.done, fourNames);
    EXPECT_EQ(fourRun.reporter.notOnTheRunsThread, 0);
    EXPECT_EQ(fourRun.reporter.finishedCalls, 1);
    EXPECT_EQ(fourSummary.processed, oneSummary.processed);
    EXPECT_EQ(fourSummary.failed, 1u);
    for (std::size_t i = 0; i < oneNames.size(); ++i)
        EXPECT_EQ(test::readFile(fourNames[i]), test::readFile(oneNames[i])) << fourNames[i];
}

TEST(BatchParallelTest, TwoNamesOfOneFileAreWorkedOnOneAfterTheOther)
{
    TempDir pics;
    const auto names = writeSamples(pics, {"p.bmp", "q.bmp"});
    const std::string link = pics.file("link.bmp");
    ASSERT_EQ(::link(names[0].c_str(), link.c_str()), 0);
    BatchRun run({YesToAll});
    // As one job leaves them: p.bmp inverted twice, and the link, which the
    // first replacement of p.bmp parted from it, inverted once.
    run({names[0], names[0], link, names[1]}, withJobs(4));
    EXPECT_EQ(run.reporter.lines.size(), 5u);
    const Bytes inverted = test::bgrBytes({0x000000, 0xFFFFFF, 0xF5EBE1, 0x000001});
    EXPECT_EQ(test::readFile(names[0]), samplePicture());
    EXPECT_EQ(test::pixelBytes(test::readFile(link)), inverted);
    EXPECT_EQ(test::pixelBytes(test::readFile(names[1])), inverted);

    // A name, a symbolic link to it and the name again: each waits until the
    // one before is replaced, then opens the file anew and sees its result,
    // as with one job; none finds the file in use.
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        TempDir again;
        const auto files = writeSamples(again, {"p.bmp", "q.bmp", "r.bmp"});
        ASSERT_EQ(::symlink("p.bmp", again.file("s.bmp").c_str()), 0);
        BatchRun twice({YesToAll});
        EXPECT_NO_THROW(twice({files[0], again.file("s.bmp"), files[1], files[0], files[2]}, withJobs(4)));
        const std::string inverts = "N " + processedLine(kModeInvert, "");
        EXPECT_EQ(twice.reporter.lines, (Lines{"N " + folderLine(again.path() + "/"), inverts + "p.bmp",
                                               inverts + "s.bmp", inverts + "q.bmp", inverts + "p.bmp",
                                               inverts + "r.bmp"}));
        EXPECT_EQ(test::pixelBytes(test::readFile(files[0])), inverted) << "inverted three times";
        EXPECT_EQ(test::listFolder(again.path()), (Lines{"p.bmp", "q.bmp", "r.bmp", "s.bmp"}));
    }
}

using OpenCounts = std::map<std::string, int>;

// The openings of the files of a folder, by name, as the system reports them.
class OpenWatch {
public:
    explicit OpenWatch(const std::string &folder) : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (m_fd < 0 || ::inotify_add_watch(m_fd, folder.c_str(), IN_OPEN) < 0)
            ADD_FAILURE() << "no watch on " << folder;
    }
    ~OpenWatch() { ::close(m_fd); }
    OpenWatch(const OpenWatch &) = delete;
    OpenWatch &operator=(const OpenWatch &) = delete;

    // Those since the last call.
    OpenCounts opens()
    {
        OpenCounts counts;
        alignas(inotify_event) char buffer[1 << 16];
        for (ssize_t got; (got = ::read(m_fd, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < got;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                if (event->len > 0 && !(event->mask & IN_ISDIR))
                    ++counts[event->name];
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        return counts;
    }

private:
    int m_fd;
};

// The openings made through the table of system calls, by the last part of
// the name opened.
class TableOpens : public platform::SystemCalls {
public:
    TableOpens() : m_previous(platform::useSystemCalls(this)) {}
    ~TableOpens() override { platform::useSystemCalls(m_previous); }
    TableOpens(const TableOpens &) = delete;
    TableOpens &operator=(const TableOpens &) = delete;

    int open(int folder, const char *name, int flags, mode_t mode) override
    {
        {
            const std::lock_guard lock(m_mutex);
            ++m_counts[fileNamePart(name)];
        }
        return SystemCalls::open(folder, name, flags, mode);
    }
    OpenCounts opens()
    {
        const std::lock_guard lock(m_mutex);
        return std::exchange(m_counts, {});
    }

private:
    std::mutex m_mutex;
    OpenCounts m_counts;
    platform::SystemCalls *m_previous;
};

// Of counts, those of names.
OpenCounts only(const OpenCounts &counts, const std::set<std::string> &names)
{
    OpenCounts kept;
    for (const auto &[name, count] : counts)
        if (names.contains(name))
            kept[name] = count;
    return kept;
}

// After Yes to all, the run's thread opens each file once, through the table
// of system calls, and what it learns before the file starts (which file it
// is, the size its header declares) and the job's reading and replacing all
// go through that one descriptor: given by name or found in a held folder,
// in a real run or a dry one, with one job or several.
TEST(BatchParallelTest, EachNameIsOpenedOnce)
{
    TempDir pics;
    std::vector<std::string> names;
    std::set<std::string> parts;
    for (int i = 0; i < 16; ++i) {
        const std::string part = std::to_string(10 + i) + ".bmp";
        names.push_back(pics.write(part, i == 5 ? Bytes(40, 'x') : samplePicture()));
        parts.insert(part);
    }
    OpenCounts once;
    for (const auto &part : parts)
        once[part] = 1;
    std::shared_ptr<platform::HeldFolder> folder;
    ASSERT_EQ(platform::HeldFolder::openTop(pics.path(), true, folder), 0);
    std::vector<BatchEntry> walked;
    for (const auto &name : names)
        walked.emplace_back(name, folder);

    for (const bool dryRun : {false, true}) {
        for (const unsigned jobs : {1u, 4u}) {
            for (const bool inFolder : {false, true}) {
                SCOPED_TRACE(testing::Message() << (dryRun ? "dry run, " : "") << jobs << " jobs"
                                                << (inFolder ? ", held folder" : ""));
                BatchSettings settings = withJobs(jobs);
                settings.dryRun = dryRun;
                OpenWatch watch(pics.path());
                ScriptedAsker asker({YesToAll});
                RecordingReporter reporter;
                {
                    TableOpens table;
                    const BatchSummary summary =
                        inFolder ? batchProcess(walked, settings, asker, reporter)
                                 : batchProcess(std::vector<BatchEntry>(names.begin(), names.end()), settings, asker,
                                                reporter);
                    EXPECT_EQ(only(table.opens(), parts), once);
                    EXPECT_EQ(summary.failed, 1u);
                }
                EXPECT_EQ(only(watch.opens(), parts), once);
                EXPECT_EQ(reporter.lines.size(), names.size() + 1);
            }
        }
    }
    // Four real runs: inverted four times, as it was.
    EXPECT_EQ(test::readFile(names[0]), samplePicture());
}

TEST(BatchParallelTest, MemoryAtWorkComesFromTheDeclaredPictureSize)
{
    TempDir pics;
    const Bytes sample = samplePicture();
    EXPECT_EQ(memoryAtWork(pics.write("p.bmp", sample)), sample.size() + 4 * 1 * 8);
    Bytes huge = sample;
    huge[18] = 0x10;  // 0x2710 = 10000 wide
    huge[19] = 0x27;
    huge[22] = 0x48;  // -3000 high (top-down)
    huge[23] = 0xF4;
    huge[24] = huge[25] = 0xFF;
    EXPECT_EQ(memoryAtWork(pics.write("huge.bmp", huge)), huge.size() + 10000ull * 3000 * 8);
    EXPECT_EQ(memoryAtWork(pics.write("text.bmp", Bytes(40, 'x'))), 40u);
    EXPECT_EQ(memoryAtWork(pics.file("missing.bmp")), 0u);
}

// How many files are under way each time another is about to start: those
// started and not yet replaced (a replacement is one rename, so a file still
// holding its old content is not finished).
class InFlightReporter : public RecordingReporter {
public:
    explicit InFlightReporter(const std::vector<std::string> &names) : m_names(names) {}
    void processing(std::size_t index, std::size_t count, const std::string &name) override
    {
        RecordingReporter::processing(index, count, name);
        int underWay = 0;
        for (std::size_t i = 0; i < index; ++i)
            underWay += test::readFile(m_names[i]) == samplePicture();
        mostUnderWay = std::max(mostUnderWay, underWay);
    }

    int mostUnderWay = 0;

private:
    const std::vector<std::string> &m_names;
};

TEST(BatchParallelTest, JobsAndAMemoryBudgetSmallerThanAnyPicture)
{
    TempDir pics;
    const auto names = writeSamples(pics, {"1.bmp", "2.bmp", "3.bmp", "4.bmp", "5.bmp", "6.bmp"});
    BatchRun unbounded({YesToAll});
    unbounded(names, withJobs(4));
    EXPECT_GE(unbounded.reporter.mostInFlight, 4);

    // Each file is worked on alone, and still every one is done.
    BatchSettings settings = withJobs(4);
    settings.memoryBudget = 1;
    BatchRun run({YesToAll});
    run(names, settings);
    EXPECT_EQ(run.reporter.lines.size(), 7u);
    for (const auto &name : names)
        EXPECT_EQ(test::readFile(name), samplePicture()) << name << " inverted twice";

    // No file starts while the budget is taken, whatever the jobs.
    std::vector<std::string> many;
    for (int i = 0; i < 32; ++i)
        many.push_back(pics.write("m/" + std::to_string(10 + i) + ".bmp", samplePicture()));
    for (const std::uint64_t pictures : {1, 2}) {
        settings.memoryBudget = pictures * memoryAtWork(many[0]);
        for (const auto &name : many)
            test::writeFile(name, samplePicture());
        InFlightReporter reporter(many);
        ScriptedAsker asker({YesToAll});
        batchProcess(many, settings, asker, reporter);
        EXPECT_EQ(reporter.lines.size(), 33u);
        EXPECT_LT(reporter.mostUnderWay, int(pictures)) << "a budget of " << pictures << " pictures";
    }
}

TEST(BatchParallelTest, ARunEndingErrorLetsTheStartedFilesFinishAndReportThem)
{
    TempDir pics;
    std::vector<std::string> names;
    for (int i = 0; i < 10; ++i)
        names.push_back(pics.write(std::to_string(i) + ".bmp", samplePicture()));
    ASSERT_EQ(::chmod(names[3].c_str(), 0444), 0);
    BatchRun run({YesToAll});
    BatchSettings settings;
    settings.jobs = 4;
    EXPECT_EQ(runUntilError<FileCreateError>(run, names, settings),
              "ファイル \"" + names[3] + "\" を作成できません。Permission denied");
    // 0-2 as with one job, then whichever later files were under way, in order.
    const Lines &lines = run.reporter.lines;
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 4),
              (Lines{"N フォルダ:\t" + pics.file(""), "N " + kSwapped + "0.bmp", "N " + kSwapped + "1.bmp",
                     "N " + kSwapped + "2.bmp"}));
    std::size_t next = 4;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const bool changed = test::readFile(names[i]) != samplePicture();
        const bool listed = next < lines.size() && lines[next] == "N " + kSwapped + std::to_string(i) + ".bmp";
        if (i > 3) {
            EXPECT_EQ(changed, listed) << names[i];
            next += listed;
        }
        EXPECT_EQ(changed, i != 3 && (i < 3 || listed)) << names[i];
    }
    EXPECT_EQ(next, lines.size()) << "lines out of order";
    EXPECT_EQ(run.reporter.abandonedCalls, 1);
    EXPECT_EQ(run.reporter.finishedCalls, 0);
}

TEST(BatchParallelTest, ARunEndingErrorStartsNoNewFile)
{
    // The first file ends the run as soon as it is written; each other one
    // takes a flush, so only the few already under way can follow it.
    TempDir pics;
    std::vector<std::string> names;
    for (int i = 0; i < 200; ++i)
        names.push_back(pics.write(std::to_string(1000 + i) + ".bmp", samplePicture()));
    ASSERT_EQ(::chmod(names[0].c_str(), 0444), 0);
    // Every line comes after the error is known: by the last one, the
    // files started are all replaced, and nothing else may be open.
    class Reporter : public RecordingReporter {
    public:
        explicit Reporter(const std::string &folder) : m_folder(folder) {}
        void fileDone(const FileResult &result) override
        {
            RecordingReporter::fileDone(result);
            openAtLastLine = test::openDescriptors(m_folder);
        }
        std::size_t openAtLastLine = 0;

    private:
        std::string m_folder;
    } reporter(pics.path());
    const std::size_t descriptors = test::openDescriptors();
    ScriptedAsker asker({YesToAll});
    EXPECT_THROW(batchProcess(names, withJobs(4), asker, reporter), FileCreateError);
    EXPECT_LT(reporter.started, 100);
    std::size_t changed = 0;
    for (const auto &name : names)
        changed += test::readFile(name) != samplePicture();
    EXPECT_EQ(changed + 1, std::size_t(reporter.started));
    EXPECT_EQ(reporter.openAtLastLine, 0u);
    EXPECT_EQ(test::openDescriptors(), descriptors);
}

}  // namespace
}  // namespace tovi::process
