// Restricting the DLL search to the system folder, and loading system libraries by full path.
#include "setup/win32/DllSearch.h"

namespace setup::win32 {

namespace {

// From the headers of Windows 8; the loader update brought the value to Vista and 7 as well.
constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

} // namespace

DllSearch restrictDllSearch()
{
    // kernel32 is mapped into every process, so asking for it loads nothing.
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    return restrictDllSearchWith(kernel32 ? GetProcAddress(kernel32, "SetDefaultDllDirectories") : nullptr);
}

DllSearch restrictDllSearchWith(FARPROC setDefaultDllDirectories)
{
    // An empty string removes the current folder from the search order (and wins over the
    // SafeDllSearchMode setting of the machine, which only moves it back).
    SetDllDirectoryW(L"");
    if (setDefaultDllDirectories != nullptr) {
        const auto call =
            reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(setDefaultDllDirectories));
        if (call(kLoadLibrarySearchSystem32))
            return DllSearch::SystemFolderOnly;
    }
    return DllSearch::SafeDllDirectoryOnly;
}

platform::win32::UniqueModule loadSystemLibrary(const wchar_t* name)
{
    // A fixed buffer rather than a string: this runs before anything else, and setup.exe's
    // imports stay with what the runtime start-up needs.
    wchar_t path[MAX_PATH] = {};
    size_t length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    if (path[length - 1] != L'\\')
        path[length++] = L'\\';
    for (; *name != L'\0'; ++name) {
        if (length + 1 >= MAX_PATH) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return {};
        }
        path[length++] = *name;
    }
    path[length] = L'\0';
    // With a full path the altered search order starts in the library's own folder, so the
    // libraries it needs come from the system folder too, whether or not the search was restricted.
    return platform::win32::UniqueModule(LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

} // namespace setup::win32
