// The module's two entry points. They take the raw command arguments, turn
// texts into QString and records into plain values, and hand over to the
// engine. No exception leaves them: the caller is C code as far as it knows.

#include "help_engine/help_engine.h"
#include "help_engine/html_help_api.h"

#include <QStringList>

#include <cstddef>
#include <type_traits>

namespace {

using namespace tovi::htmlhelp;
using tovi::helpengine::HelpEngine;

// The keyword lookup as both entry points see it once texts are decoded.
struct KeywordRequest {
    QStringList keywords;
    bool indexOnFail = false;
    QString messageText;
};

template <typename Record>
bool recordIsComplete(const Record *record)
{
    return record && record->cbStruct >= int(offsetof(Record, fIndexOnFail) + sizeof(int));
}

QStringList splitKeywords(const QString &text)
{
    QStringList keywords;
    for (const QString &part : text.split(QLatin1Char(';'))) {
        const QString keyword = part.trimmed();
        if (!keyword.isEmpty())
            keywords.append(keyword);
    }
    return keywords;
}

std::uintptr_t dispatch(const QString &file, unsigned command, HelpData data, const KeywordRequest *lookup)
{
    HelpEngine &engine = HelpEngine::instance();
    switch (command) {
    case HH_DISPLAY_TOPIC:
        return engine.displayTopic(file);
    case HH_HELP_CONTEXT:
        return engine.helpContext(file, std::uint32_t(data));
    case HH_CLOSE_ALL:
        engine.closeAll();
        return 0;
    case HH_ALINK_LOOKUP:
        return lookup ? engine.keywordLookup(file, lookup->keywords, lookup->indexOnFail, lookup->messageText)
                      : 0;
    case HH_INITIALIZE:
        if (data == 0)
            return 0;
        *reinterpret_cast<std::uint32_t *>(data) = engine.initialize();
        return 1;
    case HH_UNINITIALIZE:
        return engine.uninitialize(std::uint32_t(data)) ? 1 : 0;
    default:
        return 0;
    }
}

QString decode(const char *text)
{
    return QString::fromUtf8(text);
}

QString decode(const char16_t *text)
{
    return text ? QString::fromUtf16(text) : QString();
}

// The body of both entry points; Record is the keyword record of their
// text width.
template <typename Record, typename Char>
std::uintptr_t enter(const Char *file, unsigned command, HelpData data)
{
    try {
        KeywordRequest lookup;
        const auto *record = reinterpret_cast<const Record *>(data);
        const bool isLookup = command == HH_ALINK_LOOKUP && recordIsComplete(record);
        if (isLookup) {
            lookup.keywords = splitKeywords(decode(record->pszKeywords));
            lookup.indexOnFail = record->fIndexOnFail != 0;
            lookup.messageText = decode(record->pszMsgText);
        }
        return dispatch(decode(file), command, data, isLookup ? &lookup : nullptr);
    } catch (...) {
        return 0;
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) std::uintptr_t
HtmlHelpA(HelpWindowHandle /*caller*/, const char *file, unsigned command, HelpData data)
{
    return enter<HH_AKLINK>(file, command, data);
}

extern "C" __attribute__((visibility("default"))) std::uintptr_t
HtmlHelpW(HelpWindowHandle /*caller*/, const char16_t *file, unsigned command, HelpData data)
{
    return enter<HH_AKLINKW>(file, command, data);
}

static_assert(std::is_same_v<decltype(&HtmlHelpA), HtmlHelpAProc>);
static_assert(std::is_same_v<decltype(&HtmlHelpW), HtmlHelpWProc>);
