// UTF-16 to UTF-8 conversion of log values, with the system converter's bytes on every platform.
#pragma once

#include <string>

namespace rlxutil {

class StringUtil {
public:
    // Unpaired surrogates become U+FFFD. A conversion the system refuses logs one line through
    // "RLXUtility" and gives what was converted, an empty text.
    static std::string unicodetoUtf8(const std::wstring& text);
};

} // namespace rlxutil
