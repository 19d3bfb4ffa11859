// A stand-in for the help engine module that only writes down the commands it
// receives, one line each, so the tests can compare what the program sent
// with what it should have sent. Built twice: complete, and without the
// "HtmlHelpW" entry point (TOVI_RECORDER_WITHOUT_W).

#include "help_engine/html_help_api.h"

#include <cstdio>
#include <string>

namespace {

using namespace tovi::htmlhelp;

// The cookie this engine hands out, so the tests can see it come back.
constexpr std::uint32_t kRecorderCookie = 4242;

std::string &log()
{
    static std::string text;
    return text;
}

// Numbers are written with snprintf: std::to_string would make this module
// impossible to unload, which one of the tests checks.
std::string number(unsigned long long value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%llu", value);
    return text;
}

std::string signedNumber(long long value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%lld", value);
    return text;
}

std::string quoted(const char *text)
{
    return text ? "\"" + std::string(text) + "\"" : std::string("null");
}

const char *commandName(unsigned command)
{
    switch (command) {
    case HH_DISPLAY_TOPIC: return "DISPLAY_TOPIC";
    case HH_HELP_CONTEXT: return "HELP_CONTEXT";
    case HH_CLOSE_ALL: return "CLOSE_ALL";
    case HH_ALINK_LOOKUP: return "ALINK_LOOKUP";
    case HH_INITIALIZE: return "INITIALIZE";
    case HH_UNINITIALIZE: return "UNINITIALIZE";
    default: return "UNKNOWN";
    }
}

std::string describeData(unsigned command, HelpData data)
{
    if (command == HH_ALINK_LOOKUP) {
        const auto *link = reinterpret_cast<const HH_AKLINK *>(data);
        if (!link)
            return "link=null";
        return "size=" + number(link->cbStruct) + " reserved=" + number(link->fReserved)
            + " keywords=" + quoted(link->pszKeywords) + " url=" + quoted(link->pszUrl)
            + " msgtext=" + quoted(link->pszMsgText) + " msgtitle=" + quoted(link->pszMsgTitle)
            + " window=" + quoted(link->pszWindow) + " indexOnFail=" + number(link->fIndexOnFail);
    }
    if (command == HH_INITIALIZE) {
        if (!data)
            return "cookie=null";
        *reinterpret_cast<std::uint32_t *>(data) = kRecorderCookie;
        return "cookie:=" + number(kRecorderCookie);
    }
    return "data=" + signedNumber(static_cast<long long>(data));
}

}  // namespace

extern "C" __attribute__((visibility("default"))) std::uintptr_t
HtmlHelpA(HelpWindowHandle caller, const char *file, unsigned command, HelpData data)
{
    log() += std::string(commandName(command)) + " caller=" + number(caller) + " file=" + quoted(file)
        + " " + describeData(command, data) + "\n";
    return 1;
}

#ifndef TOVI_RECORDER_WITHOUT_W
extern "C" __attribute__((visibility("default"))) std::uintptr_t
HtmlHelpW(HelpWindowHandle caller, const char16_t *, unsigned command, HelpData)
{
    log() += "W " + std::string(commandName(command)) + " caller=" + number(caller) + "\n";
    return 1;
}
#endif

extern "C" __attribute__((visibility("default"))) const char *ToviRecorderLog()
{
    return log().c_str();
}

extern "C" __attribute__((visibility("default"))) void ToviRecorderClear()
{
    log().clear();
}
