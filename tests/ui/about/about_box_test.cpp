// The about box: the version it reads from executables (the running one,
// copies of it with their record patched or removed), its parts and their
// look over the gradient, its keys and its fade.

#include "ui/about/about_box.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include "modal_driver.h"
#include "platform/gradient.h"
#include "platform/system_colors.h"
#include "support/test_support.h"
#include "ui/about/program_icon.h"
#include "ui/common/window_frames.h"

namespace tovi::ui {
namespace {

using test::Bytes;

const QString kVersion1_4_3_11 = QStringLiteral("バージョン 1.4.3 Build[11]");

void put32(Bytes &bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + std::size_t(i)] = std::uint8_t(value >> (8 * i));
}

// This test program carries the record (it links tovi_version_record); the
// tests read copies of it, patched as each case needs.
class CopiedExecutable : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_program = test::readFile("/proc/self/exe");
        m_block = findBlock();
        ASSERT_NE(m_block, std::size_t(-1)) << "the test program carries no version record";
    }

    // The root block: the UTF-16 key 6 bytes in, the signature 40 bytes in.
    std::size_t findBlock() const
    {
        Bytes key;
        for (const char c : std::string("VS_VERSION_INFO")) {
            key.push_back(std::uint8_t(c));
            key.push_back(0);
        }
        for (auto it = m_program.begin();; ++it) {
            it = std::search(it, m_program.end(), key.begin(), key.end());
            if (it == m_program.end())
                return std::size_t(-1);
            const std::size_t at = std::size_t(it - m_program.begin());
            if (at >= 6 && at + 86 <= m_program.size() && m_program[at + 34] == 0xBD && m_program[at + 35] == 0x04 &&
                m_program[at + 36] == 0xEF && m_program[at + 37] == 0xFE)
                return at - 6;
        }
    }

    std::string write(const Bytes &bytes)
    {
        const std::string path = m_dir.file("copy");
        test::writeFile(path, bytes);
        return path;
    }

    void setProduct(Bytes &bytes, std::uint32_t ms, std::uint32_t ls) const
    {
        put32(bytes, m_block + 40 + 16, ms);
        put32(bytes, m_block + 40 + 20, ls);
    }

    void setFile(Bytes &bytes, std::uint32_t ms, std::uint32_t ls) const
    {
        put32(bytes, m_block + 40 + 8, ms);
        put32(bytes, m_block + 40 + 12, ls);
    }

    test::TempDir m_dir;
    Bytes m_program;
    std::size_t m_block = 0;
};

TEST_F(CopiedExecutable, ACopyShowsTheProjectVersion)
{
    EXPECT_EQ(ReadProductVersion(write(m_program)), (ProductVersion{1, 4, 3, 11}));
    EXPECT_EQ(versionText(ReadProductVersion(write(m_program))), kVersion1_4_3_11);
}

TEST_F(CopiedExecutable, ComponentsOf65535AreShownUnsigned)
{
    Bytes patched = m_program;
    setProduct(patched, 0xFFFF0004, 0x0003FFFF);
    EXPECT_EQ(versionText(ReadProductVersion(write(patched))), QStringLiteral("バージョン 65535.4.3 Build[65535]"));
    setProduct(patched, 0x0001FFFF, 0xFFFF000B);
    EXPECT_EQ(versionText(ReadProductVersion(write(patched))), QStringLiteral("バージョン 1.65535.65535 Build[11]"));
}

TEST_F(CopiedExecutable, TheProductVersionCountsNotTheFileVersion)
{
    Bytes patched = m_program;
    setFile(patched, 0x00090008, 0x00070006);
    EXPECT_EQ(versionText(ReadProductVersion(write(patched))), kVersion1_4_3_11);
    setProduct(patched, 0x00020000, 0x00000001);
    EXPECT_EQ(versionText(ReadProductVersion(write(patched))), QStringLiteral("バージョン 2.0.0 Build[1]"));
}

TEST_F(CopiedExecutable, WithoutTheRecordTheVersionIsZero)
{
    // Renaming the section leaves a program without a version record.
    Bytes patched = m_program;
    const std::string name = ".tovi_version";
    int renamed = 0;
    for (auto it = patched.begin();; ++it) {
        it = std::search(it, patched.end(), name.begin(), name.end());
        if (it == patched.end())
            break;
        it[1] = 'x';
        ++renamed;
    }
    ASSERT_GT(renamed, 0);
    EXPECT_EQ(versionText(ReadProductVersion(write(patched))), QStringLiteral("バージョン 0.0.0 Build[0]"));
}

