// The trace file store: settings, folder and file, named objects, the create-or-attach start and
// the per-process view block.
#include "trace/win32/TraceStore.h"

#include "platform/win32/LastError.h"
#include "trace/win32/TraceSecurity.h"
#include "platform/win32/SystemLibrary.h"
#include "trace/TraceFormat.h"
#include "trace/ViewBlock.h"

#include <aclapi.h>
#include <algorithm>
#include <cstdarg>
#include <cwchar>
#include <memory>
#include <new>
#include <vector>

namespace trace::win32 {

using namespace platform::win32;

namespace {

std::wstring suffixed(const wchar_t* base, const std::wstring& instance)
{
    return instance.empty() ? std::wstring(base) : std::wstring(base) + L"_" + instance;
}

// A registry value as text, whatever its type, at most 259 characters.
bool readSetting(const TraceSettingsSource& source, const wchar_t* value, std::wstring& text)
{
    UniqueRegKey key;
    if (source.root) {
        if (RegOpenKeyExW(source.root, source.key.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
            return false;
    } else if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, source.key.c_str(), 0, KEY_READ, key.put()) !=
                   ERROR_SUCCESS &&
               RegOpenKeyExW(HKEY_CURRENT_USER, source.key.c_str(), 0, KEY_READ, key.put()) !=
                   ERROR_SUCCESS) {
        return false;
    }
    wchar_t buffer[260] = {};
    DWORD bytes = sizeof buffer - sizeof(wchar_t);
    if (RegQueryValueExW(key.get(), value, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes) !=
        ERROR_SUCCESS)
        return false;
    text.assign(buffer, std::min<size_t>(bytes / sizeof(wchar_t), 259));
    text.resize(std::wcslen(text.c_str()));
    return true;
}


std::wstring timeStamp()
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    wchar_t stamp[32];
    _snwprintf(stamp, 32, L"%02hu%02hu%04hu_%02hu%02hu%02hu.kvl", t.wMonth, t.wDay, t.wYear, t.wHour,
               t.wMinute, t.wSecond);
    stamp[31] = 0;
    return stamp;
}

// Deletes all but the newest `keep` files named kvrtra_*.kvl in the folder (by last write).
void trimTraceFiles(const std::wstring& folder, size_t keep)
{
    struct Found {
        std::wstring name;
        uint64_t written;
    };
    std::vector<Found> files;
    WIN32_FIND_DATAW data;
    const UniqueFind find(FindFirstFileW((folder + L"\\kvrtra_*.kvl").c_str(), &data));
    if (!find)
        return;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        files.push_back({data.cFileName, (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                                             data.ftLastWriteTime.dwLowDateTime});
    } while (FindNextFileW(find.get(), &data));
    if (files.size() <= keep)
        return;
    std::sort(files.begin(), files.end(),
              [](const Found& a, const Found& b) { return a.written > b.written; });
    for (size_t i = keep; i < files.size(); ++i)
        DeleteFileW((folder + L"\\" + files[i].name).c_str());
}

DWORD majorVersion()
{
    // GetVersionExW answers what the manifest allows; 6 is all the label needs to know.
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&info))
        return 0;
#pragma GCC diagnostic pop
    return info.dwMajorVersion;
}

size_t regionSize(const void* view)
{
    MEMORY_BASIC_INFORMATION info{};
    if (!view || VirtualQuery(view, &info, sizeof info) != sizeof info)
        return 0;
    return info.RegionSize;
}

} // namespace

TraceObjectNames TraceObjectNames::make(const std::wstring& instance)
{
    TraceObjectNames n;
    n.mutexEx = suffixed(L"KVRTRA_TRACE_MUTEX_EX", instance);
    n.mutex = suffixed(L"KVRTRA_TRACE_MUTEX", instance);
    n.fileEx = suffixed(L"KVRTRA_TRACE_FILE_EX", instance);
    n.file = suffixed(L"KVRTRA_TRACE_FILE", instance);
    n.eventEx = suffixed(L"KVRTRA_TRACE_EVENT_EX", instance);
    n.event = suffixed(L"KVRTRA_TRACE_EVENT", instance);
    n.viewerMark = suffixed(L"KVRTRA_{608462E6-C570-4d01-B29A-63DDB7D9914C}", instance);
    n.saveLog = suffixed(L"KVR_SAVELOG_MUTEX", instance);
    n.viewBlock = suffixed(L"KVR_TRACE_MAPVIEW_MAP_NAME_PRE", instance);
    return n;
}

