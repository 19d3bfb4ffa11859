// F1 on menus and clicks in context-help mode, driven on real widgets: a
// window built like the main window (menu bar, mode sub-menu, the run
// button's pop-up menu, F1 as the help command's shortcut) raises the help
// requests, the application handler takes them, and the stand-in engine
// beside this program records what reached it.

#include "qt_printers.h"
#include "recorder.h"

#include "ui/help/application_help.h"
#include "ui/help/help_requests.h"
#include "ui/help/html_help_viewer.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWhatsThis>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace tovi::help {
namespace {

using testing::clearRecordedCalls;
using testing::recordedCalls;

const QString kFile = QStringLiteral("/opt/tovi/ToviXP.chm");

using Request = std::pair<std::uint16_t, std::uintptr_t>;

std::uintptr_t packed(QPoint position)
{
    return std::uintptr_t(std::uint16_t(position.x())) | (std::uintptr_t(std::uint16_t(position.y())) << 16);
}

// The menus and controls of the main window that help requests touch.
class MainWindowLike : public QMainWindow {
public:
    explicit MainWindowLike(bool asksForHelpButton)
    {
        setWindowFlag(Qt::WindowContextHelpButtonHint, asksForHelpButton);
        fileMenu = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
        openPicture = action(fileMenu, "画像を開く(&O)...", kHelpContextOpenPicture);
        action(fileMenu, "画像の保存(&S)...", kHelpContextSavePicture);
        fileMenu->addSeparator();
        action(fileMenu, "複数画像を処理...", kHelpContextSelectPictures);
        fileMenu->addSeparator();
        fileExit = action(fileMenu, "終了(&X)", kHelpContextFileExit);

        editMenu = menuBar()->addMenu(QStringLiteral("編集(&E)"));
        action(editMenu, "貼り付け(&P)", kHelpContextEditPaste);
        colorPick1 = action(editMenu, "画像から色1を抽出", kHelpContextColorPick);
        modeSubMenu = editMenu->addMenu(QStringLiteral("モード変更"));
        modeChange = action(modeSubMenu, "色交換モード", kHelpContextMode);
        modeInv = action(modeSubMenu, "色反転モード", kHelpContextMode);

        helpMenu = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
        helpOpen = action(helpMenu, "ヘルプ(&H)", kHelpContextHelpOpen);
        helpOpen->setShortcut(Qt::Key_F1);
        connect(helpOpen, &QAction::triggered, this, [this] { HelpOpenExecute(picking, kFile); });

        modeMenu = new QMenu(this);
        modeMenu->addAction(modeChange);
        modeMenu->addAction(modeInv);

        toolBar = addToolBar(QStringLiteral("ToolBar1"));
        runButton = new QToolButton;
        runButton->setMenu(modeMenu);
        runButton->setPopupMode(QToolButton::MenuButtonPopup);
        toolBar->addWidget(runButton);

        auto *central = new QWidget;
        auto *layout = new QVBoxLayout(central);
        colorBar = new QWidget;
        swatch = new QLabel(QStringLiteral("ColorPanel1"), colorBar);
        layout->addWidget(colorBar);
        keywordControl = new QLabel(QStringLiteral("keyword"));
        layout->addWidget(keywordControl);
        setCentralWidget(central);
        statusBar()->showMessage(QStringLiteral("status"));
        resize(504, 561);
    }

    QAction *action(QMenu *menu, const char *caption, int helpContextNumber)
    {
        QAction *entry = menu->addAction(QString::fromUtf8(caption));
        setHelpContext(entry, helpContextNumber);
        return entry;
    }

    bool picking = false;
    QMenu *fileMenu, *editMenu, *modeSubMenu, *helpMenu, *modeMenu;
    QAction *openPicture, *fileExit, *colorPick1, *modeChange, *modeInv, *helpOpen;
    QToolBar *toolBar;
    QToolButton *runButton;
    QWidget *colorBar;
    QLabel *swatch, *keywordControl;
};

class HelpRequestsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        registerHtmlHelpViewer();
        installHelpRequests([this](std::uint16_t command, std::uintptr_t data, bool &callHelp) {
            requests.emplace_back(command, data);
            return ApplicationEvents1Help(command, data, callHelp, kFile);
        });
        clearRecordedCalls();
    }

    void TearDown() override
    {
        closePopups();
        removeHelpRequests();
        unregisterHtmlHelpViewer();
    }

    static void show(QWidget &window)
    {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    // Opens a menu of the menu bar as a click on its title would.
    static void openFromMenuBar(MainWindowLike &window, QMenu *menu)
    {
        window.menuBar()->setActiveAction(menu->menuAction());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    }

    static void pressF1InMenu(QMenu *menu, QAction *highlighted)
    {
        menu->setActiveAction(highlighted);
        QTest::keyClick(menu, Qt::Key_F1);
    }

    static void closePopups()
    {
        while (QWidget *popup = QApplication::activePopupWidget())
            popup->close();
    }

    static QStringList openedContext(int number)
    {
        return {QStringLiteral("INITIALIZE caller=0 file=null cookie:=4242"),
                QStringLiteral("DISPLAY_TOPIC caller=0 file=\"/opt/tovi/ToviXP.chm\" data=0"),
                QStringLiteral("HELP_CONTEXT caller=0 file=\"/opt/tovi/ToviXP.chm\" data=%1").arg(number)};
    }

    std::vector<Request> requests;
};

