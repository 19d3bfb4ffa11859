#include "ui/help/html_help_viewer.h"

#include "ui/help/html_help_bridge.h"

#include <QByteArray>

namespace tovi::help {

using namespace htmlhelp;

namespace {

std::shared_ptr<THTMLHelpViewer> g_viewer;

// The engine takes texts in the system code page: UTF-8.
QByteArray engineText(const QString &text)
{
    return text.toUtf8();
}

}  // namespace

QString THTMLHelpViewer::ViewerTitle()
{
    return QString();
}

int THTMLHelpViewer::KeywordScore(const QString &)
{
    return 1;
}

QStringList THTMLHelpViewer::KeywordChoices(const QString &keyword)
{
    return {ViewerTitle() + QStringLiteral(": ") + keyword};
}

bool THTMLHelpViewer::HasContents()
{
    return true;
}

WindowHandle THTMLHelpViewer::ownerWindow()
{
    return m_helpManager ? m_helpManager->OwnerWindow() : 0;
}

QString THTMLHelpViewer::ResolveHelpFile(const QString &name)
{
    if (!name.isEmpty())
        return name;
    return m_helpManager ? m_helpManager->CurrentHelpFile() : QString();
}

void THTMLHelpViewer::EnsureStarted()
{
    if (Started)
        return;
    CallHtmlHelp(0, nullptr, HH_INITIALIZE, reinterpret_cast<HelpData>(&Cookie));
    // Set whatever the call returned: without the engine every later command
    // does nothing anyway, and starting again would not help.
    Started = true;
}

void THTMLHelpViewer::Stop()
{
    if (!Started)
        return;
    CallHtmlHelp(0, nullptr, HH_UNINITIALIZE, HelpData(Cookie));
    Started = false;
    Cookie = 0;
}

void THTMLHelpViewer::OpenHelpFile(WindowHandle window, const QString &file)
{
    CallHtmlHelp(window, engineText(file).constData(), HH_DISPLAY_TOPIC, 0);
}

void THTMLHelpViewer::OpenContents()
{
    EnsureStarted();
    const QString file = ResolveHelpFile(QString());
    CallHtmlHelp(ownerWindow(), engineText(file).constData(), HH_DISPLAY_TOPIC, 0);
}

void THTMLHelpViewer::OpenKeyword(const QString &keyword)
{
    EnsureStarted();
    const QString file = ResolveHelpFile(QString());
    const QByteArray keywords = engineText(keyword);
    static const char kNoKeyword[] = "";
    HH_AKLINK link{};
    link.cbStruct = int(sizeof(HH_AKLINK));
    link.fReserved = 0;
    link.pszKeywords = keywords.isEmpty() ? kNoKeyword : keywords.constData();
    link.pszUrl = nullptr;
    link.pszMsgText = nullptr;
    link.pszMsgTitle = nullptr;
    link.pszWindow = nullptr;
    link.fIndexOnFail = 1;
    CallHtmlHelp(ownerWindow(), engineText(file).constData(), HH_ALINK_LOOKUP, reinterpret_cast<HelpData>(&link));
}

void THTMLHelpViewer::TakeViewerId(int id)
{
    ViewerId = id;
}

void THTMLHelpViewer::CloseWindows()
{
    CallHtmlHelp(0, nullptr, HH_CLOSE_ALL, 0);
}

void THTMLHelpViewer::Detach()
{
    CloseWindows();
    Stop();
    m_helpManager = nullptr;
}

bool THTMLHelpViewer::KnowsTopic(const QString &)
{
    return true;
}

void THTMLHelpViewer::OpenTopic(const QString &topic)
{
    EnsureStarted();
    const QString file = ResolveHelpFile(QString());
    // The topic is a page name, used as it stands.
    const QString page = file + QStringLiteral("::/") + topic + QStringLiteral(".htm");
    CallHtmlHelp(ownerWindow(), engineText(page).constData(), HH_DISPLAY_TOPIC, 0);
}

bool THTMLHelpViewer::KnowsContext(int, const QString &)
{
    return true;
}

void THTMLHelpViewer::OpenContext(int contextNumber, const QString &helpFile)
{
    EnsureStarted();
    const QString file = ResolveHelpFile(helpFile);
    const WindowHandle window = ownerWindow();
    OpenHelpFile(window, file);
    // Passed on unchanged, 0 included: the engine says itself what it lacks.
    CallHtmlHelp(window, engineText(file).constData(), HH_HELP_CONTEXT, HelpData(std::uint32_t(contextNumber)));
}

bool THTMLHelpViewer::PassCommand(WindowHandle, const QString &, std::uint16_t, std::uint32_t)
{
    EnsureStarted();
    return false;
}

void THTMLHelpViewer::unregister()
{
    if (!m_helpManager)
        return;
    CloseWindows();
    m_helpManager->RemoveViewer(ViewerId);
    // The engine is about to be unloaded: it must not be left running.
    Stop();
    m_helpManager = nullptr;
}

void registerHtmlHelpViewer()
{
    if (g_viewer && g_viewer->helpManager())
        return;
    g_viewer = std::make_shared<THTMLHelpViewer>();
    g_viewer->setHelpManager(helpSystem().AddViewer(g_viewer));
}

void unregisterHtmlHelpViewer()
{
    if (g_viewer)
        g_viewer->unregister();
    g_viewer.reset();
    unloadHtmlHelp();
}

std::shared_ptr<THTMLHelpViewer> htmlHelpViewer()
{
    return g_viewer;
}

}  // namespace tovi::help
