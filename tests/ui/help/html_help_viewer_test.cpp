// The viewer turns each request into the engine commands described for it;
// the recording engine beside this test program writes them down.

#include "qt_printers.h"
#include "recorder.h"

#include "ui/help/html_help_bridge.h"
#include "ui/help/html_help_viewer.h"

#include <gtest/gtest.h>

namespace tovi::help {
namespace {

using testing::clearRecordedCalls;
using testing::isModuleLoaded;
using testing::recordedCalls;

const QString kFile = QStringLiteral("/opt/tovi/ToviXP.chm");

QString line(const char *text)
{
    return QString::fromUtf8(text);
}

// A viewer registered with a help system of its own, so each test starts
// from a fresh viewer and fresh ids.
class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        viewer = std::make_shared<THTMLHelpViewer>();
        viewer->setHelpManager(system.AddViewer(viewer));
        clearRecordedCalls();
    }

    void TearDown() override
    {
        viewer->unregister();
        clearRecordedCalls();
    }

    HelpManager system;
    std::shared_ptr<THTMLHelpViewer> viewer;
};

TEST_F(ViewerTest, RegistrationGivesTheFirstViewerIdOneAndKeepsTheLink)
{
    EXPECT_EQ(viewer->viewerId(), 1);
    EXPECT_EQ(viewer->helpManager(), static_cast<IHelpManager *>(&system));
    EXPECT_FALSE(viewer->isStarted());
    EXPECT_EQ(viewer->cookie(), 0u);
    EXPECT_TRUE(recordedCalls().isEmpty());
}

TEST_F(ViewerTest, AnswersYesToEveryQuestion)
{
    EXPECT_EQ(viewer->ViewerTitle(), QString());
    EXPECT_EQ(viewer->KeywordScore(QString()), 1);
    EXPECT_EQ(viewer->KeywordScore(QStringLiteral("色交換")), 1);
    EXPECT_EQ(viewer->KeywordChoices(QStringLiteral("abc")), QStringList{QStringLiteral(": abc")});
    EXPECT_TRUE(viewer->HasContents());
    EXPECT_TRUE(viewer->KnowsTopic(QStringLiteral("anything")));
    EXPECT_TRUE(viewer->KnowsContext(0, QString()));
    EXPECT_TRUE(viewer->KnowsContext(-5, kFile));
}

TEST_F(ViewerTest, OpenContextStartsTheEngineOpensTheFileThenTheContext)
{
    viewer->OpenContext(1104, kFile);
    EXPECT_EQ(recordedCalls(),
              QStringList({line("INITIALIZE caller=0 file=null cookie:=4242"),
                           line("DISPLAY_TOPIC caller=0 file=\"/opt/tovi/ToviXP.chm\" data=0"),
                           line("HELP_CONTEXT caller=0 file=\"/opt/tovi/ToviXP.chm\" data=1104")}));
    EXPECT_TRUE(viewer->isStarted());
    EXPECT_EQ(viewer->cookie(), 4242u);
}

TEST_F(ViewerTest, ContextZeroIsPassedOnUnchanged)
{
    viewer->OpenContext(0, kFile);
    EXPECT_EQ(recordedCalls().last(), line("HELP_CONTEXT caller=0 file=\"/opt/tovi/ToviXP.chm\" data=0"));
}

TEST_F(ViewerTest, TwoRequestsStartTheEngineOnce)
{
    viewer->OpenContext(1101, kFile);
    viewer->OpenTopic(QStringLiteral("abc"));
    viewer->OpenKeyword(QString());
    viewer->PassCommand(0, kFile, 1, 0);
    EXPECT_EQ(recordedCalls().filter(QStringLiteral("INITIALIZE")).size(), 1);
}

TEST_F(ViewerTest, OpenTopicShowsThePagePathWithoutOpeningTheFileFirst)
{
    system.HelpByContext(1000, kFile);  // makes kFile the current help file
    clearRecordedCalls();
    viewer->OpenTopic(QStringLiteral("abc"));
    EXPECT_EQ(recordedCalls(),
              QStringList{line("DISPLAY_TOPIC caller=0 file=\"/opt/tovi/ToviXP.chm::/abc.htm\" data=0")});
}

TEST_F(ViewerTest, OpenTopicUsesTheTopicTextAsItStands)
{
    system.HelpByContext(1000, kFile);
    clearRecordedCalls();
    viewer->OpenTopic(QStringLiteral("../色 交換"));
    EXPECT_EQ(recordedCalls(),
              QStringList{line("DISPLAY_TOPIC caller=0 file=\"/opt/tovi/ToviXP.chm::/../色 交換.htm\" data=0")});
}

TEST_F(ViewerTest, OpenKeywordLooksUpWithTheIndexShownOnFailure)
{
    system.HelpByContext(1000, kFile);
    clearRecordedCalls();
    viewer->OpenKeyword(QString());
    const QString expected = QStringLiteral(
                                 "ALINK_LOOKUP caller=0 file=\"/opt/tovi/ToviXP.chm\" size=%1 reserved=0 keywords=\"\" "
                                 "url=null msgtext=null msgtitle=null window=null indexOnFail=1")
                                 .arg(sizeof(htmlhelp::HH_AKLINK));
    EXPECT_EQ(recordedCalls(), QStringList{expected});
}

