// In-memory sink for tests: lines are copied under a lock, so any thread may log into it.
#include "tests/support/CaptureSink.h"

namespace rlxutil {

void CaptureSink::log(int32_t level, const std::string& loggerName, const std::string& line)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mLines.push_back(CapturedLine{level, loggerName, line});
}

std::vector<CapturedLine> CaptureSink::lines() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mLines;
}

std::vector<std::string> CaptureSink::texts() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    std::vector<std::string> result;
    result.reserve(mLines.size());
    for (const CapturedLine& entry : mLines) {
        result.push_back(entry.line);
    }
    return result;
}

void CaptureSink::clear()
{
    std::lock_guard<std::mutex> lock(mMutex);
    mLines.clear();
}

ScopedCaptureSink::ScopedCaptureSink() : mSink(std::make_shared<CaptureSink>())
{
    LoggerRegistry& registry = LoggerRegistry::instance();
    registry.setLogger(nullptr);
    registry.discardPending();
    registry.setLogger(mSink);
}

ScopedCaptureSink::~ScopedCaptureSink()
{
    LoggerRegistry& registry = LoggerRegistry::instance();
    registry.setLogger(nullptr);
    registry.discardPending();
}

} // namespace rlxutil
