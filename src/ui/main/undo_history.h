#pragma once
// The steps the undo and redo commands walk through. Each step is the whole
// picture as it was (pixels, pixel format, palette) with the format label and
// whether the picture was shown. The picture is a bitmap copy, which shares
// its pixels with the picture it was taken from until either side changes
// them, so recording a step before a change costs no pixel copy of its own.

#include <QColor>
#include <QString>

#include <cstddef>
#include <deque>
#include <optional>

#include "picture/bitmap.h"

namespace tovi::ui {

class UndoHistory {
public:
    struct Step {
        picture::Bitmap picture;
        bool shown = false;
        QString formatText;
        QColor formatBackground;
        QColor formatForeground;
    };

    // How much picture memory the steps may hold together.
    static constexpr std::size_t kDefaultBudget = std::size_t(512) << 20;

    explicit UndoHistory(std::size_t budget = kDefaultBudget) : m_budget(budget) {}

    bool canUndo() const { return !m_undo.empty(); }
    bool canRedo() const { return !m_redo.empty(); }
    std::size_t undoCount() const { return m_undo.size(); }
    std::size_t redoCount() const { return m_redo.size(); }

    // A change was made; `before` is what it takes back to. What could be
    // redone is gone. The oldest steps go when over the budget, but the step
    // next to the current picture stays on either side.
    void record(Step before);
    // Takes the last change back: `current` becomes the next redo step and
    // the step to restore is returned (none when there is nothing to take back).
    std::optional<Step> undo(Step current);
    // The opposite of undo.
    std::optional<Step> redo(Step current);
    void clear();

    // The picture memory a step holds.
    static std::size_t stepBytes(const Step &step);

private:
    void trim();

    std::size_t m_budget;
    std::deque<Step> m_undo;  // oldest first
    std::deque<Step> m_redo;  // the next redo step last
};

}  // namespace tovi::ui
