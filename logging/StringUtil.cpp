// UTF-16 to UTF-8 through the system converter on Windows, the portable converter elsewhere.
#include "logging/StringUtil.h"

#include "logging/Logger.h"

#ifdef _WIN32
#include "platform/Windows.h"
#else
#include "platform/TextConvert.h"
#endif

namespace rlxutil {

std::string StringUtil::unicodetoUtf8(const std::wstring& text)
{
    if (text.empty()) {
        return {};
    }
#ifdef _WIN32
    constexpr UINT kCodePageUtf8 = 65001;
    const int wideLength = static_cast<int>(text.size());
    const int length =
        WideCharToMultiByte(kCodePageUtf8, 0, text.data(), wideLength, nullptr, 0, nullptr, nullptr);
    std::string result;
    if (length > 0) {
        result.resize(static_cast<size_t>(length));
        if (WideCharToMultiByte(kCodePageUtf8, 0, text.data(), wideLength, result.data(), length, nullptr,
                                nullptr) == length) {
            return result;
        }
    }
    getLogger("RLXUtility")
        ->log(3, LogItem(textValue("rlxutil::StringUtil::unicodetoUtf8")),
              LogItem(textValue("failed to cast utf8")));
    return {};
#else
    return platform::wideToUtf8(text);
#endif
}

} // namespace rlxutil
