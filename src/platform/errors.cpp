#include "platform/errors.h"

#include <cstdio>
#include <cstring>

namespace tovi {

std::string systemErrorText(int code)
{
    std::string text = std::strerror(code);
    while (!text.empty()) {
        const char last = text.back();
        if (last != ' ' && last != '\t' && last != '\r' && last != '\n' && last != '.')
            break;
        text.pop_back();
    }
    return text;
}

OutOfResourcesError OutOfResourcesError::fromErrno(int code)
{
    if (code == 0)
        return OutOfResourcesError(messages::kOutOfResources);
    std::string text = systemErrorText(code);
    return OutOfResourcesError(text.empty() ? std::string(messages::kOutOfResources) : text);
}

SystemError SystemError::fromCode(int code)
{
    char number[16];
    std::snprintf(number, sizeof number, "%d", code);
    return SystemError(code, std::string("システムエラー。コード：") + number + ".\r\n" + systemErrorText(code));
}

}  // namespace tovi
