// Text in the ANSI code page of the system (item names, the install configuration) as wide text.
#pragma once

#include <string>
#include <string_view>

namespace setup::win32 {

// Converts with the system's ANSI code page; bytes the code page does not map become what the
// system's converter makes of them. Empty input, or a failed conversion, gives empty text.
std::wstring ansiToWide(std::string_view bytes);

} // namespace setup::win32
