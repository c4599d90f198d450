// The trace file store under Wine: settings, file naming and trimming, create and attach, headers
// that are not ours, the view shared within a process, and the cut at process exit.
#include "tests/trace/win32/TraceWin32Support.h"
#include "trace/TraceFormat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>

using namespace trace::win32;
using namespace trace_test;
using platform::win32::UniqueHandle;

TEST(TraceSettings, SizeAndSwitchFromTheRegistry)
{
    struct Case {
        std::optional<std::wstring> traceSize;
        std::optional<std::wstring> enableLog;
        uint32_t size;
        bool enabled;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, 200 * kMiB, true},
        {L"5", L"1", 5 * kMiB, true},
        {L"600", L"0", 500 * kMiB, false},
        {L"500", L"00", 500 * kMiB, true},
        {L"abc", L"", 200 * kMiB, true}, // no digits: 0, as "0" is
        {L"-3", L"no", 200 * kMiB, true},
        {L"99999999999", std::nullopt, 500 * kMiB, true},
    };
    for (const Case& c : cases) {
        TraceSandbox box;
        if (c.traceSize)
            box.setValue(L"tracesize", *c.traceSize);
        if (c.enableLog)
            box.setValue(L"EnableLog", *c.enableLog);
        const auto source = box.options().settings;
        EXPECT_EQ(readTraceSize(source), c.size) << platform::wideToUtf8(c.traceSize.value_or(L"(none)"));
        EXPECT_EQ(readLogEnabled(source), c.enabled) << platform::wideToUtf8(c.enableLog.value_or(L"(none)"));
    }
    // A DWORD is read as text like any other type, and is no number.
    TraceSandbox box;
    const DWORD five = 5;
    RegSetValueExW(box.key.get(), L"tracesize", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&five),
                   sizeof five);
    EXPECT_EQ(readTraceSize(box.options().settings), 200 * kMiB);
}

