// Records through every entry point read back by kvtrace, many processes and threads writing at
// once with one of them killed holding the trace mutex, the collector's copies, and kvtrace follow.
#include "tests/trace/win32/TraceWin32Support.h"
#include "tools/kvtrace/Commands.h"
#include "trace/TraceFormat.h"
#include "trace/win32/Kvrtrace.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <map>
#include <set>
#include <sstream>
#include <thread>

using namespace trace::win32;
using namespace trace_test;
using platform::win32::MutexLock;

namespace {

int withName(uint32_t level, const wchar_t* module, const wchar_t* name, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const int result = KVRTRACE_WITH_NAME(level, module, nullptr, format, args, nullptr, name);
    va_end(args);
    return result;
}

// kvtrace's JSON lines of the file from "pid" on: what a record holds apart from its number and time.
std::vector<std::string> jsonFields(const std::string& dump)
{
    std::vector<std::string> lines;
    std::istringstream in(dump);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line.substr(line.find("\"pid\"")));
    return lines;
}

// Checks that each writer's (process and thread) numbers only grow; adds the writers seen.
void checkWriterOrder(const Collect& records, std::set<std::pair<uint32_t, uint32_t>>& writers)
{
    std::map<std::pair<uint32_t, uint32_t>, uint32_t> lastOfWriter;
    for (const auto& r : records.records) {
        const std::string text = trace::traceTextToUtf8(r.text);
        if (text == "start")
            continue;
        ASSERT_EQ(text.compare(0, 2, "w "), 0) << text;
        const uint32_t n = static_cast<uint32_t>(std::stoul(text.substr(2)));
        uint32_t& last = lastOfWriter[{r.processId, r.threadId}];
        ASSERT_GT(n, last) << "writer " << r.processId << "/" << r.threadId << " repeated or went back";
        last = n;
        writers.insert({r.processId, r.threadId});
    }
}

} // namespace

// The product's store of this test program, in a sandbox of its own (the only test that uses it).
TEST(TraceEntryPoints, EveryEntryPointReadsBackThroughKvtrace)
{
    TraceSandbox box;
    TraceOptions options = box.options(kMiB);
    options.instance.clear();      // given by the first record instead, as callers do
    options.diagnostics = nullptr; // the store outlives this program's static objects
    setProcessTraceOptions(options);
    const std::string instance = platform::wideToUtf8(box.instance);

    // The first record names the instance; level 1 with no viewer starts the library only. The two
    // entry points without a name are pinned by the trace logger's test too, text in either width.
    EXPECT_EQ(KVRTRACE_RAW_A_WITH_NAME(1, "DPX", nullptr, "unseen", instance.c_str(), nullptr),
              kTraceSkipped);
    TraceStore* store = processTraceStore();
    ASSERT_NE(store->view(), nullptr);
    EXPECT_EQ(store->names().fileEx, L"KVRTRA_TRACE_FILE_EX_" + box.instance);

    EXPECT_EQ(KVRTRACE(8, L"mod", L"cat", L"%ls=%d", L"wide", 5), kTraceWritten);
    // The mingw runtimes read "%s" in a wide format as 8-bit text, as the C standard has it.
    EXPECT_EQ(KVRTRACE(8, L"mod", nullptr, L"%s", "narrow"), kTraceWritten);
    EXPECT_EQ(withName(4, L"mod", L"rec", L"n=%u", 7u), kTraceWritten);
    EXPECT_EQ(KVRTRACE_RAW_WITH_NAME(2, L"w", L"c", L"t", nullptr, L"n"), kTraceWritten);
    EXPECT_EQ(KVRTRACE_RAW_A_WITH_NAME(8, "A", "cat", "text", nullptr, "nm"), kTraceWritten);
    EXPECT_EQ(KVRTRACERAWA(2, nullptr, nullptr, std::string(3000, 'x').c_str()), kTraceWritten);
    EXPECT_EQ(KVRTRACERAWA(1, "DPX", nullptr, "still unseen"), kTraceSkipped);
    EXPECT_EQ(KVRTRACE(8, L"mod", nullptr, nullptr), kTraceSkipped);

    const std::string ids = "\"pid\":" + std::to_string(GetCurrentProcessId()) +
                            ",\"tid\":" + std::to_string(GetCurrentThreadId());
    const auto json = [&](int level, const std::string& module, const std::string& category,
                          const std::string& text, const std::string& name) {
        return ids + ",\"level\":" + std::to_string(level) + ",\"module\":\"" + module +
               "\",\"category\":\"" + category + "\",\"text\":\"" + text + "\",\"name\":\"" + name + "\"}";
    };
    const std::string self = "trace_win32_tests.exe";
    std::ostringstream dump;
    ASSERT_EQ(kvtrace::run({"dump", "--json", platform::wideToUtf8(store->traceFilePath())}, dump), 0);
    EXPECT_EQ(jsonFields(dump.str()),
              (std::vector<std::string>{json(8, "mod", "cat", "wide=5", ""), json(8, "mod", "", "narrow", ""),
                                        json(4, "mod@rec", "", "n=7", "rec"), json(2, "w@n", "c", "t", "n"),
                                        json(8, "A@nm", "cat", "text", "nm"),
                                        json(2, self, "", std::string(2047, 'x'), "")}));
}

