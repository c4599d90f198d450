// kvpack's core end to end: installers it builds read back as the setup program reads them, and
// damaged or hostile installers are refused with the check that failed.
#include "tests/kvpack/Installers.h"
#include "tools/kvpack/Build.h"
#include "tools/kvpack/Installer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

using namespace kvpack;
using kvpack_test::installerOf;
using kvpack_test::installerOfPayload;
using setup::PackageItem;
using testing::HasSubstr;

namespace {

const auto stub = [] { return testimages::makeImage({}); };

std::vector<PackageItem> sampleItems()
{
    std::mt19937 rng(3);
    std::vector<uint8_t> program(150000);
    for (size_t i = 0; i < program.size(); ++i) // code-like: short repeats among noise
        program[i] = (i % 64 < 40) ? uint8_t(i * 13 % 251) : uint8_t(rng() % 16);
    return {{"extaction.bin", testimages::bytesOf("[general]\r\ninstallpath=%LOCALAPPDATA%\\Kavari\r\n")},
            {"OrvaneKavariStart.exe", program},
            {"chrome.json", testimages::bytesOf("{\"name\": \"kavari\"}")},
            {".", {}}};
}

std::vector<uint8_t> built(const std::vector<PackageItem>& items = sampleItems(), BuildOptions options = {})
{
    const BuildResult result = buildInstaller(stub(), items, options);
    EXPECT_EQ(result.problem, "");
    return result.installer;
}

} // namespace

TEST(KvpackBuild, RefusesStubsTheSetupProgramCannotCarryAPackageIn)
{
    const auto items = sampleItems();
    auto withTail = stub();
    withTail.insert(withTail.end(), 100, 0x55); // a symbol table, say
    auto cut = stub();
    cut.pop_back();
    // A 64-bit stub only for tests, and only when the setup program's search, which then starts
    // inside the image, can meet no magic before the package.
    auto pe64 = testimages::makeImage({0x80, 240, 512, {0x200}});
    pe64.resize(0x600);
    // An installer is a stub with an earlier package: replaced only when asked to.
    const auto earlier = built({{"old.txt", testimages::bytesOf("old")}});
    const std::pair<const std::vector<uint8_t>*, const char*> refusals[] = {
        {&withTail, "100 bytes behind its image end"},
        {&cut, "beyond its"},
        {&pe64, "not a 32-bit"},
        {&earlier, "--replace"}};
    for (const auto& [refused, problem] : refusals)
        EXPECT_THAT(buildInstaller(*refused, items, {}).problem, HasSubstr(problem));

    BuildOptions forTests;
    forTests.testStub = true;
    BuildResult result = buildInstaller(pe64, items, forTests);
    ASSERT_EQ(result.problem, "");
    const InstallerReport report = inspectInstaller(result.installer, true);
    EXPECT_TRUE(report.ok()) << report.problem;
    EXPECT_EQ(report.package.magicOffset, pe64.size());
    std::copy_n("MIP!", 4, pe64.begin() + 0x300);
    EXPECT_THAT(buildInstaller(pe64, items, forTests).problem, HasSubstr("holds the package magic"));

    result = buildInstaller(earlier, items, {true, false, false});
    ASSERT_EQ(result.problem, "");
    EXPECT_EQ(result.installer, built(items));
}

TEST(KvpackVerify, FoundPastASignatureAndNotWhereTheMagicIsDamaged)
{
    // Items, their order and their bodies are read back through the program (KvpackCliTest);
    // damage behind the magic meets the setup program's own package checks (its ReadPackage tests).
    auto installer = built();
    const size_t package = testimages::expectedEnd({});
    auto flipped = installer;
    flipped[package + 1] = 'X'; // the magic
    EXPECT_THAT(inspectInstaller(flipped, true).problem, HasSubstr("no package"));

    installer.insert(installer.end(), 2048, 0x30); // a signature behind the package
    const InstallerReport report = inspectInstaller(installer, true);
    ASSERT_TRUE(report.ok()) << report.problem;
    EXPECT_TRUE(report.warnings.empty());
    EXPECT_EQ(report.package.magicOffset, package);
    EXPECT_EQ(report.directory.Count, sampleItems().size());
}

