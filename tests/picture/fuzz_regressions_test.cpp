// Every input a fuzz run ever found a fault with (fuzz/regressions/, where
// fuzz/run.sh keeps them) goes the whole way through the program again in the
// normal test run: refused or read, never a crash, a stray error or a hang
// (the test's time limit).

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "bmp_read_path.h"

namespace {

namespace fs = std::filesystem;

TEST(FuzzRegressions, EveryKeptInputPassesTheWholePath)
{
    const fs::path folder = TOVI_FUZZ_REGRESSIONS_DIR;
    ASSERT_TRUE(fs::is_directory(folder)) << folder;
    int replayed = 0;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file())
            continue;
        SCOPED_TRACE(entry.path().string());
        std::ifstream file(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        EXPECT_NO_THROW(tovi::fuzz::readProcessWrite(bytes.data(), bytes.size()));
        ++replayed;
    }
    // The folder is never empty (its placeholder is an input too: no bytes).
    EXPECT_GT(replayed, 0);
}

}  // namespace