TEST_F(ViewerTest, OpenKeywordPassesTheKeywordAsUtf8)
{
    system.HelpByContext(1000, kFile);
    clearRecordedCalls();
    viewer->OpenKeyword(QStringLiteral("グレースケール"));
    EXPECT_TRUE(recordedCalls().constFirst().contains(QStringLiteral("keywords=\"グレースケール\"")));
}

TEST_F(ViewerTest, OpenContentsShowsTheCurrentHelpFile)
{
    system.HelpByTopic(QStringLiteral("x"), kFile);
    clearRecordedCalls();
    viewer->OpenContents();
    EXPECT_EQ(recordedCalls(), QStringList{line("DISPLAY_TOPIC caller=0 file=\"/opt/tovi/ToviXP.chm\" data=0")});
}

TEST_F(ViewerTest, AnEmptyFileNameFallsBackToTheCurrentHelpFile)
{
    system.HelpByTopic(QStringLiteral("x"), kFile);
    clearRecordedCalls();
    viewer->OpenContext(1202, QString());
    EXPECT_EQ(recordedCalls().last(), line("HELP_CONTEXT caller=0 file=\"/opt/tovi/ToviXP.chm\" data=1202"));
}

TEST_F(ViewerTest, CloseWindowsDoesNotStartTheEngine)
{
    viewer->CloseWindows();
    EXPECT_EQ(recordedCalls(), QStringList{line("CLOSE_ALL caller=0 file=null data=0")});
    EXPECT_FALSE(viewer->isStarted());
}

TEST_F(ViewerTest, PassCommandStartsTheEngineAndTakesNoCommand)
{
    EXPECT_FALSE(viewer->PassCommand(0, kFile, 1, 1101));
    EXPECT_EQ(recordedCalls(), QStringList{line("INITIALIZE caller=0 file=null cookie:=4242")});
}

TEST_F(ViewerTest, DetachClosesStopsAndDropsTheLink)
{
    viewer->OpenContext(1101, kFile);
    clearRecordedCalls();
    viewer->Detach();
    EXPECT_EQ(recordedCalls(), QStringList({line("CLOSE_ALL caller=0 file=null data=0"),
                                            line("UNINITIALIZE caller=0 file=null data=4242")}));
    EXPECT_FALSE(viewer->isStarted());
    EXPECT_EQ(viewer->cookie(), 0u);
    EXPECT_EQ(viewer->helpManager(), nullptr);
}

TEST_F(ViewerTest, AfterDetachTheNextRequestStartsTheEngineAgainWithoutAFile)
{
    viewer->OpenContext(1101, kFile);
    viewer->Detach();
    clearRecordedCalls();
    viewer->OpenKeyword(QStringLiteral("x"));
    const QStringList calls = recordedCalls();
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls[0], line("INITIALIZE caller=0 file=null cookie:=4242"));
    // The link is gone, so there is no current help file to fall back on.
    EXPECT_TRUE(calls[1].startsWith(QStringLiteral("ALINK_LOOKUP caller=0 file=\"\" ")));
}

TEST_F(ViewerTest, UnregisteringClosesWindowsLeavesTheHelpSystemAndStopsTheEngine)
{
    viewer->OpenContext(1101, kFile);
    clearRecordedCalls();
    viewer->unregister();
    EXPECT_EQ(recordedCalls(), QStringList({line("CLOSE_ALL caller=0 file=null data=0"),
                                            line("UNINITIALIZE caller=0 file=null data=4242")}));
    EXPECT_EQ(system.viewerCount(), 0);
    EXPECT_EQ(viewer->helpManager(), nullptr);
}

TEST_F(ViewerTest, UnregisteringANeverStartedViewerOnlyClosesWindows)
{
    viewer->unregister();
    EXPECT_EQ(recordedCalls(), QStringList{line("CLOSE_ALL caller=0 file=null data=0")});
}

// The process-wide viewer of the program entry.
TEST(ProgramViewer, RegisteringTwiceKeepsOneViewer)
{
    registerHtmlHelpViewer();
    const auto first = htmlHelpViewer();
    registerHtmlHelpViewer();
    EXPECT_EQ(htmlHelpViewer(), first);
    EXPECT_EQ(helpSystem().viewerCount(), 1);
    unregisterHtmlHelpViewer();
    EXPECT_EQ(htmlHelpViewer(), nullptr);
    EXPECT_EQ(helpSystem().viewerCount(), 0);
}

TEST(ProgramViewer, TheEndUnloadsTheEngineAfterStoppingIt)
{
    registerHtmlHelpViewer();
    htmlHelpViewer()->OpenContext(1000, kFile);
    ASSERT_TRUE(isModuleLoaded());
    clearRecordedCalls();
    const std::string modulePath = helpEngineModulePath();
    unregisterHtmlHelpViewer();
    // The module's own log can't be read once it is unloaded; the unload is
    // what this test checks, the commands before it are checked above.
    EXPECT_FALSE(isModuleLoaded(modulePath));
}

}  // namespace
}  // namespace tovi::help
