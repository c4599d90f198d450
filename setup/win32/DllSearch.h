// Keeping DLLs planted beside the installer out of the process: the installer is started from
// download folders that hold whatever else was downloaded, and the loader looks there first.
#pragma once

#include "platform/win32/Windows.h"

namespace setup::win32 {

enum class DllSearch {
    SystemFolderOnly,    // every later load searches the system folder only
    SafeDllDirectoryOnly // the system lacks the call for that; only the current folder is dropped
};

// Called first thing in the process. Where the system has SetDefaultDllDirectories (Windows 8,
// and Vista and 7 with the loader update), loads by name search the system folder only; elsewhere
// the application folder stays on the search path, which is why every run-time load of this
// program names its full path in the system folder (platform/win32/SystemLibrary.h). The current
// folder is dropped from the search either way.
DllSearch restrictDllSearch();

// The same with the system's SetDefaultDllDirectories given (or null, as a system without it
// answers), so that tests can take the fallback on any system.
DllSearch restrictDllSearchWith(FARPROC setDefaultDllDirectories);

} // namespace setup::win32