TEST(ProductVersionReading, TheRunningProgramReadsItsOwnRecord)
{
    EXPECT_EQ(ReadProductVersion(), (ProductVersion{1, 4, 3, 11}));
}

class AboutBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::resetSysColors();
        platform::setSysColor(platform::kColorBtnFace, platform::rgb(190, 190, 190));
        platform::setSysColor(platform::kColorBtnHighlight, platform::rgb(250, 250, 240));
        platform::setSysColor(platform::kColorBtnShadow, platform::rgb(60, 90, 120));
    }
    void TearDown() override { platform::resetSysColors(); }

    static QColor gradientAt(int y)
    {
        const platform::ColorRef c =
            platform::gradientRowColor(platform::rgb(250, 250, 240), platform::rgb(60, 90, 120), y, 184);
        return QColor(int(platform::redOf(c)), int(platform::greenOf(c)), int(platform::blueOf(c)));
    }
};

TEST_F(AboutBoxTest, VersionLabelShowsTheRunningProgramsVersion)
{
    TAboutBox box(nullptr);
    EXPECT_EQ(box.Version->text(), kVersion1_4_3_11);
}

TEST_F(AboutBoxTest, FrameSizeFontAndTexts)
{
    TAboutBox box(nullptr);
    EXPECT_EQ(box.windowTitle(), QStringLiteral("バージョン情報"));
    EXPECT_EQ(box.size(), QSize(252, 184));
    EXPECT_EQ(box.minimumSize(), box.maximumSize());
    const Qt::WindowFlags flags = box.windowFlags();
    EXPECT_EQ(flags, closeBoxDialogFlags());
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
    EXPECT_EQ(box.font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
    EXPECT_EQ(box.font().pixelSize(), 12);
    EXPECT_EQ(box.palette().color(QPalette::WindowText), QColor(Qt::black));

    EXPECT_EQ(box.ProductName->text(), QStringLiteral("Tovi for XP"));
    EXPECT_TRUE(box.ProductName->font().bold());
    EXPECT_FALSE(box.Copyright->text().isEmpty());
    EXPECT_EQ(box.Comments->text(), QStringLiteral("二つの色を交換するソフト。主に白黒反転。"));
    EXPECT_TRUE(box.Comments->wordWrap());
    EXPECT_EQ(box.OKButton->text(), QStringLiteral("OK"));
    EXPECT_TRUE(box.OKButton->isDefault());
}

TEST_F(AboutBoxTest, PartsWhereTheyBelong)
{
    TAboutBox box(nullptr);
    EXPECT_EQ(box.Bevel1->geometry(), QRect(16, 8, 217, 121));
    EXPECT_EQ(box.ProgramIcon->geometry(), QRect(23, 15, 48, 48));
    EXPECT_EQ(box.ProductName->pos(), QPoint(82, 22));
    EXPECT_EQ(box.Version->pos(), QPoint(82, 42));
    EXPECT_EQ(box.Copyright->pos(), QPoint(23, 75));
    EXPECT_EQ(box.Comments->geometry(), QRect(31, 96, 139, 24));
    EXPECT_EQ(box.OKButton->geometry(), QRect(102, 151, 55, 28));
    // Labels fit their text; the comment wraps into two lines.
    EXPECT_EQ(box.Version->size(), box.Version->sizeHint());
    EXPECT_GT(box.Comments->heightForWidth(139), QFontMetrics(box.font()).height());
    // Two lines in 24 pixels: at most the second line's descent (which no
    // character of the text uses) may fall outside.
    EXPECT_LE(box.Comments->heightForWidth(139), 24 + QFontMetrics(box.font()).descent())
        << "the description's two lines don't fit";
    // Everything in the bevel stays inside it.
    for (QLabel *label : {box.ProductName, box.Version, box.Copyright})
        EXPECT_LE(label->geometry().right(), box.Bevel1->geometry().right()) << label->text().toStdString();
    for (QLabel *label : {box.ProductName, box.Version, box.Copyright, box.Comments})
        EXPECT_FALSE(label->autoFillBackground());
    box.show();
    EXPECT_EQ(box.focusWidget(), box.OKButton);
    box.hide();
}

TEST_F(AboutBoxTest, GradientShowsBehindTheLabelsAndTheIconsSeeThroughColour)
{
    TAboutBox box(nullptr);
    box.show();
    const QImage image = box.grab().toImage();
    // Background far from any part, and inside a label's box beside its text.
    EXPECT_EQ(QColor(image.pixel(240, 20)), gradientAt(20));
    EXPECT_EQ(QColor(image.pixel(245, 170)), gradientAt(170));
    const QRect comments = box.Comments->geometry();
    EXPECT_EQ(QColor(image.pixel(comments.right(), comments.top())), gradientAt(comments.top()));
    // The icon's bottom-left corner is see-through; its picture is not.
    EXPECT_EQ(QColor(image.pixel(23, 15 + 47)), gradientAt(15 + 47));
    EXPECT_EQ(QColor(image.pixel(23 + 8, 15 + 10)), QColor(Qt::white));
    EXPECT_EQ(QColor(image.pixel(23 + 38, 15 + 10)), QColor(Qt::black));
    box.hide();
}

TEST_F(AboutBoxTest, BevelIsSunken)
{
    TAboutBox box(nullptr);
    box.show();
    const QImage image = box.grab().toImage();
    const QColor shadow(60, 90, 120);
    const QColor highlight(250, 250, 240);
    EXPECT_EQ(QColor(image.pixel(100, 8)), shadow);       // top
    EXPECT_EQ(QColor(image.pixel(16, 100)), shadow);      // left
    EXPECT_EQ(QColor(image.pixel(100, 128)), highlight);  // bottom
    EXPECT_EQ(QColor(image.pixel(232, 100)), highlight);  // right
    EXPECT_EQ(QColor(image.pixel(100, 9)), gradientAt(9));  // inside: the background
    box.hide();
}

TEST(ProgramIcon, A48By48DrawingWith256ColoursAndSwappedHalves)
{
    const QImage icon = programIconImage();
    EXPECT_EQ(icon.size(), QSize(48, 48));
    EXPECT_EQ(icon.format(), QImage::Format_Indexed8);
    EXPECT_EQ(icon.colorCount(), 256);
    // The right half is the left half with black and white swapped.
    int mirrored = 0;
    for (int y = 5; y < 31; ++y) {
        for (int x = 5; x < 24; ++x) {
            const QRgb left = icon.pixel(x, y);
            const QRgb right = icon.pixel(47 - x, y);
            if (left == qRgb(255, 255, 255) || left == qRgb(0, 0, 0)) {
                EXPECT_EQ(right, left ^ 0x00FFFFFF) << x << "," << y;
                ++mirrored;
            }
        }
    }
    EXPECT_GT(mirrored, 400);
    const QPixmap shown = transparentIcon(icon);
    const QImage shownImage = shown.toImage();
    EXPECT_EQ(qAlpha(shownImage.pixel(0, 47)), 0);
    EXPECT_EQ(qAlpha(shownImage.pixel(47, 0)), 0);
    EXPECT_EQ(qAlpha(shownImage.pixel(10, 10)), 255);
}

TEST_F(AboutBoxTest, EnterClosesItEscapeDoesNot)
{
    TAboutBox box(nullptr);
    box.show();
    QTest::keyClick(box.OKButton, Qt::Key_Escape);
    EXPECT_TRUE(box.isVisible());
    QTest::keyClick(box.OKButton, Qt::Key_Return);
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), QDialog::Accepted);
}

