// Entry point of setup.exe, the installer stub that kvpack puts packages behind. It runs no
// install yet: the driver that reads its own package joins it here.
#include "platform/win32/Windows.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return 0;
}
