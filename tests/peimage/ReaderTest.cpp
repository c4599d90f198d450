// The image reader on the test images built with a version resource of our own, and on images
// made to measure for every way an open or a query can go: exact log and trace lines, results.
#include "ImageBuilder.h"
#include "TraceCapture.h"
#include "logging/CaptureSink.h"
#include "logging/LogItem.h"
#include "peimage/HostMapping.h"
#include "peimage/VersionResource.h"
#include "peimage/Win6432PE.h"
#include "platform/TextConvert.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

using namespace peimage;
using namespace peimage_test;

namespace {

const std::string kImages = KV_TEST_IMAGES;

std::string utf8(const std::wstring& text)
{
    return platform::wideToUtf8(text);
}

const uint16_t kFile[4] = {10, 0, 19041, 1};
const uint16_t kProduct[4] = {7, 0, 2, 1};

Leaf versionLeaf(Bytes data, uint32_t language = 0x409)
{
    Leaf leaf;
    leaf.type = 16;
    leaf.language = language;
    leaf.data = std::move(data);
    return leaf;
}

} // namespace

TEST(Win6432PE, TestImagesOfBothWidths)
{
    struct Expect {
        const char* image;
        uint16_t machine;
        const char* machineLine;
        const char* fileVersion;
        const char* productVersion;
        std::vector<std::pair<const char*, const char*>> strings;
    };
    const Expect images[] = {
        {"version32.dll",
         kMachineI386,
         "I386",
         "1.2.3.4",
         "10.0.19041.1",
         {{"CompanyName", "Kavari Test Images"},
          {"companyNAME", "Kavari Test Images"},
          {"FileVersion", "1, 2, 3, 4"},
          {"ProductName", "Pr\xC3\xBC"
                          "fbild"},
          {"Empty", ""},
          {"Company", ""},
          {"CompanyNameX", ""}}},
        // Two languages: only the first in directory order (0x0407) counts.
        {"version64.dll",
         kMachineAmd64,
         "AMD64",
         "65535.0.19041.1",
         "7.0.2.1",
         {{"CompanyName", "Kavari Testbilder"},
          {"FileDescription", "Pr\xC3\xBC"
                              "fbild f\xC3\xBCr 64 Bit \xE2\x9C\x93"},
          {"LegalCopyright", "(C) nobody"}}},
    };
    for (const auto& e : images) {
        const std::wstring path = platform::utf8ToWide(kImages + "/" + e.image);
        rlxutil::ScopedCaptureSink capture;
        TraceCapture traces;
        CWin6432PE reader(HostFileMapping::make);
        ASSERT_TRUE(reader.open(path)) << e.image;
        EXPECT_EQ(reader.getMachineType(), e.machine);
        EXPECT_EQ(capture.texts(),
                  std::vector<std::string>{std::string("CWin6432PE::_OpenPE_Header, ") + e.machineLine +
                                           ", mOriginFile=" + rlxutil::maskedValue(path)});
        EXPECT_EQ(utf8(reader.getFileVersion()), e.fileVersion);
        EXPECT_EQ(utf8(reader.getProductVersion()), e.productVersion);
        for (const auto& [key, value] : e.strings)
            EXPECT_EQ(utf8(reader.getVersionString(platform::utf8ToWide(key))), value)
                << e.image << " " << key;
        EXPECT_TRUE(traces.lines().empty());

        // The walk in directory order: the named type first, then numbered types ascending.
        std::vector<std::string> walk;
        EXPECT_TRUE(reader.enumResources([&](ResourceItem* item) {
            walk.push_back(utf8(item->name) + " " + std::to_string(item->type) + "/" +
                           std::to_string(item->nameId) + "/" + std::to_string(item->language) + " level " +
                           std::to_string(item->level));
            return 1;
        }));
        std::vector<std::string> expected = {"SAMPLE 0/0/1033 level 3", "RT_RCDATA 10/7/1033 level 3"};
        if (e.machine == kMachineAmd64) {
            expected.push_back("RT_VERSION 16/1/1031 level 3");
            expected.push_back("RT_VERSION 16/1/1033 level 3");
        } else {
            expected.push_back("RT_VERSION 16/1/1033 level 3");
        }
        EXPECT_EQ(walk, expected) << e.image;
        EXPECT_TRUE(reader.close());
        EXPECT_EQ(reader.getFileVersion(), L""); // closed: nothing to read
    }
}

