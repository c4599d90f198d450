// What the command-line tools share: exit codes, error lines, the escaping of whatever a line
// takes from a file or a name, and a progress bar on a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// A failure that names the file it concerns; guarded() turns it into the tool's one error line.
class Failure : public std::runtime_error {
public:
    Failure(std::string file, const std::string& problem)
        : std::runtime_error(problem), mFile(std::move(file))
    {
    }
    const std::string& file() const { return mFile; }

private:
    std::string mFile;
};

// `text` as a terminal may safely show it: control characters (C0, DEL, and C1 in UTF-8) become
// \n, \r, \t, \b, \f, \xNN or \u00NN, and bytes that are not UTF-8 become \xNN, so that nothing
// taken from a file or a name can move the cursor, clear the screen, end the line or cut it.
// Everything else, other scripts included, is kept.
std::string printable(std::string_view text);
void appendPrintable(std::string& out, std::string_view text);

// Appends `text` as the body of a JSON string: quotes, backslashes and every control character
// (C0, DEL and C1) escaped as \uXXXX or its short form; bytes that are not UTF-8 become U+FFFD.
void appendJsonEscaped(std::string& out, std::string_view text);

// Prints "TOOL: FILE: problem" (or "TOOL: problem" for an empty file) on stderr, both escaped as
// printable() does; returns kExitFailure.
int fail(const std::string& tool, const std::string& file, const std::string& problem);

// Prints "TOOL: problem" and "Try 'TOOL --help'." on stderr; returns kExitUsage.
int usageError(const std::string& tool, const std::string& problem);

// Runs a command and turns whatever it throws into the tool's one error line and exit status 1:
// a Failure names its file, a failure to get memory reads "out of memory", and any other
// exception gives its text.
int guarded(const std::string& tool, const std::function<int()>& command);

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
