// The host services on this build's system: what a read-only mapping accepts and refuses.
#include "platform/Host.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(MappedFile, MapsRegularFilesAndRefusesEverythingElseByName)
{
    test_support::TempFolder folder(u8" \u00e9\u4e2d");
    const test_support::Bytes content(70000, 0x5A);
    folder.write(u8"file \u00fc.bin", content);
    folder.write("empty", {});
    std::filesystem::create_directory(folder.file("sub"));

    struct Case {
        const char* name;
        bool opens;
        const char* problem;
        uint64_t size;
    } const cases[] = {
        {u8"file \u00fc.bin", true, "", content.size()},
        {"empty", true, "", 0},
        {"sub", false, "is a folder, not a file", 0},
        {"missing", false, "no such file", 0},
    };
    for (const Case& c : cases) {
        platform::MappedFile file;
        std::string problem;
        EXPECT_EQ(file.open(folder.utf8(c.name), problem), c.opens) << c.name;
        EXPECT_EQ(problem, c.problem) << c.name;
        EXPECT_EQ(file.size(), c.size) << c.name;
        if (c.size) {
            EXPECT_EQ(std::memcmp(file.data(), content.data(), content.size()), 0);
        }
    }

    platform::MappedFile first;
    std::string problem;
    ASSERT_TRUE(first.open(folder.utf8(u8"file \u00fc.bin"), problem));
    platform::MappedFile second(std::move(first));
    EXPECT_EQ(first.data(), nullptr);
    EXPECT_EQ(second.size(), content.size());
    EXPECT_EQ(second.data()[69999], 0x5A);
}
