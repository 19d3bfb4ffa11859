// The real engine and the compiled help file, reached the way the program
// reaches them: help system, viewer, bridge, module beside this program.

#include "qt_printers.h"
#include "ui/help/application_help.h"
#include "ui/help/help_system.h"
#include "ui/help/html_help_bridge.h"
#include "ui/help/html_help_viewer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPointer>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace tovi::help {
namespace {

QWidget *helpWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String("helpWindow") && widget->isVisible())
            return widget;
    }
    return nullptr;
}

int helpWindowCount()
{
    int count = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        count += widget->objectName() == QLatin1String("helpWindow") ? 1 : 0;
    return count;
}

QTextBrowser *helpPage()
{
    QWidget *window = helpWindow();
    return window ? window->findChild<QTextBrowser *>(QStringLiteral("page")) : nullptr;
}

QString pageTitle()
{
    QTextBrowser *page = helpPage();
    return page ? page->documentTitle() : QStringLiteral("(no help window)");
}

QString shownNavigationTab()
{
    QWidget *window = helpWindow();
    QTabWidget *tabs = window ? window->findChild<QTabWidget *>() : nullptr;
    return tabs ? tabs->tabText(tabs->currentIndex()) : QString();
}

QString indexSearchText()
{
    QWidget *window = helpWindow();
    auto *field = window ? window->findChild<QLineEdit *>(QStringLiteral("indexSearch")) : nullptr;
    return field ? field->text() : QStringLiteral("(none)");
}

QString compiledHelpFile()
{
    return helpFileBesideExecutable(QStringLiteral("ToviXP.chm"));
}

bool request(std::uint16_t command, std::uintptr_t data, const QString &helpFile = compiledHelpFile())
{
    bool callHelp = true;
    return ApplicationEvents1Help(command, data, callHelp, helpFile);
}

class RealEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFile::exists(QString::fromStdString(helpEngineModulePath())));
        registerHtmlHelpViewer();
    }

    void TearDown() override
    {
        unregisterHtmlHelpViewer();
        EXPECT_EQ(helpWindowCount(), 0);
    }
};

struct ContextPage {
    int number;
    const char *title;
};

void PrintTo(const ContextPage &page, std::ostream *os) { *os << page.number; }

class EveryContextNumber : public RealEngine, public ::testing::WithParamInterface<ContextPage> {};

TEST_P(EveryContextNumber, OpensItsPageFromTheCompiledFile)
{
    EXPECT_TRUE(request(HELP_CONTEXT, std::uint32_t(GetParam().number)));
    EXPECT_EQ(pageTitle(), QString::fromUtf8(GetParam().title));
    EXPECT_EQ(helpWindow()->windowTitle(), QStringLiteral("Tovi for XP ヘルプ"));
}

INSTANTIATE_TEST_SUITE_P(
    HelpFile, EveryContextNumber,
    ::testing::Values(ContextPage{1000, "Tovi for XP の概要"}, ContextPage{1101, "画像を開く"},
                      ContextPage{1102, "画像の保存"}, ContextPage{1103, "複数画像を処理"}, ContextPage{1104, "終了"},
                      ContextPage{1201, "貼り付け"}, ContextPage{1202, "コピー"},
                      ContextPage{1203, "画像から色を抽出"}, ContextPage{1204, "色の設定"},
                      ContextPage{1205, "色交換実行"}, ContextPage{1206, "色反転実行"},
                      ContextPage{1207, "グレースケール実行"}, ContextPage{1208, "反転＆グレースケール"},
                      ContextPage{1209, "モード変更と実行ボタン"}, ContextPage{1210, "元に戻す"},
                      ContextPage{1211, "やり直し"}, ContextPage{1301, "ヘルプの使い方"},
                      ContextPage{1302, "バージョン情報"}),
    [](const ::testing::TestParamInfo<ContextPage> &info) { return std::to_string(info.param.number); });

TEST_F(RealEngine, HelpCommandShowsTheOverviewWithTheIndex)
{
    HelpOpenExecute(false, compiledHelpFile());
    EXPECT_EQ(pageTitle(), QStringLiteral("Tovi for XP の概要"));
    EXPECT_EQ(shownNavigationTab(), QStringLiteral("キーワード(&N)"));
    EXPECT_EQ(indexSearchText(), QString());
}

TEST_F(RealEngine, HelpCommandWhilePickingShowsThePageOnPicking)
{
    HelpOpenExecute(true, compiledHelpFile());
    EXPECT_EQ(pageTitle(), QStringLiteral("画像から色を抽出"));
}

TEST_F(RealEngine, AKeywordOfTheIndexOpensItsPage)
{
    helpSystem().HelpByKeyword(QStringLiteral("グレースケール"), compiledHelpFile());
    EXPECT_EQ(pageTitle(), QStringLiteral("グレースケール実行"));
}

