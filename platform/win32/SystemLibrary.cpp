// System DLLs by the system folder's path or the loader's system-folder-only search.
#include "platform/win32/SystemLibrary.h"

#include <string>

namespace platform::win32 {

UniqueModule loadSystemLibrary(const wchar_t* name)
{
    // Known to the loader only where the search-order update is installed (Windows 7 on, and
    // Vista with it); elsewhere the call fails with an invalid parameter and the full path serves.
    UniqueModule module(LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (module)
        return module;
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return module;
    const std::wstring path = std::wstring(folder, length) + L"\\" + name;
    module.reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    return module;
}

} // namespace platform::win32
