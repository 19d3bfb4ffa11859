// A batch run through its real windows: each question answered with the keys
// or the mouse, then the files on disk and the lines of the result window.

#include "ui/batch/batch_windows.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QWindow>

#include "modal_driver.h"
#include "platform/errors.h"
#include "support/test_support.h"
#include "ui/batch/result_form.h"

namespace tovi::ui {
namespace {

using test::Bytes;
using test::ModalDriver;

// A 2 x 1 picture at 24 bits: a white pixel, then a black one.
Bytes whiteBlackBmp()
{
    Bytes bytes = {'B', 'M', 62, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header
                   40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 8, 0, 0, 0,
                   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                   0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0};
    return bytes;
}

// The first two pixels of a 24-bit file as written, each 0xRRGGBB.
std::pair<std::uint32_t, std::uint32_t> pixelsOf(const Bytes &file)
{
    const std::size_t at = file[10] | (file[11] << 8);
    auto pixel = [&](std::size_t i) { return std::uint32_t(file[i + 2] << 16 | file[i + 1] << 8 | file[i]); };
    return {pixel(at), pixel(at + 3)};
}

constexpr std::pair<std::uint32_t, std::uint32_t> kOriginal = {0xFFFFFF, 0x000000};
constexpr std::pair<std::uint32_t, std::uint32_t> kSwapped = {0x000000, 0xFFFFFF};

struct ResultLine {
    QString text;
    bool bold;
    bool infoBackground;
};

class BatchRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_dir.file("a"));
        std::filesystem::create_directories(m_dir.file("b"));
        for (const char *name : {"a/1.bmp", "a/2.bmp", "b/3.bmp"})
            test::writeFile(m_dir.file(name), whiteBlackBmp());
        m_names = {name("a/1.bmp"), name("a/2.bmp"), name("b/3.bmp")};
    }

    QString name(const char *relative) const { return QString::fromStdString(m_dir.file(relative)); }
    QString folder(const char *relative) const { return QString::fromStdString(m_dir.file(relative)) + "/"; }
    std::pair<std::uint32_t, std::uint32_t> pixels(const char *relative) const
    {
        return pixelsOf(test::readFile(m_dir.file(relative)));
    }

    // An answer step: the key pressed in the question about `expectedFile`.
    ModalDriver::Step key(const QString &expectedFile, Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        return [this, expectedFile, k, modifiers](QWidget *window) {
            auto *dialog = qobject_cast<ConfirmDialog *>(window);
            ASSERT_NE(dialog, nullptr) << "expected the question about " << expectedFile.toStdString();
            EXPECT_TRUE(dialog->message().endsWith("\n\r" + expectedFile));
            asked.push_back(expectedFile);
            QTest::keyClick(dialog->focusWidget(), k, modifiers);
        };
    }

    // The last step: reads the result window and presses OK.
    ModalDriver::Step readResult()
    {
        return [this](QWidget *window) {
            auto *form = qobject_cast<TResultForm *>(window);
            ASSERT_NE(form, nullptr) << "expected the result window";
            resultShown = true;
            const QTextDocument *document = form->RichEdit1->document();
            for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
                if (block.text().isEmpty() && !block.next().isValid())
                    break;
                const QTextCharFormat format = block.begin().fragment().charFormat();
                lines.push_back({block.text(), format.fontWeight() == QFont::Bold,
                                 format.background().style() != Qt::NoBrush});
            }
            QTest::keyClick(form->Button1, Qt::Key_Return);
        };
    }

    std::vector<QString> texts() const
    {
        std::vector<QString> result;
        for (const ResultLine &line : lines)
            result.push_back(line.text);
        return result;
    }

    process::BatchSummary run(ModalDriver &driver, const QStringList &names)
    {
        const process::BatchSummary summary = batchProcessWithWindows(&m_mainWindow, names, m_settings);
        EXPECT_TRUE(driver.done()) << "windows expected but not shown";
        return summary;
    }

    static QString processed(const QString &file) { return QStringLiteral("色交換モード処理しました:\t") + file; }
    QString folderLine(const char *relative) const { return QStringLiteral("フォルダ:\t") + folder(relative); }

    test::TempDir m_dir;
    QWidget m_mainWindow;
    QStringList m_names;
    process::BatchSettings m_settings{process::kModeSwap, 0x00FFFFFF, 0x00000000};
    std::vector<QString> asked;
    std::vector<ResultLine> lines;
    bool resultShown = false;
    const QString kTitle = QStringLiteral("Tovi for XP 連続処理の結果");
};

TEST_F(BatchRunTest, AllAnsweredYesProcessesEveryFileFolderByFolder)
{
    ModalDriver driver;
    driver.then(key("1.bmp", Qt::Key_Y)).then(key("2.bmp", Qt::Key_Y, Qt::AltModifier)).then(key("3.bmp", Qt::Key_Return));
    driver.then(readResult());
    run(driver, m_names);
    EXPECT_EQ(texts(), (std::vector<QString>{kTitle, folderLine("a"), processed("1.bmp"), processed("2.bmp"),
                                             folderLine("b"), processed("3.bmp")}));
    EXPECT_EQ(pixels("a/1.bmp"), kSwapped);
    EXPECT_EQ(pixels("a/2.bmp"), kSwapped);
    EXPECT_EQ(pixels("b/3.bmp"), kSwapped);
}