TEST_F(AboutBoxTest, CloseBoxFadesOutAndCloses)
{
    TAboutBox box(nullptr);
    std::vector<int> opacities;
    QObject::connect(&box, &FadeForm::opacityChanged, [&](int value) { opacities.push_back(value); });
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    box.Timer1->stop();
    opacities.clear();
    for (int i = 0; i < 10; ++i)
        box.Timer1Timer();
    opacities.clear();
    box.windowHandle()->close();
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(opacities, (std::vector<int>{80, 60, 40, 20, 0}));
}

TEST_F(AboutBoxTest, EachUseBuildsANewBoxThatFadesInFromZero)
{
    QWidget mainWindow;
    mainWindow.setGeometry(200, 100, 600, 400);
    mainWindow.show();
    for (int use = 0; use < 2; ++use) {
        // As the main window's command does it.
        QPointer<TAboutBox> box = new TAboutBox(&mainWindow);
        std::vector<int> opacities;
        QObject::connect(box, &FadeForm::opacityChanged, [&](int value) { opacities.push_back(value); });
        EXPECT_EQ(box->opacity(), 0);
        test::ModalDriver driver;
        driver.then([&](QWidget *) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return !box->Timer1->isActive(); }, 5000));
            QTest::keyClick(box->OKButton, Qt::Key_Return);
        });
        box->exec();
        box->deleteLater();
        ASSERT_GE(opacities.size(), 27u);
        EXPECT_EQ(opacities.front(), 10);
        EXPECT_EQ(opacities[25], 255);
        EXPECT_EQ(opacities.back(), 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(box.isNull());
    }
}

}  // namespace
}  // namespace tovi::ui
