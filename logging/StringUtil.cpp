// UTF-16 to UTF-8 conversion of log values.
#include "logging/StringUtil.h"

#include "platform/TextConvert.h"

namespace rlxutil {

// The portable converter gives the bytes WideCharToMultiByte(CP_UTF8, 0) gives on Vista and later,
// lone surrogates as U+FFFD included, so every system shares it and log lines match across them.
std::string StringUtil::unicodetoUtf8(const std::wstring& text)
{
    return platform::wideToUtf8(text);
}

} // namespace rlxutil
