#include "recorder.h"

#include "ui/help/html_help_bridge.h"

#include <QString>

#include <dlfcn.h>

namespace tovi::help::testing {

namespace {

using LogProc = const char *(*)();
using ClearProc = void (*)();

// A handle of the module if it is loaded already; never loads it.
void *loadedModule(const std::string &path)
{
    return dlopen((path.empty() ? helpEngineModulePath() : path).c_str(), RTLD_NOW | RTLD_NOLOAD);
}

}  // namespace

QStringList recordedCalls(const std::string &path)
{
    void *module = loadedModule(path);
    if (!module)
        return {};
    const auto log = reinterpret_cast<LogProc>(dlsym(module, "ToviRecorderLog"));
    QStringList lines;
    if (log)
        lines = QString::fromUtf8(log()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    dlclose(module);
    return lines;
}

void clearRecordedCalls(const std::string &path)
{
    void *module = loadedModule(path);
    if (!module)
        return;
    if (const auto clear = reinterpret_cast<ClearProc>(dlsym(module, "ToviRecorderClear")))
        clear();
    dlclose(module);
}

bool isModuleLoaded(const std::string &path)
{
    void *module = loadedModule(path);
    if (module)
        dlclose(module);
    return module != nullptr;
}

}  // namespace tovi::help::testing
