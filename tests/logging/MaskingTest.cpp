// Masking: the documented examples, what they mean for real log values, and the optimised form
// checked against the plain reference on many random texts.
#include "logging/Masking.h"

#include "logging/CaptureSink.h"
#include "tests/logging/MaskingReference.h"

#include <gtest/gtest.h>

#include <random>

using rlxutil::addMask;
using rlxutil::maskSensitiveInfo;

TEST(Masking, EmailLocalParts)
{
    EXPECT_EQ(maskSensitiveInfo("john.doe@example.com"), "joh*****@example.com");
    EXPECT_EQ(maskSensitiveInfo("mail to a@b"), "mail to *@b");
    EXPECT_EQ(maskSensitiveInfo("first_last@x.org"), "first_las*@x.org");
    EXPECT_EQ(maskSensitiveInfo("user%40host"), "use*%40host");
    // The walk never judges byte 0: it joins the range even when it is a blank.
    EXPECT_EQ(maskSensitiveInfo(" abc@x"), " ab*@x");
    // An "@" anywhere further on wins over an earlier "%40", which is then passed over.
    EXPECT_EQ(maskSensitiveInfo("bob%40a, al@b"), "bob%40a, **@b");
}

TEST(Masking, ProfileFolders)
{
    EXPECT_EQ(maskSensitiveInfo("C:\\Users\\Someone\\AppData"), "C:\\Users\\*******\\AppData");
    EXPECT_EQ(maskSensitiveInfo("C:\\Users\\"), "C:\\Users\\");
    EXPECT_EQ(maskSensitiveInfo("\"C:\\USERS\\Jo\\AppData\\Roaming\\Kavari\\bin\\KavariStart.exe\" -s"),
              "\"C:\\USERS\\**\\AppData\\Roaming\\Kavari\\bin\\KavariStart.exe\" -s");
    // Escaped backslashes as in JSON: the keyword skips one byte after it and the value runs to "\\".
    EXPECT_EQ(maskSensitiveInfo("C:\\\\Users\\\\Someone\\\\AppData"), "C:\\\\Users\\\\Some***\\\\AppData");
}

TEST(Masking, CredentialWebAddresses)
{
    EXPECT_EQ(maskSensitiveInfo("https://meet.example/j/1?ticket=abc&x=1"), "https://meet.example/j/1");
    EXPECT_EQ(maskSensitiveInfo("https://meet.example/j/1?x=1"), "https://meet.example/j/1?x=1");
    EXPECT_EQ(maskSensitiveInfo("ticket?x=1"), "ticket?x=1");
    // "?" anywhere after the address wins over an earlier ",".
    EXPECT_EQ(maskSensitiveInfo("https://a,b?email"), "https://a,b");
    EXPECT_EQ(maskSensitiveInfo("https://a,b email"), "https://a");
}

TEST(Masking, KeywordValues)
{
    EXPECT_EQ(maskSensitiveInfo(""), "");
    EXPECT_EQ(maskSensitiveInfo(std::string("Install>>begin\0\xFF\xC3", 17)),
              std::string("Install>>begin\0\xFF\xC3", 17));
    EXPECT_EQ(maskSensitiveInfo("token=abcdefgh,next"), "token=abc*****,next");
    EXPECT_EQ(maskSensitiveInfo("token=ab&x"), "token=**&x");
    EXPECT_EQ(maskSensitiveInfo("Bearer xyz"), "Bearer ***");
    EXPECT_EQ(maskSensitiveInfo("TOKEN=AbCdEfGh*Rest"), "TOKEN=AbC******Rest");
    EXPECT_EQ(maskSensitiveInfo("token=,next"), "token=,next");
    EXPECT_EQ(maskSensitiveInfo("token=a"), "token=*");
    EXPECT_EQ(maskSensitiveInfo("token=" + std::string(200, 'v')), "token=vvv***(197)***");
    EXPECT_EQ(maskSensitiveInfo("username=alice,token=secret123&displayName=Alice Smith"),
              "username=ali**,token=sec******&displayName=Ali********");
    EXPECT_EQ(maskSensitiveInfo("{\"topic\":\"Quarterly review\",\"x\":1}"),
              "{\"topic\":\"Qu***************,\"x\":1}");
    // The first delimiter in table order wins, even when a later one comes earlier.
    EXPECT_EQ(maskSensitiveInfo("token=abcd,ef\\\\gh"), "token=abc****\\\\gh");
    EXPECT_EQ(maskSensitiveInfo("kavari://j?token=tk1&token=tk2"), "kavari://j?token=***&token=***");
}

