// The portable host utilities: path joins and comparisons, registry string data, name lists and
// interface ids, each as one table.
#include "hostutil/Guid.h"
#include "hostutil/PathUtil.h"
#include "hostutil/SystemText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace hostutil;

TEST(HostUtilText, CombinePathAddsOneSeparator)
{
    struct Case {
        std::wstring folder, name;
        wchar_t separator;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"C:\\a", L"b", L'\\', L"C:\\a\\b"},
        {L"C:\\a\\", L"b", L'\\', L"C:\\a\\b"},
        {L"", L"b", L'\\', L"b"},
        {L"C:\\a", L"", L'\\', L"C:\\a\\"},
        {L"C:\\a\\", L"Plugins\\", L'\\', L"C:\\a\\Plugins\\"},
        // Only the given separator counts: profiles.ini paths keep their forward slashes.
        {L"C:/a/", L"b", L'\\', L"C:/a/\\b"},
        {L"a/b", L"c", L'/', L"a/b/c"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CombinePath(c.folder, c.name, c.separator), c.expected);
}

TEST(HostUtilText, SamePathFoldsAsciiCaseAndOneTrailingBackslash)
{
    struct Case {
        std::wstring path1, path2;
        bool same;
    };
    const Case cases[] = {
        {L"C:\\X\\Plugin.DLL", L"c:\\x\\plugin.dll", true},
        {L"C:\\x\\", L"C:\\x", true},
        {L"C:\\x\\\\", L"C:\\x", false},
        {L"", L"", false},
        {L"C:\\x", L"", false},
        {L"C:/x", L"C:\\x", false},
        // Letters beyond A to Z keep their case.
        {L"C:\\\u00C4", L"C:\\\u00E4", false},
        {L"C:\\a.dll", L"C:\\b.dll", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SamePath(c.path1, c.path2), c.same) << c.path1.size() << " " << c.path2.size();
}

TEST(HostUtilText, RegistryTextEndsAtNullOrData)
{
    struct Case {
        std::vector<uint8_t> data;
        std::u16string expected;
    };
    const Case cases[] = {
        {{}, u""},
        {{'a', 0, 'b', 0, 0, 0}, u"ab"},
        {{'a', 0, 'b', 0}, u"ab"},            // no terminator stored
        {{'a', 0, 'b'}, u"a"},                // half a unit
        {{'a', 0, 0, 0, 'c', 0, 0, 0}, u"a"}, // a multi-string's first string
        {{0x3d, 0xd8, 0x00, 0xde}, u"\U0001F600"},
        {{0xAC, 0x20}, u"\u20AC"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(registryText(c.data.data(), c.data.size()), c.expected);
}

TEST(HostUtilText, SplitNullListReadsEveryName)
{
    using Names = std::vector<std::wstring>;
    EXPECT_EQ(splitNullList(std::wstring_view(L"General\0Profile0\0Profile1\0\0", 27)),
              (Names{L"General", L"Profile0", L"Profile1"}));
    EXPECT_EQ(splitNullList(std::wstring_view(L"a\0b", 3)), (Names{L"a", L"b"}));
    EXPECT_EQ(splitNullList(std::wstring_view(L"a\0\0b\0", 5)), (Names{L"a"}));
    EXPECT_EQ(splitNullList(std::wstring_view(L"\0a\0", 3)), Names{});
    EXPECT_EQ(splitNullList({}), Names{});
}

TEST(HostUtilText, ParseGuidTakesOnlyTheExactForm)
{
    Guid guid;
    ASSERT_TRUE(ParseGuid("E9C9AB29-B0BE-4D77-AFC4-1D051BB783F5", guid));
    EXPECT_EQ(guid.data1, 0xE9C9AB29u);
    EXPECT_EQ(guid.data2, 0xB0BE);
    EXPECT_EQ(guid.data3, 0x4D77);
    EXPECT_EQ(guid.data4, (std::array<uint8_t, 8>{0xAF, 0xC4, 0x1D, 0x05, 0x1B, 0xB7, 0x83, 0xF5}));
    Guid lower;
    ASSERT_TRUE(ParseGuid("e9c9ab29-b0be-4d77-afc4-1d051bb783f5", lower));
    EXPECT_EQ(lower, guid);

    const Guid untouched = guid;
    for (const char* bad :
         {"", "E9C9AB29-B0BE-4D77-AFC4-1D051BB783F", "{E9C9AB29-B0BE-4D77-AFC4-1D051BB783F5}",
          "E9C9AB29-B0BE-4D77-AFC41-D051BB783F5", "E9C9AB2G-B0BE-4D77-AFC4-1D051BB783F5",
          "+9C9AB29-B0BE-4D77-AFC4-1D051BB783F5", "E9C9AB29-B0BE-4D77-AFC4-1D051BB783F5 "}) {
        EXPECT_FALSE(ParseGuid(bad, guid)) << bad;
        EXPECT_EQ(guid, untouched);
    }
}
