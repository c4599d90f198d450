// Restricting the DLL search to the system folder before anything can load a library by name.
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

} // namespace setup::win32
