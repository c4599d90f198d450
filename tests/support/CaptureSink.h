// A sink that keeps every line in memory, and a guard that installs it, for the tests of any module.
#pragma once

#include "logging/Logger.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace rlxutil {

struct CapturedLine {
    int32_t level;
    std::string loggerName;
    std::string line;

    bool operator==(const CapturedLine& other) const
    {
        return level == other.level && loggerName == other.loggerName && line == other.line;
    }
};

class CaptureSink : public ILogger {
public:
    void log(int32_t level, const std::string& loggerName, const std::string& line) override;

    std::vector<CapturedLine> lines() const;
    // Only the line texts, in order: what most tests compare.
    std::vector<std::string> texts() const;
    void clear();

private:
    mutable std::mutex mMutex;
    std::vector<CapturedLine> mLines;
};

// Installs a fresh CaptureSink in the process registry for its lifetime. Lines held from before
// are dropped first, and again at the end, so tests do not see each other's lines.
class ScopedCaptureSink {
public:
    ScopedCaptureSink();
    ~ScopedCaptureSink();
    ScopedCaptureSink(const ScopedCaptureSink&) = delete;
    ScopedCaptureSink& operator=(const ScopedCaptureSink&) = delete;

    CaptureSink& sink() { return *mSink; }
    std::vector<CapturedLine> lines() const { return mSink->lines(); }
    std::vector<std::string> texts() const { return mSink->texts(); }

private:
    std::shared_ptr<CaptureSink> mSink;
};

} // namespace rlxutil
