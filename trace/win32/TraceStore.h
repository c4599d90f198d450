// The shared trace file of one logon: its settings, folder and name, the named objects that guard
// it, the create-or-attach start, record writing under the trace mutex, the copies a log collector
// asks for, and letting go of the file.
#pragma once

#include "platform/win32/Handle.h"
#include "platform/win32/Windows.h"
#include "trace/TraceRecord.h"
#include "trace/TraceRing.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace trace::win32 {

constexpr uint32_t kMiB = 1024 * 1024;
constexpr uint32_t kDefaultTraceSize = 200 * kMiB;
constexpr uint32_t kMaxTraceSize = 500 * kMiB;
constexpr uint32_t kFallbackTraceSize = 100 * kMiB;
// Files above this size announce records through the current generation's viewer event.
constexpr uint32_t kSmallTraceFile = 524288;
constexpr DWORD kTraceMutexWaitMs = 1000;

// The settings key below HKEY_LOCAL_MACHINE, or HKEY_CURRENT_USER when that cannot be opened.
constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\Kavari\\kvrtrace";

// The names of the objects of one instance; the product's programs use the empty instance.
struct TraceObjectNames {
    std::wstring mutexEx;    // trace mutex of the current generation
    std::wstring mutex;      // trace mutex of the older generation
    std::wstring fileEx;     // file mapping of the current generation
    std::wstring file;       // file mapping of the older generation (opened, never created)
    std::wstring eventEx;    // viewer event for files above kSmallTraceFile
    std::wstring event;      // viewer event for smaller files
    std::wstring viewerMark; // exists while a viewer listens
    std::wstring saveLog;    // held by a log collector that wants copies before wraps
    std::wstring viewBlock;  // prefix of the per-process view block ("_" and the process id follow)

    static TraceObjectNames make(const std::wstring& instance);
};

// Where the settings live; a null root means HKEY_LOCAL_MACHINE, then HKEY_CURRENT_USER.
struct TraceSettingsSource {
    HKEY root = nullptr;
    std::wstring key = kSettingsKey;
};

// "tracesize" in bytes: 200 MiB when missing, not a number or below 1, at most 500 MiB.
uint32_t readTraceSize(const TraceSettingsSource& source);
// False only when "EnableLog" is "0".
bool readLogEnabled(const TraceSettingsSource& source);

// Whether this thread may write data into the folder, by an access check against its own token.
bool isFolderWritable(const std::wstring& folder);

// The record result codes every entry point answers.
enum TraceResult : int {
    kTraceWritten = 1,
    kTraceSkipped = 0,
    kTraceNoView = -1,
    kTraceNoSpace = -2,
    kTraceBadArgument = -11,
};

struct TraceOptions {
    // Appended to every object name and to the file name; empty for the product.
    std::wstring instance;
    // Empty: the temporary folder, its "Low" folder, or the Internet cache, the first writable.
    std::wstring folder;
    TraceSettingsSource settings;
    // Bytes of a new file; 0 takes "tracesize".
    uint32_t fileSize = 0;
    // Sees every diagnostic line too (they always go to the debugger output).
    void (*diagnostics)(const wchar_t* line) = nullptr;
};

// One record as the entry points hand it over. Null strings are absent; a null module asks for the
// name of the module that holds `callerAddress`, or else `returnAddress`.
template <class Char> struct TraceRequest {
    uint32_t level = 0;
    const Char* module = nullptr;
    const Char* category = nullptr;
    const Char* text = nullptr;
    const Char* name = nullptr;
    const void* callerAddress = nullptr;
    const void* returnAddress = nullptr;
};

// A process keeps one store for the product (processTraceStore); tests and tools may keep more,
// each with its own instance name. Safe for any number of threads.
class TraceStore final : private TraceSaveHook {
public:
    explicit TraceStore(TraceOptions options);
    ~TraceStore();
    TraceStore(const TraceStore&) = delete;
    TraceStore& operator=(const TraceStore&) = delete;