TEST(Win6432PE, OpenAndQueryOutcomes)
{
    ImageSpec plain;
    plain.leaves = {versionLeaf(versionBlock(kFile, kProduct, {{u"CompanyName", u"Kavari"}}))};
    ImageSpec notMz = plain;
    notMz.dosMagic = 0x4D5A;
    ImageSpec unknownMachine = plain;
    unknownMachine.machine = 0x01C4;
    ImageSpec noResources = plain;
    noResources.resourceDirectory = false;
    ImageSpec noSections = plain;
    noSections.section = false;
    ImageSpec wide = plain;
    wide.machine = kMachineAmd64;
    ImageSpec shortBlock = plain;
    shortBlock.leaves[0].data.resize(63);
    ImageSpec fixedOnly = plain;
    fixedOnly.leaves[0].data.resize(64);
    ImageSpec languages = plain;
    languages.leaves.push_back(versionLeaf(versionBlock({1, 1, 1, 1}, {1, 1, 1, 1}), 0x40C));
    ImageSpec noVersion = plain;
    noVersion.leaves[0].type = 24;

    Bytes badSignature = makeImage(plain);
    badSignature[kLfanew + 1] = 'X';
    Bytes farLfanew = makeImage(plain);
    platform::store32(farLfanew.data() + 60, uint32_t(farLfanew.size()));
    Bytes shortOptional = makeImage(plain);
    shortOptional.resize(kLfanew + 24 + 100);
    Bytes shortOptionalNoSections = shortOptional;
    shortOptionalNoSections[kLfanew + 6] = 0;
    Bytes shortTable = makeImage(plain);
    shortTable[kLfanew + 6] = 0xFF; // 0xFF sections: more than the file holds
    // The data entry (behind three directories of one entry each) claims more than the file holds.
    Bytes dataPastEnd = makeImage(plain);
    platform::store32(dataPastEnd.data() + kSectionAt + 3 * 24 + 4, 0x7FFFFFF0);

    const std::string i386 = "CWin6432PE::_OpenPE_Header, I386, mOriginFile=x.exe";
    struct Case {
        const char* what;
        Bytes image;
        bool opens;
        std::vector<std::string> lines;  // DPXUtil lines of open and getFileVersion
        std::vector<std::string> traces; // level 8 records
        const char* version;
    };
    const Case cases[] = {
        {"sound", makeImage(plain), true, {i386}, {}, "10.0.19041.1"},
        {"64-bit",
         makeImage(wide),
         true,
         {"CWin6432PE::_OpenPE_Header, AMD64, mOriginFile=x.exe"},
         {},
         "10.0.19041.1"},
        {"not MZ",
         makeImage(notMz),
         true,
         {"CWin6432PE::_OpenPE_Header, Unkown image signature, mDosHeader.e_magic=19802, mOriginFile=x.exe",
          i386},
         {},
         "10.0.19041.1"},
        {"unknown machine",
         makeImage(unknownMachine),
         true,
         {"CWin6432PE::_OpenPE_Header, mMachineType=452", "No IMAGE_RESOURCE_DIRECTORY"},
         {},
         ""},
        {"no resources", makeImage(noResources), true, {i386, "No IMAGE_RESOURCE_DIRECTORY"}, {}, ""},
        {"zero sections", makeImage(noSections), true, {i386}, {"8:failed to resolve RVA"}, ""},
        {"block below the fixed part", makeImage(shortBlock), true, {i386}, {}, ""},
        {"fixed part only", makeImage(fixedOnly), true, {i386}, {}, "10.0.19041.1"},
        {"first language wins", makeImage(languages), true, {i386}, {}, "10.0.19041.1"},
        {"no version resource", makeImage(noVersion), true, {i386}, {}, ""},
        {"data past the end", dataPastEnd, true, {i386}, {"8:Failed to read file"}, ""},
        {"empty file",
         {},
         false,
         {"_OpenPE_Header, Failed to open PE Header, mOriginFile=x.exe",
          "CWin6432PE>>open failed, filename=x.exe"},
         {"8:Failed to read DOS Header"},
         ""},
        {"bad signature",
         badSignature,
         false,
         {"_OpenPE_Header, Failed to open PE Header, mOriginFile=x.exe",
          "CWin6432PE>>open failed, filename=x.exe"},
         {"8:Invalid Signature"},
         ""},
        {"e_lfanew past the end",
         farLfanew,
         false,
         {"_OpenPE_Header, Failed to open PE Header, mOriginFile=x.exe",
          "CWin6432PE>>open failed, filename=x.exe"},
         {"8:Failed to read Signature"},
         ""},
        {"short optional header",
         shortOptional,
         false,
         {i386, "failed to open PE Sections, mOriginFile=x.exe", "CWin6432PE>>open failed, filename=x.exe"},
         {"8:Failed to read Optional Header", "8:Failed to Sections"},
         ""},
        {"short optional header, no sections",
         shortOptionalNoSections,
         true,
         {i386, "No IMAGE_RESOURCE_DIRECTORY"},
         {"8:Failed to read Optional Header"},
         ""},
        {"section table past the end",
         shortTable,
         false,
         {i386, "failed to open PE Sections, mOriginFile=x.exe", "CWin6432PE>>open failed, filename=x.exe"},
         {"8:Failed to Sections"},
         ""},
    };
    for (const auto& c : cases) {
        rlxutil::ScopedCaptureSink capture;
        TraceCapture traces;
        CWin6432PE reader(BufferMapping::maker(c.image.data(), c.image.size()));
        EXPECT_EQ(reader.open(L"x.exe"), c.opens) << c.what;
        EXPECT_EQ(utf8(reader.getFileVersion()), c.version) << c.what;
        EXPECT_EQ(capture.texts(), c.lines) << c.what;
        EXPECT_EQ(traces.lines(), c.traces) << c.what;
    }
}

