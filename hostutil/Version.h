// Version strings of executable files: reading a file's version and deciding whether one version
// is greater than another, which governs whether an installed program is replaced.
#pragma once

#include "peimage/FileMapping.h"

#include <cstdint>
#include <string>
#include <vector>

namespace hostutil {

// The components of a version written with commas ("7, 0, 1, 25") or else with dots
// ("7.0.1.25"), each trimmed of spaces; empty pieces are kept. Of five components the fourth is
// dropped, so "1.2.3.4.5" compares as 1.2.3.5.
std::vector<std::wstring> SplitVersion(const std::wstring& text);

// True when version1 is greater than version2 in the first `count` components. Both must split
// into exactly four components (else a logged failure and false); a count above 4 or below 1 is
// false. Each component converts as the runtime's wide-string-to-integer does: leading white
// space, an optional sign, decimal digits up to the first other character, no digits 0, overflow
// the nearest 32-bit limit.
bool VersionGreator(const std::wstring& version1, const std::wstring& version2, int count);

// The runtime's wide-string-to-integer conversion as VersionGreator applies it.
int32_t versionComponentValue(const std::wstring& text);

// The file version of an executable file, or empty when it cannot be read. The file is opened
// through a mapping from `makeMapping` (the Win32 mapping in the setup program, the host's
// elsewhere) and released before returning.
std::wstring GetFileVersion(const std::wstring& path, const peimage::MappingMaker& makeMapping);

} // namespace hostutil
