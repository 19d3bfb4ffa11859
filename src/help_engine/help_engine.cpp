#include "help_engine/help_engine.h"

#include <QApplication>
#include <QFileInfo>

namespace tovi::helpengine {

namespace {

// "name>window" names a window definition of the help file; we have one
// window per file, so the part is dropped.
QString withoutWindowName(const QString &text)
{
    const qsizetype window = text.lastIndexOf(QLatin1Char('>'));
    const qsizetype folder = text.lastIndexOf(QLatin1Char('/'));
    return window > folder ? text.left(window) : text;
}

void showUnmappedContext(HelpWindow *window, std::uint32_t number)
{
    window->showMessage(QStringLiteral("トピックが見つかりません"),
                        QStringLiteral("このヘルプ ファイルには、コンテキスト番号 %1 に対応するトピックがありません。")
                            .arg(number));
}

void showKeywordMissing(HelpWindow *window, const QStringList &keywords, const QString &messageText)
{
    window->showMessage(QStringLiteral("キーワードが見つかりません"),
                        messageText.isEmpty()
                            ? QStringLiteral("キーワード「%1」に一致するトピックはありません。")
                                  .arg(keywords.join(QLatin1Char(';')))
                            : messageText);
}

}  // namespace

TopicArgument splitTopicArgument(const QString &argument)
{
    const qsizetype separator = argument.indexOf(QLatin1String("::"));
    if (separator < 0)
        return {withoutWindowName(argument), QString()};
    return {withoutWindowName(argument.left(separator)), withoutWindowName(argument.mid(separator + 2))};
}

HelpEngine &HelpEngine::instance()
{
    // Never destroyed by a static destructor: help commands may still arrive
    // from the program's own static destructors at exit, after those of this
    // module would have run. The caller closes all windows before unloading.
    static HelpEngine *engine = new HelpEngine;
    return *engine;
}

bool HelpEngine::canShowWindows()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
}

QString HelpEngine::windowKey(const QString &file)
{
    return file.isEmpty() ? QString() : QFileInfo(file).absoluteFilePath();
}

std::uintptr_t HelpEngine::handleOf(HelpWindow *window)
{
    return reinterpret_cast<std::uintptr_t>(window);
}

HelpWindow *HelpEngine::windowFor(const QString &file) const
{
    const auto found = m_windows.find(windowKey(file));
    return found == m_windows.end() ? nullptr : found->second.get();
}

HelpWindow *HelpEngine::openWindow(const QString &file)
{
    const QString key = windowKey(file);
    std::unique_ptr<HelpWindow> &slot = m_windows[key];
    if (!slot)
        slot = std::make_unique<HelpWindow>(key);
    else
        slot->openHelpFile();  // a file that was missing may be there now
    slot->present();
    return slot.get();
}

std::uintptr_t HelpEngine::displayTopic(const QString &fileArgument)
{
    if (!canShowWindows())
        return 0;
    const TopicArgument topic = splitTopicArgument(fileArgument);
    HelpWindow *window = openWindow(topic.file);
    if (!window->helpFile() || topic.page.isEmpty())
        window->showDefaultPage();
    else
        window->showPage(topic.page);
    return handleOf(window);
}

std::uintptr_t HelpEngine::helpContext(const QString &file, std::uint32_t number)
{
    if (!canShowWindows())
        return 0;
    HelpWindow *window = openWindow(splitTopicArgument(file).file);
    if (!window->helpFile()) {
        window->showDefaultPage();
        return handleOf(window);
    }
    const QString page = window->helpFile()->pageForContext(number);
    if (page.isEmpty())
        showUnmappedContext(window, number);
    else
        window->showPage(page);
    return handleOf(window);
}

std::uintptr_t HelpEngine::keywordLookup(const QString &file, const QStringList &keywords, bool indexOnFail,
                                         const QString &messageText)
{
    if (!canShowWindows())
        return 0;
    HelpWindow *window = openWindow(splitTopicArgument(file).file);
    if (!window->helpFile()) {
        window->showDefaultPage();
        return handleOf(window);
    }
    const QStringList pages = window->pagesForKeywords(keywords);
    if (!pages.isEmpty()) {
        window->showPage(pages.front());
        if (pages.size() > 1)
            window->showIndex(keywords.front());
    } else if (indexOnFail) {
        window->showDefaultPage();
        window->showIndex(keywords.isEmpty() ? QString() : keywords.front());
    } else {
        showKeywordMissing(window, keywords, messageText);
    }
    return handleOf(window);
}

void HelpEngine::closeAll()
{
    // Destroyed at once, not later: the module may be unloaded right after.
    // Without the application object the widgets can't be destroyed safely.
    if (!canShowWindows()) {
        for (auto &[key, window] : m_windows)
            (void)window.release();
    }
    m_windows.clear();
}

std::uint32_t HelpEngine::initialize()
{
    if (++m_lastCookie == 0)
        ++m_lastCookie;  // 0 means "not started" to the callers
    m_cookies.insert(m_lastCookie);
    return m_lastCookie;
}

bool HelpEngine::uninitialize(std::uint32_t cookie)
{
    if (m_cookies.erase(cookie) == 0)
        return false;
    if (m_cookies.empty())
        closeAll();
    return true;
}

}  // namespace tovi::helpengine