uint32_t readTraceSize(const TraceSettingsSource& source)
{
    std::wstring text;
    if (!readSetting(source, L"tracesize", text))
        return kDefaultTraceSize;
    // Leading decimal digits, saturating: "5" is 5 MiB, "abc" is 0, "99999999999" is large.
    uint64_t mib = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            break;
        mib = std::min<uint64_t>(mib * 10 + static_cast<uint64_t>(c - L'0'), 1000000);
    }
    if (mib < 1)
        return kDefaultTraceSize;
    return static_cast<uint32_t>(std::min<uint64_t>(mib * kMiB, kMaxTraceSize));
}

bool readLogEnabled(const TraceSettingsSource& source)
{
    std::wstring text;
    return !readSetting(source, L"EnableLog", text) || _wcsicmp(text.c_str(), L"0") != 0;
}

bool isFolderWritable(const std::wstring& folder)
{
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                        DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION;
    DWORD size = 0;
    GetFileSecurityW(folder.c_str(), wanted, nullptr, 0, &size);
    if (size == 0)
        return false;
    std::unique_ptr<uint8_t[]> descriptor(new (std::nothrow) uint8_t[size]);
    if (!descriptor || !GetFileSecurityW(folder.c_str(), wanted, descriptor.get(), size, &size))
        return false;
    auto impersonation = SelfImpersonation::begin();
    if (!impersonation)
        return false;
    UniqueHandle token;
    const BOOL opened = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY | TOKEN_IMPERSONATE | TOKEN_DUPLICATE,
                                        TRUE, token.put());
    impersonation.revert();
    if (!opened)
        return false;
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    DWORD desired = FILE_WRITE_DATA | FILE_APPEND_DATA;
    MapGenericMask(&desired, &mapping);
    PRIVILEGE_SET privileges{};
    DWORD privilegesSize = sizeof privileges;
    DWORD granted = 0;
    BOOL status = FALSE;
    if (!AccessCheck(descriptor.get(), token.get(), desired, &mapping, &privileges, &privilegesSize, &granted,
                     &status))
        return false;
    return status != FALSE && (granted & desired) == desired;
}

TraceStore::TraceStore(TraceOptions options)
    : mOptions(std::move(options)), mNames(TraceObjectNames::make(mOptions.instance))
{
    QueryPerformanceFrequency(&mCounterFrequency);
}

TraceStore::~TraceStore()
{
    libClean();
}

void TraceStore::diagnostic(const wchar_t* format, ...)
{
    wchar_t line[1024];
    va_list args;
    va_start(args, format);
    const int length = _vsnwprintf(line, 1023, format, args);
    va_end(args);
    line[length < 0 ? 1023 : length] = 0;
    OutputDebugStringW(line);
    if (mOptions.diagnostics)
        mOptions.diagnostics(line);
}

bool TraceStore::isLogEnabled()
{
    std::lock_guard<std::mutex> lock(mStartup);
    if (mLogEnabled < 0)
        mLogEnabled = readLogEnabled(mOptions.settings) ? 1 : 0;
    return mLogEnabled == 1;
}

void TraceStore::init(const wchar_t* instance)
{
    std::lock_guard<std::mutex> lock(mStartup);
    if (mInitDone)
        return;
    mInitDone = true;
    if (instance && *instance && mOptions.instance != instance) {
        mOptions.instance = instance;
        mNames = TraceObjectNames::make(mOptions.instance);
    }
    doInit();
}

void TraceStore::doInit()
{
    const DWORD major = majorVersion();
    SECURITY_ATTRIBUTES attributes{sizeof attributes, getTraceSecurityDescriptor(), FALSE};

    UniqueMutex older(CreateMutexW(&attributes, FALSE, mNames.mutex.c_str()));
    const bool olderExisted = older && GetLastError() == ERROR_ALREADY_EXISTS;
    UniqueMutex current(CreateMutexW(&attributes, FALSE, mNames.mutexEx.c_str()));
    const bool currentExisted = current && GetLastError() == ERROR_ALREADY_EXISTS;
    if (!older || !current) {
        diagnostic(L"kvrtra_do_init ->kvrtra_lib_clean\r\n");
        libClean();
        return;
    }
    const bool creator = !olderExisted && !currentExisted;
    const bool olderGeneration = olderExisted && !currentExisted;
    mTraceMutex = olderGeneration ? std::move(older) : std::move(current);

    if (creator) {
        mChosenSize = mOptions.fileSize ? mOptions.fileSize : readTraceSize(mOptions.settings);
        mMapping = createMapFile(&attributes);
        if (mMapping && major >= 6) {
            for (const std::wstring* name : {&mNames.mutex, &mNames.mutexEx, &mNames.file, &mNames.fileEx})
                setLowIntegrityLabel(name->c_str());
        }
    } else {
        const std::wstring& name = olderGeneration ? mNames.file : mNames.fileEx;
        mMapping.reset(OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name.c_str()));
        if (!mMapping) {
            // The creator may be between its mutex and its mapping.
            Sleep(100);
            mMapping.reset(OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name.c_str()));
        }
    }

    if (mMapping) {
        MutexLock lock = MutexLock::acquire(mTraceMutex.get(), kTraceMutexWaitMs);
        if (!lock) {
            diagnostic(L"kvrtra_do_init ->WaitForSingleObject \r\n");
        } else {
            uint8_t* view = mapView(mMapping.get());
            if (!view)
                diagnostic(L"kvrtra_do_init ->KvrMapViewOfFile failed\r\n");
            const size_t size = regionSize(view);
            if (view && creator) {
                if (size < mChosenSize || !createTraceHeader(view, mChosenSize, GetTickCount())) {
                    unmapView(view);
                    view = nullptr;
                }
            } else if (view && checkTraceHeader(view, size) != HeaderCheck::Valid) {
                // Another program's file, or one whose making never finished: never touched.
                diagnostic(L"kvrtra_do_init ->KvrUnmapViewOfFile\r\n");
                unmapView(view);
                view = nullptr;
            }
            mViewSize = view ? size : 0;
            mView.store(view, std::memory_order_release);
        }
    }
    if (!view()) {
        diagnostic(L"kvrtra_do_init ->kvrtra_lib_clean 111\r\n");
        libClean();
    }
}

