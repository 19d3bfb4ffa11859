#pragma once
// The command line of tovi-batch.

#include <stdexcept>
#include <string>
#include <vector>

#include "process/batch.h"

namespace tovi::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;          // every file asked was processed or skipped
inline constexpr int kExitFailedFile = 1;  // a file got a failed line
inline constexpr int kExitRunEnded = 2;    // an error ended the run
inline constexpr int kExitUsage = 64;      // the command line was wrong (sysexits' EX_USAGE)

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct BatchOptions {
    process::BatchSettings settings;
    platform::ReplaceOptions replace;
    bool yesToAll = false;
    bool recursive = false;  // folders are walked for their ".bmp" files
    bool dryRun = false;
    bool json = false;       // one JSON object per file instead of the result lines
    bool help = false;
    bool version = false;
    std::vector<std::string> files;
};

// A --backup CONTROL word (none/off, numbered/t, existing/nil, simple/never, or
// an unambiguous beginning of one); throws UsageError otherwise.
platform::BackupControl parseBackupControl(const std::string &text);

// Throws UsageError for an unknown option, a missing or bad value, or no file.
BatchOptions parseOptions(const std::vector<std::string> &arguments);

// "#RRGGBB" as a colour value 0x00BBGGRR; throws UsageError otherwise.
platform::ColorRef parseColor(const std::string &text);
// swap, invert, gray or invert-gray as a mode code; throws UsageError otherwise.
int parseMode(const std::string &text);
// The option word of a mode code: swap, invert, gray or invert-gray.
std::string modeOptionName(int mode);
// A swap tolerance, 0 to process::kMaxTolerance; throws UsageError otherwise.
int parseTolerance(const std::string &text);
// mean, rec601 or rec709; throws UsageError otherwise.
process::GrayFormula parseGrayFormula(const std::string &text);
// A number of jobs, 1 to kMaxJobs; throws UsageError otherwise.
unsigned parseJobs(const std::string &text);
inline constexpr unsigned kMaxJobs = 1024;

std::string usageText();

}  // namespace tovi::cli
