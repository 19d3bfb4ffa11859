// The parts of the engine that read a compiled help file: the records of the
// file, the context map and the contents and index lists.

#include "qt_printers.h"
#include "help_engine/chm_file.h"
#include "help_engine/help_engine.h"
#include "help_engine/sitemap.h"

#include <QCoreApplication>
#include <QFile>

#include <gtest/gtest.h>

namespace tovi::helpengine {
namespace {

QString compiledHelpFile()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/ToviXP.chm");
}

QByteArray le32(std::uint32_t value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((value >> (8 * i)) & 0xFF);
    return bytes;
}

QByteArray systemRecord(std::uint16_t code, const QByteArray &text)
{
    QByteArray record;
    const QByteArray data = text + '\0';
    record += char(code & 0xFF);
    record += char(code >> 8);
    record += char(data.size() & 0xFF);
    record += char(data.size() >> 8);
    return record + data;
}

TEST(ContextMap, PairsPointIntoTheStrings)
{
    const QByteArray strings = QByteArray("\0/src/help/a.htm\0/src/help/img/b.htm\0", 37);
    const QByteArray ivb = le32(16) + le32(1000) + le32(1) + le32(1101) + le32(17);
    const auto map = parseContextMap(ivb, strings);
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map.at(1000), QStringLiteral("/src/help/a.htm"));
    EXPECT_EQ(map.at(1101), QStringLiteral("/src/help/img/b.htm"));
}

TEST(ContextMap, DamagedRecordsGiveWhatCanBeRead)
{
    const QByteArray strings = QByteArray("\0a.htm\0", 7);
    // Count larger than the record, an offset past the strings, a torn pair.
    const QByteArray ivb = le32(400) + le32(1) + le32(1) + le32(2) + le32(999) + le32(3);
    const auto map = parseContextMap(ivb, strings);
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map.at(1), QStringLiteral("a.htm"));
    EXPECT_TRUE(parseContextMap(QByteArray("\x01", 1), strings).empty());
    EXPECT_TRUE(parseContextMap(QByteArray(), QByteArray()).empty());
}

TEST(ContextMap, StoredPathsNameThePageTheyEndWith)
{
    const QStringList pages = {QStringLiteral("/a.htm"), QStringLiteral("/img/a.htm"), QStringLiteral("/b.htm")};
    EXPECT_EQ(pageForStoredPath(QStringLiteral("/home/x/help/a.htm"), pages), QStringLiteral("/a.htm"));
    EXPECT_EQ(pageForStoredPath(QStringLiteral("/home/x/help/img/a.htm"), pages), QStringLiteral("/img/a.htm"));
    EXPECT_EQ(pageForStoredPath(QStringLiteral("C:\\src\\help\\IMG\\A.HTM"), pages), QStringLiteral("/img/a.htm"));
    EXPECT_EQ(pageForStoredPath(QStringLiteral("b.htm#part"), pages), QStringLiteral("/b.htm"));
    EXPECT_EQ(pageForStoredPath(QStringLiteral("/home/x/help/xb.htm"), pages), QString());
    EXPECT_EQ(pageForStoredPath(QStringLiteral("/home/x/c.htm"), pages), QString());
}

TEST(SystemRecords, TheEntriesTheWindowNeedsAreRead)
{
    const QByteArray system = le32(3) + systemRecord(0, "toc.hhc") + systemRecord(1, "index.hhk")
        + systemRecord(9, "compiler") + systemRecord(2, "overview.htm") + systemRecord(3, "ヘルプ");
    const ChmSystemInfo info = parseSystemRecords(system);
    EXPECT_EQ(info.contentsFile, QStringLiteral("toc.hhc"));
    EXPECT_EQ(info.indexFile, QStringLiteral("index.hhk"));
    EXPECT_EQ(info.defaultTopic, QStringLiteral("overview.htm"));
    EXPECT_EQ(info.title, QStringLiteral("ヘルプ"));
}

TEST(SystemRecords, ARecordRunningPastTheEndStopsTheReading)
{
    QByteArray system = le32(3) + systemRecord(3, "Title");
    system += QByteArray("\x02\x00\x40\x00over", 8);
    const ChmSystemInfo info = parseSystemRecords(system);
    EXPECT_EQ(info.title, QStringLiteral("Title"));
    EXPECT_EQ(info.defaultTopic, QString());
}

