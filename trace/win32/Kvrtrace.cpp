// The entry points over the process's one store, and the library's start and end in a process.
#include "trace/win32/Kvrtrace.h"

#include "trace/win32/TraceStore.h"

#include <cstdlib>
#include <cwchar>
#include <mutex>

namespace trace::win32 {

namespace {

// Set by the static initialiser below and cleared at process exit; a record outside that time is
// refused, since the store's objects may not exist then.
std::atomic<bool> gProcessStart{false};

std::mutex& storeMutex()
{
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

TraceOptions& pendingOptions()
{
    static TraceOptions* options = new TraceOptions;
    return *options;
}

std::atomic<TraceStore*> gStore{nullptr};

struct LibraryStart {
    LibraryStart()
    {
        storeMutex();
        pendingOptions();
        gProcessStart.store(true);
        std::atexit(kvrtra_process_exit);
    }
} gLibraryStart;

// The store, made on first use and kept for the life of the process: records may still arrive
// from static destructors, and a store that is gone cannot refuse them.
TraceStore* store()
{
    TraceStore* existing = gStore.load(std::memory_order_acquire);
    if (existing)
        return existing;
    std::lock_guard<std::mutex> lock(storeMutex());
    existing = gStore.load(std::memory_order_acquire);
    if (!existing) {
        existing = new TraceStore(pendingOptions());
        gStore.store(existing, std::memory_order_release);
    }
    return existing;
}

} // namespace

// Asked once per record.
TraceStore* startedStore(const wchar_t* entryPoint, const wchar_t* instance, uint32_t level, HANDLE& viewer)
{
    if (!gProcessStart.load()) {
        // Nothing but the debugger output is safe here.
        wchar_t line[128];
        _snwprintf(line, 127, L"%ls, %ls, %ls", entryPoint, L"g_bProcessStart", L"expression failed\r\n");
        line[127] = 0;
        OutputDebugStringW(line);
        return nullptr;
    }
    TraceStore* s = store();
    if (!s->isLogEnabled() || !s->admit(level, instance, viewer))
        return nullptr;
    return s;
}

TraceStore* processTraceStore()
{
    return store();
}

void setProcessTraceOptions(const TraceOptions& options)
{
    std::lock_guard<std::mutex> lock(storeMutex());
    pendingOptions() = options;
}

} // namespace trace::win32

using namespace trace::win32;

__attribute__((noinline)) int KVRTRACE_RAW_WITH_NAME(uint32_t level, const wchar_t* module,
                                                     const wchar_t* category, const wchar_t* text,
                                                     const wchar_t* instance, const wchar_t* name)
{
    HANDLE viewer = nullptr;
    TraceStore* s = startedStore(L"KVRTRACE_RAW_WITH_NAME", instance, level, viewer);
    if (!s)
        return kTraceSkipped;
    return s->write(TraceRequest<wchar_t>{level, module, category, text, name, __builtin_return_address(0)}, viewer);
}

__attribute__((noinline)) int KVRTRACE_RAW_A_WITH_NAME(uint32_t level, const char* module,
                                                       const char* category, const char* text,
                                                       const char* instance, const char* name)
{
    wchar_t wideInstance[261] = {};
    if (instance && *instance && MultiByteToWideChar(CP_OEMCP, 0, instance, -1, wideInstance, 260) == 0)
        return kTraceBadArgument;
    HANDLE viewer = nullptr;
    TraceStore* s = startedStore(L"KVRTRACE_RAW_A_WITH_NAME", wideInstance, level, viewer);
    if (!s)
        return kTraceSkipped;
    return s->write(TraceRequest<char>{level, module, category, text, name, __builtin_return_address(0)}, viewer);
}

__attribute__((noinline)) int KVRTRACERAW(uint32_t level, const wchar_t* module, const wchar_t* category,
                                          const wchar_t* text)
{
    HANDLE viewer = nullptr;
    TraceStore* s = startedStore(L"KVRTRACE_RAW_WITH_NAME", nullptr, level, viewer);
    if (!s)
        return kTraceSkipped;
    return s->write(
        TraceRequest<wchar_t>{level, module, category, text, nullptr, __builtin_return_address(0)}, viewer);
}

__attribute__((noinline)) int KVRTRACERAWA(uint32_t level, const char* module, const char* category,
                                           const char* text)
{
    HANDLE viewer = nullptr;
    TraceStore* s = startedStore(L"KVRTRACE_RAW_A_WITH_NAME", nullptr, level, viewer);
    if (!s)
        return kTraceSkipped;
    return s->write(TraceRequest<char>{level, module, category, text, nullptr, __builtin_return_address(0)}, viewer);
}

void kvrtra_process_exit()
{
    if (!gProcessStart.exchange(false))
        return;
    if (TraceStore* s = gStore.load(std::memory_order_acquire))
        s->processExit();
}

void kvrtra_lib_clean()
{
    if (TraceStore* s = gStore.load(std::memory_order_acquire))
        s->libClean();
}
