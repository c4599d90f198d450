// The directory block: the shipped layout, round trips, and hostile counters and lengths.
#include "setup/PackageDirectory.h"

#include "platform/TextConvert.h"
#include "tests/setup/TestImages.h"
#include "tests/support/CaptureSink.h"

#include <gtest/gtest.h>

using namespace setup;

namespace {

PackageHeader parse(const std::vector<uint8_t>& block, bool* malformed = nullptr)
{
    PackageHeader header;
    CopyToHeaderStruct(block.data(), uint32_t(block.size()), header, malformed);
    return header;
}

std::vector<uint8_t> directoryOf(const std::vector<uint8_t>& payload)
{
    const size_t n = payload.size();
    const uint32_t cbSize =
        payload[n - 4] | payload[n - 3] << 8 | payload[n - 2] << 16 | uint32_t(payload[n - 1]) << 24;
    return std::vector<uint8_t>(payload.end() - cbSize, payload.end());
}

} // namespace

TEST(PackageDirectory, ShippedLayoutBodiesReversedDirectoryInOrder)
{
    // The shipped items in packing order, with the offsets the directory gives their bodies: the
    // last item's body comes first.
    const struct {
        std::string name;
        size_t size;
        uint32_t offset;
    } shipped[] = {{"extaction.bin", 87, 6034008}, {"OrvaneKavariStart.exe", 6033184, 824},
                   {"firefox.json", 230, 594},     {"edge.json", 357, 237},
                   {"chrome.json", 237, 0},        {".", 0, 0}};
    std::vector<PackageItem> items;
    for (const auto& item : shipped)
        items.push_back({item.name, std::vector<uint8_t>(item.size, uint8_t(item.name[0]))});
    const auto payload = buildPayload(items);
    const auto directory = directoryOf(payload);
    EXPECT_EQ(payload.size(), 6034008u + 87 + directory.size());

    bool malformed = true;
    const PackageHeader header = parse(directory, &malformed);
    EXPECT_FALSE(malformed);
    EXPECT_EQ(header.cbSize, directory.size());
    ASSERT_EQ(header.Count, 6u);
    // Entry numbers run backwards through the block: entry 5 is the first one read forwards.
    for (uint32_t i = 0; i < 6; ++i) {
        const auto& item = shipped[5 - i];
        EXPECT_EQ(header.pFile[i].szFileName, item.name);
        EXPECT_EQ(header.pFile[i].Offset, item.offset) << i;
        EXPECT_EQ(header.pFile[i].Length, item.name.size());
        EXPECT_EQ(header.pFile[i].Size, item.size);
        if (item.size != 0) {
            EXPECT_EQ(payload[item.offset], item.name[0]) << i;
            EXPECT_EQ(payload[item.offset + item.size - 1], item.name[0]) << i;
        }
    }
}

TEST(PackageDirectory, CountZeroAndEmptyNames)
{
    EXPECT_EQ(buildPayload({}), (std::vector<uint8_t>{0, 0, 0, 0, 8, 0, 0, 0}));
    PackageHeader header = parse(buildPayload({}));
    EXPECT_EQ(header.Count, 0u);
    EXPECT_TRUE(header.pFile.empty());

    header = parse(buildPayload({{"", {1, 2, 3}}, {"a", {}}}));
    ASSERT_EQ(header.Count, 2u);
    EXPECT_EQ(header.pFile[1].szFileName, "");
    EXPECT_EQ(header.pFile[1].Size, 3u);
    EXPECT_EQ(header.pFile[0].szFileName, "a");
}

TEST(PackageDirectory, HostileCountersYieldAnEmptyTable)
{
    const auto good = buildPayload({{"one", {1}}, {"two", {2, 2}}});
    bool malformed = false;

    auto bigCount = good;
    testimages::put32(bigCount, bigCount.size() - 8, 0xFFFFFFFF);
    PackageHeader header = parse(bigCount, &malformed);
    EXPECT_TRUE(malformed);
    EXPECT_EQ(header.Count, 0u);
    EXPECT_TRUE(header.pFile.empty());

    // A name length that reaches one byte before the block's start.
    auto longName = good;
    const size_t firstLength = longName.size() - 8 - 12; // entry 0's Length field
    testimages::put32(longName, firstLength, uint32_t(longName.size() - 8 - 12 + 1));
    parse(longName, &malformed);
    EXPECT_TRUE(malformed);
    testimages::put32(longName, firstLength, uint32_t(longName.size() - 8 - 12));
    testimages::put32(longName, longName.size() - 8, 1);
    header = parse(longName, &malformed); // exactly to the start: still inside
    EXPECT_FALSE(malformed);
    ASSERT_EQ(header.Count, 1u);
    EXPECT_EQ(header.pFile[0].szFileName.size(), longName.size() - 20);

    for (uint32_t len = 0; len < 8; ++len) {
        header = parse(std::vector<uint8_t>(len, 0xFF), &malformed);
        EXPECT_TRUE(malformed);
        EXPECT_EQ(header.Count, 0u);
    }
}

// What kvpack packs and what the setup program accepts from a package, whoever built it: the same
// plain Windows file names, except that kvpack also keeps to printable ASCII.
TEST(PackageDirectory, ItemNamesMustBePlainWindowsFileNames)
{
    for (const char* ok :
         {"extaction.bin", "OrvaneKavariStart.exe", "orvanekavaristart.exe", "a b.txt", "CONSOLE.txt",
          "console.txt", "com", "LPT10", "lpt10", "CONIN", "clock", ".hidden", "x..y"}) {
        EXPECT_EQ(itemNameProblem(ok, true), "") << ok;
        EXPECT_TRUE(isPlainFileName(platform::utf8ToWide(ok))) << ok;
    }
    EXPECT_EQ(itemNameProblem(".", false), "");
    for (const char* bad :
         {"",           ".",       "..",     "..\\up.txt",  "a/b",         "a\\b",     "c:x",    "x:stream",
          "x.",         "x ",      "CON",    "nul.txt",     "Com1",        "lpt9.log", "com0",   "LPT0.txt",
          "aux .txt",   "CONIN$",  "conin$", "CONOUT$.log", "conout$.log", "Clock$",   "clock$", "tab\there",
          "line\nfeed", "del\x7f", "what?",  "star*",       "a<b",         "pipe|"}) {
        EXPECT_NE(itemNameProblem(bad, true), "") << bad;
        EXPECT_FALSE(isPlainFileName(platform::utf8ToWide(bad))) << bad;
    }
    // Not ASCII: installed when a package has it, never packed.
    EXPECT_NE(itemNameProblem("caf\xC3\xA9 \xC3\x91.json", true), "");
    EXPECT_TRUE(isPlainFileName(L"caf\u00e9 \u00d1.json"));
}
