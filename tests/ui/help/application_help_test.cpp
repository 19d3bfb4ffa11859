// The help command and the application help handler, from the request to the
// engine commands (recorded by the stand-in engine beside this program).

#include "qt_printers.h"
#include "recorder.h"

#include "ui/help/application_help.h"
#include "ui/help/html_help_bridge.h"
#include "ui/help/html_help_viewer.h"

#include <gtest/gtest.h>

namespace tovi::help {
namespace {

using testing::clearRecordedCalls;
using testing::recordedCalls;

const QString kFile = QStringLiteral("/opt/tovi/ToviXP.chm");

QString line(const char *text)
{
    return QString::fromUtf8(text);
}

QStringList openedContext(const char *number)
{
    return {line("INITIALIZE caller=0 file=null cookie:=4242"),
            line("DISPLAY_TOPIC caller=0 file=\"/opt/tovi/ToviXP.chm\" data=0"),
            QStringLiteral("HELP_CONTEXT caller=0 file=\"/opt/tovi/ToviXP.chm\" data=%1").arg(QLatin1String(number))};
}

// The program as it stands after start-up: the viewer registered.
class ApplicationHelpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        registerHtmlHelpViewer();
        clearRecordedCalls();
    }

    void TearDown() override
    {
        unregisterHtmlHelpViewer();
    }

    bool request(std::uint16_t command, std::uintptr_t data)
    {
        bool callHelp = true;
        const bool handled = ApplicationEvents1Help(command, data, callHelp, kFile);
        EXPECT_FALSE(callHelp);
        return handled;
    }
};

TEST_F(ApplicationHelpTest, HelpCommandLooksUpAnEmptyKeywordWithTheIndexOnFailure)
{
    HelpOpenExecute(false, kFile);
    const QStringList calls = recordedCalls();
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls[0], line("INITIALIZE caller=0 file=null cookie:=4242"));
    EXPECT_EQ(calls[1], QStringLiteral("ALINK_LOOKUP caller=0 file=\"/opt/tovi/ToviXP.chm\" size=%1 reserved=0 "
                                       "keywords=\"\" url=null msgtext=null msgtitle=null window=null indexOnFail=1")
                            .arg(sizeof(htmlhelp::HH_AKLINK)));
}

TEST_F(ApplicationHelpTest, HelpCommandWhilePickingOpensThePageOnPicking)
{
    HelpOpenExecute(true, kFile);
    EXPECT_EQ(recordedCalls(), openedContext("1203"));
}

TEST_F(ApplicationHelpTest, ContextRequestOpensTheFileThenTheContext)
{
    EXPECT_TRUE(request(HELP_CONTEXT, 1104));
    EXPECT_EQ(recordedCalls(), openedContext("1104"));
}

TEST_F(ApplicationHelpTest, ContextPopupRequestOpensTheNormalHelpWindow)
{
    EXPECT_TRUE(request(HELP_CONTEXTPOPUP, 1209));
    EXPECT_EQ(recordedCalls(), openedContext("1209"));
}

TEST_F(ApplicationHelpTest, PositionRequestIsHandledAndDoesNothing)
{
    EXPECT_TRUE(request(HELP_SETPOPUP_POS, 0x00640032));
    EXPECT_TRUE(recordedCalls().isEmpty());
}

TEST_F(ApplicationHelpTest, PositionThenContextOpensOnlyTheContext)
{
    request(HELP_SETPOPUP_POS, 0x00640032);
    request(HELP_CONTEXTPOPUP, 1104);
    EXPECT_EQ(recordedCalls(), openedContext("1104"));
}

TEST_F(ApplicationHelpTest, CommandRequestOpensThePageNamedByItsText)
{
    const char topic[] = "abc";
    EXPECT_TRUE(request(HELP_COMMAND, reinterpret_cast<std::uintptr_t>(topic)));
    EXPECT_EQ(recordedCalls(), QStringList({line("INITIALIZE caller=0 file=null cookie:=4242"),
                                            line("DISPLAY_TOPIC caller=0 file=\"/opt/tovi/ToviXP.chm::/abc.htm\" data=0")}));
}

TEST_F(ApplicationHelpTest, CommandRequestWithoutTextAsksForAnEmptyTopic)
{
    EXPECT_TRUE(request(HELP_COMMAND, 0));
    EXPECT_EQ(recordedCalls().last(), line("DISPLAY_TOPIC caller=0 file=\"/opt/tovi/ToviXP.chm::/.htm\" data=0"));
}

TEST_F(ApplicationHelpTest, TwoRequestsLoadAndStartTheEngineOnce)
{
    request(HELP_CONTEXT, 1101);
    request(HELP_CONTEXT, 1102);
    HelpOpenExecute(false, kFile);
    const QStringList calls = recordedCalls();
    EXPECT_EQ(calls.filter(QStringLiteral("INITIALIZE")).size(), 1);
    EXPECT_EQ(calls.size(), 1 + 2 + 2 + 1);
}

TEST_F(ApplicationHelpTest, EveryEngineCallIsMadeWithCallerWindowZero)
{
    const char topic[] = "abc";
    HelpOpenExecute(false, kFile);
    HelpOpenExecute(true, kFile);
    request(HELP_CONTEXT, 1101);
    request(HELP_COMMAND, reinterpret_cast<std::uintptr_t>(topic));
    request(99, 0);
    htmlHelpViewer()->CloseWindows();
    const QStringList calls = recordedCalls();
    ASSERT_GE(calls.size(), 9);
    for (const QString &call : calls)
        EXPECT_TRUE(call.contains(QStringLiteral(" caller=0 "))) << call.toStdString();
}

class UnknownRequestKind : public ApplicationHelpTest, public ::testing::WithParamInterface<std::uint16_t> {};

TEST_P(UnknownRequestKind, OpensTheDefaultContext)
{
    EXPECT_TRUE(request(GetParam(), 1104));
    EXPECT_EQ(recordedCalls(), openedContext("1000"));
}

INSTANTIATE_TEST_SUITE_P(Kinds, UnknownRequestKind, ::testing::Values(0, 2, 3, 9, 12, 14, 257, 259, 0xFFFF));

TEST(ApplicationHelpFile, BesideTheExecutableTakesOnlyTheFileNamePart)
{
    const QString folder = QString::fromStdString(executableFolder());
    EXPECT_EQ(helpFileBesideExecutable(QStringLiteral("ToviXP.chm")), folder + QStringLiteral("/ToviXP.chm"));
    EXPECT_EQ(helpFileBesideExecutable(QStringLiteral("/elsewhere/ToviXP.chm")), folder + QStringLiteral("/ToviXP.chm"));
    EXPECT_TRUE(folder.startsWith(QLatin1Char('/')));
}

}  // namespace
}  // namespace tovi::help