TEST(HelpTexts, Utf8AndTheJapaneseCodePageAreBothRead)
{
    EXPECT_EQ(decodeHelpText(QByteArray("\xE8\x89\xB2", 3)), QStringLiteral("色"));
    // "色" in Shift_JIS, not valid UTF-8.
    EXPECT_EQ(decodeHelpText(QByteArray("\x90\x46", 2)), QStringLiteral("色"));
}

TEST(PagePaths, EveryWayOfWritingAPageBecomesAnAbsolutePath)
{
    EXPECT_EQ(normalizePagePath(QStringLiteral("a.htm")), QStringLiteral("/a.htm"));
    EXPECT_EQ(normalizePagePath(QStringLiteral("./img/a.png")), QStringLiteral("/img/a.png"));
    EXPECT_EQ(normalizePagePath(QStringLiteral("/a.htm#x")), QStringLiteral("/a.htm#x"));
    EXPECT_EQ(normalizePagePath(QStringLiteral("ms-its:ToviXP.chm::/b.htm")), QStringLiteral("/b.htm"));
    EXPECT_EQ(normalizePagePath(QStringLiteral("dir\\c.htm")), QStringLiteral("/dir/c.htm"));
}

TEST(TopicArguments, FileAndPageAreSplitAtTheFirstDoubleColon)
{
    TopicArgument topic = splitTopicArgument(QStringLiteral("/x/ToviXP.chm::/abc.htm"));
    EXPECT_EQ(topic.file, QStringLiteral("/x/ToviXP.chm"));
    EXPECT_EQ(topic.page, QStringLiteral("/abc.htm"));
    topic = splitTopicArgument(QStringLiteral("/x/ToviXP.chm"));
    EXPECT_EQ(topic.file, QStringLiteral("/x/ToviXP.chm"));
    EXPECT_EQ(topic.page, QString());
    topic = splitTopicArgument(QStringLiteral("/x/ToviXP.chm>main"));
    EXPECT_EQ(topic.file, QStringLiteral("/x/ToviXP.chm"));
    topic = splitTopicArgument(QStringLiteral("/x/a>b/ToviXP.chm::/p.htm>main"));
    EXPECT_EQ(topic.file, QStringLiteral("/x/a>b/ToviXP.chm"));
    EXPECT_EQ(topic.page, QStringLiteral("/p.htm"));
}

TEST(Sitemaps, NestedListsGiveLevelsAndTheHeaderObjectIsSkipped)
{
    const QString html = QStringLiteral(
        "<HTML><BODY><OBJECT type=\"text/site properties\"><param name=\"ImageType\" value=\"Folder\"></OBJECT>"
        "<!-- <UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"hidden\"></OBJECT> -->"
        "<UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"Top\"><param name=\"Local\" value=\"top.htm\"></OBJECT>"
        "<LI><object type='text/sitemap'><PARAM NAME=Name VALUE=Folder></object>"
        "<ul><li><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"A &amp; B\"><param name=\"Local\" value=\"a.htm\"></OBJECT></ul>"
        "<LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"Last\"><param name=\"Local\" value=\"last.htm\"></OBJECT>"
        "</UL></BODY></HTML>");
    const auto items = parseSitemap(html);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].name, QStringLiteral("Top"));
    EXPECT_EQ(items[0].level, 0);
    ASSERT_EQ(items[0].topics.size(), 1u);
    EXPECT_EQ(items[0].topics[0].local, QStringLiteral("top.htm"));
    EXPECT_EQ(items[1].name, QStringLiteral("Folder"));
    EXPECT_TRUE(items[1].topics.empty());
    EXPECT_EQ(items[2].name, QStringLiteral("A & B"));
    EXPECT_EQ(items[2].level, 1);
    EXPECT_EQ(items[3].level, 0);
}

