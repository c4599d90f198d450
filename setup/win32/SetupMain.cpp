// Entry point of setup.exe, the installer stub that kvpack puts packages behind. It runs no
// install yet: the driver that reads its own package joins it here.
#include "platform/win32/Windows.h"
#include "setup/win32/DllSearch.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Before anything can load a library by name.
    setup::win32::restrictDllSearch();
    return 0;
}