std::wstring TraceStore::findTraceFolder()
{
    if (!mOptions.folder.empty())
        return isFolderWritable(mOptions.folder) ? mOptions.folder : std::wstring();
    const bool vista = majorVersion() >= 6;
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length > 0 && length <= MAX_PATH) {
        std::wstring folder(temp, length);
        while (!folder.empty() && folder.back() == L'\\')
            folder.pop_back();
        if (isFolderWritable(folder))
            return folder;
        if (vista && isFolderWritable(folder + L"\\Low"))
            return folder + L"\\Low";
    }
    using GetFolder = BOOL(WINAPI*)(HWND, LPWSTR, int, BOOL);
    const UniqueModule shell = loadSystemLibrary(L"shell32.dll");
    const auto getFolder = lookUp<GetFolder>(shell.get(), "SHGetSpecialFolderPathW");
    wchar_t cache[MAX_PATH] = {};
    constexpr int kInternetCache = 0x0020;
    if (getFolder && getFolder(nullptr, cache, kInternetCache, FALSE)) {
        if (isFolderWritable(cache))
            return cache;
        if (vista && isFolderWritable(std::wstring(cache) + L"\\Low"))
            return std::wstring(cache) + L"\\Low";
    }
    return std::wstring();
}

UniqueMapping TraceStore::createMapFile(SECURITY_ATTRIBUTES* attributes)
{
    diagnostic(L"KVRTRACE, kvrtra_createmapfile, lpAttributes=%p, szTracename=%ls\n",
               static_cast<void*>(attributes), mNames.fileEx.c_str());
    const std::wstring folder = findTraceFolder();
    if (folder.empty())
        return UniqueMapping();
    trimTraceFiles(folder, 4);
    const std::wstring name = mOptions.instance.empty() ? L"kvrtra_" + timeStamp()
                                                        : L"kvrtra_" + mOptions.instance + L"_" + timeStamp();
    const std::wstring path = folder + L"\\" + name;
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, attributes,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return UniqueMapping();
    UniqueMapping mapping(
        CreateFileMappingW(file.get(), attributes, PAGE_READWRITE, 0, mChosenSize, mNames.fileEx.c_str()));
    if (!mapping) {
        mChosenSize = kFallbackTraceSize;
        mapping.reset(CreateFileMappingW(file.get(), attributes, PAGE_READWRITE, 0, mChosenSize,
                                         mNames.fileEx.c_str()));
        diagnostic(L"kvrtra_createmapfile failed, resize to[%ld]\r\n", static_cast<long>(mChosenSize));
    }
    diagnostic(L"kvrtra_createmapfile [%ls], size[%ld]\r\n", path.c_str(), static_cast<long>(mChosenSize));
    mTracePath = path;
    return mapping;
}

