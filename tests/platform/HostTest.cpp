// The host services on this build's system: what a read-only mapping accepts and refuses, how
// outputs are put in place, and paths.
#include "platform/Host.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

TEST(Host, MappedFilesAndOutputFilesAreRegularFilesAndNothingElseAndPathsJoin)
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
        {"nowhere/x", false, "no such file", 0},
    };
    for (const Case& c : cases) {
        platform::MappedFile opened;
        std::string problem;
        EXPECT_EQ(opened.open(folder.utf8(c.name), problem), c.opens) << c.name;
        EXPECT_EQ(problem, c.problem) << c.name;
        const platform::MappedFile file(std::move(opened)); // the view moves with its owner
        EXPECT_EQ(opened.data(), nullptr);
        EXPECT_EQ(file.size(), c.size) << c.name;
        if (c.size) {
            EXPECT_EQ(std::memcmp(file.data(), content.data(), content.size()), 0);
        }
    }

    // Outputs: whole files put in place, nothing else replaced.
    folder.write("old.bin", {1, 2, 3});
    struct Output {
        const char* name;
        platform::Existing existing;
        const char* problem; // at open; empty: the file ends up holding `content`
    } const outputs[] = {
        {u8"new \u00fc.bin", platform::Existing::refuse, ""},
        {"old.bin", platform::Existing::replace, ""},
        {"old.bin", platform::Existing::refuse, "already exists"},
        {"sub", platform::Existing::replace, "is a folder, not a file"},
        {"sub", platform::Existing::refuse, "is a folder, not a file"},
        {"missing/x.bin", platform::Existing::replace, "its folder does not exist"},
    };
    for (const Output& c : outputs) {
        const auto readIfFile = [&](const char* name) {
            return std::filesystem::is_regular_file(folder.file(name)) ? folder.read(name)
                                                                       : test_support::Bytes{};
        };
        const auto before = readIfFile(c.name);
        platform::OutputFile out;
        std::string problem;
        std::string checked;
        const bool writable = platform::OutputFile::check(folder.utf8(c.name), c.existing, checked);
        const bool opened = out.open(folder.utf8(c.name), c.existing, problem);
        if (std::string(c.name).find('/') == std::string::npos) { // a missing folder shows at creation
            EXPECT_EQ(writable, opened) << c.name << ": " << checked;
        }
        if (*c.problem != 0) {
            EXPECT_FALSE(opened) << c.name;
            EXPECT_EQ(problem, c.problem) << c.name;
            EXPECT_EQ(readIfFile(c.name), before) << c.name;
            continue;
        }
        ASSERT_TRUE(opened) << c.name << ": " << problem;
        ASSERT_TRUE(out.write(content.data(), content.size(), problem)) << problem;
        EXPECT_EQ(folder.read(c.name), before) << "nothing shows before the commit";
        ASSERT_TRUE(out.commit(problem)) << problem;
        EXPECT_EQ(folder.read(c.name), content) << c.name;
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder.file("sub")));

    // A name taken between open and commit is not replaced when replacing is refused.
    platform::OutputFile late;
    std::string problem;
    ASSERT_TRUE(late.open(folder.utf8("late.bin"), platform::Existing::refuse, problem));
    folder.write("late.bin", {7});
    EXPECT_FALSE(late.commit(problem));
    EXPECT_EQ(problem, "already exists");
    EXPECT_EQ(folder.read("late.bin"), test_support::Bytes{7});

    // Discarded output leaves nothing; a stale temporary of the same target goes, other files stay.
    const std::string stale = platform::OutputFile::temporaryName("old.bin", "0123456789abcdef");
    folder.write(stale, content);
    folder.write("old.bin.other.kvpack-part", {1});
    {
        platform::OutputFile discarded;
        ASSERT_TRUE(discarded.open(folder.utf8("old.bin"), platform::Existing::replace, problem)) << problem;
        ASSERT_TRUE(discarded.write(content.data(), 10, problem));
    }
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
        names.push_back(entry.path().filename().u8string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"empty", u8"file \u00fc.bin", "late.bin", u8"new \u00fc.bin",
                                               "old.bin", "old.bin.other.kvpack-part", "sub"}));

    // File names and joins.
    EXPECT_EQ(platform::fileNameOf("a/b/c.txt"), "c.txt");
    EXPECT_EQ(platform::fileNameOf("c.txt"), "c.txt");
    EXPECT_EQ(platform::fileNameOf("dir/"), "");
    EXPECT_EQ(platform::fileNameOf(u8"\u4e2d/caf\u00e9 x"), u8"caf\u00e9 x");
    EXPECT_EQ(platform::joinPath("dir/", "x"), "dir/x");
    EXPECT_EQ(platform::joinPath("", "x"), "x");
}
