// kvtrace follow and collect: acting as the trace viewer over the live file of a logon, and as the
// log collector that asks writers for copies before the ring wraps.
#include "platform/TextConvert.h"
#include "platform/win32/Handle.h"
#include "trace/win32/TraceSecurity.h"
#include "platform/win32/Windows.h"
#include "tools/common/Cli.h"
#include "tools/kvtrace/Commands.h"
#include "tools/kvtrace/RecordFormat.h"
#include "trace/TraceFormat.h"
#include "trace/TraceReader.h"
#include "trace/win32/TraceStore.h"

#include <cstring>
#include <ostream>
#include <vector>

namespace kvtrace {

namespace {

using namespace platform::win32;

const char kFollowHelp[] =
    "Usage: kvtrace follow [--instance NAME] [--json] [--count N]\n"
    "Acts as the trace viewer: announces itself to the product's programs, which then also\n"
    "write their level-1 records, and prints each new record of the logon's trace file as it\n"
    "is written, until Ctrl+C. Records already in the file are not shown; when no program\n"
    "traces yet, it waits and shows the new file from its first record.\n\n"
    "Options:\n"
    "  --instance NAME  the trace file of that instance instead of the product's\n"
    "  --json           one JSON object per line, as 'kvtrace dump --json' prints\n"
    "  --count N        stop after N records\n"
    "  --help           this text\n";

const char kCollectHelp[] =
    "Usage: kvtrace collect [--instance NAME] [--seconds N]\n"
    "Acts as the log collector: while it runs, every program that is about to wrap the\n"
    "trace file's ring first copies the whole file beside it as kvrtra_...~1.kvl, ~2, and\n"
    "so on (at most 101 copies per program), so that no record is lost. Runs until Ctrl+C.\n\n"
    "Options:\n"
    "  --instance NAME  the trace file of that instance instead of the product's\n"
    "  --seconds N      stop after N seconds\n"
    "  --help           this text\n";

UniqueEvent gStop;

BOOL WINAPI onControl(DWORD)
{
    if (gStop)
        SetEvent(gStop.get());
    return TRUE;
}

bool parseCount(const std::string& text, uint32_t& value)
{
    if (text.empty() || text.size() > 9)
        return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return true;
}

struct LiveOptions {
    std::wstring instance;
    bool json = false;
    uint32_t count = 0;   // 0: no limit
    uint32_t seconds = 0; // 0: no limit
};

// Parses the options both commands share; returns -1 to go on, else the exit status.
int parseOptions(const std::vector<std::string>& args, const char* help, bool follow, LiveOptions& options,
                 std::ostream& out)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--help" || a == "-h") {
            out << help;
            return cli::kExitOk;
        } else if (a == "--instance" && hasValue) {
            options.instance = platform::utf8ToWide(args[++i]);
        } else if (follow && a == "--json") {
            options.json = true;
        } else if (follow && a == "--count" && hasValue) {
            if (!parseCount(args[++i], options.count) || options.count == 0)
                return cli::usageError(kTool, "--count takes a positive number");
        } else if (!follow && a == "--seconds" && hasValue) {
            if (!parseCount(args[++i], options.seconds) || options.seconds == 0)
                return cli::usageError(kTool, "--seconds takes a positive number");
        } else if (a == "--instance" || a == "--count" || a == "--seconds") {
            return cli::usageError(kTool, a + " needs a value");
        } else {
            return cli::usageError(kTool, "unknown argument '" + a + "'");
        }
    }
    return -1;
}

// Prints the records that are newer than the last one shown.
class NewRecords : public trace::TraceVisitor {
public:
    NewRecords(std::string& out, bool json, uint32_t last, bool all)
        : mOut(out), mJson(json), mLast(last), mAll(all)
    {
    }

    void record(const trace::TraceRecordView& record) override
    {
        if (!mAll && static_cast<int32_t>(record.sequence - mLast) <= 0)
            return;
        if (mLimit != 0 && mShown >= mLimit)
            return;
        mStrings.assign(record);
        if (mJson)
            appendJsonLine(mOut, record, mStrings);
        else
            appendTextLine(mOut, record, mStrings);
        ++mShown;
        mNewest = record.sequence;
        mSawNew = true;
    }

    void limit(uint32_t limit) { mLimit = limit; }
    uint32_t shown() const { return mShown; }
    bool sawNew() const { return mSawNew; }
    uint32_t newest() const { return mNewest; }

private:
    std::string& mOut;
    bool mJson;
    uint32_t mLast;
    bool mAll;
    RecordStrings mStrings;
    uint32_t mLimit = 0;
    uint32_t mShown = 0;
    uint32_t mNewest = 0;
    bool mSawNew = false;
};

// The live file of one instance, opened read-only with the mutex that guards it.
struct LiveFile {
    UniqueMapping mapping;
    UniqueMutex mutex;
    UniqueView view;
    size_t size = 0;