    // "EnableLog", read on the first call.
    bool isLogEnabled();
    // Creates or attaches to the file, once; later calls do nothing. A non-empty `instance` given
    // to the first call replaces the one of the options.
    void init(const wchar_t* instance = nullptr);
    // Starts the store (once, `instance` as for init) and says whether a record of `level` is
    // written now: level 1 only while a viewer listens. `viewer` gets the viewer event, or null.
    bool admit(uint32_t level, const wchar_t* instance, HANDLE& viewer);
    // A record, admitted here, or by admit() with the viewer it gave, which is not asked again.
    int write(const TraceRequest<char>& request);
    int write(const TraceRequest<wchar_t>& request);
    int write(const TraceRequest<char>& request, HANDLE viewer);
    int write(const TraceRequest<wchar_t>& request, HANDLE viewer);

    // The viewer event while a viewer listens, else null; looked up at most once a second.
    HANDLE isViewerListening();

    // Lets go of the view and the handles; the store writes nothing afterwards.
    void libClean();
    // The end of the store's life in a process: let go, then cut a file that never wrapped down
    // to its write offset (this fails, as it should, while another process maps it).
    void processExit();

    // The file behind the view as a drive path; empty without a view.
    std::wstring traceFilePath();
    // The mapped file, for readers in the same process; null without a view.
    const uint8_t* view() const { return mView.load(std::memory_order_acquire); }
    size_t viewSize() const { return mViewSize; }
    const TraceObjectNames& names() const { return mNames; }
    // The bytes a new file of this store gets.
    uint32_t chosenSize() const { return mChosenSize; }

    // The diagnostic line, to the debugger output and the options' observer.
    void diagnostic(const wchar_t* format, ...);

private:
    bool checkIfNeedSaveLogFile(uint32_t recordSize) override;
    void SaveLogFile() override;
    bool IsSaveLogMutexExist();

    void doInit();
    platform::win32::UniqueMapping createMapFile(SECURITY_ATTRIBUTES* attributes);
    std::wstring findTraceFolder();
    uint8_t* mapView(HANDLE mapping);
    void unmapView(uint8_t* view);
    void addMapFileRef(bool add, uint8_t* view);
    template <class Char> int writeOf(const TraceRequest<Char>& request, HANDLE viewer);
    template <class Char> std::basic_string<Char> moduleName(const void* address, const void* fallback);

    TraceOptions mOptions;
    TraceObjectNames mNames;

    std::mutex mStartup; // guards the start; taken before the trace mutex
    bool mInitDone = false;
    int mLogEnabled = -1;
    uint32_t mChosenSize = 0;

    platform::win32::UniqueMutex mTraceMutex;
    platform::win32::UniqueMapping mMapping;
    std::atomic<uint8_t*> mView{nullptr};
    size_t mViewSize = 0;

    // The per-process block that lets every module of a process share one view.
    platform::win32::UniqueMapping mBlockMapping;
    platform::win32::UniqueView mBlockView;
    platform::win32::UniqueMutex mBlockMutex;

    std::mutex mViewer; // the viewer event and its refresh time
    platform::win32::UniqueEvent mViewerEvent;
    std::atomic<DWORD> mViewerRefreshed{0};
    std::atomic<bool> mViewerChecked{false};

    std::mutex mModules; // the module-name cache
    std::unordered_map<HMODULE, std::wstring> mModuleNames16;
    std::unordered_map<HMODULE, std::string> mModuleNames8;

    uint16_t mSaveCounter = 0;
    std::wstring mTracePath;
    LARGE_INTEGER mCounterFrequency{};
};

// The product's store: created on the first record, with the options set before it.
TraceStore* processTraceStore();
// The common start of every entry point: tracing on, the library started, the product's store
// started, and the record wanted at its level; null when the record is not to be written.
TraceStore* startedStore(const wchar_t* entryPoint, const wchar_t* instance, uint32_t level, HANDLE& viewer);
// Options for the product's store (a folder, a settings key, a size); only before the first record.
void setProcessTraceOptions(const TraceOptions& options);

} // namespace trace::win32
