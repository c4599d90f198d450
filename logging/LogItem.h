// One named value of a log line, and the makers that turn program values into its UTF-8 text.
#pragma once

#include <cstdint>
#include <string>

namespace rlxutil {

class LogItem {
public:
    // The message item has an empty name. A sensitive flag of 1 hides the whole value.
    LogItem(std::string value, std::string name = {}, int sensitive = 0);

    const std::string& name() const { return mName; }
    const std::string& value() const { return mValue; }

private:
    std::string mName;
    std::string mValue;
};

// 8-bit text as it is; null gives an empty value. Used for messages.
std::string textValue(const char* text);
// Wide text converted to UTF-8 and masked: paths, command lines, names.
std::string maskedValue(const std::wstring& text);
std::string maskedValue(const wchar_t* text);
// 8-bit text masked; null gives an empty value.
std::string maskedValue(const char* text);
// Wide text converted to UTF-8, not masked.
std::string utf8Value(const std::wstring& text);
std::string intValue(int32_t value);
std::string uintValue(uint32_t value);

} // namespace rlxutil
