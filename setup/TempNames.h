// The names of the files a run keeps in the temporary folder, so that a later run knows which
// ones a killed run left behind and takes nothing else.
#pragma once

#include <string>

namespace setup {

// Prefixes of the unique names the system makes (MakeTempFileName): the prefix, 1 to 4
// hexadecimal digits and ".tmp".
inline constexpr const wchar_t* kDataBlockPrefix = L"kvr"; // the package data block
inline constexpr const wchar_t* kPayloadPrefix = L"Pre";   // the decoded payload

// True for a file name of that form with one of the two prefixes, in any letter case. Other
// programs' files and the trace files ("kvrtra_...") never match.
bool isRunTemporaryName(const std::wstring& fileName);

} // namespace setup
