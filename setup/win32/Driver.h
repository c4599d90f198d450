// The setup program's run: finding and checking its own package, unpacking the items into their
// folders and starting the follow-up programs. Every outcome is reported through DPX only.
#pragma once

#include "platform/win32/Handle.h"

#include <cstdint>
#include <string>

// The full long path of the running setup program, set once at start-up.
extern std::wstring g_strApplication;

// The computed end of the executable image of the file at `path`, where its package should
// start; a smaller offset when the headers cannot be read, 0 when the file cannot be opened.
uint32_t GetPEFileSize(const std::wstring& path);

// One whole run over the package behind g_strApplication; always 0.
int InstallKavariAddOn();

// A run's temporary file: a unique name under `prefix` in the temporary folder, opened unshared
// and delete-on-close before a byte goes into it, so it goes with the handle however the run ends
// (a kill included) and no other run's clean-up takes it meanwhile. `file` is empty on failure,
// with `error` the system's reason, taken where the name or the open failed.
struct RunTemporary {
    std::wstring path;
    platform::win32::UniqueFile file;
    uint32_t error = 0;
};
RunTemporary openRunTemporary(const wchar_t* prefix);

// Decodes the package data block in `file`, held open as `compressed` (which is closed, and with
// it the delete-on-close file, once decoded), into a temporary payload, installs its items and
// starts the follow-up programs. The result is not used.
int Uncompress(std::wstring destDir, std::wstring file, platform::win32::UniqueFile compressed);
