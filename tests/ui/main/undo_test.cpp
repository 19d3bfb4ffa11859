// Undo and redo: the history on its own (its memory budget), and in the
// window, where the colour commands and paste are taken back and done again
// with pixels, pixel format, palette and format label, through the keys and
// the menu as a user does.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QTest>

#include "fixture.h"
#include "ui/main/undo_history.h"

namespace tovi::test {
namespace {

using ui::UndoHistory;

// A step holding a 24-bit picture of `width` x 1 pixels (rows padded to 4 bytes).
UndoHistory::Step stepOfWidth(int width)
{
    UndoHistory::Step step;
    step.picture.setPixelFormat(picture::PixelFormat::Bit24);
    step.picture.setWidth(width);
    step.picture.setHeight(1);
    step.formatText = QString::number(width);
    return step;
}

TEST(UndoHistoryBudget, DropsTheOldestStepsButAlwaysKeepsTheLast)
{
    // Each step holds 400 bytes (a row of 132 pixels is 396 bytes, padded).
    UndoHistory history(1000);
    for (int i = 0; i < 4; ++i)
        history.record(stepOfWidth(132));
    EXPECT_EQ(history.undoCount(), 2u);
    // Taking one back moves the current picture to the redo side, where it counts too.
    auto restored = history.undo(stepOfWidth(132));
    ASSERT_TRUE(restored.has_value());
    EXPECT_EQ(history.undoCount(), 1u);
    EXPECT_EQ(history.redoCount(), 1u);
    // A step larger than the whole budget is still kept: the last change can
    // always be taken back.
    history.record(stepOfWidth(1000));
    EXPECT_EQ(history.undoCount(), 1u);
    EXPECT_FALSE(history.canRedo());
    EXPECT_EQ(history.undo(stepOfWidth(1))->formatText, QStringLiteral("1000"));
    EXPECT_FALSE(history.canUndo());
    EXPECT_EQ(history.redo(stepOfWidth(2))->formatText, QStringLiteral("1"));
    // Taking back a large picture drops older steps, not the one before it.
    history.record(stepOfWidth(132));
    history.undo(stepOfWidth(1000));
    EXPECT_EQ(history.undoCount(), 1u);
    EXPECT_EQ(history.redoCount(), 1u);
}

TEST(UndoHistoryBudget, StepsShareThePixelsOfThePictureTheyWereTakenFrom)
{
    UndoHistory::Step step = stepOfWidth(4);
    picture::Bitmap current = step.picture;
    EXPECT_EQ(current.raster(), step.picture.raster());
    // A change to the picture gives it pixels of its own; the step keeps the old ones.
    const std::uint8_t before = step.picture.raster()->scanLine(0)[0];
    current.scanLine(0)[0] = std::uint8_t(~before);
    EXPECT_NE(current.raster(), step.picture.raster());
    EXPECT_EQ(step.picture.raster()->scanLine(0)[0], before);
}

// ---------------------------------------------------------------------------

class Undo : public MainFormTest {
protected:
    void TearDown() override
    {
        QApplication::clipboard()->clear();
        MainFormTest::TearDown();
    }
    void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::ControlModifier)
    {
        QTest::keyClick(m_form.get(), k, modifiers);
        settle();
    }
    void undo() { key(Qt::Key_Z); }
    void redo() { key(Qt::Key_Y); }

    struct Look {
        std::vector<ColorRef> pixels;
        picture::PixelFormat format;
        std::vector<ColorRef> palette;
        QString label;
        QSize size;
        bool shown;
        bool operator==(const Look &) const = default;
    };
    Look look() const
    {
        // A hidden picture control's size doesn't show.
        Look l{{}, picture::PixelFormat::Device, {}, m_form->StaticText1->text(),
               m_form->pictureShown() ? m_form->Image1->size() : QSize(), m_form->pictureShown()};
        if (const picture::Bitmap *b = m_form->Image1->bitmap()) {
            l.format = b->pixelFormat();
            for (int y = 0; y < b->height(); ++y)
                for (int x = 0; x < b->width(); ++x)
                    l.pixels.push_back(b->pixel(x, y));
            if (b->raster())
                for (const platform::RgbQuad &entry : b->raster()->colorTable())
                    l.palette.push_back(entry.color());
        }
        return l;
    }
    static void putImageOnClipboard(QSize size, QColor color)
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(color);
        QApplication::clipboard()->setImage(image);
        settle();
    }
};

