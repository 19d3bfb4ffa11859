#include "ui/main/undo_history.h"

#include <utility>

namespace tovi::ui {

void UndoHistory::record(Step before)
{
    m_redo.clear();
    m_undo.push_back(std::move(before));
    trim();
}

std::optional<UndoHistory::Step> UndoHistory::undo(Step current)
{
    if (m_undo.empty())
        return std::nullopt;
    Step restored = std::move(m_undo.back());
    m_undo.pop_back();
    m_redo.push_back(std::move(current));
    trim();
    return restored;
}

std::optional<UndoHistory::Step> UndoHistory::redo(Step current)
{
    if (m_redo.empty())
        return std::nullopt;
    Step restored = std::move(m_redo.back());
    m_redo.pop_back();
    m_undo.push_back(std::move(current));
    trim();
    return restored;
}

void UndoHistory::clear()
{
    m_undo.clear();
    m_redo.clear();
}

std::size_t UndoHistory::stepBytes(const Step &step)
{
    std::size_t bytes = 0;
    if (const platform::Raster *raster = step.picture.raster())
        bytes += raster->imageBytes();
    if (const std::vector<std::uint8_t> *kept = step.picture.keptFileBytes())
        bytes += kept->size();
    return bytes;
}

void UndoHistory::trim()
{
    std::size_t total = 0;
    for (const auto *steps : {&m_undo, &m_redo})
        for (const Step &step : *steps)
            total += stepBytes(step);
    // The oldest changes go first, but the step next to the current picture
    // stays on either side: the last change can always be taken back, and
    // what was just taken back done again.
    while (total > m_budget && m_undo.size() > 1) {
        total -= stepBytes(m_undo.front());
        m_undo.pop_front();
    }
    while (total > m_budget && m_redo.size() > 1) {
        total -= stepBytes(m_redo.front());
        m_redo.pop_front();
    }
}

}  // namespace tovi::ui
