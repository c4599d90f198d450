// UTF-16 to UTF-8 conversion of log values, with the Windows converter's bytes on every system.
#pragma once

#include <string>

namespace rlxutil {

class StringUtil {
public:
    // Unpaired surrogates become U+FFFD; the conversion cannot fail.
    static std::string unicodetoUtf8(const std::wstring& text);
};

} // namespace rlxutil
