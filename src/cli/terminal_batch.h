#pragma once
// The batch engine's question and result lines on a terminal: the question is
// asked on standard error and answered on standard input, the result lines go
// to standard output as they are produced.

#include <cstdio>
#include <string>

#include "process/batch.h"

namespace tovi::cli {

// A name as a terminal line shows it: control characters escaped (\n, \t,
// \xHH, also the two bytes of a C1 control in UTF-8), so that a name can't
// make lines of its own or steer the terminal. Other names are unchanged.
std::string escapedName(const std::string &name);
// An error message likewise, keeping its own line breaks ("\r\n").
std::string escapedMessage(const std::string &message);

// Asks for each file on `prompt`, reading one answer line from `input`:
// y = Yes, n = No, a = Abort, A = Yes to all. The end of input closes the
// question, which skips the file as No does.
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
    void addNormalLine(const std::string &line) override;
    void addChangedLine(const std::string &line) override;
    void addFailedLine(const std::string &line) override;
    // Says on `progress`'s stream (standard error) why a file was refused.
    void refused(const std::string &name, const std::string &reason) override;
    void processing(std::size_t index, std::size_t count, const std::string &name) override;
    void finished() override;
    void abandoned() override;
    std::string shownName(const std::string &name) const override;
    // Said on `progress`'s stream (standard error) whether or not a terminal.
    void otherLinksKept(const std::string &name, std::uint64_t count) override;

    // The file being read, processed or written, until its result line is
    // out: an error that ends the run names it. Empty between files.
    const std::string &currentFile() const { return m_currentFile; }

private:
    void printLine(const std::string &line);
    void clearProgress();

    std::FILE *m_output;
    std::FILE *m_errors;
    std::FILE *m_progress;  // null when progress isn't shown
    bool m_progressShown = false;
    std::string m_currentFile;
};

}  // namespace tovi::cli