    bool open(const trace::win32::TraceObjectNames& names)
    {
        for (const auto& [file, mutexName] :
             {std::pair{&names.fileEx, &names.mutexEx}, std::pair{&names.file, &names.mutex}}) {
            mapping.reset(OpenFileMappingW(FILE_MAP_READ, FALSE, file->c_str()));
            if (!mapping)
                continue;
            mutex.reset(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, mutexName->c_str()));
            view.reset(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
            MEMORY_BASIC_INFORMATION info{};
            if (mutex && view && VirtualQuery(view.get(), &info, sizeof info) == sizeof info) {
                size = info.RegionSize;
                return true;
            }
        }
        mapping.reset();
        mutex.reset();
        view.reset();
        return false;
    }

    // The used part of the file, copied under the trace mutex so that no record is half written.
    bool snapshot(std::vector<uint8_t>& bytes)
    {
        const MutexLock lock = MutexLock::acquire(mutex.get(), trace::win32::kTraceMutexWaitMs);
        if (!lock)
            return false;
        const auto* data = static_cast<const uint8_t*>(view.get());
        if (trace::checkTraceHeader(data, size) != trace::HeaderCheck::Valid)
            return false;
        const trace::TraceFileHeader h = *trace::readTraceHeader(data, size);
        if (h.fileSize > size)
            return false;
        size_t used = h.oldestRecord == trace::kHeaderSize ? h.writeOffset : h.fileSize;
        used = std::min<size_t>(std::max<size_t>(used, trace::kHeaderSize), h.fileSize);
        bytes.resize(used);
        std::memcpy(bytes.data(), data, used);
        return true;
    }
};

int followCommand(const std::vector<std::string>& args, std::ostream& out)
{
    LiveOptions options;
    const int parsed = parseOptions(args, kFollowHelp, true, options, out);
    if (parsed >= 0)
        return parsed;
    const auto names = trace::win32::TraceObjectNames::make(options.instance);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, trace::win32::getTraceSecurityDescriptor(), FALSE};
    // Writers look for the mark and one of the two events; a record wakes us through either.
    const UniqueEvent mark(CreateEventW(&attributes, TRUE, FALSE, names.viewerMark.c_str()));
    const UniqueEvent eventEx(CreateEventW(&attributes, FALSE, FALSE, names.eventEx.c_str()));
    const UniqueEvent event(CreateEventW(&attributes, FALSE, FALSE, names.event.c_str()));
    if (!mark || !eventEx || !event)
        return cli::fail(kTool, "", "cannot create the viewer events");
    gStop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    SetConsoleCtrlHandler(onControl, TRUE);

    LiveFile live;
    bool showAll = !live.open(names);
    uint32_t last = 0;
    std::vector<uint8_t> bytes;
    if (!showAll && live.snapshot(bytes))
        last = trace::readTraceHeader(bytes.data(), bytes.size())->lastSequence;
    uint32_t shown = 0;
    const HANDLE waits[] = {gStop.get(), eventEx.get(), event.get()};
    for (;;) {
        if (!live.view && !live.open(names)) {
            if (WaitForSingleObject(gStop.get(), 250) == WAIT_OBJECT_0)
                break;
            continue;
        }
        if (live.snapshot(bytes)) {
            std::string text;
            NewRecords visitor(text, options.json, last, showAll);
            if (options.count != 0)
                visitor.limit(options.count - shown);
            trace::readTraceFile(bytes.data(), bytes.size(), &visitor);
            out << text;
            out.flush();
            shown += visitor.shown();
            if (visitor.sawNew()) {
                last = visitor.newest();
                showAll = false;
            }
            if (options.count != 0 && shown >= options.count)
                break;
        }
        // Woken by a record, or once a second to notice records whose writers found no viewer yet.
        if (WaitForMultipleObjects(3, waits, FALSE, 1000) == WAIT_OBJECT_0)
            break;
    }
    SetConsoleCtrlHandler(onControl, FALSE);
    return cli::kExitOk;
}

int collectCommand(const std::vector<std::string>& args, std::ostream& out)
{
    LiveOptions options;
    const int parsed = parseOptions(args, kCollectHelp, false, options, out);
    if (parsed >= 0)
        return parsed;
    const auto names = trace::win32::TraceObjectNames::make(options.instance);
    const UniqueMutex request(CreateMutexW(nullptr, FALSE, names.saveLog.c_str()));
    if (!request)
        return cli::fail(kTool, "", "cannot create the collector's mutex");
    gStop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    SetConsoleCtrlHandler(onControl, TRUE);
    out << "collecting: writers copy the trace file to kvrtra_...~N.kvl beside it before each wrap\n";
    out.flush();
    WaitForSingleObject(gStop.get(), options.seconds ? options.seconds * 1000 : INFINITE);
    SetConsoleCtrlHandler(onControl, FALSE);
    return cli::kExitOk;
}

} // namespace

std::vector<PlatformCommand> platformCommands()
{
    return {
        {"follow", "print new records of the live trace file as programs write them", followCommand},
        {"collect", "keep a copy of the trace file each time its ring is about to wrap", collectCommand},
    };
}

} // namespace kvtrace
