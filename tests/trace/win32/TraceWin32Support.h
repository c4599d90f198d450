// What the Windows trace tests share: a store of their own (folder, settings key, instance),
// the diagnostics counted, records as comparable lines, and the helper program.
#pragma once

#include "platform/TextConvert.h"
#include "platform/win32/Handle.h"
#include "tests/support/TempFolder.h"
#include "tests/support/win32/Win32Support.h"
#include "trace/TraceReader.h"
#include "trace/win32/TraceStore.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <filesystem>
#include <string>
#include <vector>

namespace trace_test {

using platform::win32::UniqueFile;
using platform::win32::UniqueHandle;

// How often any store that names caughtDiagnostics as its observer gave up saving copies.
inline std::atomic<size_t> gSaveLogOverflows{0};
inline void caughtDiagnostics(const wchar_t* line)
{
    gSaveLogOverflows += std::wcscmp(line, L"SaveLogFile more than 100 files\r\n") == 0;
}

// A folder, a settings key and an instance name of the test's own.
struct TraceSandbox {
    test_support::TempFolder folder;
    test_support::TempRegistryKey key;
    std::wstring instance = test_support::uniqueObjectName(L"t");

    trace::win32::TraceOptions options(uint32_t fileSize = 0) const
    {
        trace::win32::TraceOptions o;
        o.instance = instance;
        o.folder = folder.path().wstring();
        o.settings.root = HKEY_CURRENT_USER;
        o.settings.key = key.path();
        o.fileSize = fileSize;
        o.diagnostics = caughtDiagnostics;
        return o;
    }

    void setValue(const wchar_t* name, const std::wstring& text) const
    {
        RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }

    // The names of the trace files in the folder, in order.
    std::vector<std::wstring> traceFiles() const
    {
        std::vector<std::wstring> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
            const std::wstring name = entry.path().filename().wstring();
            if (name.rfind(L"kvrtra_", 0) == 0 && entry.path().extension() == L".kvl")
                names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // The helper's arguments after its mode for this sandbox's instance and folder.
    std::wstring helperArgs(uint32_t fileSize) const
    {
        return instance + L" \"" + folder.path().wstring() + L"\" " + std::to_wstring(fileSize);
    }
};

// A record's fields in one comparable string: "L8 module|category|text|name".
struct Collect : trace::TraceVisitor {
    std::vector<trace::TraceRecordView> records;
    std::vector<std::string> lines;
    void record(const trace::TraceRecordView& r) override
    {
        records.push_back(r);
        lines.push_back("L" + std::to_string(r.level) + " " + trace::traceTextToUtf8(r.module) + "|" +
                        trace::traceTextToUtf8(r.category) + "|" + trace::traceTextToUtf8(r.text) + "|" +
                        trace::traceTextToUtf8(r.name));
    }
};

// Starts the helper program beside the test program, trace_writer_helper.exe.
inline UniqueHandle startHelper(const std::wstring& arguments)
{
    wchar_t self[MAX_PATH];
    const std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    std::wstring command =
        L"\"" + path.substr(0, path.find_last_of(L'\\') + 1) + L"trace_writer_helper.exe\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
        return UniqueHandle();
    const UniqueHandle thread(info.hThread);
    return UniqueHandle(info.hProcess);
}

inline DWORD finish(const UniqueHandle& process, DWORD ms = 60000)
{
    DWORD code = 0xFFFFFFFF;
    if (WaitForSingleObject(process.get(), ms) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.get(), &code);
    return code;
}

} // namespace trace_test
