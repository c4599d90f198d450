// Conversions between the text forms the system meets: UTF-16 (Windows, trace records,
// executable resources), wide strings of either width, and UTF-8 (log lines, JSON).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD, as the Windows converter makes it.
std::string utf16ToUtf8(std::u16string_view text);

// UTF-8 to UTF-16. Each byte that does not start a well-formed sequence becomes U+FFFD.
std::u16string utf8ToUtf16(std::string_view text);

// wchar_t is UTF-16 on Windows and UTF-32 elsewhere; these hide which.
std::u16string wideToUtf16(std::wstring_view text);
std::wstring utf16ToWide(std::u16string_view text);
std::string wideToUtf8(std::wstring_view text);
std::wstring utf8ToWide(std::string_view text);

// Appends the UTF-8 form of one code point (which must not be a surrogate and not above 0x10FFFF).
void appendUtf8(std::string& out, char32_t codePoint);

} // namespace platform
