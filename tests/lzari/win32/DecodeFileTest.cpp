// LZARI::DecodeFile on real files: wide names, the exact console lines, and what it leaves behind.
#include "TestData.h"
#include "lzari/Codec.h"
#include "lzari/win32/LZARI.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using test_support::TempFolder;

TEST(LzariDecodeFile, WritesTheDecodedBytesAndProgressLines)
{
    TempFolder folder(u8"-\u00e9\u4e2d");
    folder.write(u8"in \u00fc.lz", {0xB8, 0x0B, 0, 0}); // 3000 zero bytes
    testing::internal::CaptureStdout();
    LZARI().DecodeFile(folder.wide(u8"in \u00fc.lz"), folder.wide(u8"out \u00fc.bin"));
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "           1\r        1025\r        2049\r        3000\n");
    EXPECT_EQ(folder.read(u8"out \u00fc.bin"), Bytes(3000, 0));
}

TEST(LzariDecodeFile, StreamsLargeFilesLikeTheMemoryDecoder)
{
    // Bigger than the file buffers on both sides; random bits, so matches, overshoot and a tail
    // past the end of the input all occur.
    Bytes stream = lzari_testdata::noise(150000, 9);
    stream[0] = 0x40;
    stream[1] = 0x0D;
    stream[2] = 0x03;
    stream[3] = 0;
    TempFolder folder(u8"-\u00e9\u4e2d");
    folder.write(u8"in", stream);
    testing::internal::CaptureStdout();
    LZARI decoder;
    decoder.DecodeFile(folder.wide(u8"in"), folder.wide(u8"out"));
    // One object may decode again and starts afresh.
    decoder.DecodeFile(folder.wide(u8"in"), folder.wide(u8"again"));
    const std::string console = testing::internal::GetCapturedStdout();
    const Bytes expected = lzari::decode(stream.data(), stream.size(), 1 << 20);
    EXPECT_EQ(folder.read(u8"out"), expected);
    EXPECT_EQ(folder.read(u8"again"), expected);
    EXPECT_EQ(console.substr(console.size() - 13), "      " + std::to_string(expected.size()) + "\n");
}

TEST(LzariDecodeFile, EmptyLengthWritesAnEmptyFileAndNoLine)
{
    TempFolder folder(u8"-\u00e9\u4e2d");
    folder.write(u8"in", {0, 0, 0, 0, 0xAA});
    testing::internal::CaptureStdout();
    LZARI().DecodeFile(folder.wide(u8"in"), folder.wide(u8"out"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(fs::exists(folder.file("out")));
    EXPECT_EQ(fs::file_size(folder.file("out")), 0u);
}

TEST(LzariDecodeFile, ShortFileIsTheReadError)
{
    TempFolder folder(u8"-\u00e9\u4e2d");
    folder.write(u8"in", {1, 0, 0});
    testing::internal::CaptureStdout();
    int code = 0;
    try {
        LZARI().DecodeFile(folder.wide(u8"in"), folder.wide(u8"out"));
    } catch (const lzari::ReadError& error) {
        code = error.code();
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nRead Error\n");
    EXPECT_EQ(code, 1);
    EXPECT_EQ(fs::file_size(folder.file("out")), 0u);
}

TEST(LzariDecodeFile, UnopenableFilesDecodeNothing)
{
    TempFolder folder(u8"-\u00e9\u4e2d");
    folder.write(u8"in", {5, 0, 0, 0});
    testing::internal::CaptureStdout();
    LZARI().DecodeFile(folder.wide(u8"missing"), folder.wide(u8"out"));
    LZARI().DecodeFile(folder.wide(u8"in"), folder.wide(u8"no such folder/out"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(fs::exists(folder.file("out")));
}