TEST_F(BatchRunTest, AbortAtTheFirstFileChangesNothingAndStillListsTheFolders)
{
    ModalDriver driver;
    driver.then(key("1.bmp", Qt::Key_A)).then(readResult());
    run(driver, m_names);
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_EQ(texts(), (std::vector<QString>{kTitle, folderLine("a"), folderLine("b")}));
    EXPECT_EQ(pixels("a/1.bmp"), kOriginal);
    EXPECT_EQ(pixels("a/2.bmp"), kOriginal);
    EXPECT_EQ(pixels("b/3.bmp"), kOriginal);
}

TEST_F(BatchRunTest, NoThenYesToAllByFocusAsksTwice)
{
    ModalDriver driver;
    driver.then(key("1.bmp", Qt::Key_N));
    driver.then([this](QWidget *window) {
        asked.push_back("2.bmp");
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(window->focusWidget(), Qt::Key_Tab);
        QTest::keyClick(window->focusWidget(), Qt::Key_Return);
    });
    driver.then(readResult());
    run(driver, m_names);
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_EQ(texts(), (std::vector<QString>{kTitle, folderLine("a"), processed("2.bmp"), folderLine("b"),
                                             processed("3.bmp")}));
    EXPECT_EQ(pixels("a/1.bmp"), kOriginal);
    EXPECT_EQ(pixels("a/2.bmp"), kSwapped);
    EXPECT_EQ(pixels("b/3.bmp"), kSwapped);
}

TEST_F(BatchRunTest, EscapeAndTheCloseBoxSkipAndAskAgain)
{
    ModalDriver driver;
    driver.then(key("1.bmp", Qt::Key_Escape));
    driver.then([this](QWidget *window) {
        asked.push_back("2.bmp");
        window->windowHandle()->close();
    });
    driver.then(key("3.bmp", Qt::Key_Y)).then(readResult());
    run(driver, m_names);
    EXPECT_EQ(asked.size(), 3u);
    EXPECT_EQ(texts(), (std::vector<QString>{kTitle, folderLine("a"), folderLine("b"), processed("3.bmp")}));
    EXPECT_EQ(pixels("a/1.bmp"), kOriginal);
    EXPECT_EQ(pixels("a/2.bmp"), kOriginal);
    EXPECT_EQ(pixels("b/3.bmp"), kSwapped);
}

TEST_F(BatchRunTest, AFileThatIsNoPictureGetsAFailedLineAndTheRunGoesOn)
{
    const Bytes notBitmap(20, 'x');
    test::writeFile(m_dir.file("a/2.bmp"), notBitmap);
    ModalDriver driver;
    driver.then(key("1.bmp", Qt::Key_Y)).then(key("2.bmp", Qt::Key_Y)).then(key("3.bmp", Qt::Key_Y)).then(readResult());
    run(driver, m_names);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[3].text, QStringLiteral("処理できませんでした:\t2.bmp\t未サポートフォーマット"));
    EXPECT_TRUE(lines[3].bold);
    EXPECT_TRUE(lines[3].infoBackground);
    // Lines after a failed one stay bold on the info background.
    EXPECT_EQ(lines[5].text, processed("3.bmp"));
    EXPECT_TRUE(lines[5].bold);
    EXPECT_TRUE(lines[5].infoBackground);
    EXPECT_FALSE(lines[2].bold);
    EXPECT_EQ(test::readFile(m_dir.file("a/2.bmp")), notBitmap);
    EXPECT_EQ(pixels("b/3.bmp"), kSwapped);
}

TEST_F(BatchRunTest, AReadOnlyFileEndsTheRunWithoutShowingTheResult)
{
    chmod(m_dir.file("a/2.bmp").c_str(), 0444);
    ModalDriver driver;
    driver.then(key("1.bmp", Qt::Key_Y)).then(key("2.bmp", Qt::Key_Y));
    EXPECT_THROW(batchProcessWithWindows(&m_mainWindow, m_names, m_settings), FileCreateError);
    EXPECT_TRUE(driver.done());
    EXPECT_FALSE(resultShown);
    EXPECT_EQ(pixels("a/1.bmp"), kSwapped);
    EXPECT_EQ(pixels("a/2.bmp"), kOriginal);
    EXPECT_EQ(pixels("b/3.bmp"), kOriginal);
    // The result window was released: gone once pending events are handled.
    EXPECT_EQ(m_mainWindow.findChildren<TResultForm *>().size(), 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(m_mainWindow.findChildren<TResultForm *>().isEmpty());
}

TEST_F(BatchRunTest, AnEmptyListShowsTheTitleLineAlone)
{
    ModalDriver driver;
    driver.then(readResult());
    run(driver, {});
    EXPECT_EQ(texts(), std::vector<QString>{kTitle});
}

TEST_F(BatchRunTest, TheResultWindowIsReleasedAfterUse)
{
    ModalDriver driver;
    driver.then(key("1.bmp", Qt::Key_A)).then(readResult());
    run(driver, m_names);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(m_mainWindow.findChildren<TResultForm *>().isEmpty());
    EXPECT_TRUE(m_mainWindow.findChildren<ConfirmDialog *>().isEmpty());
}

TEST(BatchAnswers, EveryDialogAnswerMapsToTheEngines)
{
    EXPECT_EQ(toBatchAnswer(ConfirmAnswer::Yes), process::BatchAnswer::Yes);
    EXPECT_EQ(toBatchAnswer(ConfirmAnswer::No), process::BatchAnswer::No);
    EXPECT_EQ(toBatchAnswer(ConfirmAnswer::Abort), process::BatchAnswer::Abort);
    EXPECT_EQ(toBatchAnswer(ConfirmAnswer::YesToAll), process::BatchAnswer::YesToAll);
    EXPECT_EQ(toBatchAnswer(ConfirmAnswer::Closed), process::BatchAnswer::Closed);
}

}  // namespace
}  // namespace tovi::ui