TEST(TraceWriters, ManyProcessesAndThreadsWrapTheRingWithoutDamage)
{
    TraceSandbox box;
    // The test's own store makes the file and keeps it mapped: readable throughout, and the
    // writers attach to it.
    TraceStore reader(box.options(64 * 1024));
    reader.init();
    ASSERT_NE(reader.view(), nullptr);
    const std::wstring args = box.helperArgs(0) + L" 4 2500";
    std::vector<UniqueHandle> processes;
    for (int i = 0; i < 4; ++i) {
        processes.push_back(startHelper(L"write " + args));
        ASSERT_TRUE(processes.back());
    }

    // One more process dies holding the trace mutex with a record half made.
    const UniqueHandle held(CreateEventW(nullptr, TRUE, FALSE, (box.instance + L"-held").c_str()));
    const UniqueHandle holder = startHelper(L"hold " + box.instance);
    ASSERT_EQ(WaitForSingleObject(held.get(), 20000), WAIT_OBJECT_0);
    Sleep(100);
    TerminateProcess(holder.get(), 9);
    WaitForSingleObject(holder.get(), 5000);

    // Snapshots under the trace mutex while the writers run: never damaged.
    std::vector<uint8_t> copy;
    std::set<std::pair<uint32_t, uint32_t>> writers;
    int snapshots = 0;
    const UniqueHandle mutex(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, reader.names().mutexEx.c_str()));
    while (WaitForSingleObject(processes.back().get(), 50) == WAIT_TIMEOUT) {
        const MutexLock lock = MutexLock::acquire(mutex.get(), kTraceMutexWaitMs);
        if (!lock)
            continue;
        copy.assign(reader.view(), reader.view() + 64 * 1024);
        Collect records;
        const auto read = trace::readTraceFile(copy.data(), copy.size(), &records);
        ASSERT_TRUE(read.problems.empty()) << read.problems.front();
        checkWriterOrder(records, writers);
        ++snapshots;
    }
    for (const UniqueHandle& p : processes)
        EXPECT_EQ(finish(p), 0u);
    EXPECT_GT(snapshots, 0);

    Collect records;
    const auto read = trace::readTraceFile(reader.view(), reader.viewSize(), &records);
    EXPECT_TRUE(read.problems.empty()) << (read.problems.empty() ? "" : read.problems.front());
    EXPECT_EQ(read.incomplete, 0u);
    EXPECT_TRUE(read.wrapped);
    // 4 x 4 x 2500 records of 60 to 64 bytes went through a ring of 64 KiB: about 40 laps.
    EXPECT_GT(read.fields.lastSequence, 40000u);
    ASSERT_GT(records.records.size(), 500u);
    checkWriterOrder(records, writers);
    // Every thread of every writer process was seen at some point.
    EXPECT_EQ(writers.size(), 16u);
}

