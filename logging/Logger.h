// Named loggers, the process-wide registry that routes their lines, and the sink interface.
#pragma once

#include "logging/LogItem.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace rlxutil {

// Where finished lines go. Called from any thread; an implementation must not throw (the
// registry swallows what it throws anyway, since logging never fails towards its caller).
class ILogger : public std::enable_shared_from_this<ILogger> {
public:
    virtual ~ILogger() = default;
    virtual void log(int32_t level, const std::string& loggerName, const std::string& line) = 0;
};

class LoggerRegistry;

// A named logger. Callers get a pointer from getLogger and keep it for one statement only.
class LoggerUtil {
public:
    LoggerUtil(std::string name, LoggerRegistry* registry);
    virtual ~LoggerUtil() = default;
    LoggerUtil(const LoggerUtil&) = delete;
    LoggerUtil& operator=(const LoggerUtil&) = delete;

    // Joins 1 to 6 items into one line ("message, name=value, ...") and delivers it, cut into
    // pieces of 2046 bytes when longer.
    template <typename... Items> void log(int32_t level, const Items&... items) noexcept
    {
        static_assert(sizeof...(Items) >= 1 && sizeof...(Items) <= 6, "a log line takes 1 to 6 items");
        static_assert((std::is_same_v<Items, LogItem> && ...), "log lines are made of LogItem values");
        const LogItem* list[] = {&items...};
        logItems(level, list, sizeof...(Items));
    }

    // Delivers a prepared text as one line: no composing, no cutting.
    void logRaw(int32_t level, const std::string& text) noexcept;

    // Installs the process-wide sink of this logger's registry; an empty pointer removes it.
    void setLogger(std::shared_ptr<ILogger> sink);

    void setName(const std::string& name);
    std::string name() const;

private:
    void logItems(int32_t level, const LogItem* const* items, size_t count) noexcept;

    mutable std::mutex mNameMutex;
    std::string mName;
    LoggerRegistry* mRegistry; // null for the fallback logger after shutdown
};

// Owns the loggers and the sink, and holds lines while no sink is installed. The process has one
// (instance()); tests may build their own, which leave the process-wide shutdown flag alone.
class LoggerRegistry {
public:
    static constexpr size_t kMaxLineLength = 2047; // pieces are one byte shorter
    static constexpr size_t kMaxPending = 200;

    LoggerRegistry();
    virtual ~LoggerRegistry() = default;
    LoggerRegistry(const LoggerRegistry&) = delete;
    LoggerRegistry& operator=(const LoggerRegistry&) = delete;

    static LoggerRegistry& instance();

    // Never null. The empty name and "UNKNOWN" give the same logger; names compare with case.
    LoggerUtil* getLogger(const std::string& name);

    // Installs a sink and hands it every held line first, in order; an empty pointer removes it.
    void setLogger(std::shared_ptr<ILogger> sink);

    size_t pendingCount() const;
    // Drops held lines, so a test that installs a sink does not receive an earlier test's lines.
    void discardPending();

private:
    friend class LoggerUtil;

    // Cuts a composed line into pieces of kMaxLineLength - 1 bytes and delivers each.
    void deliverCut(int32_t level, const std::string& loggerName, const std::string& line);
    // Hands one line to the sink, or holds it (at most kMaxPending) while there is none.
    void deliver(int32_t level, const std::string& loggerName, const std::string& line);

    struct PendingLine {
        std::string line;
        std::string loggerName;
        int32_t level;
    };

    // One mutex for the held lines and the sink pointer: checking for a sink and holding a line must
    // be one step, or an installation in between would hand the line over twice.
    mutable std::recursive_mutex mPendingMutex;
    std::vector<PendingLine> mPending;
    std::shared_ptr<ILogger> mSink;

    std::recursive_mutex mTableMutex;
    std::unordered_map<std::string, std::shared_ptr<LoggerUtil>> mTable;
    std::vector<std::pair<std::string, std::shared_ptr<LoggerUtil>>> mPresets;
};

// Set once the process registry is destroyed during static destruction; from then on every logging
// call does nothing.
bool loggingShutDown();

// The logger of that name in the process registry; after shutdown a do-nothing logger with the
// empty name.
LoggerUtil* getLogger(const std::string& name);

// A logger of the process registry named once and looked up on its first line, for modules that
// write many lines through one logger. Constant-initialised, so it may be a namespace-scope object
// used during any static initialisation; once the registry is gone it hands out the do-nothing
// logger instead of the one it kept.
class LoggerRef {
public:
    explicit constexpr LoggerRef(const char* name) : mName(name) {}
    LoggerRef(const LoggerRef&) = delete;
    LoggerRef& operator=(const LoggerRef&) = delete;

    LoggerUtil* get();
    LoggerUtil* operator->() { return get(); }

private:
    const char* mName;
    std::atomic<LoggerUtil*> mLogger{nullptr};
};

} // namespace rlxutil
