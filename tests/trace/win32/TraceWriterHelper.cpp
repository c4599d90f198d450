// A process of its own for the Windows trace tests:
//   trace_writer_helper write INSTANCE FOLDER FILESIZE THREADS RECORDS
//       a level-1 record "start" starts the library (with no viewer it writes nothing), then each
//       thread writes RECORDS records "w N" (N counting from 1) through the entry points; the
//       process then ends normally, which runs the library's process-exit step
//   trace_writer_helper hold INSTANCE
//       takes the trace mutex, reserves a record it never finishes, sets the event
//       "INSTANCE-held" and waits to be killed
#include "platform/win32/Handle.h"
#include "trace/TraceRing.h"
#include "trace/win32/Kvrtrace.h"
#include "trace/win32/TraceStore.h"

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace platform::win32;

namespace {

int hold(const std::wstring& instance)
{
    const auto names = trace::win32::TraceObjectNames::make(instance);
    const UniqueMutex mutex(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, names.mutexEx.c_str()));
    const UniqueMapping mapping(OpenFileMappingW(FILE_MAP_WRITE, FALSE, names.fileEx.c_str()));
    const UniqueView view(mapping ? MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0) : nullptr);
    const UniqueEvent held(CreateEventW(nullptr, TRUE, FALSE, (instance + L"-held").c_str()));
    if (!mutex || !view || !held)
        return 3;
    MEMORY_BASIC_INFORMATION info{};
    VirtualQuery(view.get(), &info, sizeof info);
    const MutexLock lock = MutexLock::acquire(mutex.get(), trace::win32::kTraceMutexWaitMs);
    if (!lock)
        return 4;
    trace::TraceRing ring(static_cast<uint8_t*>(view.get()), info.RegionSize);
    ring.allocRecord(200);
    SetEvent(held.get());
    Sleep(INFINITE);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    const std::wstring mode = argv[1];
    const std::wstring instance = argv[2];
    if (mode == L"hold")
        return hold(instance);
    if (mode != L"write" || argc < 7)
        return 2;
    trace::win32::TraceOptions options;
    options.folder = argv[3];
    options.fileSize = static_cast<uint32_t>(std::wcstoul(argv[4], nullptr, 10));
    trace::win32::setProcessTraceOptions(options);
    if (mode != L"write" || argc < 7)
        return 2;
    const std::string instance8(instance.begin(), instance.end());
    const int threads = std::wcstol(argv[5], nullptr, 10);
    const int records = std::wcstol(argv[6], nullptr, 10);
    KVRTRACE_RAW_A_WITH_NAME(1, "DPX", nullptr, "start", instance8.c_str(), nullptr);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([records] {
            for (int i = 1; i <= records; ++i)
                KVRTRACERAWA(2, "stress", nullptr, ("w " + std::to_string(i)).c_str());
        });
    }
    for (std::thread& w : workers)
        w.join();
    return 0;
}
