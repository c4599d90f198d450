// Error lines and the terminal progress bar of the command-line tools.
#include "tools/common/Cli.h"

#include "platform/Host.h"

#include <cstdio>

namespace cli {

int fail(const std::string& tool, const std::string& file, const std::string& problem)
{
    if (file.empty())
        std::fprintf(stderr, "%s: %s\n", tool.c_str(), problem.c_str());
    else
        std::fprintf(stderr, "%s: %s: %s\n", tool.c_str(), file.c_str(), problem.c_str());
    return kExitFailure;
}

int usageError(const std::string& tool, const std::string& problem)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", tool.c_str(), problem.c_str(), tool.c_str());
    return kExitUsage;
}

ProgressBar::ProgressBar(std::string label, uint64_t total)
    : mLabel(std::move(label)), mTotal(total), mTerminal(platform::isTerminal(stderr)),
      mStart(std::chrono::steady_clock::now()), mLastDraw(mStart)
{
}

ProgressBar::~ProgressBar()
{
    finish();
}

void ProgressBar::update(uint64_t done)
{
    if (!mTerminal || mTotal == 0)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - mStart < std::chrono::seconds(1))
        return;
    const int permille = static_cast<int>(done >= mTotal ? 1000 : done * 1000 / mTotal);
    if (permille == mLastPermille || (mDrawn && now - mLastDraw < std::chrono::milliseconds(100)))
        return;
    constexpr int kWidth = 40;
    const int filled = permille * kWidth / 1000;
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", mLabel.c_str(), filled,
                 "########################################", kWidth - filled, "", permille / 10);
    std::fflush(stderr);
    mDrawn = true;
    mLastPermille = permille;
    mLastDraw = now;
}

void ProgressBar::finish()
{
    if (!mDrawn)
        return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    mDrawn = false;
}

} // namespace cli