TEST(Win6432PE, MissingFileAndEmptyPath)
{
    test_support::TempFolder folder;
    const std::wstring missing = folder.wide("missing.dll");
    rlxutil::ScopedCaptureSink capture;
    CWin6432PE reader(HostFileMapping::make);
    EXPECT_FALSE(reader.open(L""));
    EXPECT_TRUE(capture.texts().empty());
    EXPECT_FALSE(reader.open(missing));
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].line, "HostFileMapping::open, problem=no such file");
    EXPECT_EQ(lines[1].level, 3);
    EXPECT_EQ(lines[1].line, "CWin6432PE>>open failed, mOriginFile=" + rlxutil::maskedValue(missing));
    EXPECT_EQ(lines[2].level, 2);
    EXPECT_EQ(lines[2].line, "CWin6432PE>>open failed, filename=" + rlxutil::maskedValue(missing));
    EXPECT_EQ(lines[1].loggerName, "DPXUtil");
}

TEST(Win6432PE, HostileResourceTreesEndInsideTheFile)
{
    ImageSpec spec;
    spec.leaves = {versionLeaf(versionBlock(kFile, kProduct))};
    const Bytes sound = makeImage(spec);
    const uint32_t root = kSectionAt;
    const uint32_t typeDir = root + 16 + 8;

    // The type entry's subdirectory is the root itself: a loop.
    Bytes loop = sound;
    platform::store32(loop.data() + root + 16 + 4, 0x80000000u);
    // One directory of 65535 entries, every one pointing at itself: 65535^depth paths.
    Bytes fan(kSectionAt, 0);
    std::copy(sound.begin(), sound.begin() + kSectionAt, fan.begin());
    Bytes fanSection(16 + 8 * 65535, 0);
    put16(fanSection, 14, 0xFFFF);
    for (uint32_t i = 0; i < 0xFFFF; ++i) {
        put32(fanSection, 16 + 8 * i, 16);
        put32(fanSection, 16 + 8 * i + 4, 0x80000000u);
    }
    fan.insert(fan.end(), fanSection.begin(), fanSection.end());
    for (uint32_t at : {kLfanew + 24 + 96 + 16 + 4, kLfanew + 24 + 224 + 8, kLfanew + 24 + 224 + 16})
        platform::store32(fan.data() + at, uint32_t(fanSection.size()));
    // A named entry whose name runs past the end of the file.
    Bytes longName = sound;
    platform::store32(longName.data() + root + 16, 0x80000000u | uint32_t(longName.size() - root - 2));
    platform::store16(longName.data() + longName.size() - 2, 0x7FFF);
    // Entry counts that claim more than the file holds.
    Bytes manyEntries = sound;
    platform::store16(manyEntries.data() + typeDir + 14, 0xFFFF);
    // The resource directory's address lies outside every section.
    Bytes outside = sound;
    platform::store32(outside.data() + kLfanew + 24 + 96 + 16, 0x9000);

    struct Case {
        const char* what;
        const Bytes& image;
        std::vector<std::string> traces;
    };
    const Case cases[] = {
        {"loop", loop, {"8:CWin6432PE>>loadResourceDirectory, resource tree loops or is too deep"}},
        {"fan", fan, {"8:CWin6432PE>>loadResourceDirectory, resource tree loops or is too deep"}},
        {"long name", longName, {"8:Failed to read file"}},
        {"many entries", manyEntries, {"8:Failed to read file"}},
        {"outside", outside, {"8:failed to resolve RVA"}},
    };
    for (const auto& c : cases) {
        TraceCapture traces;
        CWin6432PE reader(BufferMapping::maker(c.image.data(), c.image.size()));
        ASSERT_TRUE(reader.open(L"x.exe")) << c.what;
        EXPECT_EQ(reader.getFileVersion(), L"") << c.what;
        EXPECT_EQ(traces.lines(), c.traces) << c.what;
    }
}

