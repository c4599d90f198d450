// The demo browser plug-in module: a DLL that the installer copies into the browsers' plug-in
// folders. It does nothing when loaded; its version resource is what an install is checked by.
#include "platform/win32/Windows.h"

extern "C" __declspec(dllexport) int KvDemoPlugin()
{
    return 1;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
