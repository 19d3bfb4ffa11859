// The help system hands each request to the viewers that claim it.

#include "qt_printers.h"
#include "ui/help/help_system.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace tovi::help {
namespace {

// A viewer whose answers are set by the test and which notes what it is asked
// to open.
class FakeViewer : public ISpecialWinHelpViewer {
public:
    int score = 1;
    bool knowsContext = true;
    bool knowsTopic = true;
    int id = 0;
    int detached = 0;
    std::vector<QString> opened;
    std::vector<QString> contextFiles;

    QString ViewerTitle() override { return QStringLiteral("fake"); }
    int KeywordScore(const QString &) override { return score; }
    QStringList KeywordChoices(const QString &keyword) override { return {keyword}; }
    bool HasContents() override { return true; }
    void OpenContents() override { opened.push_back(QStringLiteral("contents")); }
    void OpenKeyword(const QString &keyword) override { opened.push_back(QStringLiteral("keyword:") + keyword); }
    void TakeViewerId(int viewerId) override { id = viewerId; }
    void CloseWindows() override {}
    void Detach() override { ++detached; }
    bool KnowsTopic(const QString &) override { return knowsTopic; }
    void OpenTopic(const QString &topic) override { opened.push_back(QStringLiteral("topic:") + topic); }
    bool KnowsContext(int, const QString &file) override
    {
        contextFiles.push_back(file);
        return knowsContext;
    }
    void OpenContext(int number, const QString &) override
    {
        opened.push_back(QStringLiteral("context:") + QString::number(number));
    }
    bool PassCommand(WindowHandle, const QString &, std::uint16_t, std::uint32_t) override { return false; }
};

// A viewer of the basic interface only: it knows nothing of contexts and topics.
class PlainViewer : public ICustomHelpViewer {
public:
    std::vector<QString> opened;
    QString ViewerTitle() override { return {}; }
    int KeywordScore(const QString &) override { return 1; }
    QStringList KeywordChoices(const QString &) override { return {}; }
    bool HasContents() override { return false; }
    void OpenContents() override {}
    void OpenKeyword(const QString &keyword) override { opened.push_back(keyword); }
    void TakeViewerId(int) override {}
    void CloseWindows() override {}
    void Detach() override {}
};

TEST(HelpSystemRegistration, ViewersGetIdsFromOneInRegistrationOrder)
{
    HelpManager system;
    auto first = std::make_shared<FakeViewer>();
    auto second = std::make_shared<FakeViewer>();
    EXPECT_EQ(system.AddViewer(first), static_cast<IHelpManager *>(&system));
    system.AddViewer(second);
    EXPECT_EQ(first->id, 1);
    EXPECT_EQ(second->id, 2);
}

TEST(HelpSystemRegistration, AViewerIsListedByEveryInterfaceItOffers)
{
    HelpManager system;
    system.AddViewer(std::make_shared<FakeViewer>());
    system.AddViewer(std::make_shared<PlainViewer>());
    EXPECT_EQ(system.viewerCount(), 2);
    EXPECT_EQ(system.extendedViewerCount(), 1);
    EXPECT_EQ(system.specialViewerCount(), 1);
}

TEST(HelpSystemRegistration, RemoveViewerTakesItOutOfEveryList)
{
    HelpManager system;
    auto viewer = std::make_shared<FakeViewer>();
    system.AddViewer(viewer);
    system.AddViewer(std::make_shared<PlainViewer>());
    system.RemoveViewer(viewer->id);
    EXPECT_EQ(system.viewerCount(), 1);
    EXPECT_EQ(system.extendedViewerCount(), 0);
    EXPECT_EQ(system.specialViewerCount(), 0);
    system.HelpByContext(1101, QStringLiteral("a.chm"));
    EXPECT_TRUE(viewer->opened.empty());
}

TEST(HelpSystemRegistration, TearingDownDetachesViewersStillRegistered)
{
    auto kept = std::make_shared<FakeViewer>();
    auto removed = std::make_shared<FakeViewer>();
    {
        HelpManager system;
        system.AddViewer(kept);
        system.AddViewer(removed);
        system.RemoveViewer(removed->id);
    }
    EXPECT_EQ(kept->detached, 1);
    EXPECT_EQ(removed->detached, 0);
}

TEST(HelpSystemState, OwnerWindowIsAlwaysNone)
{
    HelpManager system;
    EXPECT_EQ(system.OwnerWindow(), WindowHandle(0));
}

TEST(HelpSystemState, CurrentHelpFileIsTheLastNonEmptyOneARequestCarried)
{
    HelpManager system;
    system.AddViewer(std::make_shared<FakeViewer>());
    EXPECT_EQ(system.CurrentHelpFile(), QString());
    system.HelpByContext(1101, QStringLiteral("/a/ToviXP.chm"));
    EXPECT_EQ(system.CurrentHelpFile(), QStringLiteral("/a/ToviXP.chm"));
    system.HelpByKeyword(QStringLiteral("x"), QString());
    system.HelpByTopic(QStringLiteral("y"), QString());
    EXPECT_EQ(system.CurrentHelpFile(), QStringLiteral("/a/ToviXP.chm"));
    system.HelpByTopic(QStringLiteral("y"), QStringLiteral("/b/ToviXP.chm"));
    EXPECT_EQ(system.CurrentHelpFile(), QStringLiteral("/b/ToviXP.chm"));
}

TEST(HelpSystemDispatch, AKeywordGoesToTheOneViewerThatScoresIt)
{
    HelpManager system;
    auto scoring = std::make_shared<FakeViewer>();
    auto silent = std::make_shared<FakeViewer>();
    silent->score = 0;
    system.AddViewer(silent);
    system.AddViewer(scoring);
    system.HelpByKeyword(QStringLiteral("保存"), QStringLiteral("f.chm"));
    EXPECT_EQ(scoring->opened, std::vector<QString>{QStringLiteral("keyword:保存")});
    EXPECT_TRUE(silent->opened.empty());
}

TEST(HelpSystemDispatch, AKeywordScoredByTwoViewersOpensNothing)
{
    HelpManager system;
    auto first = std::make_shared<FakeViewer>();
    auto second = std::make_shared<PlainViewer>();
    system.AddViewer(first);
    system.AddViewer(second);
    system.HelpByKeyword(QStringLiteral("x"), QStringLiteral("f.chm"));
    EXPECT_TRUE(first->opened.empty());
    EXPECT_TRUE(second->opened.empty());
}

TEST(HelpSystemDispatch, AContextGoesToTheOneExtendedViewerThatKnowsIt)
{
    HelpManager system;
    auto knowing = std::make_shared<FakeViewer>();
    auto ignorant = std::make_shared<FakeViewer>();
    ignorant->knowsContext = false;
    system.AddViewer(std::make_shared<PlainViewer>());
    system.AddViewer(ignorant);
    system.AddViewer(knowing);
    system.HelpByContext(1203, QStringLiteral("f.chm"));
    EXPECT_EQ(knowing->opened, std::vector<QString>{QStringLiteral("context:1203")});
    EXPECT_EQ(knowing->contextFiles, std::vector<QString>{QStringLiteral("f.chm")});
    EXPECT_TRUE(ignorant->opened.empty());
}

TEST(HelpSystemDispatch, AContextKnownByTwoViewersOpensNothing)
{
    HelpManager system;
    auto first = std::make_shared<FakeViewer>();
    auto second = std::make_shared<FakeViewer>();
    system.AddViewer(first);
    system.AddViewer(second);
    system.HelpByContext(1000, QStringLiteral("f.chm"));
    EXPECT_TRUE(first->opened.empty());
    EXPECT_TRUE(second->opened.empty());
}

TEST(HelpSystemDispatch, ATopicGoesToTheFirstViewerThatKnowsIt)
{
    HelpManager system;
    auto ignorant = std::make_shared<FakeViewer>();
    ignorant->knowsTopic = false;
    auto first = std::make_shared<FakeViewer>();
    auto second = std::make_shared<FakeViewer>();
    system.AddViewer(ignorant);
    system.AddViewer(first);
    system.AddViewer(second);
    system.HelpByTopic(QStringLiteral("abc"), QStringLiteral("f.chm"));
    EXPECT_TRUE(ignorant->opened.empty());
    EXPECT_EQ(first->opened, std::vector<QString>{QStringLiteral("topic:abc")});
    EXPECT_TRUE(second->opened.empty());
}

}  // namespace
}  // namespace tovi::help
