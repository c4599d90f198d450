// Version strings: splitting, the comparison that decides a replacement with its one log line,
// and the file version of real images.
#include "hostutil/Version.h"

#include "tests/support/CaptureSink.h"
#include "peimage/HostMapping.h"
#include "platform/TextConvert.h"

#include <gtest/gtest.h>

using namespace hostutil;

namespace {

const std::string kInvalid = "dpx>>fileSystem>>VersionGreator failed, invalid input";

struct GreatorCase {
    const wchar_t* version1;
    const wchar_t* version2;
    int count;
    bool greater;
    bool logsInvalid;
};

} // namespace

TEST(VersionGreator, ComparesAsTheTableSays)
{
    const GreatorCase cases[] = {
        {L"7.0.2.1", L"7.0.1.9", 4, true, false},
        {L"7.0.1.9", L"7.0.2.1", 4, false, false},
        {L"7.0.2.1", L"7.0.2.1", 4, false, false},
        {L"7, 0, 2, 1", L"7.0.1.9", 4, true, false},    // commas and spaces on one side
        {L" 7 ,0,  2 ,1 ", L"7,0,2,0", 4, true, false}, // spaces around every piece
        {L"1.2.3.4.5", L"1.2.3.6", 4, false, false},    // five: the fourth goes, 1.2.3.5
        {L"1.2.3.4.5", L"1.2.3.4", 4, true, false},
        {L"1.2.3.4", L"1.2.3.4x", 4, false, false}, // trailing garbage: 4x is 4
        {L"1.2.3.5x", L"1.2.3.4", 4, true, false},
        {L"1.2.3.x", L"1.2.3.0", 4, false, false},  // no digits: 0
        {L"1.2.3.-1", L"1.2.3.0", 4, false, false}, // signs count
        {L"1.2.3.+1", L"1.2.3.0", 4, true, false},
        {L"2.0.0.99999999999", L"2.0.0.2147483647", 4, false, false}, // overflow: the limit
        {L"2.0.0.99999999999", L"2.0.0.2147483646", 4, true, false},
        {L"2.0.0.-99999999999", L"2.0.0.-2147483647", 4, false, false},
        {L"2.0.0.-2147483647", L"2.0.0.-99999999999", 4, true, false},
        {L"7.1.0.0", L"7.0.9.9", 1, false, false}, // only the first component
        {L"7.1.0.0", L"7.0.9.9", 2, true, false},
        {L"7.0.0.9", L"7.0.0.1", 3, false, false},
        {L"8.0.0.0", L"7.0.0.0", 0, false, false}, // count 0: nothing compared
        {L"8.0.0.0", L"7.0.0.0", -1, false, false},
        {L"8.0.0.0", L"7.0.0.0", 5, false, false}, // count over 4: false, no line
        {L"1.2.3", L"1.2.3.4", 4, false, true},    // three components on either side
        {L"1.2.3.4", L"1.2.3", 4, false, true},
        {L"", L"1.2.3.4", 4, false, true},
        {L"1.2.3.4.5.6", L"1.2.3.4", 4, false, true},
        {L"1..3.4", L"1.0.3.4", 4, false, false}, // an empty piece is kept, and is 0
        {L"1,2.3,4", L"1.2.3.4", 4, false, true}, // commas win: 1 | 2.3 | 4
        {L"8.0.0.0", L"1.2", 5, false, false},    // the count is checked first
    };
    for (const auto& c : cases) {
        rlxutil::ScopedCaptureSink capture;
        EXPECT_EQ(VersionGreator(c.version1, c.version2, c.count), c.greater)
            << platform::wideToUtf8(c.version1) << " vs " << platform::wideToUtf8(c.version2) << " count "
            << c.count;
        std::vector<std::string> expected;
        if (c.logsInvalid)
            expected.push_back(kInvalid + ", version1=" + platform::wideToUtf8(c.version1) +
                               ", version2=" + platform::wideToUtf8(c.version2));
        EXPECT_EQ(capture.texts(), expected) << platform::wideToUtf8(c.version1);
        if (c.logsInvalid) {
            EXPECT_EQ(capture.lines().at(0).level, 3);
        }
    }
}

TEST(SplitVersion, PiecesAsTheComparisonSeesThem)
{
    // Empty input and a fifth piece are seen through the comparison above.
    using V = std::vector<std::wstring>;
    EXPECT_EQ(SplitVersion(L"7"), V{L"7"});
    EXPECT_EQ(SplitVersion(L"7, 0 ,1,  "), (V{L"7", L"0", L"1", L""}));
    EXPECT_EQ(SplitVersion(L"\t1.2"), (V{L"\t1", L"2"})); // only spaces are trimmed
}

TEST(GetFileVersion, ReadsRealImagesAndNothingElse)
{
    const std::string images = KV_TEST_IMAGES;
    const auto version = [&](const std::string& name) {
        return GetFileVersion(platform::utf8ToWide(images + "/" + name), peimage::HostFileMapping::make);
    };
    EXPECT_EQ(version("version32.dll"), L"1.2.3.4");
    EXPECT_EQ(version("version64.dll"), L"65535.0.19041.1");
    EXPECT_EQ(version("image.c"), L"");
    EXPECT_EQ(version("no such file.dll"), L"");
    EXPECT_EQ(GetFileVersion(L"", peimage::HostFileMapping::make), L"");
}