TEST_F(HelpRequestsTest, F1OnAHighlightedMenuBarEntrySendsThePositionThenItsContext)
{
    MainWindowLike window(true);
    show(window);
    openFromMenuBar(window, window.fileMenu);
    pressF1InMenu(window.fileMenu, window.fileExit);
    EXPECT_EQ(requests, (std::vector<Request>{{HELP_SETPOPUP_POS, packed(window.mapToGlobal(QPoint(0, 0)))},
                                              {HELP_CONTEXTPOPUP, kHelpContextFileExit}}));
    EXPECT_EQ(recordedCalls(), openedContext(1104));
}

TEST_F(HelpRequestsTest, F1InAMenuDoesNotRunTheHelpCommand)
{
    MainWindowLike window(true);
    int helpCommandRuns = 0;
    QObject::connect(window.helpOpen, &QAction::triggered, [&] { ++helpCommandRuns; });
    show(window);
    openFromMenuBar(window, window.fileMenu);
    pressF1InMenu(window.fileMenu, window.openPicture);
    EXPECT_EQ(helpCommandRuns, 0);
    EXPECT_TRUE(recordedCalls().filter(QStringLiteral("ALINK_LOOKUP")).isEmpty());
    EXPECT_EQ(recordedCalls(), openedContext(1101));
}

TEST_F(HelpRequestsTest, F1OnTheSubMenuTitlePassesContextZeroOn)
{
    MainWindowLike window(true);
    show(window);
    openFromMenuBar(window, window.editMenu);
    pressF1InMenu(window.editMenu, window.modeSubMenu->menuAction());
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1], Request(HELP_CONTEXTPOPUP, 0));
    EXPECT_EQ(recordedCalls(), openedContext(0));
}

TEST_F(HelpRequestsTest, F1OnAnEntryOfTheOpenSubMenuGivesTheModeContext)
{
    MainWindowLike window(true);
    show(window);
    openFromMenuBar(window, window.editMenu);
    window.modeSubMenu->popup(window.mapToGlobal(QPoint(200, 60)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.modeSubMenu));
    pressF1InMenu(window.modeSubMenu, window.modeInv);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].first, HELP_SETPOPUP_POS);
    EXPECT_EQ(requests[1], Request(HELP_CONTEXTPOPUP, kHelpContextMode));
}

TEST_F(HelpRequestsTest, F1InAMenuWithNothingHighlightedGivesTheMenuTitlesContext)
{
    MainWindowLike window(true);
    show(window);
    openFromMenuBar(window, window.fileMenu);
    pressF1InMenu(window.fileMenu, nullptr);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1], Request(HELP_CONTEXTPOPUP, 0));
}

TEST_F(HelpRequestsTest, F1OnAMenuTitleWalkedWithTheKeyboardGivesContextZero)
{
    MainWindowLike window(true);
    int helpCommandRuns = 0;
    QObject::connect(window.helpOpen, &QAction::triggered, [&] { ++helpCommandRuns; });
    show(window);
    QTest::keyClick(&window, Qt::Key_Alt);  // the menu bar takes the keyboard, first title highlighted
    QMenuBar *bar = window.menuBar();
    if (!bar->activeAction())
        GTEST_SKIP() << "this style has no keyboard walk of the menu bar";
    QTest::keyClick(bar, Qt::Key_F1);
    EXPECT_EQ(helpCommandRuns, 0);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1], Request(HELP_CONTEXTPOPUP, 0));
}

TEST_F(HelpRequestsTest, F1OnAModeMenuEntrySendsItsContextWithoutAPosition)
{
    MainWindowLike window(true);
    show(window);
    window.modeMenu->popup(window.runButton->mapToGlobal(QPoint(0, window.runButton->height())));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.modeMenu));
    pressF1InMenu(window.modeMenu, window.modeChange);
    EXPECT_EQ(requests, (std::vector<Request>{{HELP_CONTEXTPOPUP, kHelpContextMode}}));
    EXPECT_EQ(recordedCalls(), openedContext(1209));
}

