#pragma once
// The application's help system and the interfaces of its help viewers.
//
// The program asks the help system (IHelpSystem) for help by keyword, by
// context number or by topic; the help system passes each request on to the
// registered viewers that claim it. Viewers see the help system through the
// narrower IHelpManager link they receive at registration.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

namespace tovi::help {

// A window handle as help requests carry it; 0 is "no window".
using WindowHandle = std::uintptr_t;

class ICustomHelpViewer {
public:
    virtual ~ICustomHelpViewer() = default;
    virtual QString ViewerTitle() = 0;
    virtual int KeywordScore(const QString &keyword) = 0;
    virtual QStringList KeywordChoices(const QString &keyword) = 0;
    virtual bool HasContents() = 0;
    virtual void OpenContents() = 0;
    virtual void OpenKeyword(const QString &keyword) = 0;
    virtual void TakeViewerId(int id) = 0;
    virtual void CloseWindows() = 0;
    virtual void Detach() = 0;
};

class IExtendedHelpViewer : public ICustomHelpViewer {
public:
    virtual bool KnowsTopic(const QString &topic) = 0;
    virtual void OpenTopic(const QString &topic) = 0;
    virtual bool KnowsContext(int contextNumber, const QString &helpFile) = 0;
    virtual void OpenContext(int contextNumber, const QString &helpFile) = 0;
};

class ISpecialWinHelpViewer : public IExtendedHelpViewer {
public:
    virtual bool PassCommand(WindowHandle window, const QString &helpFile, std::uint16_t command,
                             std::uint32_t data) = 0;
};

// What a registered viewer may ask of the help system.
class IHelpManager {
public:
    virtual WindowHandle OwnerWindow() = 0;
    virtual QString CurrentHelpFile() = 0;
    virtual void RemoveViewer(int viewerId) = 0;

protected:
    ~IHelpManager() = default;
};

// What the program asks of the help system. Each request takes the help
// file name last; a non-empty one becomes the current help file.
class IHelpSystem {
public:
    virtual void HelpByKeyword(const QString &keyword, const QString &helpFile) = 0;
    virtual void HelpByContext(int contextNumber, const QString &helpFile) = 0;
    virtual void HelpByTopic(const QString &topic, const QString &helpFile) = 0;

    // Registers a viewer, gives it the next id through TakeViewerId and
    // returns the link the viewer keeps until it unregisters.
    virtual IHelpManager *AddViewer(std::shared_ptr<ICustomHelpViewer> viewer) = 0;

protected:
    ~IHelpSystem() = default;
};

class HelpManager final : public IHelpSystem, public IHelpManager {
public:
    HelpManager() = default;
    // Viewers still registered are detached: they close their windows and
    // drop their link.
    ~HelpManager();
    HelpManager(const HelpManager &) = delete;
    HelpManager &operator=(const HelpManager &) = delete;

    void HelpByKeyword(const QString &keyword, const QString &helpFile) override;
    void HelpByContext(int contextNumber, const QString &helpFile) override;
    void HelpByTopic(const QString &topic, const QString &helpFile) override;
    IHelpManager *AddViewer(std::shared_ptr<ICustomHelpViewer> viewer) override;

    WindowHandle OwnerWindow() override;
    QString CurrentHelpFile() override;
    void RemoveViewer(int viewerId) override;

    int viewerCount() const { return int(m_viewers.size()); }
    int extendedViewerCount() const { return int(m_extendedViewers.size()); }
    int specialViewerCount() const { return int(m_specialViewers.size()); }

private:
    template <typename Viewer>
    struct Registration {
        int id;
        std::shared_ptr<Viewer> viewer;
    };

    void takeHelpFile(const QString &helpFile);

    std::vector<Registration<ICustomHelpViewer>> m_viewers;
    std::vector<Registration<IExtendedHelpViewer>> m_extendedViewers;
    std::vector<Registration<ISpecialWinHelpViewer>> m_specialViewers;
    int m_lastId = 0;
    QString m_currentHelpFile;
};

// The one help system of the application.
HelpManager &helpSystem();

}  // namespace tovi::help
