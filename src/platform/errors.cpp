#include "platform/errors.h"

#include <cstdio>
#include <cstring>

#include "platform/files/path_names.h"

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

std::string fileOpenMessage(const std::string &fileName, int code)
{
    return "ファイル \"" + platform::fullPathName(fileName) + "\" は開けません。" + systemErrorText(code);
}

std::string fileCreateMessage(const std::string &fileName, int code)
{
    return fileCreateMessage(fileName, systemErrorText(code));
}

std::string fileCreateMessage(const std::string &fileName, const std::string &reason)
{
    return "ファイル \"" + platform::fullPathName(fileName) + "\" を作成できません。" + reason;
}

std::string fileChangedMessage(const std::string &fileName)
{
    return "ファイル \"" + platform::fullPathName(fileName) + "\" は処理中にほかのプログラムに変更されました";
}

std::string fileStepMessage(const std::string &fileName, const char *step, int code)
{
    return "ファイル \"" + platform::fullPathName(fileName) + "\": " + step + ": " + systemErrorText(code);
}

SystemError SystemError::fromCode(int code)
{
    char number[16];
    std::snprintf(number, sizeof number, "%d", code);
    return SystemError(code, std::string("システムエラー。コード：") + number + ".\r\n" + systemErrorText(code));
}

}  // namespace tovi
