#pragma once
// The engine behind the module's entry points: one help window per help file,
// the cookies of the callers that started it, and the six commands.
// Every failure ends in a message inside the help window; nothing is thrown
// to or reported back at the caller beyond a null result.

#include "help_engine/help_window.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <memory>
#include <set>

namespace tovi::helpengine {

class HelpEngine {
public:
    static HelpEngine &instance();

    // `fileArgument` is "file" or "file::/page"; an empty page shows the
    // file's default page. Results are the window, or 0 when none was shown.
    std::uintptr_t displayTopic(const QString &fileArgument);
    std::uintptr_t helpContext(const QString &file, std::uint32_t number);
    std::uintptr_t keywordLookup(const QString &file, const QStringList &keywords, bool indexOnFail,
                                 const QString &messageText);
    void closeAll();
    std::uint32_t initialize();
    bool uninitialize(std::uint32_t cookie);

    // The window of a help file, if one was made.
    HelpWindow *windowFor(const QString &file) const;

private:
    HelpEngine() = default;
    static bool canShowWindows();
    static QString windowKey(const QString &file);
    HelpWindow *openWindow(const QString &file);
    static std::uintptr_t handleOf(HelpWindow *window);

    std::map<QString, std::unique_ptr<HelpWindow>> m_windows;
    std::set<std::uint32_t> m_cookies;
    std::uint32_t m_lastCookie = 0;
};

// Splits "file::/page" (and "file>window", the window part being ignored).
struct TopicArgument {
    QString file;
    QString page;  // empty for the default page
};
TopicArgument splitTopicArgument(const QString &argument);

}  // namespace tovi::helpengine
