// What list and verify say about packaged executable images: machine and versions of each image
// item, nothing for other items, including one that merely starts like an image.
#include "tools/kvpack/ItemInfo.h"

#include "tests/setup/TestImages.h"
#include "tools/kvpack/Build.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace kvpack;

namespace {

std::vector<uint8_t> testImage(const char* name)
{
    std::ifstream in(std::string(KV_SOURCE_DIR) + "/tests/peimage/images/" + name, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

TEST(KvpackItemInfo, NamesImagesWithTheirVersions)
{
    const std::vector<setup::PackageItem> items = {
        {"extaction.bin", testimages::bytesOf("[general]\r\n")},
        {"OrvaneKavariStart.exe", testImage("version32.dll")},
        {"helper64.dll", testImage("version64.dll")},
        {"lookalike.exe", testimages::bytesOf("MZ but nothing else")},
        {".", {}}};
    const BuildResult built = buildInstaller(testimages::makeImage({}), items, {});
    ASSERT_EQ(built.problem, "");
    const InstallerReport report = inspectInstaller(built.installer, true);
    ASSERT_TRUE(report.ok()) << report.problem;

    std::vector<std::string> notes;
    for (uint32_t i : processingOrder(report.directory))
        notes.push_back(itemImageNote(report, i));
    EXPECT_EQ(notes, (std::vector<std::string>{
                         "", "  [PE32 i386, file version 1.2.3.4, product version 10.0.19041.1]",
                         "  [PE32+ x64, file version 65535.0.19041.1, product version 7.0.2.1]", "", ""}));
    EXPECT_EQ(
        imageLines(report),
        (std::vector<std::string>{
            "image OrvaneKavariStart.exe: PE32 i386, file version 1.2.3.4, product version 10.0.19041.1",
            "image helper64.dll: PE32+ x64, file version 65535.0.19041.1, product version 7.0.2.1"}));

    // An image without a version resource, and an installer without images.
    EXPECT_EQ(imageSummary(describeImage(testimages::makeImage({}).data(), testimages::makeImage({}).size())),
              "PE32 i386, no file version");
    const BuildResult plain = buildInstaller(testimages::makeImage({}), {items[0], items[3]}, {});
    EXPECT_EQ(imageLines(inspectInstaller(plain.installer, true)),
              std::vector<std::string>{"no item is an executable image"});
}
