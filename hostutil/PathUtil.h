// Joining and comparing Windows paths as text, without asking the file system.
#pragma once

#include <string>

namespace hostutil {

// The folder, the separator unless the folder is empty or already ends with it, then the name.
std::wstring CombinePath(const std::wstring& folder, const std::wstring& name, wchar_t separator = L'\\');

// Whether two paths name the same file as text: false when either is empty; otherwise equal after
// lower-casing A to Z (other letters keep their case) and dropping one trailing backslash each.
bool SamePath(const std::wstring& path1, const std::wstring& path2);

} // namespace hostutil
