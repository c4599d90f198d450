// Portable UTF-8 / UTF-16 / wide conversions with the system converter's answer to bad input.
#include "platform/TextConvert.h"

namespace platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isHighSurrogate(char32_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char32_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

void appendUtf16(std::u16string& out, char32_t c)
{
    if (c >= 0x10000) {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(c));
    }
}

// Decodes the code point at text[i] and advances i past it; a lone surrogate gives U+FFFD.
char32_t decodeUtf16(std::u16string_view text, size_t& i)
{
    const char32_t c = text[i++];
    if (isHighSurrogate(c) && i < text.size() && isLowSurrogate(text[i]))
        return 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
    return isHighSurrogate(c) || isLowSurrogate(c) ? kReplacement : c;
}

// Decodes one UTF-8 sequence at text[i]; advances i past it. Overlong forms, surrogates,
// values above 0x10FFFF and truncated sequences give U+FFFD for their first byte only.
char32_t decodeUtf8(std::string_view text, size_t& i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    size_t length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, c = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, c = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, c = lead & 0x07, minimum = 0x10000;
    }
    if (length == 0 || i + length > text.size()) {
        ++i;
        return kReplacement;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return kReplacement;
    }
    i += length;
    return c;
}

} // namespace

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::string utf16ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (text[i] < 0x80)
            out.push_back(static_cast<char>(text[i++]));
        else
            appendUtf8(out, decodeUtf16(text, i));
    }
    return out;
}

std::u16string utf8ToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();)
        appendUtf16(out, decodeUtf8(text, i));
    return out;
}

std::u16string wideToUtf16(std::wstring_view text)
{
    std::u16string out;
    out.reserve(text.size());
    if constexpr (sizeof(wchar_t) == 2) {
        for (wchar_t c : text)
            out.push_back(static_cast<char16_t>(c));
    } else {
        for (wchar_t w : text) {
            const auto c = static_cast<char32_t>(w);
            appendUtf16(out, c > 0x10FFFF ? kReplacement : c);
        }
    }
    return out;
}

std::wstring utf16ToWide(std::u16string_view text)
{
    std::wstring out;
    out.reserve(text.size());
    if constexpr (sizeof(wchar_t) == 2) {
        for (char16_t c : text)
            out.push_back(static_cast<wchar_t>(c));
    } else {
        for (size_t i = 0; i < text.size();)
            out.push_back(static_cast<wchar_t>(decodeUtf16(text, i)));
    }
    return out;
}

std::string wideToUtf8(std::wstring_view text)
{
    return utf16ToUtf8(wideToUtf16(text));
}

std::wstring utf8ToWide(std::string_view text)
{
    return utf16ToWide(utf8ToUtf16(text));
}

} // namespace platform