TEST(Sitemaps, AnIndexKeywordMayLeadToSeveralTitledPages)
{
    const auto items = parseSitemap(QStringLiteral(
        "<UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"色\">"
        "<param name=\"Name\" value=\"色交換\"><param name=\"Local\" value=\"a.htm\">"
        "<param name=\"Name\" value=\"色反転\"><param name=\"Local\" value=\"b.htm\"></OBJECT></UL>"));
    ASSERT_EQ(items.size(), 1u);
    ASSERT_EQ(items[0].topics.size(), 2u);
    EXPECT_EQ(items[0].topics[0].title, QStringLiteral("色交換"));
    EXPECT_EQ(items[0].topics[1].title, QStringLiteral("色反転"));
    EXPECT_EQ(items[0].topics[1].local, QStringLiteral("b.htm"));
}

TEST(Sitemaps, BrokenMarkupEndsWithoutACrash)
{
    EXPECT_TRUE(parseSitemap(QStringLiteral("<UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"x")).empty());
    EXPECT_TRUE(parseSitemap(QStringLiteral("<")).empty());
    EXPECT_TRUE(parseSitemap(QStringLiteral("<!-- never closed")).empty());
}

TEST(Sitemaps, EntitiesAreDecoded)
{
    EXPECT_EQ(decodeHtmlEntities(QStringLiteral("&lt;&gt;&quot;&#33;&#x41;&amp;amp;")), QStringLiteral("<>\"!A&amp;"));
    EXPECT_EQ(decodeHtmlEntities(QStringLiteral("a & b &unknown;")), QStringLiteral("a & b &unknown;"));
}

// The compiled help file of the build.
class CompiledHelpFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFile::exists(compiledHelpFile())) << compiledHelpFile().toStdString();
        file = ChmFile::open(compiledHelpFile());
        ASSERT_NE(file, nullptr);
    }
    std::unique_ptr<ChmFile> file;
};

TEST_F(CompiledHelpFile, HasItsTitleDefaultPageContentsAndIndex)
{
    EXPECT_EQ(file->system().title, QStringLiteral("Tovi for XP ヘルプ"));
    EXPECT_EQ(file->system().defaultTopic, QStringLiteral("overview.htm"));
    EXPECT_TRUE(file->contains(file->system().contentsFile));
    EXPECT_TRUE(file->contains(file->system().indexFile));
    EXPECT_TRUE(file->contains(QStringLiteral("/images/swap_example.png")));
    EXPECT_TRUE(file->contains(QStringLiteral("style.css")));
    EXPECT_FALSE(file->contains(QStringLiteral("/missing.htm")));
    EXPECT_FALSE(file->read(QStringLiteral("/missing.htm")).has_value());
}

TEST_F(CompiledHelpFile, MapsExactlyTheProgramsContextNumbers)
{
    std::vector<std::uint32_t> numbers;
    for (const auto &[number, page] : file->contextPages()) {
        numbers.push_back(number);
        EXPECT_TRUE(file->contains(page)) << page.toStdString();
    }
    EXPECT_EQ(numbers, (std::vector<std::uint32_t>{1000, 1101, 1102, 1103, 1104, 1201, 1202, 1203, 1204, 1205,
                                                   1206, 1207, 1208, 1209, 1210, 1211, 1212, 1213, 1301, 1302,
                                                   1401}));
    EXPECT_EQ(file->pageForContext(1203), QStringLiteral("/color_pick.htm"));
    EXPECT_EQ(file->pageForContext(0), QString());
}

TEST_F(CompiledHelpFile, EveryContentsAndIndexEntryLeadsToAPageOfTheFile)
{
    for (const QString &list : {file->system().contentsFile, file->system().indexFile}) {
        const auto items = parseSitemap(decodeHelpText(file->read(list).value()));
        EXPECT_GT(items.size(), 10u);
        for (const SitemapItem &item : items) {
            for (const SitemapTopic &topic : item.topics)
                EXPECT_TRUE(file->contains(topic.local)) << topic.local.toStdString();
        }
    }
}

TEST(ChmFiles, AFileThatIsNoHelpFileDoesNotOpen)
{
    EXPECT_EQ(ChmFile::open(QStringLiteral("/nonexistent/ToviXP.chm")), nullptr);
    EXPECT_EQ(ChmFile::open(QCoreApplication::applicationFilePath()), nullptr);
}

}  // namespace
}  // namespace tovi::helpengine