TEST_F(HelpRequestsTest, AWindowWithoutTheHelpButtonSendsPlainContextRequests)
{
    MainWindowLike window(false);
    show(window);
    openFromMenuBar(window, window.fileMenu);
    pressF1InMenu(window.fileMenu, window.fileExit);
    EXPECT_EQ(requests, (std::vector<Request>{{HELP_CONTEXT, kHelpContextFileExit}}));
    EXPECT_EQ(recordedCalls(), openedContext(1104));
}

TEST_F(HelpRequestsTest, F1WithNoMenuOpenRunsTheHelpCommand)
{
    MainWindowLike window(true);
    show(window);
    QTest::keyClick(&window, Qt::Key_F1);
    EXPECT_TRUE(requests.empty());
    const QStringList calls = recordedCalls();
    ASSERT_EQ(calls.size(), 2);
    EXPECT_TRUE(calls[1].startsWith(QStringLiteral("ALINK_LOOKUP caller=0 file=\"/opt/tovi/ToviXP.chm\" ")));
    EXPECT_TRUE(calls[1].contains(QStringLiteral("keywords=\"\"")));
    EXPECT_TRUE(calls[1].endsWith(QStringLiteral("indexOnFail=1")));
}

TEST_F(HelpRequestsTest, F1WhilePickingOpensThePageOnPicking)
{
    MainWindowLike window(true);
    window.picking = true;
    show(window);
    QTest::keyClick(&window, Qt::Key_F1);
    EXPECT_EQ(recordedCalls(), openedContext(1203));
}

// Context-help mode, then a click on the control.
void whatsThisClick(QWidget *control)
{
    QWhatsThis::enterWhatsThisMode();
    QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(2, 2));
    if (QWhatsThis::inWhatsThisMode())
        QWhatsThis::leaveWhatsThisMode();
}

TEST_F(HelpRequestsTest, AContextHelpClickOnAControlWithoutHelpOpensNothing)
{
    MainWindowLike window(true);
    show(window);
    for (QWidget *control : std::vector<QWidget *>{window.toolBar, window.runButton, window.swatch,
                                                    window.keywordControl, window.statusBar()})
        whatsThisClick(control);
    EXPECT_TRUE(requests.empty());
    EXPECT_TRUE(recordedCalls().isEmpty());
}

TEST_F(HelpRequestsTest, AContextHelpClickTakesTheNearestContainerWithHelp)
{
    MainWindowLike window(true);
    setHelpContext(window.colorBar, kHelpContextColorSelect);
    show(window);
    whatsThisClick(window.swatch);
    EXPECT_EQ(requests, (std::vector<Request>{{HELP_SETPOPUP_POS, packed(window.colorBar->mapToGlobal(QPoint(0, 0)))},
                                              {HELP_CONTEXTPOPUP, kHelpContextColorSelect}}));
    EXPECT_EQ(recordedCalls(), openedContext(1204));
}

TEST_F(HelpRequestsTest, AContextHelpClickOnAKeywordControlOpensThePageOfThatName)
{
    MainWindowLike window(false);
    setHelpKeyword(window.keywordControl, QStringLiteral("color_inv"));
    show(window);
    whatsThisClick(window.keywordControl);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].first, HELP_COMMAND);
    EXPECT_EQ(recordedCalls().last(),
              QStringLiteral("DISPLAY_TOPIC caller=0 file=\"/opt/tovi/ToviXP.chm::/color_inv.htm\" data=0"));
}

TEST_F(HelpRequestsTest, AKeywordTypeControlWithAnEmptyKeywordHasNoHelp)
{
    MainWindowLike window(false);
    setHelpContext(window.keywordControl, kHelpContextEditCopy);
    setHelpKeyword(window.keywordControl, QString());
    show(window);
    whatsThisClick(window.keywordControl);
    EXPECT_TRUE(requests.empty());
}

TEST(HelpProperties, ContextAndKeywordAreKeptOnTheObject)
{
    QAction entry(nullptr);
    EXPECT_EQ(helpContext(&entry), 0);
    setHelpContext(&entry, kHelpContextHelpAbout);
    EXPECT_EQ(helpContext(&entry), 1302);
    setHelpKeyword(&entry, QStringLiteral("about"));
    EXPECT_EQ(helpKeyword(&entry), QStringLiteral("about"));
    EXPECT_EQ(helpContext(nullptr), 0);
}

TEST(ApplicationHelpCommand, WithoutAHandlerNothingIsHandled)
{
    removeHelpRequests();
    EXPECT_FALSE(applicationHelpCommand(HELP_CONTEXT, 1101));
}

}  // namespace
}  // namespace tovi::help
