#pragma once
// The batch engine's question and result lines on a terminal: the question is
// asked on standard error and answered on standard input, the result lines go
// to standard output as they are produced.

#include <cstdio>
#include <string>
#include <vector>

#include "process/batch.h"

namespace tovi::cli {

// A name as a terminal line shows it: control characters escaped (\n, \t,
// \xHH, also the two bytes of a C1 control in UTF-8), so that a name can't
// make lines of its own or steer the terminal. Other names are unchanged.
std::string escapedName(const std::string &name);
// An error message likewise, keeping its own line breaks ("\r\n").
std::string escapedMessage(const std::string &message);

// Asks for each file on `prompt`, reading one answer line from `input`, with
// the keys of the confirmation dialog: y = Yes, n = No, a or A (and q) =
// Abort, and the whole word "all" = Yes to all, so that no single key can
// process every file; ? lists the keys. Anything else asks again. The end of
// input closes the question, which skips the file as No does.
class TerminalAsker : public process::BatchAsker {
public:
    TerminalAsker(std::FILE *input, std::FILE *prompt);
    process::BatchAnswer ask(const std::string &fileName, const std::string &name) override;

private:
    bool readLine(std::string &line);

    std::FILE *m_input;
    std::FILE *m_prompt;
    bool m_inputIsTerminal;
    bool m_inputEnded = false;
};

// Prints each result line at once, so that a run ended by an error still shows
// what was done before it. A line that can't be written ends the run. Shows which file is being worked on, on `progress`
// when that is a terminal.
class TerminalReporter : public process::BatchReporter {
public:
    TerminalReporter(std::FILE *output, std::FILE *progress);

    void printTitle();
    // Another first line in place of the result title.
    void printTitleLine(const std::string &title);
    void addNormalLine(const std::string &line) override;
    void addChangedLine(const std::string &line) override;
    void addFailedLine(const std::string &line) override;
    // Says on `progress`'s stream (standard error) why a file was refused.
    void refused(const std::string &name, const std::string &reason) override;
    void processing(std::size_t index, std::size_t count, const std::string &name) override;
    void finished() override;
    void abandoned() override;
    void runEndedAt(const std::string &name) override { m_currentFile = name; }
    std::string shownName(const std::string &name) const override;
    // Said on `progress`'s stream (standard error) whether or not a terminal.
    void otherLinksKept(const std::string &name, std::uint64_t count) override;
    void ownerChanged(const std::string &name) override;

    void notReported(const std::string &name) override { m_notReported.push_back(name); }

    // The file whose error ended the run, for its message; empty otherwise.
    const std::string &currentFile() const { return m_currentFile; }
    // The files replaced whose lines couldn't be written, in order.
    const std::vector<std::string> &notReportedFiles() const { return m_notReported; }

protected:
    void printLine(const std::string &line);

private:
    void clearProgress();

    std::FILE *m_output;
    std::FILE *m_errors;
    std::FILE *m_progress;  // null when progress isn't shown
    bool m_progressShown = false;
    std::string m_currentFile;
    std::vector<std::string> m_notReported;
};

// One JSON object per file of the list, skipped files included, instead of the
// result lines: {"file", "folder", "result", "mode", "from", "to", "reason"}.
class JsonReporter : public TerminalReporter {
public:
    JsonReporter(std::FILE *output, std::FILE *progress, int mode);

    void addNormalLine(const std::string &) override {}
    void addChangedLine(const std::string &) override {}
    void addFailedLine(const std::string &) override {}
    void fileDone(const process::FileResult &result) override;

private:
    std::string m_mode;
};

// A JSON string of text: valid UTF-8 as it is, control characters escaped, and
// each byte that isn't part of valid UTF-8 as the lone surrogate U+DC00 + byte,
// so that any file name survives the trip (Python's "surrogateescape").
std::string jsonString(const std::string &text);

}  // namespace tovi::cli