TEST(Masking, ValuesBeforeALongValueStayMasked)
{
    rlxutil::ScopedCaptureSink capture;
    const std::string longValue(200, 'x');
    EXPECT_EQ(maskSensitiveInfo("token=abcdefgh&displayname=" + longValue),
              "token=abc*****&displayname=xxx***(197)***");
    EXPECT_EQ(maskSensitiveInfo("bearer=" + longValue + "&token=abcdef"), "bearer=xxx***(197)***");
    // A value that runs into the dropped part is masked up to where the kept bytes end.
    EXPECT_EQ(maskSensitiveInfo("token=abc displayname=" + longValue),
              "token=abc" + std::string(16, '*') + "***(197)***");
    EXPECT_TRUE(capture.texts().empty());
}

TEST(AddMask, RangeSizes)
{
    EXPECT_EQ(addMask("abcdef", 1, 4), "a***ef");
    EXPECT_EQ(addMask("abcdef", 0, 4), "abc*ef");
    EXPECT_EQ(addMask("abcdef", 4, 2), "abcdef");
    const std::string long128 = "<" + std::string(128, 'm') + ">";
    EXPECT_EQ(addMask(long128, 1, 129), "<mmm" + std::string(125, '*') + ">");
    const std::string long129 = "<" + std::string(129, 'm') + ">";
    EXPECT_EQ(addMask(long129, 1, 130), "<mmm***(126)***");

    rlxutil::ScopedCaptureSink capture;
    EXPECT_EQ(addMask("hello", 0, 9), "hello");
    EXPECT_EQ(addMask("hello", 0xFFFFFFF0u, 0xFFFFFFFFu), "hello");
    EXPECT_EQ(
        capture.lines(),
        (std::vector<rlxutil::CapturedLine>{
            {3, "UNKNOWN", "rlxutil::addMask wrong parameter, text.length = 5, begin = 0, end = 9"},
            {3, "UNKNOWN", "rlxutil::addMask wrong parameter, text.length = 5, begin = -16, end = -1"}}));
}

namespace {

// Texts built from the pieces the passes look for, in mixed case, with long runs so that
// ranges above 128 bytes and every table-order rule come up often.
std::string randomText(std::mt19937& random)
{
    // Separated by "|", which no pass looks for.
    static const std::vector<std::string> kPieces = [] {
        std::vector<std::string> pieces;
        std::string all =
            "token|TOKEN|Bearer |username|user_name|c:*users*|C:\\\\Users\\\\|\"topic\"|telemetryinfo|"
            "MetricsTicket|displayname|personalroom|recentphonenumberlist|/meeting=|=|:|,|&|*|\\|"
            "\\\\|@|%40|\\Users\\|https://|http:|?|password|email|ticket| |.|'|_|\xC3\xA9|\xFF|abc|Q|";
        for (size_t bar; (bar = all.find('|')) != std::string::npos; all.erase(0, bar + 1)) {
            pieces.push_back(all.substr(0, bar));
        }
        return pieces;
    }();
    std::uniform_int_distribution<size_t> pieceCount(0, 40);
    std::uniform_int_distribution<size_t> pick(0, kPieces.size() + 3);
    std::uniform_int_distribution<size_t> runLength(1, 300);
    std::string text;
    for (size_t n = pieceCount(random); n > 0; --n) {
        const size_t k = pick(random);
        if (k < kPieces.size()) {
            text += kPieces[k];
        } else {
            text.append(runLength(random), static_cast<char>('a' + k % 26));
        }
    }
    return text;
}

} // namespace

TEST(Masking, MatchesTheReferenceOnRandomTexts)
{
    rlxutil::ScopedCaptureSink capture;
    std::mt19937 random(20240611);
    for (int i = 0; i < 30000; ++i) {
        std::string text = randomText(random);
        // Now and then a long text, where the skipping searches take their long strides.
        for (int more = i % 500 == 0 ? 40 : 0; more > 0; --more) {
            text += randomText(random);
        }
        const std::string masked = maskSensitiveInfo(text);
        ASSERT_EQ(masked, testref::maskSensitiveInfo(text)) << "text: " << text;
        ASSERT_LE(masked.size(), text.size()) << "text: " << text;
    }
    EXPECT_TRUE(capture.texts().empty());
}
