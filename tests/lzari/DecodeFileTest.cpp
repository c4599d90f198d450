// LZARI::DecodeFile on real files: wide names, the exact console lines, and what it leaves behind.
#include "TestData.h"
#include "lzari/Codec.h"
#include "lzari/LZARI.h"
#include "platform/TextConvert.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

// A fresh folder with a non-ASCII name, removed with everything in it.
class TempFolder {
public:
    TempFolder()
    {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        mWide = platform::utf8ToWide(
                    (fs::temp_directory_path() / ("lzari-test-" + std::to_string(stamp))).u8string()) +
                L"-\u00e9\u4e2d";
        fs::create_directories(path(L""));
    }
    ~TempFolder()
    {
        std::error_code ignored;
        fs::remove_all(path(L""), ignored);
    }
    std::wstring wide(const std::wstring& name) const { return mWide + L"/" + name; }
    fs::path path(const std::wstring& name) const
    {
        return fs::u8path(platform::wideToUtf8(name.empty() ? mWide : wide(name)));
    }

    void write(const std::wstring& name, const Bytes& bytes) const
    {
        std::ofstream(path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    Bytes read(const std::wstring& name) const
    {
        std::ifstream in(path(name), std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

private:
    std::wstring mWide;
};

} // namespace

TEST(LzariDecodeFile, WritesTheDecodedBytesAndProgressLines)
{
    TempFolder folder;
    folder.write(L"in \u00fc.lz", {0xB8, 0x0B, 0, 0}); // 3000 zero bytes
    testing::internal::CaptureStdout();
    LZARI().DecodeFile(folder.wide(L"in \u00fc.lz"), folder.wide(L"out \u00fc.bin"));
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "           1\r        1025\r        2049\r        3000\n");
    EXPECT_EQ(folder.read(L"out \u00fc.bin"), Bytes(3000, 0));
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
    TempFolder folder;
    folder.write(L"in", stream);
    testing::internal::CaptureStdout();
    LZARI decoder;
    decoder.DecodeFile(folder.wide(L"in"), folder.wide(L"out"));
    // One object may decode again and starts afresh.
    decoder.DecodeFile(folder.wide(L"in"), folder.wide(L"again"));
    const std::string console = testing::internal::GetCapturedStdout();
    const Bytes expected = lzari::decode(stream.data(), stream.size(), 1 << 20);
    EXPECT_EQ(folder.read(L"out"), expected);
    EXPECT_EQ(folder.read(L"again"), expected);
    EXPECT_EQ(console.substr(console.size() - 13), "      " + std::to_string(expected.size()) + "\n");
}

TEST(LzariDecodeFile, EmptyLengthWritesAnEmptyFileAndNoLine)
{
    TempFolder folder;
    folder.write(L"in", {0, 0, 0, 0, 0xAA});
    testing::internal::CaptureStdout();
    LZARI().DecodeFile(folder.wide(L"in"), folder.wide(L"out"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(fs::exists(folder.path(L"out")));
    EXPECT_EQ(fs::file_size(folder.path(L"out")), 0u);
}

TEST(LzariDecodeFile, ShortFileIsTheReadError)
{
    TempFolder folder;
    folder.write(L"in", {1, 0, 0});
    testing::internal::CaptureStdout();
    int code = 0;
    try {
        LZARI().DecodeFile(folder.wide(L"in"), folder.wide(L"out"));
    } catch (const lzari::ReadError& error) {
        code = error.code();
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nRead Error\n");
    EXPECT_EQ(code, 1);
    EXPECT_EQ(fs::file_size(folder.path(L"out")), 0u);
}

TEST(LzariDecodeFile, UnopenableFilesDecodeNothing)
{
    TempFolder folder;
    folder.write(L"in", {5, 0, 0, 0});
    testing::internal::CaptureStdout();
    LZARI().DecodeFile(folder.wide(L"missing"), folder.wide(L"out"));
    LZARI().DecodeFile(folder.wide(L"in"), folder.wide(L"no such folder/out"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(fs::exists(folder.path(L"out")));
}
