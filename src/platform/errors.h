#pragma once
// The error kinds of the program. Each carries its message text (UTF-8), which
// the application's error handler shows as it stands.

#include <stdexcept>
#include <string>
#include <utility>

namespace tovi {

class Error : public std::runtime_error {
public:
    // reason: what exactly went wrong, in plain English, for the command
    // line and logs; the message stays the fixed text of the error kind.
    explicit Error(const std::string &message, std::string reason = {})
        : std::runtime_error(message), m_reason(std::move(reason))
    {
    }
    const std::string &reason() const { return m_reason; }

private:
    std::string m_reason;
};

// Data that can't be handled as a picture: the one kind that commands catch.
class PictureFormatError : public Error {
public:
    using Error::Error;
};

class PictureOperationError : public Error {
public:
    using Error::Error;
};

class OutOfResourcesError : public Error {
public:
    using Error::Error;
    // "システム リソースが足りません", or the system's text for errno when set.
    static OutOfResourcesError fromErrno(int code = 0);
};

class SystemError : public Error {
public:
    SystemError(int code, const std::string &message) : Error(message), m_code(code) {}
    int code() const { return m_code; }
    // "システムエラー。コード：%d.\r\n%s"
    static SystemError fromCode(int code);

private:
    int m_code;
};

class FileOpenError : public Error {
public:
    using Error::Error;
};

class FileCreateError : public Error {
public:
    using Error::Error;
};

// A file another program changed while it was being processed: its change
// stays and ours is dropped. A file that can't be processed, as a picture
// that can't be handled is.
class FileChangedError : public PictureFormatError {
public:
    using PictureFormatError::PictureFormatError;
};

class StreamReadError : public Error {
public:
    explicit StreamReadError(std::string reason = {}) : Error("ストリームからの読み込みエラー", std::move(reason)) {}
};

class StreamWriteError : public Error {
public:
    explicit StreamWriteError(std::string reason = {}) : Error("ストリームへの書き込みエラー", std::move(reason)) {}
};

// Ends a command without any message.
class SilentAbort : public Error {
public:
    SilentAbort() : Error("") {}
};

namespace messages {
inline constexpr const char *kInvalidBitmap = "ビットマップイメージが不正です";
inline constexpr const char *kInvalidPixelFormat = "画像フォーマットが不正です";
inline constexpr const char *kUnknownExtension = "拡張子 .%s の画像形式は処理できません";
inline constexpr const char *kInvalidIcon = "アイコンイメージが不正です";
inline constexpr const char *kInvalidMetafile = "メタファイルが不正です";
inline constexpr const char *kUnsupportedClipboard = "未対応のクリップボード データです";
inline constexpr const char *kScanLineOutOfRange = "スキャンライン のインデックスが範囲を越えました";
inline constexpr const char *kOutOfResources = "システム リソースが足りません";
}  // namespace messages

// The system's text for an error code: strerror, with trailing blanks, line
// breaks and full stops removed.
std::string systemErrorText(int code);

// The messages about files, each with the file's full path.
// "ファイル "%s" は開けません。%s" with the system's text for code.
std::string fileOpenMessage(const std::string &fileName, int code);
// "ファイル "%s" を作成できません。%s" with the system's text for code, or a reason.
std::string fileCreateMessage(const std::string &fileName, int code);
std::string fileCreateMessage(const std::string &fileName, const std::string &reason);
// "ファイル "%s" は処理中にほかのプログラムに変更されました".
std::string fileChangedMessage(const std::string &fileName);
// What a stream write error says about the step of writing a file that failed:
// "ファイル "%s": step: reason".
std::string fileStepMessage(const std::string &fileName, const char *step, int code);

}  // namespace tovi
