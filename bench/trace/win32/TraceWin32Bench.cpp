// Records per second through KVRTRACERAWA, mutex, mapping and all, from one thread and from four.
#include "platform/win32/Handle.h"
#include "trace/win32/Kvrtrace.h"
#include "trace/win32/TraceStore.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

double recordsPerSecond(int threads, int recordsPerThread)
{
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([recordsPerThread] {
            for (int i = 0; i < recordsPerThread; ++i)
                KVRTRACERAWA(2, "DPX", nullptr,
                             "InstallKavariAddOn>>copy, strInstallPath=C:\\Users\\****\\Kavari");
        });
    }
    for (std::thread& w : workers)
        w.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return threads * recordsPerThread / seconds;
}

// The floor under every record: one wait for and one release of a named mutex, nothing else.
double mutexPairsPerSecond(int pairs)
{
    const platform::win32::UniqueMutex mutex(CreateMutexW(nullptr, FALSE, L"KvBenchMutex"));
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < pairs; ++i)
        platform::win32::MutexLock::acquire(mutex.get(), 1000);
    return pairs / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main()
{
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    trace::win32::TraceOptions options;
    options.instance = L"bench-" + std::to_wstring(GetCurrentProcessId());
    options.folder = std::wstring(temp);
    while (!options.folder.empty() && options.folder.back() == L'\\')
        options.folder.pop_back();
    options.fileSize = 16 * trace::win32::kMiB; // wraps several times per run
    trace::win32::setProcessTraceOptions(options);
    KVRTRACERAWA(2, "DPX", nullptr, "warm-up"); // creates the file

    constexpr int kRecords = 200000;
    std::printf("KVRTRACERAWA, 1 thread:  %.0f records/s\n", recordsPerSecond(1, kRecords));
    std::printf("KVRTRACERAWA, 4 threads: %.0f records/s\n", recordsPerSecond(4, kRecords / 4));
    std::printf("named mutex wait and release alone: %.0f pairs/s\n", mutexPairsPerSecond(kRecords));
    return 0;
}
