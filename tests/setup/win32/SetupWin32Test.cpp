// The DLL search hardening under Wine: a probe program beside a planted "psapi.dll", with Wine told
// to prefer a library found beside the program over its own, loads the system's copy only when
// hardened; and the install configuration on the system's code page and folders.
#include "platform/win32/Handle.h"
#include "platform/win32/Windows.h"
#include "setup/InstallConfig.h"
#include "setup/win32/AnsiText.h"
#include "platform/win32/SystemLibrary.h"
#include "setup/win32/DllSearch.h"
#include "setup/win32/SystemInstallHost.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;
using platform::win32::UniqueHandle;

namespace {

fs::path ownFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return fs::path(path).parent_path();
}

DWORD runProbe(const fs::path& probe, const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + probe.wstring() + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(probe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        probe.parent_path().c_str(), &startup, &process))
        return 100 + GetLastError();
    const UniqueHandle processHandle(process.hProcess);
    const UniqueHandle threadHandle(process.hThread);
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 99;
    GetExitCodeProcess(process.hProcess, &code);
    return code;
}

} // namespace

TEST(DllSearch, PlantedLibraryIsNeverLoadedOnceHardened)
{
    test_support::TempFolder folder(u8" \u00e9 downloads");
    const fs::path probe = folder.path() / L"dll_search_probe.exe";
    fs::copy_file(ownFolder() / L"dll_search_probe.exe", probe);
    fs::copy_file(ownFolder().parent_path() / L"planted" / L"psapi.dll", folder.path() / L"psapi.dll");

    // Wine prefers its own psapi unless told to take a copy it finds first, as Windows does. It
    // reads that only from the environment it starts with, which the test registration sets.
    const char* overrides = std::getenv("WINEDLLOVERRIDES");
    ASSERT_TRUE(overrides != nullptr && std::strstr(overrides, "psapi=n") != nullptr)
        << "WINEDLLOVERRIDES must prefer a psapi.dll found beside the program (psapi=n,b)";

    struct Case {
        const wchar_t* arguments;
        DWORD expected; // 0 the system's copy, 1 the planted one
    };
    const Case cases[] = {
        {L"plain name", 1},      // the plant works: without the hardening the planted copy is taken
        {L"harden name", 0},     // the search knows the system folder only
        {L"harden system", 0},   // by full path
        {L"fallback system", 0}, // by full path where the system cannot restrict the search
        {L"fallback name", 1},   // why every run-time load goes through loadSystemLibrary
    };
    for (const Case& c : cases)
        EXPECT_EQ(runProbe(probe, c.arguments), c.expected)
            << std::string(c.arguments, c.arguments + wcslen(c.arguments));

    // Wine has the call, as Windows 8 and the updated Vista and 7 do.
    EXPECT_EQ(setup::win32::restrictDllSearch(), setup::win32::DllSearch::SystemFolderOnly);
    EXPECT_TRUE(platform::win32::loadSystemLibrary(L"shell32.dll"));
    EXPECT_FALSE(platform::win32::loadSystemLibrary(L"no-such-library.dll"));
}

TEST(SystemInstallHost, ShippedConfigurationInstallsIntoTheGivenFolder)
{
    test_support::TempFolder localAppData(u8" \u00e9 \u00d1");
    const setup::win32::SystemInstallHost environment([&] { return localAppData.path().wstring(); });
    const std::string text =
        "Path=#currentappdata#\\Kavari\r\nExcute=#Path#\\OrvaneKavariStart.exe\nArgument=/r\n";
    setup::resetInstallState();
    InitExtensionAction(text.data(), static_cast<uint32_t>(text.size()), environment);
    InitGeneralInstallPath(L"", environment);
    EXPECT_EQ(g_ExtensionPath, localAppData.wide("Kavari"));
    EXPECT_TRUE(fs::is_directory(localAppData.file("Kavari")));
    EXPECT_EQ(g_strExcute, localAppData.wide("Kavari") + L"\\OrvaneKavariStart.exe");
    EXPECT_EQ(g_strArgument, L"/r");
    setup::resetInstallState();

    EXPECT_EQ(setup::win32::ansiToWide(std::string_view("a\0b", 3)), std::wstring(L"a\0b", 3));
    EXPECT_EQ(setup::win32::ansiToWide(""), L"");
}