TEST(KvpackVerify, HostileContentAndImplausibleLengthsBehindAGoodCrcAreRefusedWithTheFigures)
{
    // A package is only as trustworthy as whoever built it: a valid CRC over a hostile stream.
    const auto inspectPayload = [](const std::vector<uint8_t>& payload) {
        return inspectInstaller(installerOfPayload(payload), true).problem;
    };
    const auto payload = setup::buildPayload({{"a.txt", {1, 2, 3}}});
    EXPECT_EQ(inspectPayload(payload), "");

    const std::pair<size_t, const char*> damage[] = {
        {12, "outside the payload"}, // the body's offset
        {8, "malformed"},            // Count
        {4, "directory size"},       // cbSize, as the setup program reads it
    };
    for (const auto& [fromEnd, problem] : damage) {
        auto hostile = payload;
        testimages::put32(hostile, hostile.size() - fromEnd, fromEnd == 4 ? 0xFFFFFFFF : 0x10000);
        EXPECT_NE(inspectPayload(hostile).find(problem), std::string::npos) << problem;
    }
    EXPECT_NE(inspectPayload(setup::buildPayload({{"..", {1}}})).find("not a file name"), std::string::npos);
    EXPECT_NE(inspectPayload({}).find("no directory size"), std::string::npos);

    const std::vector<PackageItem> items{{"a.txt", std::vector<uint8_t>(100000, 'a')}, {"b.bin", {1, 2, 3}}};
    const auto honest = inspectInstaller(installerOf(items), true);
    ASSERT_TRUE(honest.ok()) << honest.problem;
    const uint64_t streamSize = honest.package.data.size();
    const uint64_t plausible = lzari::plausibleTextSize(streamSize);
    for (const uint64_t claimed : {uint64_t{0xFFFFFFFF}, uint64_t{256} << 20, plausible + 1}) {
        const auto report = inspectInstaller(installerOf(items, uint32_t(claimed)), true);
        EXPECT_EQ(report.problem, "stream announces " + std::to_string(claimed) + " bytes, implausible for " +
                                      std::to_string(streamSize) + " compressed bytes (at most " +
                                      std::to_string(plausible) + ")");
        EXPECT_TRUE(report.payload.empty()); // refused before a byte is decoded
    }
    // Up to the bound the stream is decoded; what its 1-bits then say fails a later check.
    EXPECT_NE(
        inspectInstaller(installerOf(items, uint32_t(plausible)), true).problem.find("stream announces"), 0u);
}

TEST(KvpackBuild, BadNamesAndNamesThatWouldInstallOntoOneFileAreRefusedOrWarnedAbout)
{
    struct Case {
        std::vector<PackageItem> items;
        const char* clash; // empty: none
    } const cases[] = {
        {{{"a.txt", {1}}, {"b.txt", {2}}}, ""},
        {{{"a.txt", {1}}, {"a.txt", {2}}}, "item \"a.txt\" appears twice"},
        {{{"Setup.ini", {1}}, {"x", {2}}, {"SETUP.INI", {3}}},
         "items \"Setup.ini\" and \"SETUP.INI\" differ only in case"},
        {{{"a.txt", {}}, {"A.TXT", {1}}}, ""}, // an item without a body installs no file
    };
    for (const Case& c : cases) {
        const BuildResult result = buildInstaller(stub(), c.items, {});
        const InstallerReport report = inspectInstaller(installerOf(c.items), true);
        ASSERT_TRUE(report.ok()) << report.problem;
        if (*c.clash == 0) {
            EXPECT_EQ(result.problem, "");
            EXPECT_TRUE(report.warnings.empty());
            continue;
        }
        EXPECT_EQ(result.problem,
                  std::string(c.clash) + ": the setup program would install both onto one file");
        ASSERT_EQ(report.warnings.size(), 1u);
        EXPECT_EQ(report.warnings[0],
                  std::string(c.clash) + ": the setup program installs both onto one file");
    }

    for (const char* bad : {"..\\evil.dll", ".", "LPT1.txt"})
        EXPECT_NE(buildInstaller(stub(), {{bad, {1}}}, {}).problem, "") << bad;

    const BuildResult late = buildInstaller(stub(), {{"a.txt", {1}}, {"Extaction.bin", {2}}}, {});
    EXPECT_EQ(late.problem, "");
    ASSERT_EQ(late.warnings.size(), 1u);
    EXPECT_NE(late.warnings[0].find("not the first item"), std::string::npos);
    const InstallerReport report = inspectInstaller(late.installer, true);
    ASSERT_TRUE(report.ok());
    EXPECT_EQ(report.warnings.size(), 1u);
}
