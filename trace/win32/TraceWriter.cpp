// Writing records into the shared file under the trace mutex, the copies a log collector asks
// for before the ring wraps, and the end of a store's life in a process.
#include "platform/TextConvert.h"
#include "platform/win32/LastError.h"
#include "platform/win32/SystemLibrary.h"
#include "trace/TraceFormat.h"
#include "trace/win32/TraceStore.h"

#include <algorithm>
#include <cwchar>
#include <string_view>

namespace trace::win32 {

using namespace platform::win32;

namespace {

// The module whose image holds `address`: a mapped image that starts with "MZ" and whose header
// reads "PE\0\0"; null for heap, stack or free memory.
HMODULE moduleAt(const void* address)
{
    MEMORY_BASIC_INFORMATION region{};
    if (!address || VirtualQuery(address, &region, sizeof region) != sizeof region)
        return nullptr;
    if (region.State == MEM_FREE || region.Type == MEM_PRIVATE || !region.AllocationBase)
        return nullptr;
    const auto* base = static_cast<const uint8_t*>(region.AllocationBase);
    MEMORY_BASIC_INFORMATION first{};
    if (VirtualQuery(base, &first, sizeof first) != sizeof first || first.State != MEM_COMMIT ||
        first.RegionSize < 0x40 || (first.Protect & (PAGE_NOACCESS | PAGE_GUARD)))
        return nullptr;
    if (base[0] != 'M' || base[1] != 'Z')
        return nullptr;
    const uint32_t peOffset = *reinterpret_cast<const uint32_t*>(base + 0x3C);
    if (peOffset > first.RegionSize - 4)
        return nullptr;
    if (base[peOffset] != 'P' || base[peOffset + 1] != 'E' || base[peOffset + 2] != 0 ||
        base[peOffset + 3] != 0)
        return nullptr;
    return reinterpret_cast<HMODULE>(const_cast<uint8_t*>(base));
}

std::wstring moduleFileName(HMODULE module)
{
    wchar_t path[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return std::wstring();
    const std::wstring_view full(path, length);
    const size_t slash = full.find_last_of(L"\\/");
    return std::wstring(slash == std::wstring_view::npos ? full : full.substr(slash + 1));
}

template <class Char> std::basic_string_view<Char> view(const Char* text)
{
    return text ? std::basic_string_view<Char>(text) : std::basic_string_view<Char>();
}

std::u16string_view asUtf16(std::wstring_view text)
{
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide characters");
    return std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

TraceStrings8 strings(const char* module, const char* category, const char* text, const char* name)
{
    return {view(module), view(category), view(text), view(name)};
}

TraceStrings16 strings(const wchar_t* module, const wchar_t* category, const wchar_t* text,
                       const wchar_t* name)
{
    return {asUtf16(view(module)), asUtf16(view(category)), asUtf16(view(text)), asUtf16(view(name))};
}

void currentTime(TraceRecordInfo& info)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime; // 100 ns since 1601
    constexpr uint64_t kUnixEpoch = 11644473600ull;
    const uint64_t seconds = ticks / 10000000;
    info.seconds = static_cast<uint32_t>(seconds - kUnixEpoch);
    info.milliseconds = static_cast<uint16_t>(ticks / 10000 % 1000);
}

} // namespace

template <class Char>
std::basic_string<Char> TraceStore::moduleName(const void* address, const void* fallback)
{
    HMODULE module = moduleAt(address);
    if (!module)
        module = moduleAt(fallback);
    if (!module)
        return std::basic_string<Char>();
    std::lock_guard<std::mutex> lock(mModules);
    if constexpr (sizeof(Char) == 1) {
        auto found = mModuleNames8.find(module);
        if (found == mModuleNames8.end())
            found = mModuleNames8.emplace(module, platform::wideToUtf8(moduleFileName(module))).first;
        return found->second;
    } else {
        auto found = mModuleNames16.find(module);
        if (found == mModuleNames16.end())
            found = mModuleNames16.emplace(module, moduleFileName(module)).first;
        return found->second;
    }
}

bool TraceStore::admit(uint32_t level, const wchar_t* instance, HANDLE& viewer)
{
    init(instance);
    viewer = isViewerListening();
    return viewer || level > 1;
}

int TraceStore::write(const TraceRequest<char>& request)
{
    HANDLE viewer = nullptr;
    return admit(request.level, nullptr, viewer) ? writeOf(request, viewer) : kTraceSkipped;
}

int TraceStore::write(const TraceRequest<wchar_t>& request)
{
    HANDLE viewer = nullptr;
    return admit(request.level, nullptr, viewer) ? writeOf(request, viewer) : kTraceSkipped;
}

int TraceStore::write(const TraceRequest<char>& request, HANDLE viewer)
{
    return writeOf(request, viewer);
}

int TraceStore::write(const TraceRequest<wchar_t>& request, HANDLE viewer)
{
    return writeOf(request, viewer);
}

template <class Char> int TraceStore::writeOf(const TraceRequest<Char>& request, HANDLE viewer)
{

    TraceRecordInfo info;
    info.level = request.level;
    info.processId = GetCurrentProcessId();
    info.threadId = GetCurrentThreadId();
    LARGE_INTEGER counter;
    if (viewer && mCounterFrequency.QuadPart > 0 && QueryPerformanceCounter(&counter)) {
        const uint64_t ticks = static_cast<uint64_t>(counter.QuadPart);
        const uint64_t frequency = static_cast<uint64_t>(mCounterFrequency.QuadPart);
        info.hasHighResTime = true;
        info.highResTimeUs = ticks / frequency * 1000000 + ticks % frequency * 1000000 / frequency;
    }
    std::basic_string<Char> module;
    const Char* moduleText = request.module;
    if (!moduleText) {
        module = moduleName<Char>(request.callerAddress, request.returnAddress);
        moduleText = module.c_str();
    }

    if (!view())
        return kTraceNoView;
    TraceWriteResult result;
    {
        const MutexLock lock = MutexLock::acquire(mTraceMutex.get(), kTraceMutexWaitMs);
        if (!lock) {
            const LastError error = LastError::take();
            diagnostic(L"WaitForSingleObject Failed, ret = %u, err = %u\r\n",
                       static_cast<unsigned>(WAIT_TIMEOUT), error.code);
            return kTraceNoView;
        }
        // Looked at again under the mutex: the store may have let go of the view meanwhile.
        uint8_t* file = mView.load(std::memory_order_acquire);
        if (!file)
            return kTraceNoView;
        currentTime(info);
        TraceRing ring(file, mViewSize);
        result = writeTraceRecord(ring, info,
                                  strings(moduleText, request.category, request.text, request.name), this);
    }
    if (result != TraceWriteResult::Written)
        return result == TraceWriteResult::NoSpace ? kTraceNoSpace : kTraceNoView;
    if (viewer) {
        std::lock_guard<std::mutex> lock(mViewer);
        if (mViewerEvent)
            SetEvent(mViewerEvent.get());
    }
    return kTraceWritten;
}

bool TraceStore::IsSaveLogMutexExist()
{
    const UniqueMutex mutex(CreateMutexW(nullptr, FALSE, mNames.saveLog.c_str()));
    if (!mutex)
        return false;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        diagnostic(L"IsSaveLogMutexExist, ALREADY_EXISTS");
        return true;
    }
    return false;
}

bool TraceStore::checkIfNeedSaveLogFile(uint32_t recordSize)
{
    if (!IsSaveLogMutexExist()) {
        diagnostic(L"IsSaveLogMutexExist  false\r\n");
        return false;
    }
    const uint8_t* file = view();
    if (file) {
        const auto header = readTraceHeader(file, mViewSize);
        if (uint64_t{header->writeOffset} + recordSize > header->fileSize) {
            diagnostic(L"checkIfNeedSaveLogFile  true\r\n");
            return true;
        }
    }
    diagnostic(L"checkIfNeedSaveLogFile  false\r\n");
    return false;
}

void TraceStore::SaveLogFile()
{
    if (mSaveCounter > 100) {
        diagnostic(L"SaveLogFile more than 100 files\r\n");
        return;
    }
    diagnostic(L"SaveLogFile  Start\r\n");
    if (mTracePath.size() < 11)
        mTracePath = traceFilePath();
    uint8_t* file = mView.load(std::memory_order_acquire);
    if (mTracePath.size() > 10 && file) {
        ++mSaveCounter;
        wchar_t suffix[32];
        _snwprintf(suffix, 31, L"~%d%ls", static_cast<int>(mSaveCounter), L".kvl");
        suffix[31] = 0;
        const std::wstring copy = mTracePath.substr(0, mTracePath.size() - 4) + suffix;
        if (!FlushViewOfFile(file, 0))
            diagnostic(L"SaveLogFile FlushViewOfFile Failed, lastError = %u \r\n", LastError::take().code);
        diagnostic(L"SaveLogFile  FlushViewOfFile\r\n");
        if (!CopyFileW(mTracePath.c_str(), copy.c_str(), FALSE)) {
            const LastError error = LastError::take();
            // Systems that keep a writable mapping's file from being opened for reading without
            // write sharing refuse the copy; the view holds the same bytes.
            const DWORD size =
                static_cast<DWORD>(std::min<size_t>(readTraceHeader(file, mViewSize)->fileSize, mViewSize));
            const UniqueFile out(CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
            DWORD written = 0;
            if (!out || !WriteFile(out.get(), file, size, &written, nullptr) || written != size)
                diagnostic(L"SaveLogFile save Failed, lastError = %u \r\n", error.code);
            else
                diagnostic(L"SaveLogFile copied from the view, lastError = %u \r\n", error.code);
        }
    }
    diagnostic(L"SaveLogFile  End\r\n");
}

std::wstring TraceStore::traceFilePath()
{
    const uint8_t* file = view();
    if (!file)
        return std::wstring();
    using GetMappedFileName = DWORD(WINAPI*)(HANDLE, LPVOID, LPWSTR, DWORD);
    const UniqueModule psapi = loadSystemLibrary(L"psapi.dll");
    auto getName = lookUp<GetMappedFileName>(psapi.get(), "GetMappedFileNameW");
    UniqueModule kernel;
    if (!getName) {
        // Later systems keep it in the kernel under another name.
        kernel = loadSystemLibrary(L"kernel32.dll");
        getName = lookUp<GetMappedFileName>(kernel.get(), "K32GetMappedFileNameW");
    }
    if (!getName)
        return std::wstring();
    wchar_t device[MAX_PATH + 1] = {};
    const DWORD length = getName(GetCurrentProcess(), const_cast<uint8_t*>(file), device, MAX_PATH);
    if (length == 0)
        return std::wstring();
    std::wstring path(device, length);
    // An object-manager path to a drive ("\??\C:\...", as Wine answers) is that drive path.
    if (path.compare(0, 4, L"\\??\\") == 0 && path.size() > 6 && path[5] == L':')
        return path.substr(4);
    const DWORD drives = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(drives & (1u << i)))
            continue;
        const wchar_t drive[3] = {static_cast<wchar_t>(L'A' + i), L':', 0};
        wchar_t target[MAX_PATH] = {};
        if (!QueryDosDeviceW(drive, target, MAX_PATH))
            continue;
        const size_t n = std::wcslen(target);
        if (n > 0 && path.size() > n && _wcsnicmp(path.c_str(), target, n) == 0 && path[n] == L'\\')
            return std::wstring(drive) + path.substr(n);
    }
    return path;
}

void TraceStore::processExit()
{
    std::wstring path;
    uint32_t cutLength = 0;
    if (const uint8_t* file = view()) {
        path = mTracePath.empty() ? traceFilePath() : mTracePath;
        const MutexLock lock = MutexLock::acquire(mTraceMutex.get(), kTraceMutexWaitMs);
        const auto header = readTraceHeader(file, mViewSize);
        if (lock && checkTraceHeader(file, mViewSize) == HeaderCheck::Valid &&
            header->oldestRecord == kHeaderSize)
            cutLength = header->writeOffset;
    }
    diagnostic(L"kvrtra_process_exit ->kvrtra_lib_clean\r\n");
    libClean();
    if (!path.empty() && cutLength >= kHeaderSize) {
        // Opened by its wide path: a path in the system code page loses characters it lacks.
        const UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER at;
        at.QuadPart = cutLength;
        if (file && SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN))
            SetEndOfFile(file.get());
        const LastError error = LastError::take();
        diagnostic(L"kvrtra_process_exit, resize file = %ls, GetLastError = %d", path.c_str(),
                   static_cast<int>(error.code));
    }
}

} // namespace trace::win32
