// The image reader on the test images built with version resources of our own, and on copies
// patched for every way an open or a query can go: exact log and trace lines, results.
#include "tests/support/CaptureSink.h"
#include "logging/LogItem.h"
#include "peimage/HostMapping.h"
#include "peimage/Win6432PE.h"
#include "platform/Bytes.h"
#include "platform/TextConvert.h"
#include "tests/support/TempFolder.h"
#include "trace/DirectTrace.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>

using namespace peimage;
using platform::wideToUtf8;
using Bytes = std::vector<uint8_t>;

namespace {

const std::string kImages = KV_TEST_IMAGES;

Bytes readImage(const std::string& name)
{
    std::ifstream in(kImages + "/" + name, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The records written straight to the trace, as "level:text", while one object lives.
struct TraceCapture {
    static inline std::vector<std::string> lines;
    const trace::DirectWriter previous =
        trace::setDirectWriter([](uint32_t level, std::string_view, std::string_view text) {
            lines.push_back(std::to_string(level) + ":" + std::string(text));
        });
    TraceCapture() { lines.clear(); }
    ~TraceCapture() { trace::setDirectWriter(previous); }
};

} // namespace

TEST(Win6432PE, PatchedAndWholeTestImagesAndMissingFilesOpenOrFailWithTheirLines)
{
    // Where things are in the 32-bit test image, as its own headers say.
    const Bytes sound = readImage("version32.dll");
    const uint32_t nt = platform::load32(sound.data() + 60);
    const uint32_t resourceRva = nt + 24 + 96 + 16;
    uint32_t base = 0, versionEntry = 0;
    {
        CWin6432PE reader(BufferMapping::maker(sound.data(), sound.size()));
        ASSERT_TRUE(reader.open(L"x.exe"));
        reader.enumResources([&](ResourceItem* item) {
            base = item->baseOffset;
            versionEntry = item->type == 16 ? item->entryOffset : versionEntry;
            return 1;
        });
    }
    const auto subdirectory = [&](uint32_t entryAt) {
        return base + (platform::load32(sound.data() + entryAt + 4) & 0x7FFFFFFF);
    };
    const uint32_t versionTypeDir = subdirectory(base + 16 + 8 * 2); // KVDATA, RCDATA, VERSION
    const uint32_t sampleName =
        base + (platform::load32(sound.data() + subdirectory(base + 16) + 16) & 0x7FFFFFFF);

    using Patch = std::function<void(Bytes&)>;
    const auto set16 = [](uint32_t at, uint16_t v) -> Patch {
        return [=](Bytes& b) { platform::store16(b.data() + at, v); };
    };
    const auto set32 = [](uint32_t at, uint32_t v) -> Patch {
        return [=](Bytes& b) { platform::store32(b.data() + at, v); };
    };
    const auto cut = [](size_t size) -> Patch { return [=](Bytes& b) { b.resize(size); }; };
    const Patch fan = [&](Bytes& b) {
        // The root with as many entries as the file holds, each leading back to the root.
        const uint32_t n = uint32_t(b.size() - base - 16) / 8;
        platform::store16(b.data() + base + 12, 0);
        platform::store16(b.data() + base + 14, uint16_t(n));
        for (uint32_t i = 0; i < n; ++i) {
            platform::store32(b.data() + base + 16 + 8 * i, 16);
            platform::store32(b.data() + base + 20 + 8 * i, 0x80000000u);
        }
    };

    const std::string i386 = "CWin6432PE::_OpenPE_Header, I386, mOriginFile=x.exe";
    const std::string notMz =
        "CWin6432PE::_OpenPE_Header, Unkown image signature, mDosHeader.e_magic=19802, mOriginFile=x.exe";
    const std::string unknownMachine = "CWin6432PE::_OpenPE_Header, mMachineType=452";
    const std::string openFailed = "CWin6432PE>>open failed, filename=x.exe";
    const std::string noHeader = "_OpenPE_Header, Failed to open PE Header, mOriginFile=x.exe";
    const std::vector<std::string> headerFailed = {noHeader, openFailed};
    const std::vector<std::string> sectionsFailed = {i386, "failed to open PE Sections, mOriginFile=x.exe",
                                                     openFailed};
    const std::string noDirectory = "No IMAGE_RESOURCE_DIRECTORY";
    const std::string loops = "8:CWin6432PE>>loadResourceDirectory, resource tree loops or is too deep";
    const std::string rva = "8:failed to resolve RVA", past = "8:Failed to read file";
    const std::string signature = "8:Invalid Signature", sections = "8:Failed to Sections";
    struct Case {
        const char* what;
        Patch patch;
        bool opens;
        std::vector<std::string> lines;  // DPXUtil lines of open and getFileVersion
        std::vector<std::string> traces; // records straight to the trace
        const char* version;
    };
    // clang-format off
    const Case cases[] = {
        {"sound", [](Bytes&) {}, true, {i386}, {}, "1.2.3.4"},
        {"not MZ", set16(0, 0x4D5A), true, {notMz, i386}, {}, "1.2.3.4"},
        {"unknown machine", set16(nt + 4, 0x01C4), true, {unknownMachine, noDirectory}, {}, ""},
        {"no resources", set32(resourceRva, 0), true, {i386, noDirectory}, {}, ""},
        {"zero sections", set16(nt + 6, 0), true, {i386}, {rva}, ""},
        {"resources outside every section", set32(resourceRva, 0x900000), true, {i386}, {rva}, ""},
        {"version block below the fixed part", set32(versionEntry + 4, 63), true, {i386}, {}, ""},
        {"fixed part only", set32(versionEntry + 4, 64), true, {i386}, {}, "1.2.3.4"},
        {"version data past the end", set32(versionEntry + 4, 0x7FFFFFF0), true, {i386}, {past}, ""},
        {"entries past the end", set16(versionTypeDir + 14, 0xFFFF), true, {i386}, {past}, ""},
        // A name that fails ends its own directory only.
        {"name past the end", set16(sampleName, 0x7FFF), true, {i386}, {past}, "1.2.3.4"},
        {"subdirectory is the root", set32(base + 16 + 4, 0x80000000u), true, {i386}, {loops}, ""},
        {"every entry leads to the root", fan, true, {i386}, {loops}, ""},
        {"empty file", cut(0), false, {"Write file failed, not opened", noHeader, openFailed},
         {"8:Failed to read DOS Header"}, ""},
        {"bad signature", set16(nt, 0x5850), false, headerFailed, {signature}, ""},
        {"e_lfanew past the end", set32(60, uint32_t(sound.size())), false, headerFailed, {signature}, ""},
        {"short file header", cut(nt + 10), false, headerFailed, {"8:Failed to read File Header"}, ""},
        {"short optional header", cut(nt + 24 + 100), false, sectionsFailed,
         {"8:Failed to read Optional Header", sections}, ""},
        {"section table past the end", set16(nt + 6, 0xFF), false, sectionsFailed, {sections}, ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        Bytes image = sound;
        c.patch(image);
        rlxutil::ScopedCaptureSink capture;
        TraceCapture traces;
        CWin6432PE reader(BufferMapping::maker(image.data(), image.size()));
        EXPECT_EQ(reader.open(L"x.exe"), c.opens) << c.what;
        EXPECT_EQ(wideToUtf8(reader.getFileVersion()), c.version) << c.what;
        EXPECT_EQ(capture.texts(), c.lines) << c.what;
        EXPECT_EQ(traces.lines, c.traces) << c.what;
    }

    // A name longer than 255 units keeps its first 255.
    Bytes longName = sound;
    platform::store16(longName.data() + sampleName, 300);
    ASSERT_LE(sampleName + 2 + 600u, longName.size());
    CWin6432PE cutName(BufferMapping::maker(longName.data(), longName.size()));
    ASSERT_TRUE(cutName.open(L"x.exe"));
    std::wstring first;
    cutName.enumResources([&](ResourceItem* item) {
        first = item->name;
        return 0;
    });
    EXPECT_EQ(first.substr(0, 6), L"SAMPLE");
    EXPECT_EQ(first.size(), 255u);

    struct Expect {
        const char* image;
        const char* machine;
        std::vector<std::pair<const char*, const char*>> strings;
        const char* lastLanguages;
    };
    // Machines and fixed versions of these images: the file version and kvpack item tests.
    // clang-format off
    const Expect images[] = {
        // "Empty" has an empty value: the key after it must still be found.
        {"version32.dll", "I386",
         {{"CompanyName", "Kavari Test Images"}, {"companyNAME", "Kavari Test Images"}, {"Empty", ""},
          {"ProductName", "Pr\xC3\xBC" "fbild"}, {"Company", ""}, {"CompanyNameX", ""}},
         "RT_VERSION 16/1/1033"},
        // Two languages: only the first in directory order (German) counts.
        {"version64.dll", "AMD64",
         {{"CompanyName", "Kavari Testbilder"},
          {"FileDescription", "Pr\xC3\xBC" "fbild f\xC3\xBCr 64 Bit \xE2\x9C\x93"}},
         "RT_VERSION 16/1/1031 RT_VERSION 16/1/1033"},
    };
    // clang-format on
    for (const auto& e : images) {
        const std::wstring path = platform::utf8ToWide(kImages + "/" + e.image);
        rlxutil::ScopedCaptureSink capture;
        TraceCapture traces;
        CWin6432PE reader(HostFileMapping::make);
        ASSERT_TRUE(reader.open(path)) << e.image;
        EXPECT_EQ(capture.texts(),
                  std::vector<std::string>{std::string("CWin6432PE::_OpenPE_Header, ") + e.machine +
                                           ", mOriginFile=" + rlxutil::maskedValue(path)});
        for (const auto& [key, value] : e.strings)
            EXPECT_EQ(wideToUtf8(reader.getVersionString(platform::utf8ToWide(key))), value)
                << e.image << " " << key;
        EXPECT_TRUE(traces.lines.empty());

        // Directory order: the named type first, then numbered types ascending.
        std::string walk;
        EXPECT_TRUE(reader.enumResources([&](ResourceItem* item) {
            walk += wideToUtf8(item->name) + " " + std::to_string(item->type) + "/" +
                    std::to_string(item->nameId) + "/" + std::to_string(item->language) +
                    (item->level == 3 ? " " : " wrong level ");
            return 1;
        }));
        EXPECT_EQ(walk, std::string("SAMPLE 0/0/1033 RT_RCDATA 10/7/1033 ") + e.lastLanguages + " ");
        EXPECT_TRUE(reader.close());
        EXPECT_EQ(reader.getFileVersion(), L"");
    }

    test_support::TempFolder folder;
    const std::wstring missing = folder.wide("missing.dll");
    rlxutil::ScopedCaptureSink capture;
    CWin6432PE reader(HostFileMapping::make);
    EXPECT_FALSE(reader.open(L""));
    EXPECT_TRUE(capture.texts().empty());
    EXPECT_FALSE(reader.open(missing));
    const std::string masked = rlxutil::maskedValue(missing);
    EXPECT_EQ(capture.lines(), (std::vector<rlxutil::CapturedLine>{
                                   {1, "DPXUtil", "HostFileMapping::open, problem=no such file"},
                                   {3, "DPXUtil", "CWin6432PE>>open failed, mOriginFile=" + masked},
                                   {2, "DPXUtil", "CWin6432PE>>open failed, filename=" + masked}}));
}
