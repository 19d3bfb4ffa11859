// The result window: its frame and controls, the look of each kind of line
// read back from the text, its keys and its background.

#include "ui/batch/result_form.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include "platform/gradient.h"
#include "platform/system_colors.h"
#include "ui/common/window_placement.h"

namespace tovi::ui {
namespace {

using namespace platform;

QColor qcolor(ColorRef c)
{
    return QColor(int(redOf(c)), int(greenOf(c)), int(blueOf(c)));
}

// Distinct values for every colour the window uses, so that a line taking
// the wrong one shows.
class ResultFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetSysColors();
        setSysColor(kColorBtnFace, rgb(200, 201, 202));
        setSysColor(kColorBtnText, rgb(10, 20, 30));
        setSysColor(kColorWindowText, rgb(40, 50, 60));
        setSysColor(kColorInfoText, rgb(70, 80, 90));
        setSysColor(kColorInfoBk, rgb(250, 240, 200));
        setSysColor(kColorBtnHighlight, rgb(255, 255, 255));
        setSysColor(kColorBtnShadow, rgb(0, 64, 128));
    }
    void TearDown() override { resetSysColors(); }
};

struct Line {
    QString text;
    QTextCharFormat format;  // of the line's first character
    QTextCharFormat end;     // of its line end (CR LF)
};

std::vector<Line> linesOf(const TResultForm &form)
{
    std::vector<Line> lines;
    const QTextDocument *document = form.RichEdit1->document();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (!block.next().isValid() && block.text().isEmpty())
            break;  // the empty paragraph after the last line end
        // The separator after a line's text belongs to the next paragraph.
        const QTextBlock next = block.next();
        Line line{block.text(), QTextCharFormat(), next.isValid() ? next.charFormat() : QTextCharFormat()};
        const QTextBlock::iterator first = block.begin();
        if (!first.atEnd())
            line.format = first.fragment().charFormat();
        // One format for the whole line.
        int fragments = 0;
        for (auto it = block.begin(); !it.atEnd(); ++it)
            ++fragments;
        EXPECT_LE(fragments, 1) << line.text.toStdString();
        lines.push_back(line);
    }
    return lines;
}

bool hasBackground(const QTextCharFormat &format)
{
    return format.hasProperty(QTextFormat::BackgroundBrush) && format.background().style() != Qt::NoBrush;
}

TEST_F(ResultFormTest, NewWindowHoldsTheTitleLineAlone)
{
    TResultForm form(nullptr);
    const std::vector<Line> lines = linesOf(form);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, QStringLiteral("Tovi for XP 連続処理の結果"));
    EXPECT_EQ(lines[0].format.foreground().color(), qcolor(rgb(40, 50, 60)));
    EXPECT_FALSE(hasBackground(lines[0].format));
    EXPECT_NE(lines[0].format.fontWeight(), QFont::Bold);
    EXPECT_EQ(form.RichEdit1->toPlainText(), QStringLiteral("Tovi for XP 連続処理の結果\n"));
}

TEST_F(ResultFormTest, EachOperationSetsOnlyItsOwnAttributes)
{
    TResultForm form(nullptr);
    form.AddNormalLine(QStringLiteral("フォルダ:\t/a/"));
    form.AddChangedLine(QStringLiteral("changed"));
    form.AddNormalLine(QStringLiteral("after changed"));
    form.AddFailedLine(QStringLiteral("failed"));
    form.AddNormalLine(QStringLiteral("after failed"));
    form.AddChangedLine(QStringLiteral("changed after failed"));

    const std::vector<Line> lines = linesOf(form);
    ASSERT_EQ(lines.size(), 7u);
    const QColor btnText = qcolor(rgb(10, 20, 30));
    const QColor infoText = qcolor(rgb(70, 80, 90));
    const QColor infoBk = qcolor(rgb(250, 240, 200));
    struct Expected {
        QString text;
        QColor foreground;
        bool background;
        bool bold;
    };
    const Expected expected[] = {
        {QStringLiteral("フォルダ:\t/a/"), btnText, false, false},
        {QStringLiteral("changed"), infoText, true, false},
        {QStringLiteral("after changed"), btnText, true, false},  // info background stays
        {QStringLiteral("failed"), infoText, true, true},
        {QStringLiteral("after failed"), btnText, true, true},  // bold stays too
        {QStringLiteral("changed after failed"), infoText, true, true},
    };
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const Line &line = lines[i + 1];
        SCOPED_TRACE(line.text.toStdString());
        EXPECT_EQ(line.text, expected[i].text);
        for (const QTextCharFormat &format : {line.format, line.end}) {
            EXPECT_EQ(format.foreground().color(), expected[i].foreground);
            EXPECT_EQ(hasBackground(format), expected[i].background);
            if (expected[i].background) {
                EXPECT_EQ(format.background().color(), infoBk);
            }
            EXPECT_EQ(format.fontWeight() == QFont::Bold, expected[i].bold);
        }
    }
}