TEST_F(Undo, PalettedPictureComesBackWithItsFormatPaletteAndLabel)
{
    ui::TMainForm &form = start(
        {writeFile(QStringLiteral("eight.bmp"), bmp8(2, 2, {0x000000FF, 0x0000FF00, 0x00FFFFFF}, {0, 1, 2, 0}))});
    const Look opened = look();
    ASSERT_EQ(opened.format, picture::PixelFormat::Bit8);
    ASSERT_EQ(opened.label, QStringLiteral("8bit : 256色 ビットマップ"));

    form.ColorInvGray->trigger();
    settle();
    const Look processed = look();
    ASSERT_NE(processed.pixels, opened.pixels);
    putImageOnClipboard(QSize(3, 1), QColor(1, 2, 3));
    key(Qt::Key_V);
    const Look pasted = look();
    ASSERT_EQ(pasted.label, QStringLiteral("デバイス依存フォーマット"));

    undo();
    EXPECT_EQ(look(), processed);
    undo();
    EXPECT_EQ(look(), opened);
    // What is painted is the picture taken back.
    EXPECT_EQ(colorAt(form.Image1->grab().toImage(), 1, 0), 0x0000FF00u);
    redo();
    EXPECT_EQ(look(), processed);
    redo();
    EXPECT_EQ(look(), pasted);
}

TEST_F(Undo, TrueColourPictureRoundTripsThroughEachColourCommand)
{
    const std::vector<ColorRef> colors = {0x000000FF, 0x00020000, 0x00FFFFFF, 0x00000000};
    ui::TMainForm &form = start({writeFile(QStringLiteral("true.bmp"), bmp24Colors(2, 2, colors))});
    const Look opened = look();
    ASSERT_EQ(opened.label, QStringLiteral("24bit : TrueColorビットマップ"));
    std::vector<Look> after;
    for (ui::TAction *command : {form.ColorChange, form.ColorInv, form.ColorGray}) {
        command->trigger();
        settle();
        after.push_back(look());
    }
    // The run button's mode is a colour command too.
    QTest::mouseClick(form.ToolButton7, Qt::LeftButton, {}, QPoint(8, 10));
    settle();
    after.push_back(look());
    for (auto it = after.rbegin() + 1; it != after.rend(); ++it) {
        undo();
        EXPECT_EQ(look(), *it);
    }
    undo();
    EXPECT_EQ(look(), opened);
    EXPECT_EQ(look().label, QStringLiteral("24bit : TrueColorビットマップ"));
    for (const Look &expected : after) {
        redo();
        EXPECT_EQ(look(), expected);
    }
}

TEST_F(Undo, EntriesAreGreyedExactlyWhenThereIsNothingToTakeBackOrRedo)
{
    ui::TMainForm &form = start();
    const Look empty = look();
    // At the top of the edit menu, above a separator.
    const QList<QAction *> entries = form.EditMenu->actions();
    ASSERT_GE(entries.size(), 4);
    EXPECT_EQ(entries[0], form.EditUndo1);
    EXPECT_EQ(entries[1], form.EditRedo1);
    EXPECT_TRUE(entries[2]->isSeparator());
    EXPECT_EQ(entries[3], form.EditPaste1);
    EXPECT_FALSE(form.EditUndo1->isEnabled());
    EXPECT_FALSE(form.EditRedo1->isEnabled());

    // A paste into the empty window is taken back to the empty window.
    putImageOnClipboard(QSize(2, 2), Qt::red);
    key(Qt::Key_V);
    EXPECT_TRUE(form.EditUndo1->isEnabled());
    EXPECT_FALSE(form.EditRedo1->isEnabled());
    undo();
    EXPECT_EQ(look(), empty);
    EXPECT_EQ(look().label, QStringLiteral("ColorFormat"));
    EXPECT_FALSE(form.EditUndo1->isEnabled());
    EXPECT_TRUE(form.EditRedo1->isEnabled());
    // A greyed entry's key does nothing.
    undo();
    EXPECT_EQ(look(), empty);
    redo();
    EXPECT_TRUE(form.pictureShown());

    // Saving keeps the history; opening starts a new one.
    form.setSaveDialogFileName(writeFile(QStringLiteral("saved.bmp"), {}));
    form.SavePicture1Accept();
    settle();
    EXPECT_TRUE(form.EditUndo1->isEnabled());
    open(writeFile(QStringLiteral("p.bmp"), bmp24Filled(2, 2, 0)));
    EXPECT_FALSE(form.EditUndo1->isEnabled());
    EXPECT_FALSE(form.EditRedo1->isEnabled());
    // A new change after an undo leaves nothing to redo.
    form.ColorInv->trigger();
    settle();
    undo();
    ASSERT_TRUE(form.EditRedo1->isEnabled());
    form.ColorGray->trigger();
    settle();
    EXPECT_FALSE(form.EditRedo1->isEnabled());
}

}  // namespace
}  // namespace tovi::test
