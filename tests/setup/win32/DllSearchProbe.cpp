// A program started beside a planted "psapi.dll" that loads the library once and says which copy
// it got:   dll_search_probe plain|harden|fallback name|system
// Exit code 0: the system's copy; 1: the planted copy; 2: the load failed; 3: usage.
#include "platform/win32/Windows.h"
#include "platform/win32/SystemLibrary.h"
#include "setup/win32/DllSearch.h"

#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return 3;
    if (std::wcscmp(argv[1], L"harden") == 0)
        setup::win32::restrictDllSearch();
    else if (std::wcscmp(argv[1], L"fallback") == 0)
        setup::win32::restrictDllSearchWith(nullptr);
    // One load per run: a library loaded once is handed out again to a later load by name.
    const platform::win32::UniqueModule module(
        std::wcscmp(argv[2], L"system") == 0 ? platform::win32::loadSystemLibrary(L"psapi.dll")
                                             : platform::win32::UniqueModule(LoadLibraryW(L"psapi.dll")));
    if (!module)
        return 2;
    return GetProcAddress(module.get(), "KvPlantedLibrary") != nullptr ? 1 : 0;
}