TEST_F(RealEngine, KeywordsMatchWithoutRegardToLetterCase)
{
    helpSystem().HelpByKeyword(QStringLiteral("bmp"), compiledHelpFile());
    EXPECT_EQ(pageTitle(), QStringLiteral("Tovi for XP の概要"));
}

TEST_F(RealEngine, AnUnknownKeywordShowsTheIndex)
{
    helpSystem().HelpByKeyword(QStringLiteral("存在しない言葉"), compiledHelpFile());
    EXPECT_EQ(shownNavigationTab(), QStringLiteral("キーワード(&N)"));
    EXPECT_EQ(indexSearchText(), QStringLiteral("存在しない言葉"));
    EXPECT_EQ(pageTitle(), QStringLiteral("Tovi for XP の概要"));
}

TEST_F(RealEngine, AKeywordWithSeveralPagesOpensTheFirstAndShowsTheIndex)
{
    helpSystem().HelpByKeyword(QStringLiteral("クリップボード"), compiledHelpFile());
    EXPECT_EQ(pageTitle(), QStringLiteral("貼り付け"));
    EXPECT_EQ(shownNavigationTab(), QStringLiteral("キーワード(&N)"));
}

TEST_F(RealEngine, ACommandRequestOpensThePageOfThatName)
{
    const char topic[] = "color_inv";
    request(HELP_CONTEXT, 1000);
    request(HELP_COMMAND, reinterpret_cast<std::uintptr_t>(topic));
    EXPECT_EQ(pageTitle(), QStringLiteral("色反転実行"));
}

TEST_F(RealEngine, AnUnknownPageShowsTheEnginesMessage)
{
    const char topic[] = "abc";
    request(HELP_CONTEXT, 1000);
    request(HELP_COMMAND, reinterpret_cast<std::uintptr_t>(topic));
    EXPECT_EQ(pageTitle(), QStringLiteral("ページが見つかりません"));
    EXPECT_TRUE(helpPage()->toPlainText().contains(QStringLiteral("abc.htm")));
}

TEST_F(RealEngine, AnUnmappedNumberShowsTheEnginesMessage)
{
    request(HELP_CONTEXT, 0);
    EXPECT_EQ(pageTitle(), QStringLiteral("トピックが見つかりません"));
    request(HELP_CONTEXT, 4711);
    EXPECT_TRUE(helpPage()->toPlainText().contains(QStringLiteral("4711")));
}

TEST_F(RealEngine, AMissingHelpFileShowsTheEnginesMessage)
{
    const QString missing = QStringLiteral("/nonexistent/ToviXP.chm");
    request(HELP_CONTEXT, 1101, missing);
    EXPECT_EQ(pageTitle(), QStringLiteral("ヘルプ ファイルを開けません"));
    EXPECT_EQ(helpWindow()->windowTitle(), QStringLiteral("ヘルプ"));
    HelpOpenExecute(false, missing);
    EXPECT_EQ(pageTitle(), QStringLiteral("ヘルプ ファイルを開けません"));
}

TEST_F(RealEngine, AHelpFileThatAppearsLaterIsOpenedByTheNextRequest)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString file = QDir(folder.path()).filePath(QStringLiteral("ToviXP.chm"));
    request(HELP_CONTEXT, 1202, file);
    EXPECT_EQ(pageTitle(), QStringLiteral("ヘルプ ファイルを開けません"));
    ASSERT_TRUE(QFile::copy(compiledHelpFile(), file));
    request(HELP_CONTEXT, 1202, file);
    EXPECT_EQ(pageTitle(), QStringLiteral("コピー"));
    EXPECT_EQ(helpWindowCount(), 1);
}

TEST_F(RealEngine, RequestsReuseTheOneWindowOfTheFile)
{
    request(HELP_CONTEXT, 1101);
    QPointer<QWidget> first = helpWindow();
    request(HELP_CONTEXT, 1102);
    EXPECT_EQ(helpWindow(), first.data());
    EXPECT_EQ(helpWindowCount(), 1);
    EXPECT_FALSE(first->testAttribute(Qt::WA_QuitOnClose));
}

TEST_F(RealEngine, LinksAndBackAndForwardMoveBetweenPages)
{
    request(HELP_CONTEXT, 1205);
    QTextBrowser *page = helpPage();
    emit page->anchorClicked(QUrl(QStringLiteral("color_pick.htm")));
    EXPECT_EQ(pageTitle(), QStringLiteral("画像から色を抽出"));
    page->backward();
    EXPECT_EQ(pageTitle(), QStringLiteral("色交換実行"));
    page->forward();
    EXPECT_EQ(pageTitle(), QStringLiteral("画像から色を抽出"));
}