uint8_t* TraceStore::mapView(HANDLE mapping)
{
    diagnostic(L"KvrMapViewOfFile \r\n");
    if (mBlockView)
        return nullptr;
    wchar_t name[300];
    _snwprintf(name, 299, L"%ls_%lu", mNames.viewBlock.c_str(),
               static_cast<unsigned long>(GetCurrentProcessId()));
    name[299] = 0;
    mBlockMapping.reset(
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, trace::kViewBlockSize, name));
    const bool existed = mBlockMapping && GetLastError() == ERROR_ALREADY_EXISTS;
    if (mBlockMapping)
        mBlockView.reset(MapViewOfFile(mBlockMapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    mBlockMutex.reset(CreateMutexW(nullptr, FALSE, (std::wstring(name) + L"-Mutex").c_str()));
    if (!mBlockView || !mBlockMutex) {
        mBlockView.reset();
        mBlockMapping.reset();
        mBlockMutex.reset();
        return nullptr;
    }
    diagnostic(L"KvrMapViewOfFile szMapFileName\r\n");
    auto* block = static_cast<uint8_t*>(mBlockView.get());
    if (!existed) {
        auto* view = static_cast<uint8_t*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
        diagnostic(L"KvrMapViewOfFile new lpBaseAddress=%p\r\n", static_cast<void*>(view));
        const MutexLock lock = MutexLock::acquire(mBlockMutex.get(), INFINITE);
        trace::storeViewBlock(block, {reinterpret_cast<uintptr_t>(view), view ? 1u : 0u});
        return view;
    }
    uint8_t* view = nullptr;
    {
        const MutexLock lock = MutexLock::acquire(mBlockMutex.get(), INFINITE);
        view = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(trace::loadViewBlock(block).address));
    }
    if (!view) {
        view = static_cast<uint8_t*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
        diagnostic(L"KvrMapViewOfFile new  lpBaseAddress=%p\r\n", static_cast<void*>(view));
    } else {
        diagnostic(L"KvrMapViewOfFile reuse lpBaseAddress=%p\r\n", static_cast<void*>(view));
    }
    if (view)
        addMapFileRef(true, view);
    return view;
}

void TraceStore::addMapFileRef(bool add, uint8_t* view)
{
    diagnostic(L"KvrMapViewOfFile AddMapFileRef=%d lpBaseAddress=%p\r\n", add ? 1 : 0,
               static_cast<void*>(view));
    if (!mBlockView)
        return;
    auto* block = static_cast<uint8_t*>(mBlockView.get());
    const MutexLock lock = MutexLock::acquire(mBlockMutex.get(), INFINITE);
    trace::ViewBlock data = trace::loadViewBlock(block);
    if (add) {
        data.address = reinterpret_cast<uintptr_t>(view);
        data.users += 1;
    } else if (data.users > 0) {
        data.users -= 1;
        if (data.users == 0) {
            UniqueView(reinterpret_cast<void*>(static_cast<uintptr_t>(data.address))).reset();
            data.address = 0;
        }
    }
    diagnostic(L"KvrMapViewOfFile AddMapFileRef  data.dwRefCount=%u\r\n", data.users);
    trace::storeViewBlock(block, data);
}

void TraceStore::unmapView(uint8_t* view)
{
    diagnostic(L"KvrUnmapViewOfFile lpBaseAddress=%p\r\n", static_cast<void*>(view));
    addMapFileRef(false, view);
    mBlockView.reset();
    mBlockMapping.reset();
    mBlockMutex.reset();
}

HANDLE TraceStore::isViewerListening()
{
    const DWORD now = GetTickCount();
    if (mViewerChecked.load(std::memory_order_acquire) && now - mViewerRefreshed.load() < 1000) {
        std::lock_guard<std::mutex> lock(mViewer);
        return mViewerEvent.get();
    }
    std::lock_guard<std::mutex> lock(mViewer);
    if (mViewerChecked.load() && GetTickCount() - mViewerRefreshed.load() < 1000)
        return mViewerEvent.get();
    mViewerEvent.reset();
    const uint8_t* file = view();
    const bool large =
        file && mViewSize >= kHeaderSize && readTraceHeader(file, mViewSize)->fileSize > kSmallTraceFile;
    mViewerEvent.reset(OpenEventW(EVENT_ALL_ACCESS, FALSE, (large ? mNames.eventEx : mNames.event).c_str()));
    if (mViewerEvent) {
        const UniqueEvent mark(OpenEventW(EVENT_MODIFY_STATE, FALSE, mNames.viewerMark.c_str()));
        if (!mark)
            mViewerEvent.reset();
    }
    mViewerRefreshed.store(GetTickCount());
    mViewerChecked.store(true, std::memory_order_release);
    return mViewerEvent.get();
}

void TraceStore::libClean()
{
    diagnostic(L"kvrtra_lib_clean start\r\n");
    if (uint8_t* file = mView.load(std::memory_order_acquire)) {
        const MutexLock lock = MutexLock::acquire(mTraceMutex.get(), kTraceMutexWaitMs);
        if (lock) {
            diagnostic(L"kvrtra_lib_clean ->KvrUnmapViewOfFile\r\n");
            mView.store(nullptr, std::memory_order_release);
            unmapView(file);
        }
    }
    mMapping.reset();
    mTraceMutex.reset();
    {
        std::lock_guard<std::mutex> lock(mViewer);
        mViewerEvent.reset();
    }
    diagnostic(L"kvrtra_lib_clean end\r\n");
}

} // namespace trace::win32
