// Without the engine module beside the program, help quietly does nothing;
// the bridge finds a module that appears later, and ignores one that lacks an
// entry point. This program lies in a folder of its own, without a module.

#include "qt_printers.h"
#include "recorder.h"

#include "ui/help/application_help.h"
#include "ui/help/html_help_bridge.h"
#include "ui/help/html_help_viewer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tovi::help {
namespace {

using testing::recordedCalls;

TEST(NoEngineModule, TheModuleIsReallyMissing)
{
    EXPECT_FALSE(QFile::exists(QString::fromStdString(helpEngineModulePath())));
}

TEST(NoEngineModule, EveryHelpRequestDoesNothingAndReturnsNothing)
{
    registerHtmlHelpViewer();
    const QString file = helpFileBesideExecutable(QStringLiteral("ToviXP.chm"));
    EXPECT_EQ(CallHtmlHelp(0, nullptr, htmlhelp::HH_CLOSE_ALL, 0), 0u);
    HelpOpenExecute(false, file);
    HelpOpenExecute(true, file);
    bool callHelp = true;
    EXPECT_TRUE(ApplicationEvents1Help(HELP_CONTEXT, 1104, callHelp, file));
    EXPECT_FALSE(callHelp);
    const char topic[] = "abc";
    EXPECT_TRUE(ApplicationEvents1Help(HELP_COMMAND, reinterpret_cast<std::uintptr_t>(topic), callHelp, file));
    EXPECT_TRUE(ApplicationEvents1Help(77, 0, callHelp, file));
    // The viewer counts itself started even though nothing answered.
    EXPECT_TRUE(htmlHelpViewer()->isStarted());
    EXPECT_EQ(htmlHelpViewer()->cookie(), 0u);
    EXPECT_FALSE(testing::isModuleLoaded());
    unregisterHtmlHelpViewer();
}

TEST(HtmlHelpBridge, AFailedLoadIsTriedAgainAtTheNextCall)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::string path = QDir(folder.path()).filePath(QStringLiteral("libtovihelp.so")).toStdString();
    HtmlHelpModule module(path);
    EXPECT_EQ(module.call(0, nullptr, htmlhelp::HH_CLOSE_ALL, 0), 0u);
    EXPECT_EQ(module.call(0, nullptr, htmlhelp::HH_CLOSE_ALL, 0), 0u);
    EXPECT_EQ(module.loadAttempts(), 2);
    EXPECT_FALSE(module.isLoaded());

    ASSERT_TRUE(QFile::copy(QStringLiteral(TOVI_RECORDER_MODULE), QString::fromStdString(path)));
    EXPECT_EQ(module.call(0, "x.chm", htmlhelp::HH_DISPLAY_TOPIC, 0), 1u);
    EXPECT_EQ(module.loadAttempts(), 3);
    module.call(0, nullptr, htmlhelp::HH_CLOSE_ALL, 0);
    EXPECT_EQ(module.loadAttempts(), 3);
    EXPECT_EQ(recordedCalls(path), QStringList({QStringLiteral("DISPLAY_TOPIC caller=0 file=\"x.chm\" data=0"),
                                                QStringLiteral("CLOSE_ALL caller=0 file=null data=0")}));
}

TEST(HtmlHelpBridge, AModuleWithoutBothEntryPointsIsNotCalledNorLoadedAgain)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::string path = QDir(folder.path()).filePath(QStringLiteral("libtovihelp.so")).toStdString();
    ASSERT_TRUE(QFile::copy(QStringLiteral(TOVI_RECORDER_WITHOUT_W_MODULE), QString::fromStdString(path)));
    HtmlHelpModule module(path);
    EXPECT_EQ(module.call(0, "x.chm", htmlhelp::HH_DISPLAY_TOPIC, 0), 0u);
    EXPECT_EQ(module.call(0, "x.chm", htmlhelp::HH_HELP_CONTEXT, 1000), 0u);
    EXPECT_TRUE(module.isLoaded());
    EXPECT_FALSE(module.hasEntryPoints());
    EXPECT_EQ(module.loadAttempts(), 1);
    EXPECT_TRUE(recordedCalls(path).isEmpty());
}

TEST(HtmlHelpBridge, UnloadingLetsTheNextCallLoadAgain)
{
    HtmlHelpModule module(TOVI_RECORDER_MODULE);
    module.call(0, nullptr, htmlhelp::HH_CLOSE_ALL, 0);
    EXPECT_TRUE(module.isLoaded());
    module.unload();
    EXPECT_FALSE(module.isLoaded());
    module.call(0, nullptr, htmlhelp::HH_CLOSE_ALL, 0);
    EXPECT_EQ(module.loadAttempts(), 2);
}

}  // namespace
}  // namespace tovi::help
