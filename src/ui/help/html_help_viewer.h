#pragma once
// The help viewer of the program: it turns the help system's requests into
// commands of the help engine (through CallHtmlHelp). It answers yes to every
// question of the help system, so each request reaches it exactly once.
//
// Program entry (src/app/main.cpp) registers it before anything else and
// unregisters it after the message loop has ended:
//
//     int main(int argc, char *argv[])
//     {
//         tovi::help::registerHtmlHelpViewer();
//         QApplication application(argc, argv);
//         ...
//         const int result = application.exec();
//         tovi::help::unregisterHtmlHelpViewer();  // while the QApplication still exists
//         return result;
//     }

#include "ui/help/help_system.h"

#include <cstdint>
#include <memory>

namespace tovi::help {

class THTMLHelpViewer final : public ISpecialWinHelpViewer {
public:
    THTMLHelpViewer() = default;

    // ICustomHelpViewer
    QString ViewerTitle() override;
    int KeywordScore(const QString &keyword) override;
    QStringList KeywordChoices(const QString &keyword) override;
    bool HasContents() override;
    void OpenContents() override;
    void OpenKeyword(const QString &keyword) override;
    void TakeViewerId(int id) override;
    void CloseWindows() override;
    void Detach() override;
    // IExtendedHelpViewer
    bool KnowsTopic(const QString &topic) override;
    void OpenTopic(const QString &topic) override;
    bool KnowsContext(int contextNumber, const QString &helpFile) override;
    void OpenContext(int contextNumber, const QString &helpFile) override;
    // ISpecialWinHelpViewer
    bool PassCommand(WindowHandle window, const QString &helpFile, std::uint16_t command,
                     std::uint32_t data) override;

    // The link to the help system, kept from registration until shut-down.
    void setHelpManager(IHelpManager *link) { m_helpManager = link; }
    IHelpManager *helpManager() const { return m_helpManager; }

    // Program end: close the help windows, unregister, stop the engine.
    void unregister();

    bool isStarted() const { return Started; }
    std::uint32_t cookie() const { return Cookie; }
    int viewerId() const { return ViewerId; }

private:
    void EnsureStarted();
    void Stop();
    QString ResolveHelpFile(const QString &name);
    void OpenHelpFile(WindowHandle window, const QString &file);
    WindowHandle ownerWindow();

    bool Started = false;
    std::uint32_t Cookie = 0;
    int ViewerId = 0;
    IHelpManager *m_helpManager = nullptr;
};

// Program start: creates the one viewer and registers it with the help
// system (it gets id 1). Does not need the QApplication yet. A second call
// does nothing while the viewer is registered.
void registerHtmlHelpViewer();

// Program end, after the message loop and before the QApplication is
// destroyed: the viewer closes the help windows it opened, unregisters and
// stops the engine; then the viewer is released and the engine unloaded.
void unregisterHtmlHelpViewer();

// The registered viewer, or null before registration and after the end.
std::shared_ptr<THTMLHelpViewer> htmlHelpViewer();

}  // namespace tovi::help
