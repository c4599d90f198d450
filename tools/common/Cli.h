// What the command-line tools share: exit codes, error lines, and a progress bar on a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace cli {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Prints "TOOL: FILE: problem" (or "TOOL: problem" for an empty file) on stderr; returns kExitFailure.
int fail(const std::string& tool, const std::string& file, const std::string& problem);

// Prints "TOOL: problem" and "Try 'TOOL --help'." on stderr; returns kExitUsage.
int usageError(const std::string& tool, const std::string& problem);

// A one-line progress bar on stderr. It shows only when stderr is a terminal and the work has
// already taken more than a second, so quick runs and redirected output stay clean.
class ProgressBar {
public:
    ProgressBar(std::string label, uint64_t total);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void update(uint64_t done);
    // For work whose size is learnt only once it has started.
    void update(uint64_t done, uint64_t total)
    {
        mTotal = total;
        update(done);
    }
    // Clears the bar's line, if it was drawn.
    void finish();

private:
    std::string mLabel;
    uint64_t mTotal;
    bool mTerminal;
    bool mDrawn = false;
    int mLastPermille = -1;
    std::chrono::steady_clock::time_point mStart;
    std::chrono::steady_clock::time_point mLastDraw;
};

} // namespace cli
