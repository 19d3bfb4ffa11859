#pragma once
// Reading back what a recording engine module received. The module is looked
// up among the modules already loaded (the bridge loads it); when it isn't
// loaded, nothing was recorded.

#include <QStringList>

#include <string>

namespace tovi::help::testing {

// The lines recorded by the module at `path` (the bridge's module when empty).
QStringList recordedCalls(const std::string &path = {});
void clearRecordedCalls(const std::string &path = {});
bool isModuleLoaded(const std::string &path = {});

}  // namespace tovi::help::testing
