// Log items and the value makers: the only place where values are masked on their way into a line.
#include "logging/LogItem.h"

#include "logging/Masking.h"
#include "logging/StringUtil.h"

namespace rlxutil {

LogItem::LogItem(std::string value, std::string name, int sensitive)
    : mName(std::move(name)), mValue(std::move(value))
{
    if (sensitive == 1) {
        mValue = addMask(mValue, 0, static_cast<uint32_t>(mValue.size()));
    }
}

std::string textValue(const char* text)
{
    return text != nullptr ? std::string(text) : std::string();
}

std::string maskedValue(const std::wstring& text)
{
    return maskSensitiveInfo(StringUtil::unicodetoUtf8(text));
}

std::string maskedValue(const wchar_t* text)
{
    return text != nullptr ? maskedValue(std::wstring(text)) : std::string();
}

std::string maskedValue(const char* text)
{
    return text != nullptr ? maskSensitiveInfo(text) : std::string();
}

std::string utf8Value(const std::wstring& text)
{
    return StringUtil::unicodetoUtf8(text);
}

std::string intValue(int32_t value)
{
    return std::to_string(value);
}

std::string uintValue(uint32_t value)
{
    return std::to_string(value);
}

} // namespace rlxutil
