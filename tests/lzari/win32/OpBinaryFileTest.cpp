// COpBinaryFile on real files: what reaches the disk, and what an object in each state does.
#include "lzari/win32/OpBinaryFile.h"

#include "platform/win32/Windows.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using test_support::TempFolder;

TEST(OpBinaryFile, WritesClosesAndRefusesWhatItCannotDoAndClosesAtItsEnd)
{
    TempFolder folder(u8" \u00e9\u4e2d");
    const Bytes body = {'M', 'Z', 0, 1, 2, 0xFF};
    const std::wstring path = folder.wide(u8"npkvdpx \u00fc.dll");

    COpBinaryFile file;
    EXPECT_FALSE(file.Open(path, L""));
    EXPECT_FALSE(file.Open(L"", L"wb"));
    EXPECT_FALSE(file.Write(body.data(), body.size()));
    EXPECT_FALSE(fs::exists(folder.file(u8"npkvdpx \u00fc.dll")));
    EXPECT_TRUE(file.Path().empty());

    ASSERT_TRUE(file.Open(path, L"wb"));
    EXPECT_EQ(file.Path(), path);
    EXPECT_TRUE(file.Write(body.data(), body.size()));
    EXPECT_TRUE(file.Close());
    EXPECT_TRUE(file.Close());
    EXPECT_FALSE(file.Write(body.data(), body.size()));
    EXPECT_EQ(folder.read(u8"npkvdpx \u00fc.dll"), body);

    // A stream that cannot take bytes says so.
    ASSERT_TRUE(file.Open(path, L"rb"));
    EXPECT_FALSE(file.Write(body.data(), body.size()));

    // Opening again closes the earlier stream, so its bytes reach the disk.
    ASSERT_TRUE(file.Open(folder.wide("first"), L"wb"));
    EXPECT_TRUE(file.Write(body.data(), 2));
    ASSERT_TRUE(file.Open(folder.wide("second"), L"wb"));
    EXPECT_EQ(folder.read("first"), Bytes(body.begin(), body.begin() + 2));

    // A failed open keeps the last good path and leaves the system's reason.
    EXPECT_FALSE(file.Open(folder.wide("no such folder/x"), L"wb"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.Path(), folder.wide("second"));

    // The destructor closes the stream: its bytes are on disk, and the file can be deleted.
    {
        COpBinaryFile item;
        ASSERT_TRUE(item.Open(folder.wide("item"), L"wb"));
        item.Write("abc", 3);
    }
    EXPECT_EQ(folder.read("item"), (Bytes{'a', 'b', 'c'}));
    EXPECT_TRUE(fs::remove(folder.file("item")));
}
