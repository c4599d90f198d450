// The Win32 file mapping on real files: the cursor at the end, a file another process writes,
// an empty file that cannot be mapped, and the missing file's line (the image reader runs over
// it against real executables in the pefile comparison).
#include "peimage/win32/CFileMapping.h"

#include "tests/support/CaptureSink.h"
#include "platform/win32/Handle.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

using peimage::win32::CFileMapping;
using test_support::TempFolder;

TEST(CFileMapping, ReadsTheWholeFileEvenWhileAnotherWriterHoldsIt)
{
    TempFolder folder(u8"-\u00e9\u4e2d");
    folder.write(u8"ten \u00fc.bin", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    const std::wstring path = folder.wide(u8"ten \u00fc.bin");
    const platform::win32::UniqueFile writer(
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    rlxutil::ScopedCaptureSink capture;
    CFileMapping mapping;
    ASSERT_TRUE(mapping.open(path));
    EXPECT_EQ(mapping.size(), 10u);
    EXPECT_EQ(mapping.seek(0), 0u);
    EXPECT_EQ(mapping.seek(10), 0u);
    EXPECT_EQ(mapping.seek(9), 0u);
    uint8_t bytes[4] = {};
    uint32_t got = 0;
    EXPECT_EQ(mapping.read(bytes, 4, &got), 0u);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(bytes[0], 9);
    EXPECT_EQ(mapping.tell(), 10u);
    EXPECT_TRUE(capture.texts().empty());
    EXPECT_TRUE(mapping.close());
    got = 7;
    mapping.read(bytes, 4, &got);
    EXPECT_EQ(got, 7u);
}

TEST(CFileMapping, EmptyAndMissingFiles)
{
    TempFolder folder;
    folder.write("empty", {});
    rlxutil::ScopedCaptureSink capture;
    CFileMapping empty;
    // Opened, but the system maps no empty file: nothing to read, and seek and tell log.
    ASSERT_TRUE(empty.open(folder.wide("empty")));
    EXPECT_EQ(empty.view(), nullptr);
    uint32_t got = 3;
    uint8_t byte = 0;
    empty.read(&byte, 1, &got);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(empty.seek(0), 0u);
    EXPECT_EQ(empty.tell(), 0u);
    EXPECT_EQ(capture.texts(),
              (std::vector<std::string>{"Write file failed, not opened", "Write file failed, not opened"}));
    capture.sink().clear();

    CFileMapping missing;
    EXPECT_FALSE(missing.open(folder.wide("missing.dll")));
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].line, "CFileMapping::_Open, errorNo=2");
    EXPECT_EQ(lines[0].level, 1);
    EXPECT_EQ(lines[0].loggerName, "DPXUtil");
}
