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

// Decodes the package data block in `file`, held open as `compressed` (which is closed, and with
// it the delete-on-close file, once decoded), into a temporary payload, installs its items and
// starts the follow-up programs. The result is not used.
int Uncompress(std::wstring destDir, std::wstring file, platform::win32::UniqueFile compressed);