TEST_F(ResultFormTest, SystemColoursAreTakenWhenALineIsAdded)
{
    TResultForm form(nullptr);
    setSysColor(kColorBtnText, rgb(1, 2, 3));
    form.AddNormalLine(QStringLiteral("first"));
    setSysColor(kColorBtnText, rgb(4, 5, 6));
    form.AddNormalLine(QStringLiteral("second"));
    const std::vector<Line> lines = linesOf(form);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].format.foreground().color(), qcolor(rgb(1, 2, 3)));
    EXPECT_EQ(lines[2].format.foreground().color(), qcolor(rgb(4, 5, 6)));
}

TEST_F(ResultFormTest, LinesKeepTheirTabsAndEndTheText)
{
    TResultForm form(nullptr);
    form.AddFailedLine(QStringLiteral("処理できませんでした:\tx.bmp\t未サポートフォーマット"));
    EXPECT_EQ(form.RichEdit1->toPlainText(),
              QStringLiteral("Tovi for XP 連続処理の結果\n処理できませんでした:\tx.bmp\t未サポートフォーマット\n"));
    // The caret stands at the end, where the next line goes.
    EXPECT_EQ(form.RichEdit1->textCursor().position(), form.RichEdit1->document()->characterCount() - 1);
}

TEST_F(ResultFormTest, FrameControlsAndFont)
{
    TResultForm form(nullptr);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("連続処理結果"));
    EXPECT_EQ(form.size(), QSize(428, 288));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(flags & Qt::WindowMinMaxButtonsHint);
    EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
    EXPECT_EQ(form.font().family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(form.font().pixelSize(), 11);

    EXPECT_EQ(form.Button1->text(), QStringLiteral("OK"));
    EXPECT_EQ(form.Button1->geometry(), QRect(176, 256, 75, 25));
    EXPECT_TRUE(form.Button1->isDefault());

    EXPECT_EQ(form.RichEdit1->geometry(), QRect(0, 0, 428, 247));
    EXPECT_TRUE(form.RichEdit1->isReadOnly());
    EXPECT_EQ(form.RichEdit1->lineWrapMode(), QTextEdit::NoWrap);
    EXPECT_EQ(form.RichEdit1->horizontalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    EXPECT_EQ(form.RichEdit1->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    EXPECT_EQ(form.RichEdit1->palette().color(QPalette::Base), qcolor(rgb(200, 201, 202)));
    EXPECT_TRUE(form.RichEdit1->textInteractionFlags() & Qt::TextSelectableByMouse);

    form.show();
    EXPECT_EQ(form.focusWidget(), form.Button1);
}

TEST_F(ResultFormTest, LongLinesScrollInsteadOfWrapping)
{
    TResultForm form(nullptr);
    form.show();
    form.AddNormalLine(QString(300, QLatin1Char('w')));
    QApplication::processEvents();
    EXPECT_TRUE(form.RichEdit1->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(form.RichEdit1->verticalScrollBar()->isVisible());
    for (int i = 0; i < 40; ++i)
        form.AddNormalLine(QStringLiteral("line"));
    QApplication::processEvents();
    EXPECT_TRUE(form.RichEdit1->verticalScrollBar()->isVisible());
    EXPECT_EQ(form.RichEdit1->document()->blockCount(), 1 + 41 + 1);
    form.hide();
}

TEST_F(ResultFormTest, EnterOnTheButtonClosesWithOk)
{
    TResultForm form(nullptr);
    form.show();
    QTest::keyClick(form.Button1, Qt::Key_Return);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST_F(ResultFormTest, EnterInTheTextViewPressesOk)
{
    TResultForm form(nullptr);
    form.show();
    form.RichEdit1->setFocus();
    QTest::keyClick(form.RichEdit1, Qt::Key_Return);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Accepted);
    // And nothing was typed into it.
    EXPECT_EQ(form.RichEdit1->toPlainText(), QStringLiteral("Tovi for XP 連続処理の結果\n"));
}

TEST_F(ResultFormTest, EscapeDoesNothing)
{
    TResultForm form(nullptr);
    form.show();
    QTest::keyClick(form.Button1, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
    form.RichEdit1->setFocus();
    QTest::keyClick(form.RichEdit1, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
    form.hide();
}

TEST_F(ResultFormTest, SelectionShowsOnlyWhileTheViewHasTheFocus)
{
    TResultForm form(nullptr);
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.RichEdit1->setFocus();
    QTest::keyClick(form.RichEdit1, Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(form.RichEdit1->textCursor().hasSelection());
    form.Button1->setFocus();
    EXPECT_FALSE(form.RichEdit1->textCursor().hasSelection());
    form.RichEdit1->setFocus();
    EXPECT_EQ(form.RichEdit1->textCursor().selectedText(),
              QStringLiteral("Tovi for XP 連続処理の結果") + QChar(QChar::ParagraphSeparator));
    form.hide();
}

TEST_F(ResultFormTest, BackgroundIsTheGradientBelowTheView)
{
    TResultForm form(nullptr);
    form.show();
    const QImage image = form.grab().toImage();
    const ColorRef top = rgb(255, 255, 255);
    const ColorRef bottom = rgb(0, 64, 128);
    for (const int y : {250, 260, 287}) {
        const ColorRef c = gradientRowColor(top, bottom, y, 288);
        EXPECT_EQ(QColor(image.pixel(5, y)), qcolor(c)) << "row " << y;
        EXPECT_EQ(QColor(image.pixel(420, y)), qcolor(c)) << "row " << y;
    }
    form.hide();
}

TEST_F(ResultFormTest, CentredOverTheMainWindowWhenFirstShown)
{
    QWidget mainWindow;
    mainWindow.setGeometry(100, 50, 701, 500);
    mainWindow.show();
    auto *form = new TResultForm(&mainWindow);
    form->show();
    const QSize outer = outerSizeLike(&mainWindow, QSize(428, 288));
    const QRect frame = mainWindow.frameGeometry();
    EXPECT_EQ(form->frameGeometry().topLeft(), QPoint(frame.left() + (frame.width() - outer.width()) / 2,
                                                      frame.top() + (frame.height() - outer.height()) / 2));
    form->hide();
    delete form;
}

TEST(WindowPlacement, CentredOverRoundsTowardZeroAndKeepsOnTheScreen)
{
    EXPECT_EQ(centredOver(QRect(100, 50, 701, 500), QSize(428, 300)), QPoint(236, 150));
    EXPECT_EQ(centredOver(QRect(-500, -400, 400, 300), QSize(428, 300)), QPoint(0, 0));
    EXPECT_EQ(centredOver(QRect(0, 0, 200, 100), QSize(428, 300)), QPoint(0, 0));
    EXPECT_EQ(centredOver(QRect(10, 20, 201, 101), QSize(100, 50)), QPoint(60, 45));
}

TEST(WindowPlacement, OuterSizeTakesTheMainWindowsFrame)
{
    EXPECT_EQ(outerSizeLike(nullptr, QSize(428, 288)), QSize(428, 288));
    QWidget mainWindow;
    mainWindow.setGeometry(100, 50, 300, 200);
    mainWindow.show();
    const QSize margins = mainWindow.frameGeometry().size() - mainWindow.size();
    EXPECT_EQ(outerSizeLike(&mainWindow, QSize(428, 288)), QSize(428, 288) + margins);
}

}  // namespace
}  // namespace tovi::ui
