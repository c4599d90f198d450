// The rights the installer gives folders it creates inside the Program Files folder.
#pragma once

#include "platform/win32/Handle.h"

#include <string>

namespace hostutil {

// The folder descriptor: full control for administrators and power users, read and execute for
// users, inherited by files and subfolders. Empty on failure.
platform::win32::UniqueLocal makeFolderSecurityDescriptor();

// Whether `programFilesDir` occurs in `path`, in any letter case. A substring test, not a prefix
// test: that is what callers have always relied on.
bool isUnderProgramFiles(const std::wstring& path, const std::wstring& programFilesDir);

// Replaces the discretionary access list of a folder that lies inside `programFilesDir` with the
// folder descriptor. Anything else, and any failure, leaves the folder as it is.
void applyFolderSecurity(const std::wstring& folder, const std::wstring& programFilesDir);

} // namespace hostutil
