// The table of processing modes as the window reads it: each row's two
// actions, its glyph, its place in the menus, its help page and what running
// it does agree with the row and with the colour operation.

#include <gtest/gtest.h>

#include <QFile>
#include <QMenu>
#include <QRegularExpression>

#include "fixture.h"
#include "process/color_ops.h"

namespace tovi::test {
namespace {

using process::kModes;
using process::ModeInfo;
using ui::TAction;

QString text(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

// The context numbers the help project maps to pages.
std::vector<int> mappedHelpContexts()
{
    QFile project(QStringLiteral(TOVI_SOURCE_DIR "/help/ToviXP.hhp"));
    EXPECT_TRUE(project.open(QIODevice::ReadOnly));
    const QString all = QString::fromUtf8(project.readAll());
    std::vector<int> numbers;
    const QRegularExpression define(QStringLiteral("^#define\\s+IDH_\\w+\\s+(\\d+)"),
                                    QRegularExpression::MultilineOption);
    for (auto it = define.globalMatch(all); it.hasNext();)
        numbers.push_back(it.next().captured(1).toInt());
    return numbers;
}

template <class T>
bool contains(const std::vector<T> &items, const T &item)
{
    return std::find(items.begin(), items.end(), item) != items.end();
}

using ModeTable = MainFormTest;

TEST_F(ModeTable, EveryRowsActionsGlyphMenusAndHelpAgree)
{
    ui::TMainForm &form = start();
    const std::vector<int> mapped = mappedHelpContexts();
    EXPECT_TRUE(contains(mapped, int(help::kHelpContextMode)));
    QList<QAction *> modeActions;
    std::vector<QImage> glyphs;
    for (const ModeInfo &mode : kModes) {
        SCOPED_TRACE(mode.commandName);
        EXPECT_EQ(process::modeName(mode.code), mode.resultName);

        TAction *choose = form.modeAction(mode.code);
        ASSERT_NE(choose, nullptr);
        EXPECT_EQ(choose->objectName(), text(mode.modeAction));
        EXPECT_EQ(choose->text(), text(mode.modeCaption));
        EXPECT_EQ(choose->hint(), text(mode.modeHint));
        EXPECT_EQ(choose->imageIndex(), mode.glyph);
        EXPECT_EQ(choose->helpContext(), help::kHelpContextMode);
        modeActions.append(choose);

        TAction *run = form.runAction(mode.code);
        ASSERT_NE(run, nullptr);
        EXPECT_EQ(run->objectName(), text(mode.runAction));
        EXPECT_EQ(run->text(), text(mode.runCaption));
        EXPECT_EQ(run->hint(), text(mode.runHint));
        EXPECT_EQ(run->imageIndex(), mode.glyph);
        EXPECT_EQ(run->helpContext(), mode.runHelpContext);
        EXPECT_TRUE(contains(mapped, mode.runHelpContext));
        EXPECT_TRUE(form.EditMenu->actions().contains(run));
        for (const TAction *a : {choose, run})
            EXPECT_EQ(a->helpType(), mode.keywordHelp ? TAction::HelpType::Keyword : TAction::HelpType::Context);

        const QImage glyph = form.ImageList1.image(mode.glyph);
        ASSERT_FALSE(glyph.isNull());
        for (const QImage &other : glyphs)
            EXPECT_NE(glyph, other);
        glyphs.push_back(glyph);
    }
    EXPECT_EQ(form.ModeMenu->actions(), modeActions);
    EXPECT_EQ(form.ModeChangeMenu->actions(), modeActions);
    EXPECT_EQ(form.modeAction(process::unusedModeCode()), nullptr);
    EXPECT_EQ(form.runAction(process::unusedModeCode()), nullptr);
}

TEST_F(ModeTable, ChoosingARowMakesTheRunButtonApplyItsRule)
{
    const std::vector<ColorRef> colors = {0x000000FF, 0x00020000, 0x00FFFFFF, 0x00000000};
    ui::TMainForm &form = start({writeFile(QStringLiteral("p.bmp"), bmp24Colors(2, 2, colors))});
    EXPECT_EQ(form.currentMode(), process::kDefaultMode);
    for (const ModeInfo &mode : kModes) {
        SCOPED_TRACE(mode.commandName);
        form.modeAction(mode.code)->trigger();
        EXPECT_EQ(form.currentMode(), mode.code);
        EXPECT_EQ(form.ColorProcRun->imageIndex(), mode.glyph);
        EXPECT_EQ(form.ColorProcRun->text(), text(mode.modeCaption));

        picture::Bitmap expected = *form.Image1->bitmap();
        process::processColors(expected, mode.code, form.color1(), form.color2());
        form.ColorProcRun->trigger();
        const picture::Bitmap &shown = *form.Image1->bitmap();
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x)
                EXPECT_EQ(shown.pixel(x, y), expected.pixel(x, y)) << x << "," << y;
    }
}

}  // namespace
}  // namespace tovi::test