TEST(TraceSaving, CollectorGetsNumberedCopiesUpToAHundredAndOne)
{
    for (const bool collector : {false, true}) {
        TraceSandbox box;
        TraceStore store(box.options(8192));
        const std::wstring saveLog = TraceObjectNames::make(box.instance).saveLog;
        UniqueHandle request(collector ? CreateMutexW(nullptr, FALSE, saveLog.c_str()) : nullptr);
        store.init();
        ASSERT_NE(store.view(), nullptr);
        const std::wstring path = store.traceFilePath();
        const size_t before = gSaveLogOverflows.load();
        // 100 bytes a record, 81 records a lap: over 150 laps.
        const std::string text(40, 't');
        for (int i = 0; i < 103 * 130; ++i)
            ASSERT_EQ(store.write(TraceRequest<char>{2, "DPX", nullptr, text.c_str()}), kTraceWritten);

        const std::wstring stem = path.substr(0, path.size() - 4);
        auto exists = [&](int n) {
            return GetFileAttributesW((stem + L"~" + std::to_wstring(n) + L".kvl").c_str()) !=
                   INVALID_FILE_ATTRIBUTES;
        };
        if (!collector) {
            EXPECT_FALSE(exists(1));
            // Asking made the mutex and let it go again.
            EXPECT_EQ(UniqueHandle(OpenMutexW(SYNCHRONIZE, FALSE, saveLog.c_str())).get(), nullptr);
            continue;
        }
        EXPECT_TRUE(exists(1));
        EXPECT_TRUE(exists(101));
        EXPECT_FALSE(exists(102));
        EXPECT_GE(gSaveLogOverflows.load(), before + 1);
        // A copy is a whole trace file as it was just before a wrap: full, not yet wrapped.
        const auto copy = box.folder.read(std::filesystem::path(stem).filename().u8string() + "~1.kvl");
        ASSERT_EQ(copy.size(), 8192u);
        const auto read = trace::readTraceFile(copy.data(), copy.size(), nullptr);
        EXPECT_FALSE(read.damaged());
        EXPECT_FALSE(read.wrapped);
        EXPECT_EQ(read.records, (8192u - 48) / 100);
    }
}

TEST(TraceViewer, FollowShowsLevelOneRecordsAsTheyAreWritten)
{
    kvtrace::registerPlatformCommands(kvtrace::platformCommands());
    TraceSandbox box;
    std::ostringstream out;
    int status = -1;
    std::thread follower([&] {
        status = kvtrace::run(
            {"follow", "--instance", platform::wideToUtf8(box.instance), "--json", "--count", "2"}, out);
    });
    // The viewer is there once its mark exists; a store started after that sees it.
    const auto names = TraceObjectNames::make(box.instance);
    for (int i = 0; i < 200 && !UniqueHandle(OpenEventW(SYNCHRONIZE, FALSE, names.viewerMark.c_str())); ++i)
        Sleep(25);
    TraceStore store(box.options(64 * 1024));
    EXPECT_EQ(store.write(TraceRequest<char>{1, "DPX", nullptr, "first"}), kTraceWritten);
    Sleep(300);
    EXPECT_EQ(store.write(TraceRequest<wchar_t>{1, L"DPX", nullptr, L"second"}), kTraceWritten);
    follower.join();
    EXPECT_EQ(status, 0);
    const auto lines = jsonFields(out.str());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("\"level\":1,\"module\":\"DPX\",\"category\":\"\",\"text\":\"first\""),
              std::string::npos);
    EXPECT_NE(lines[1].find("\"text\":\"second\""), std::string::npos);
    EXPECT_NE(lines[1].find("\"hr_time_us\":"), std::string::npos);
}
