// Entry point of setup.exe, the installer stub that kvpack puts packages behind: one run of the
// install over the package behind its own image, reported only through the trace file.
#include "hostutil/win32/FileSystem.h"
#include "logging/win32/TraceLogger.h"
#include "platform/win32/Windows.h"
#include "setup/Dpx.h"
#include "setup/win32/DllSearch.h"
#include "setup/win32/Driver.h"

#include <array>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Before anything can load a library by name.
    setup::win32::restrictDllSearch();

    initLogging("");
    std::array<wchar_t, MAX_PATH> path{};
    GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    g_strApplication = hostutil::GetLongPath(path.data());
    setup::dpx(1, "orvane kavari addone setup program starting...",
               setup::pathItem("g_strApplication", g_strApplication));
    InstallKavariAddOn();
    setup::dpx(1, "orvane kavari addone setup program exits.");
    shutdownLogging();
    return 0;
}
