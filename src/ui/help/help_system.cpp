#include "ui/help/help_system.h"

#include <algorithm>
#include <utility>

namespace tovi::help {

HelpManager::~HelpManager()
{
    // Detach may reach back into this object (RemoveViewer), so work on a copy.
    const auto viewers = std::exchange(m_viewers, {});
    m_extendedViewers.clear();
    m_specialViewers.clear();
    for (const auto &registration : viewers)
        registration.viewer->Detach();
}

void HelpManager::takeHelpFile(const QString &helpFile)
{
    if (!helpFile.isEmpty())
        m_currentHelpFile = helpFile;
}

void HelpManager::HelpByKeyword(const QString &keyword, const QString &helpFile)
{
    takeHelpFile(helpFile);
    std::shared_ptr<ICustomHelpViewer> chosen;
    int candidates = 0;
    for (const auto &registration : m_viewers) {
        if (registration.viewer->KeywordScore(keyword) > 0) {
            chosen = registration.viewer;
            ++candidates;
        }
    }
    // With several candidates the user would have to choose; this program
    // registers one viewer, so that never arises and nothing is shown.
    if (candidates == 1)
        chosen->OpenKeyword(keyword);
}

void HelpManager::HelpByContext(int contextNumber, const QString &helpFile)
{
    takeHelpFile(helpFile);
    std::shared_ptr<IExtendedHelpViewer> chosen;
    int candidates = 0;
    for (const auto &registration : m_extendedViewers) {
        if (registration.viewer->KnowsContext(contextNumber, helpFile)) {
            chosen = registration.viewer;
            ++candidates;
        }
    }
    if (candidates == 1)
        chosen->OpenContext(contextNumber, helpFile);
}

void HelpManager::HelpByTopic(const QString &topic, const QString &helpFile)
{
    takeHelpFile(helpFile);
    for (const auto &registration : m_extendedViewers) {
        if (registration.viewer->KnowsTopic(topic)) {
            // Keep the viewer alive even if opening the topic unregisters it.
            const std::shared_ptr<IExtendedHelpViewer> viewer = registration.viewer;
            viewer->OpenTopic(topic);
            return;
        }
    }
}

IHelpManager *HelpManager::AddViewer(std::shared_ptr<ICustomHelpViewer> viewer)
{
    if (!viewer)
        return nullptr;
    const int id = ++m_lastId;
    viewer->TakeViewerId(id);
    if (auto extended = std::dynamic_pointer_cast<IExtendedHelpViewer>(viewer))
        m_extendedViewers.push_back({id, std::move(extended)});
    if (auto special = std::dynamic_pointer_cast<ISpecialWinHelpViewer>(viewer))
        m_specialViewers.push_back({id, std::move(special)});
    m_viewers.push_back({id, std::move(viewer)});
    return this;
}

WindowHandle HelpManager::OwnerWindow()
{
    // Help windows are opened without an owner.
    return 0;
}

QString HelpManager::CurrentHelpFile()
{
    return m_currentHelpFile;
}

void HelpManager::RemoveViewer(int viewerId)
{
    const auto removeFrom = [viewerId](auto &list) {
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [viewerId](const auto &registration) { return registration.id == viewerId; }),
                   list.end());
    };
    removeFrom(m_viewers);
    removeFrom(m_extendedViewers);
    removeFrom(m_specialViewers);
}

HelpManager &helpSystem()
{
    static HelpManager system;
    return system;
}

}  // namespace tovi::help
