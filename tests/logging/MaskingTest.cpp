// Masking: the documented rules on real log values, addMask's ranges, and the optimised form
// checked against the plain reference on many random texts.
#include "logging/Masking.h"

#include "tests/support/CaptureSink.h"
#include "tests/logging/MaskingReference.h"

#include <gtest/gtest.h>

#include <random>

using rlxutil::addMask;
using rlxutil::maskSensitiveInfo;

namespace {

// Texts built from the pieces the passes look for, in mixed case, with long runs so that
// ranges above 128 bytes and every table-order rule come up often.
std::string randomText(std::mt19937& random)
{
    static const std::vector<std::string> kPieces = [] {
        std::vector<std::string> pieces;
        std::string all = // separated by "|", which no pass looks for
            "token|TOKEN|Bearer |username|user_name|c:*users*|C:\\\\Users\\\\|\"topic\"|telemetryinfo|"
            "MetricsTicket|displayname|personalroom|recentphonenumberlist|/meeting=|=|:|,|&|*|\\|"
            "\\\\|@|%40|\\Users\\|https://|http:|?|password|email|ticket| |.|'|_|\xC3\xA9|\xFF|abc|Q|";
        for (size_t bar; (bar = all.find('|')) != std::string::npos; all.erase(0, bar + 1))
            pieces.push_back(all.substr(0, bar));
        return pieces;
    }();
    std::uniform_int_distribution<size_t> pieceCount(0, 40), pick(0, kPieces.size() + 3), runLength(1, 300);
    std::string text;
    for (size_t n = pieceCount(random); n > 0; --n) {
        const size_t k = pick(random);
        text +=
            k < kPieces.size() ? kPieces[k] : std::string(runLength(random), static_cast<char>('a' + k % 26));
    }
    return text;
}

} // namespace

TEST(Masking, DocumentedRulesAddMaskRangesAndTheReferenceOnRandomTexts)
{
    rlxutil::ScopedCaptureSink capture;
    const std::string binary("Install>>begin\0\xFF\xC3", 17), x200(200, 'x');
    const std::pair<std::string, std::string> cases[] = {
        // E-mail local parts: letters, digits, "'" and "." walking back from "@", else "%40".
        {"john.doe@example.com", "joh*****@example.com"},
        {"mail to a@b", "mail to *@b"},
        {"first_last@x.org", "first_las*@x.org"},
        {"user%40host", "use*%40host"},
        {" abc@x", " ab*@x"},               // the walk never judges byte 0: it joins even a blank
        {"bob%40a, al@b", "bob%40a, **@b"}, // an "@" anywhere further on wins over an earlier "%40"
        // Profile folders.
        {"C:\\Users\\Someone\\AppData", "C:\\Users\\*******\\AppData"},
        {"C:\\Users\\", "C:\\Users\\"},
        {"\"C:\\USERS\\Jo\\AppData\\Roaming\\Kavari\\bin\\KavariStart.exe\" -s",
         "\"C:\\USERS\\**\\AppData\\Roaming\\Kavari\\bin\\KavariStart.exe\" -s"},
        // Escaped as in JSON: the keyword skips one byte after it and the value runs to "\\".
        {"C:\\\\Users\\\\Someone\\\\AppData", "C:\\\\Users\\\\Some***\\\\AppData"},
        // Web addresses with a credential word lose their query; "?" anywhere after wins over ",".
        {"https://meet.example/j/1?ticket=abc&x=1", "https://meet.example/j/1"},
        {"https://meet.example/j/1?x=1", "https://meet.example/j/1?x=1"},
        {"ticket?x=1", "ticket?x=1"},
        {"https://a,b?email", "https://a,b"},
        {"https://a,b email", "https://a"},
        // Keyword values.
        {"", ""},
        {binary, binary},
        {"token=abcdefgh,next", "token=abc*****,next"},
        {"token=ab&x", "token=**&x"},
        {"Bearer xyz", "Bearer ***"},
        {"TOKEN=AbCdEfGh*Rest", "TOKEN=AbC******Rest"},
        {"token=,next", "token=,next"},
        {"token=a", "token=*"},
        {"token=" + x200, "token=xxx***(197)***"},
        {"username=alice,token=secret123&displayName=Alice Smith",
         "username=ali**,token=sec******&displayName=Ali********"},
        {"{\"topic\":\"Quarterly review\",\"x\":1}", "{\"topic\":\"Qu***************,\"x\":1}"},
        {"token=abcd,ef\\\\gh", "token=abc****\\\\gh"}, // the first delimiter in table order wins
        {"kavari://j?token=tk1&token=tk2", "kavari://j?token=***&token=***"},
        // Values before a long one stay masked; one that runs into the dropped part is masked up
        // to where the kept bytes end.
        {"token=abcdefgh&displayname=" + x200, "token=abc*****&displayname=xxx***(197)***"},
        {"bearer=" + x200 + "&token=abcdef", "bearer=xxx***(197)***"},
        {"token=abc displayname=" + x200, "token=abc" + std::string(16, '*') + "***(197)***"},
    };
    for (const auto& [text, masked] : cases)
        EXPECT_EQ(maskSensitiveInfo(text), masked) << text;

    // addMask's ranges: long ones are shortened, wrong ones are logged and change nothing.
    EXPECT_EQ(addMask("abcdef", 1, 4), "a***ef");
    EXPECT_EQ(addMask("abcdef", 0, 4), "abc*ef");
    EXPECT_EQ(addMask("abcdef", 4, 2), "abcdef");
    EXPECT_EQ(addMask("<" + std::string(128, 'm') + ">", 1, 129), "<mmm" + std::string(125, '*') + ">");
    EXPECT_EQ(addMask("<" + std::string(129, 'm') + ">", 1, 130), "<mmm***(126)***");
    EXPECT_TRUE(capture.texts().empty());
    EXPECT_EQ(addMask("hello", 0, 9), "hello");
    EXPECT_EQ(addMask("hello", 0xFFFFFFF0u, 0xFFFFFFFFu), "hello");
    const std::string wrong = "rlxutil::addMask wrong parameter, text.length = 5, begin = ";
    EXPECT_EQ(capture.lines(), (std::vector<rlxutil::CapturedLine>{{3, "UNKNOWN", wrong + "0, end = 9"},
                                                                   {3, "UNKNOWN", wrong + "-16, end = -1"}}));

    // The optimised form against the plain reference on many random texts.
    capture.sink().clear();
    std::mt19937 random(20240611);
    for (int i = 0; i < 30000; ++i) {
        std::string text = randomText(random);
        // Now and then a long text, where the skipping searches take their long strides.
        for (int more = i % 500 == 0 ? 40 : 0; more > 0; --more)
            text += randomText(random);
        const std::string masked = maskSensitiveInfo(text);
        ASSERT_EQ(masked, testref::maskSensitiveInfo(text)) << "text: " << text;
        ASSERT_LE(masked.size(), text.size()) << "text: " << text;
    }
    EXPECT_TRUE(capture.texts().empty());
}
