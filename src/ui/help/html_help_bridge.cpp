#include "ui/help/html_help_bridge.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>
#include <utility>

namespace tovi::help {

namespace {

// Created on first use and never destroyed by a static destructor, so help
// commands sent while the program shuts down still find a valid (possibly
// empty) bridge.
HtmlHelpModule *g_engine = nullptr;

}  // namespace

std::string executableFolder()
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

std::string helpEngineModulePath()
{
    return executableFolder() + "/" + htmlhelp::kHelpEngineModuleName;
}

HtmlHelpModule::HtmlHelpModule(std::string path) : m_path(std::move(path)) {}

HtmlHelpModule::~HtmlHelpModule()
{
    unload();
}

void HtmlHelpModule::load()
{
    ++m_loadAttempts;
    m_handle = dlopen(m_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle)
        return;
    m_htmlHelpA = reinterpret_cast<htmlhelp::HtmlHelpAProc>(dlsym(m_handle, htmlhelp::kHtmlHelpAName));
    m_htmlHelpW = reinterpret_cast<htmlhelp::HtmlHelpWProc>(dlsym(m_handle, htmlhelp::kHtmlHelpWName));
}

std::uintptr_t HtmlHelpModule::call(htmlhelp::HelpWindowHandle window, const char *file, unsigned command,
                                    htmlhelp::HelpData data)
{
    if (!m_handle)
        load();
    if (!m_handle || !hasEntryPoints())
        return 0;
    // The entry taking texts in the system code page (UTF-8 here).
    return m_htmlHelpA(window, file, command, data);
}

void HtmlHelpModule::unload()
{
    if (m_handle)
        dlclose(m_handle);
    m_handle = nullptr;
    m_htmlHelpA = nullptr;
    m_htmlHelpW = nullptr;
}

std::uintptr_t CallHtmlHelp(htmlhelp::HelpWindowHandle window, const char *file, unsigned command,
                            htmlhelp::HelpData data)
{
    if (!g_engine)
        g_engine = new HtmlHelpModule(helpEngineModulePath());
    return g_engine->call(window, file, command, data);
}

void unloadHtmlHelp()
{
    if (g_engine)
        g_engine->unload();
}

}  // namespace tovi::help