TEST(Win6432PE, ResourceNamesAreKeptTo255Units)
{
    ImageSpec spec;
    Leaf named;
    named.type = 10;
    named.name = std::u16string(300, u'n');
    named.name[0] = u'\u00e9';
    named.data = {1, 2, 3, 4};
    spec.leaves = {named};
    const Bytes image = makeImage(spec);
    CWin6432PE reader(BufferMapping::maker(image.data(), image.size()));
    ASSERT_TRUE(reader.open(L"x.exe"));
    TraceCapture traces;
    std::wstring seen;
    reader.enumResources([&](ResourceItem* item) {
        seen = item->name;
        return 1;
    });
    // The leaf of a standard type carries the type's name; the name is seen one level up.
    EXPECT_EQ(seen, L"RT_RCDATA");
    EXPECT_EQ(traces.lines(), std::vector<std::string>{});
    spec.leaves[0].type = 99;
    const Bytes custom = makeImage(spec);
    CWin6432PE other(BufferMapping::maker(custom.data(), custom.size()));
    ASSERT_TRUE(other.open(L"x.exe"));
    other.enumResources([&](ResourceItem* item) {
        seen = item->name;
        return 1;
    });
    EXPECT_EQ(seen.size(), 255u);
    EXPECT_EQ(seen[0], L'\u00e9');
}

TEST(VersionResource, StringWalkStaysInsideAndMatchesKeys)
{
    const Bytes block =
        versionBlock(kFile, kProduct,
                     {{u"CompanyName", u"Kavari"}, {u"Comments", u""}, {u"ProductName", u"Kavari \u00c4"}});
    ImageSpec spec;
    spec.leaves = {versionLeaf(block)};
    const Bytes image = makeImage(spec);
    CWin6432PE pe(BufferMapping::maker(image.data(), image.size()));
    ASSERT_TRUE(pe.open(L"x.exe"));
    EXPECT_EQ(pe.getVersionString(L"companyname"), L"Kavari");
    EXPECT_EQ(pe.getVersionString(L"PRODUCTNAME"), L"Kavari \u00c4");
    EXPECT_EQ(pe.getVersionString(L"Product"), L"");

    // Every shortening of the block gives the value or nothing, never a read past it.
    for (size_t size = 0; size <= block.size(); ++size) {
        const Bytes cut(block.begin(), block.begin() + size);
        const std::wstring value = versionString(cut.data(), uint32_t(cut.size()), L"CompanyName");
        EXPECT_TRUE(value.empty() || value == L"Kavari") << size;
    }
    // A key with no terminator within 1024 units counts as empty, and the walk still ends.
    const Bytes unterminated = versionBlock(kFile, kProduct, {{std::u16string(1100, u'k'), u"v"}});
    EXPECT_EQ(versionString(unterminated.data(), uint32_t(unterminated.size()), std::wstring(1100, L'k')),
              L"");
    const Bytes longest = versionBlock(kFile, kProduct, {{std::u16string(1023, u'k'), u"v"}});
    EXPECT_EQ(versionString(longest.data(), uint32_t(longest.size()), std::wstring(1023, L'K')), L"v");
}
