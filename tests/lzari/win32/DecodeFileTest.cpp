// LZARI::DecodeFile on real files: wide names, the exact console lines, and what it leaves behind.
#include "TestData.h"
#include "lzari/Codec.h"
#include "lzari/win32/LZARI.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

// A folder whose name holds other scripts, with `in` holding the stream.
struct DecodeFolder : test_support::TempFolder {
    explicit DecodeFolder(const Bytes& stream, const std::string& in = "in") : TempFolder(u8"-\u00e9\u4e2d")
    {
        write(in, stream);
    }
    // What one decoder printed while decoding each pair of names; a read error's code lands in `code`.
    std::string decode(const std::vector<std::pair<std::string, std::string>>& files, int* code = nullptr)
    {
        testing::internal::CaptureStdout();
        LZARI decoder;
        try {
            for (const auto& [in, out] : files)
                decoder.DecodeFile(wide(in), wide(out));
        } catch (const lzari::ReadError& error) {
            if (code == nullptr)
                throw;
            *code = error.code();
        }
        std::fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }
};

} // namespace

TEST(LzariDecodeFile, WritesTheDecodedBytesAndProgressLines)
{
    DecodeFolder folder({0xB8, 0x0B, 0, 0}, u8"in \u00fc.lz"); // 3000 zero bytes
    EXPECT_EQ(folder.decode({{u8"in \u00fc.lz", u8"out \u00fc.bin"}}),
              "           1\r        1025\r        2049\r        3000\n");
    EXPECT_EQ(folder.read(u8"out \u00fc.bin"), Bytes(3000, 0));
}

TEST(LzariDecodeFile, StreamsLargeFilesLikeTheMemoryDecoder)
{
    // Bigger than the file buffers on both sides; random bits, so matches, overshoot and a tail
    // past the end of the input all occur.
    Bytes stream = lzari_testdata::noise(150000, 9);
    std::copy_n("\x40\x0D\x03\x00", 4, stream.begin());
    DecodeFolder folder(stream);
    // One object may decode again and starts afresh.
    const std::string console = folder.decode({{"in", "out"}, {"in", "again"}});
    const Bytes expected = lzari::decode(stream.data(), stream.size(), 1 << 20);
    EXPECT_EQ(folder.read("out"), expected);
    EXPECT_EQ(folder.read("again"), expected);
    EXPECT_EQ(console.substr(console.size() - 13), "      " + std::to_string(expected.size()) + "\n");
}

TEST(LzariDecodeFile, EmptyShortAndUnopenableFiles)
{
    DecodeFolder empty({0, 0, 0, 0, 0xAA});
    EXPECT_EQ(empty.decode({{"in", "out"}}), "") << "an empty length writes an empty file and no line";
    EXPECT_TRUE(fs::exists(empty.file("out")));
    EXPECT_EQ(fs::file_size(empty.file("out")), 0u);

    DecodeFolder shortFile({1, 0, 0});
    int code = 0;
    EXPECT_EQ(shortFile.decode({{"in", "out"}}, &code), "\nRead Error\n");
    EXPECT_EQ(code, 1);
    EXPECT_EQ(fs::file_size(shortFile.file("out")), 0u);

    DecodeFolder unopenable({5, 0, 0, 0});
    EXPECT_EQ(unopenable.decode({{"missing", "out"}, {"in", "no such folder/out"}}), "");
    EXPECT_FALSE(fs::exists(unopenable.file("out")));
}
