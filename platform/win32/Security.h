// Access rights the setup program gives: to folders it creates inside the Program Files folder,
// and to the named kernel objects of the shared trace file.
#pragma once

#include <string>

namespace platform::win32 {

// Replaces the discretionary access list of a folder that lies inside `programFilesDir` (matched
// in any letter case, anywhere in the path) with full control for administrators and power users
// and read and execute for users. Anything else, and any failure, leaves the folder as it is.
void applyFolderSecurity(const std::wstring& folder, const std::wstring& programFilesDir);

} // namespace platform::win32