TEST(TraceStore, CreatesTrimsAttachesAndSharesTheView)
{
    TraceSandbox box;
    box.setValue(L"tracesize", L"1");
    // Six older files of the naming pattern, oldest first, and one that is not a trace file.
    for (int i = 0; i < 6; ++i) {
        const std::wstring path =
            box.folder.path().wstring() + L"\\kvrtra_old" + std::to_wstring(i) + L".kvl";
        const UniqueFile f(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        FILETIME t{static_cast<DWORD>(i) * 100000000u, 30000000u};
        SetFileTime(f.get(), nullptr, nullptr, &t);
    }
    box.folder.write("notes.txt", {1, 2, 3});

    TraceStore first(box.options());
    ASSERT_TRUE(first.isLogEnabled());
    first.init();
    ASSERT_NE(first.view(), nullptr);
    const auto files = box.traceFiles();
    ASSERT_EQ(files.size(), 5u);
    EXPECT_EQ(std::vector<std::wstring>(files.begin(), files.begin() + 4),
              (std::vector<std::wstring>{L"kvrtra_old2.kvl", L"kvrtra_old3.kvl", L"kvrtra_old4.kvl",
                                         L"kvrtra_old5.kvl"}));
    // kvrtra_INSTANCE_MMDDYYYY_HHMMSS.kvl
    const std::wstring made = files[4];
    const std::wstring prefix = L"kvrtra_" + box.instance + L"_";
    ASSERT_EQ(made.compare(0, prefix.size(), prefix), 0) << platform::wideToUtf8(made);
    EXPECT_EQ(made.size(), prefix.size() + 19);
    EXPECT_EQ(made[prefix.size() + 8], L'_');
    EXPECT_TRUE(std::filesystem::exists(box.folder.file("notes.txt")));
    EXPECT_EQ(first.traceFilePath(), box.folder.path().wstring() + L"\\" + made);

    // The header's bytes are checked natively; here only that it has the configured size.
    EXPECT_EQ(trace::readTraceHeader(first.view(), first.viewSize())->fileSize, kMiB);
    EXPECT_EQ(first.write(TraceRequest<char>{2, "DPX", nullptr, "one"}), kTraceWritten);
    const std::vector<uint8_t> before(first.view(), first.view() + 48);

    // Another process attaches, starts and leaves: the header stays as it was, and the file keeps
    // its size while this process maps it.
    EXPECT_EQ(finish(startHelper(L"write " + box.helperArgs(4096) + L" 0 0")), 0u);
    EXPECT_EQ(std::vector<uint8_t>(first.view(), first.view() + 48), before);
    EXPECT_EQ(box.traceFiles().size(), 5u);
    EXPECT_EQ(std::filesystem::file_size(box.folder.path() / made), kMiB);

    // A second store of the same instance in this process takes the same view and keeps it
    // after the first one lets go.
    {
        TraceStore second(box.options());
        second.init();
        EXPECT_EQ(second.view(), first.view());
        first.libClean();
        EXPECT_EQ(first.view(), nullptr);
        EXPECT_EQ(second.write(TraceRequest<char>{2, "DPX", nullptr, "two"}), kTraceWritten);
        EXPECT_EQ(first.write(TraceRequest<char>{2, "DPX", nullptr, "lost"}), kTraceNoView);
        Collect records;
        trace::readTraceFile(second.view(), second.viewSize(), &records);
        EXPECT_EQ(records.lines, (std::vector<std::string>{"L2 DPX||one|", "L2 DPX||two|"}));
        second.processExit();
    }
    // The last user leaves a file that never wrapped at its write offset: 48 + 60 + 60.
    EXPECT_EQ(std::filesystem::file_size(box.folder.path() / made), 168u);
}

TEST(TraceStore, EndOfProcessCutsAFileThatNeverWrapped)
{
    TraceSandbox box;
    ASSERT_EQ(finish(startHelper(L"write " + box.helperArgs(65536) + L" 0 0")), 0u);
    const auto files = box.traceFiles();
    ASSERT_EQ(files.size(), 1u);
    const auto bytes = box.folder.read(platform::wideToUtf8(files[0]));
    ASSERT_EQ(bytes.size(), 48u);
    const auto read = trace::readTraceFile(bytes.data(), bytes.size(), nullptr);
    EXPECT_FALSE(read.damaged());
    EXPECT_TRUE(read.cut);
    EXPECT_EQ(read.fields.fileSize, 65536u);
}

TEST(TraceStore, LeavesHeadersThatAreNotItsOwnAlone)
{
    // Which headers are not the store's own is decided natively; a bad magic and a version of 0
    // (a making that never finished) take both ways out of that check.
    struct Case {
        const char* what;
        std::vector<uint8_t> header;
    };
    std::vector<uint8_t> unfinished(48, 0);
    trace::createTraceHeader(unfinished.data(), 65536, 1);
    unfinished[6] = 0;
    const Case cases[] = {{"zeroed", std::vector<uint8_t>(48, 0)}, {"unfinished", unfinished}};
    for (const Case& c : cases) {
        TraceSandbox box;
        const auto names = TraceObjectNames::make(box.instance);
        // Another program's objects under the names a writer looks for.
        const UniqueHandle mutex(CreateMutexW(nullptr, FALSE, names.mutexEx.c_str()));
        const UniqueHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 65536,
                                                      names.fileEx.c_str()));
        const platform::win32::UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
        auto* bytes = static_cast<uint8_t*>(view.get());
        std::memcpy(bytes, c.header.data(), 48);
        std::memset(bytes + 48, 0x5A, 65536 - 48);
        const std::vector<uint8_t> before(bytes, bytes + 65536);

        TraceStore store(box.options());
        store.init();
        EXPECT_EQ(store.view(), nullptr) << c.what;
        EXPECT_EQ(store.write(TraceRequest<char>{8, "DPX", nullptr, "never"}), kTraceNoView) << c.what;
        EXPECT_TRUE(std::equal(before.begin(), before.end(), bytes)) << c.what;
        EXPECT_TRUE(box.traceFiles().empty()) << c.what;
    }
}
