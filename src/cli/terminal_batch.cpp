#include "cli/terminal_batch.h"

#include <unistd.h>

#include <cerrno>

#include "cli/batch_options.h"
#include "picture/pixel_format.h"
#include "platform/errors.h"

namespace tovi::cli {

using process::BatchAnswer;

namespace {

constexpr const char *kQuestion = "現在の設定で画像処理し、上書きします.";
// Erases the current terminal line: back to its start, then clear to its end.
constexpr const char *kEraseLine = "\r\033[K";

void escapeInto(std::string &out, const std::string &text, std::size_t &i)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    const auto c = static_cast<unsigned char>(text[i]);
    const auto hex = [&](unsigned char byte) {
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 15];
    };
    if (c == '\n')
        out += "\\n";
    else if (c == '\t')
        out += "\\t";
    else if (c < 0x20 || c == 0x7F)
        hex(c);
    else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
             static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
        hex(c);
        hex(static_cast<unsigned char>(text[++i]));
    } else
        out += char(c);
}

}  // namespace

std::string escapedName(const std::string &name)
{
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i)
        escapeInto(out, name, i);
    return out;
}

std::string escapedMessage(const std::string &message)
{
    std::string out;
    out.reserve(message.size());
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message.compare(i, 2, "\r\n") == 0) {
            out += "\r\n";
            ++i;
        } else {
            escapeInto(out, message, i);
        }
    }
    return out;
}

TerminalAsker::TerminalAsker(std::FILE *input, std::FILE *prompt)
    : m_input(input), m_prompt(prompt), m_inputIsTerminal(::isatty(::fileno(input)) != 0)
{
}

bool TerminalAsker::readLine(std::string &line)
{
    line.clear();
    if (m_inputEnded)
        return false;
    for (;;) {
        const int c = std::fgetc(m_input);
        if (c == EOF) {
            m_inputEnded = true;
            return !line.empty();
        }
        if (c == '\n')
            return true;
        line += char(c);
    }
}

BatchAnswer TerminalAsker::ask(const std::string &, const std::string &name)
{
    for (;;) {
        std::fprintf(m_prompt, "%s %s [y/n/a/all/?]: ", kQuestion, escapedName(name).c_str());
        std::fflush(m_prompt);
        std::string line;
        if (!readLine(line)) {
            std::fputc('\n', m_prompt);
            return BatchAnswer::Closed;
        }
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        // Answers piped in aren't echoed by a terminal; show them, so that a
        // log of the questions reads as a dialogue. Escaped like a name: what
        // is piped in is no more trusted to steer the terminal than a name.
        if (!m_inputIsTerminal)
            std::fprintf(m_prompt, "%s\n", escapedName(line).c_str());
        if (line == "y" || line == "Y")
            return BatchAnswer::Yes;
        if (line == "n" || line == "N")
            return BatchAnswer::No;
        // As in the dialog, where A chooses 中止: a stray capital never
        // overwrites the remaining files.
        if (line == "a" || line == "A" || line == "q" || line == "Q")
            return BatchAnswer::Abort;
        if (line == "all")
            return BatchAnswer::YesToAll;
        if (line == "?")
            std::fprintf(m_prompt, "y = はい (このファイルを処理します), n = いいえ (このファイルを飛ばします),\n"
                                   "a, A, q = 中止 (このファイルと残りをすべて飛ばします),\n"
                                   "all = すべてはい (このファイルと残りをすべて確認せずに処理します)\n");
        else
            std::fprintf(m_prompt, "y (はい), n (いいえ), a (中止), all (すべてはい), ? (説明) のいずれかを入力してください。\n");
    }
}

TerminalReporter::TerminalReporter(std::FILE *output, std::FILE *progress)
    : m_output(output), m_errors(progress), m_progress(progress && ::isatty(::fileno(progress)) ? progress : nullptr)
{
}

void TerminalReporter::printTitle()
{
    printLine(process::kBatchResultTitle);
}

void TerminalReporter::printTitleLine(const std::string &title)
{
    printLine(title);
}

void TerminalReporter::addNormalLine(const std::string &line)
{
    printLine(line);
}

void TerminalReporter::addChangedLine(const std::string &line)
{
    printLine(line);
}

void TerminalReporter::addFailedLine(const std::string &line)
{
    printLine(line);
}

void TerminalReporter::refused(const std::string &name, const std::string &reason)
{
    if (reason.empty() || !m_errors)
        return;
    clearProgress();
    std::fflush(m_output);
    std::fprintf(m_errors, "%s: %s\n", escapedName(name).c_str(), reason.c_str());
    std::fflush(m_errors);
}

