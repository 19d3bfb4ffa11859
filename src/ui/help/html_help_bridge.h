#pragma once
// The bridge to the help engine module. The module is loaded on first use
// from the executable's own folder, by its file name; without it (or without
// one of its two entry points) every help command quietly does nothing.

#include "help_engine/html_help_api.h"

#include <cstdint>
#include <string>

namespace tovi::help {

// Sends one help command to the engine and returns its result, 0 when the
// engine is not there. Caller window, file (null for none), command, data.
std::uintptr_t CallHtmlHelp(htmlhelp::HelpWindowHandle window, const char *file, unsigned command,
                            htmlhelp::HelpData data);

// Unloads the engine module if it was loaded (program end). The next
// CallHtmlHelp would load it again.
void unloadHtmlHelp();

// The folder of the running executable, without a trailing "/".
std::string executableFolder();

// Where CallHtmlHelp looks for the engine: beside the executable.
std::string helpEngineModulePath();

// One engine module at a given path, loaded on the first call. A failed load
// is tried again at the next call; a module that loaded but lacks an entry
// point stays loaded and is not looked at again.
class HtmlHelpModule {
public:
    explicit HtmlHelpModule(std::string path);
    ~HtmlHelpModule();
    HtmlHelpModule(const HtmlHelpModule &) = delete;
    HtmlHelpModule &operator=(const HtmlHelpModule &) = delete;

    std::uintptr_t call(htmlhelp::HelpWindowHandle window, const char *file, unsigned command,
                        htmlhelp::HelpData data);
    void unload();

    bool isLoaded() const { return m_handle != nullptr; }
    bool hasEntryPoints() const { return m_htmlHelpA && m_htmlHelpW; }
    int loadAttempts() const { return m_loadAttempts; }
    const std::string &path() const { return m_path; }

private:
    void load();

    std::string m_path;
    void *m_handle = nullptr;
    htmlhelp::HtmlHelpAProc m_htmlHelpA = nullptr;
    htmlhelp::HtmlHelpWProc m_htmlHelpW = nullptr;
    int m_loadAttempts = 0;
};

}  // namespace tovi::help