TEST_F(RealEngine, PicturesAndTheStyleSheetComeFromTheHelpFile)
{
    request(HELP_CONTEXT, 1205);
    QTextBrowser *page = helpPage();
    const QVariant picture =
        page->loadResource(QTextDocument::ImageResource, QUrl(QStringLiteral("chm:/images/swap_example.png")));
    const QImage image = QImage::fromData(picture.toByteArray());
    EXPECT_EQ(image.size(), QSize(172, 50));
    // The heading takes its colour from style.css.
    const QTextBlock heading = page->document()->begin();
    EXPECT_EQ(heading.text(), QStringLiteral("色交換実行"));
    EXPECT_EQ(heading.begin().fragment().charFormat().foreground().color(), QColor(0x1f, 0x3f, 0x77));
    EXPECT_FALSE(page->loadResource(QTextDocument::ImageResource, QUrl(QStringLiteral("file:///etc/hostname"))).isValid());
}

TEST_F(RealEngine, ClickingAContentsEntryShowsItsPage)
{
    HelpOpenExecute(false, compiledHelpFile());
    auto *contents = helpWindow()->findChild<QTreeWidget *>(QStringLiteral("contents"));
    ASSERT_NE(contents, nullptr);
    const QList<QTreeWidgetItem *> found = contents->findItems(QStringLiteral("色反転実行"), Qt::MatchRecursive);
    ASSERT_EQ(found.size(), 1);
    QTest::mouseClick(contents->viewport(), Qt::LeftButton, {}, contents->visualItemRect(found[0]).center());
    EXPECT_EQ(pageTitle(), QStringLiteral("色反転実行"));
}

TEST_F(RealEngine, ClosingAllWindowsDestroysThem)
{
    request(HELP_CONTEXT, 1101);
    QPointer<QWidget> window = helpWindow();
    ASSERT_FALSE(window.isNull());
    htmlHelpViewer()->CloseWindows();
    EXPECT_TRUE(window.isNull());
    request(HELP_CONTEXT, 1102);
    EXPECT_EQ(pageTitle(), QStringLiteral("画像の保存"));
}

TEST_F(RealEngine, TheWideEntryPointTakesUtf16Texts)
{
    HelpOpenExecute(false, compiledHelpFile());  // loads the module
    void *module = dlopen(helpEngineModulePath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(module, nullptr);
    const auto htmlHelpW = reinterpret_cast<htmlhelp::HtmlHelpWProc>(dlsym(module, htmlhelp::kHtmlHelpWName));
    ASSERT_NE(htmlHelpW, nullptr);
    const std::u16string file = compiledHelpFile().toStdU16String();
    EXPECT_NE(htmlHelpW(0, file.c_str(), htmlhelp::HH_HELP_CONTEXT, 1302), 0u);
    EXPECT_EQ(pageTitle(), QStringLiteral("バージョン情報"));
    const std::u16string keyword = u"モノトーン";
    htmlhelp::HH_AKLINKW link{};
    link.cbStruct = int(sizeof link);
    link.pszKeywords = keyword.c_str();
    link.fIndexOnFail = 1;
    htmlHelpW(0, file.c_str(), htmlhelp::HH_ALINK_LOOKUP, reinterpret_cast<htmlhelp::HelpData>(&link));
    EXPECT_EQ(pageTitle(), QStringLiteral("グレースケール実行"));
    dlclose(module);
}

TEST_F(RealEngine, ALookupRecordThatIsTooShortIsIgnored)
{
    HelpOpenExecute(false, compiledHelpFile());
    request(HELP_CONTEXT, 1101);
    htmlhelp::HH_AKLINK link{};
    link.cbStruct = 8;
    link.pszKeywords = "グレースケール";
    const QByteArray file = compiledHelpFile().toUtf8();
    EXPECT_EQ(CallHtmlHelp(0, file.constData(), htmlhelp::HH_ALINK_LOOKUP, reinterpret_cast<htmlhelp::HelpData>(&link)),
              0u);
    EXPECT_EQ(pageTitle(), QStringLiteral("画像を開く"));
}

TEST(RealEngineLifetime, TheEngineIsStoppedAndUnloadedAtTheEndAndLoadsAgain)
{
    registerHtmlHelpViewer();
    request(HELP_CONTEXT, 1101);
    ASSERT_NE(helpWindow(), nullptr);
    unregisterHtmlHelpViewer();
    EXPECT_EQ(helpWindowCount(), 0);
    QApplication::processEvents();  // nothing of the unloaded module may be pending

    registerHtmlHelpViewer();
    request(HELP_CONTEXT, 1102);
    EXPECT_EQ(pageTitle(), QStringLiteral("画像の保存"));
    unregisterHtmlHelpViewer();
    QApplication::processEvents();
}

}  // namespace
}  // namespace tovi::help
