// A stand-in for a DLL planted in a download folder: it marks itself, and when a process loads it,
// it leaves "<its own path>.loaded" beside itself so that a test can see the load from outside.
#include "platform/win32/Handle.h"
#include "platform/win32/Windows.h"

extern "C" __declspec(dllexport) int KvPlantedLibrary()
{
    return 1;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 8] = {};
        const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcatW(path, L".loaded");
            platform::win32::UniqueFile(
                CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        }
    }
    return TRUE;
}
