// Conversions must give the Windows converter's bytes, bad input included.
#include "platform/TextConvert.h"

#include <gtest/gtest.h>

using platform::utf16ToUtf8;
using platform::utf8ToUtf16;

TEST(TextConvert, Utf16ToUtf8CoversEveryLengthAndReplacesUnpairedSurrogates)
{
    const std::string fffd = "\xEF\xBF\xBD";
    const std::pair<std::u16string, std::string> cases[] = {
        {u"A\u00e9\u20ac", "A\xC3\xA9\xE2\x82\xAC"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
        {{char16_t(0xD800)}, fffd},
        {{char16_t(0xDC00), u'x'}, fffd + "x"},
        // A high surrogate followed by another high one: the first is lone, the pair after it is whole.
        {{char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)}, fffd + "\xF0\x9F\x98\x80"},
    };
    for (const auto& [utf16, utf8] : cases)
        EXPECT_EQ(utf16ToUtf8(utf16), utf8) << utf8;
}

TEST(TextConvert, MalformedUtf8BecomesOneReplacementPerBadByte)
{
    EXPECT_EQ(utf8ToUtf16("\xC3\xA9"), u"\u00e9");
    EXPECT_EQ(utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");                     // overlong
    EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");           // encoded surrogate
    EXPECT_EQ(utf8ToUtf16("\xE2\x82"), u"\uFFFD\uFFFD");                     // cut short at the end
    EXPECT_EQ(utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD"); // above U+10FFFF
}

TEST(TextConvert, WideRoundTripsThroughEveryForm)
{
    const std::wstring wide = L"C:\\Users\\J\u00f6rg\\\U0001F600.txt";
    EXPECT_EQ(platform::utf8ToWide(platform::wideToUtf8(wide)), wide);
    EXPECT_EQ(platform::utf16ToWide(platform::wideToUtf16(wide)), wide);
    EXPECT_EQ(platform::wideToUtf16(wide).size(), wide.size() + (sizeof(wchar_t) == 4 ? 1 : 0));
}