void TerminalReporter::processing(std::size_t index, std::size_t count, const std::string &name)
{
    if (!m_progress)
        return;
    std::fprintf(m_progress, "%s%zu/%zu %s", kEraseLine, index + 1, count, escapedName(name).c_str());
    std::fflush(m_progress);
    m_progressShown = true;
}

void TerminalReporter::finished()
{
    clearProgress();
}

void TerminalReporter::abandoned()
{
    clearProgress();
}

std::string TerminalReporter::shownName(const std::string &name) const
{
    return escapedName(name);
}

void TerminalReporter::otherLinksKept(const std::string &name, std::uint64_t count)
{
    if (!m_errors)
        return;
    clearProgress();
    std::fflush(m_output);
    std::fprintf(m_errors, "tovi-batch: %s: ほかの %llu 個のハードリンクは元の画像のままです\n",
                 escapedName(name).c_str(), static_cast<unsigned long long>(count));
    std::fflush(m_errors);
}

void TerminalReporter::ownerChanged(const std::string &name)
{
    if (!m_errors)
        return;
    clearProgress();
    std::fflush(m_output);
    std::fprintf(m_errors, "tovi-batch: %s: 所有者またはグループを元のままにできず、新しい版は実行したユーザーのものです\n",
                 escapedName(name).c_str());
    std::fflush(m_errors);
}

void TerminalReporter::printLine(const std::string &line)
{
    clearProgress();
    // A run whose record can't be written must not go on overwriting files.
    if (std::fprintf(m_output, "%s\n", line.c_str()) < 0 || std::fflush(m_output) != 0)
        throw Error("標準出力に書き込めません。" + systemErrorText(errno));
}

void TerminalReporter::clearProgress()
{
    if (!m_progressShown)
        return;
    std::fputs(kEraseLine, m_progress);
    std::fflush(m_progress);
    m_progressShown = false;
}

// ---------------------------------------------------------------- JSON

namespace {

bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence at text[at], or 0 (overlong forms,
// surrogates and values past U+10FFFF are not valid).
std::size_t utf8Length(const std::string &text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return at + i < text.size() ? (unsigned char)text[at + i] : 0u; };
    const unsigned lead = byte(0);
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return isContinuation(byte(1)) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned high = lead == 0xED ? 0x9F : 0xBF;
        return byte(1) >= low && byte(1) <= high && isContinuation(byte(2)) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned high = lead == 0xF4 ? 0x8F : 0xBF;
        return byte(1) >= low && byte(1) <= high && isContinuation(byte(2)) && isContinuation(byte(3)) ? 4 : 0;
    }
    return 0;
}

std::string jsonValue(const std::string &text)
{
    return text.empty() ? "null" : jsonString(text);
}

const char *resultName(process::FileOutcome outcome)
{
    switch (outcome) {
    case process::FileOutcome::Processed:
        return "processed";
    case process::FileOutcome::Changed:
        return "changed";
    case process::FileOutcome::Failed:
        return "failed";
    case process::FileOutcome::Skipped:
        break;
    }
    return "skipped";
}

}  // namespace

std::string jsonString(const std::string &text)
{
    std::string json = "\"";
    char escape[8];
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = (unsigned char)text[i];
        const std::size_t length = utf8Length(text, i);
        if (length == 0) {
            std::snprintf(escape, sizeof escape, "\\udc%02x", unsigned(c));
            json += escape;
        } else if (c == '"' || c == '\\') {
            json += '\\';
            json += char(c);
        } else if (c < 0x20) {
            std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(c));
            json += escape;
        } else {
            json.append(text, i, length);
        }
        i += length ? length : 1;
    }
    return json + "\"";
}

JsonReporter::JsonReporter(std::FILE *output, std::FILE *progress, int mode)
    : TerminalReporter(output, progress), m_mode(modeOptionName(mode))
{
}

void JsonReporter::fileDone(const process::FileResult &result)
{
    const bool written = result.outcome == process::FileOutcome::Processed ||
                         result.outcome == process::FileOutcome::Changed;
    const std::string from = written ? picture::pixelFormatName(result.before) : std::string();
    const std::string to = written ? picture::pixelFormatName(result.after) : std::string();
    printLine("{\"file\": " + jsonString(process::fileNamePart(result.name)) +
              ", \"folder\": " + jsonString(process::folderPart(result.name)) +
              ", \"result\": \"" + resultName(result.outcome) + "\", \"mode\": " + jsonString(m_mode) +
              ", \"from\": " + jsonValue(from) + ", \"to\": " + jsonValue(to) +
              ", \"reason\": " + jsonValue(result.reason) + "}");
}

}  // namespace tovi::cli
