// Line composition, cutting, holding and delivery of log lines, and logger lookup.
#include "logging/Logger.h"

#include <atomic>

namespace rlxutil {

namespace {

std::atomic<bool> gShutDown{false};

// The process registry is the only one whose end silences logging: loggers it owned are gone,
// and code that runs later in static destruction must not reach them.
class ProcessLoggerRegistry : public LoggerRegistry {
public:
    ~ProcessLoggerRegistry() override { gShutDown.store(true); }
};

const char* const kPresetNames[] = {"RLX", "HBQ", "DPX", "ZTM", "UNKNOWN"};
constexpr size_t kUnknownPreset = 4;

void callSink(ILogger& sink, int32_t level, const std::string& loggerName, const std::string& line) noexcept
{
    try {
        sink.log(level, loggerName, line);
    } catch (...) {
    }
}

} // namespace

bool loggingShutDown()
{
    return gShutDown.load(std::memory_order_relaxed);
}

LoggerUtil* getLogger(const std::string& name)
{
    if (loggingShutDown()) {
        // Deliberately never freed: it must outlive every other static object.
        static LoggerUtil* const fallback = new LoggerUtil(std::string(), nullptr);
        return fallback;
    }
    return LoggerRegistry::instance().getLogger(name);
}

LoggerUtil* LoggerRef::get()
{
    if (loggingShutDown())
        return getLogger(std::string());
    // Loggers live as long as the registry, so a pointer once handed out stays good; two threads
    // that look up at once get the same one.
    LoggerUtil* logger = mLogger.load(std::memory_order_acquire);
    if (logger == nullptr) {
        logger = LoggerRegistry::instance().getLogger(mName);
        mLogger.store(logger, std::memory_order_release);
    }
    return logger;
}

LoggerUtil::LoggerUtil(std::string name, LoggerRegistry* registry)
    : mName(std::move(name)), mRegistry(registry)
{
}

void LoggerUtil::setName(const std::string& name)
{
    std::lock_guard<std::mutex> lock(mNameMutex);
    mName = name;
}

std::string LoggerUtil::name() const
{
    std::lock_guard<std::mutex> lock(mNameMutex);
    return mName;
}

void LoggerUtil::setLogger(std::shared_ptr<ILogger> sink)
{
    if (mRegistry != nullptr && !loggingShutDown()) {
        mRegistry->setLogger(std::move(sink));
    }
}

void LoggerUtil::logItems(int32_t level, const LogItem* const* items, size_t count) noexcept
{
    if (mRegistry == nullptr || loggingShutDown()) {
        return;
    }
    try {
        size_t length = 0;
        for (size_t i = 0; i < count; ++i) {
            length += items[i]->name().size() + items[i]->value().size() + 3;
        }
        std::string line;
        line.reserve(length);
        for (size_t i = 0; i < count; ++i) {
            if (!line.empty()) {
                line += ", ";
            }
            if (!items[i]->name().empty()) {
                line += items[i]->name();
                line += '=';
            }
            line += items[i]->value();
        }
        mRegistry->deliverCut(level, name(), line);
    } catch (...) {
    }
}

void LoggerUtil::logRaw(int32_t level, const std::string& text) noexcept
{
    if (mRegistry == nullptr || loggingShutDown()) {
        return;
    }
    try {
        mRegistry->deliver(level, name(), text);
    } catch (...) {
    }
}

LoggerRegistry::LoggerRegistry()
{
    for (const char* name : kPresetNames) {
        mPresets.emplace_back(name, std::make_shared<LoggerUtil>(name, this));
    }
}

LoggerRegistry& LoggerRegistry::instance()
{
    static ProcessLoggerRegistry registry;
    return registry;
}

LoggerUtil* LoggerRegistry::getLogger(const std::string& name)
{
    std::lock_guard<std::recursive_mutex> lock(mTableMutex);
    const std::string& key = name.empty() ? mPresets[kUnknownPreset].first : name;
    for (auto& [presetName, logger] : mPresets) {
        // "HBQ" is a preset, yet a request for it goes to the table like any other name.
        if (presetName == key && presetName != "HBQ") {
            return logger.get();
        }
    }
    auto& logger = mTable[name];
    if (!logger) {
        logger = std::make_shared<LoggerUtil>(name, this);
    }
    return logger.get();
}

void LoggerRegistry::setLogger(std::shared_ptr<ILogger> sink)
{
    std::shared_ptr<ILogger> previous;
    {
        std::lock_guard<std::recursive_mutex> lock(mPendingMutex);
        previous = std::move(mSink);
        mSink = std::move(sink);
        if (mSink) {
            // Moved out first: a sink that logs from inside log() must not append to the vector
            // being walked. Its lines go straight to it, as the sink is already in place.
            std::vector<PendingLine> held = std::move(mPending);
            mPending.clear();
            for (const PendingLine& entry : held) {
                callSink(*mSink, entry.level, entry.loggerName, entry.line);
            }
        }
    }
    // The old sink may be released here, outside the lock, in case its destructor logs.
}

void LoggerRegistry::deliverCut(int32_t level, const std::string& loggerName, const std::string& line)
{
    if (loggingShutDown()) {
        return;
    }
    constexpr size_t kPiece = kMaxLineLength - 1;
    if (line.size() <= kPiece) {
        deliver(level, loggerName, line);
        return;
    }
    // Pieces may split a multi-byte character: readers of the trace see the bytes as they were.
    for (size_t offset = 0; offset < line.size(); offset += kPiece) {
        deliver(level, loggerName, line.substr(offset, kPiece));
    }
}

void LoggerRegistry::deliver(int32_t level, const std::string& loggerName, const std::string& line)
{
    if (loggingShutDown() || line.empty()) {
        return;
    }
    std::shared_ptr<ILogger> sink;
    {
        std::lock_guard<std::recursive_mutex> lock(mPendingMutex);
        if (!mSink) {
            if (mPending.size() < kMaxPending) {
                mPending.push_back(PendingLine{line, loggerName, level});
            }
            return;
        }
        sink = mSink;
    }
    // Outside the lock, so slow sinks do not serialise the threads that log.
    callSink(*sink, level, loggerName, line);
}

size_t LoggerRegistry::pendingCount() const
{
    std::lock_guard<std::recursive_mutex> lock(mPendingMutex);
    return mPending.size();
}

void LoggerRegistry::discardPending()
{
    std::lock_guard<std::recursive_mutex> lock(mPendingMutex);
    mPending.clear();
}

} // namespace rlxutil
