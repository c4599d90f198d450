// LZARI::DecodeFile on real files: wide names, the exact console lines, and what it leaves behind;
// the decode over open handles and the failures it reports.
#include "TestData.h"
#include "lzari/Codec.h"
#include "lzari/win32/LZARI.h"
#include "platform/win32/Handle.h"
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

TEST(LzariDecodeFile, OpenHandlesDecodeTheSameBytesAndReportFailedReadsAndWrites)
{
    using Status = lzari::win32::FileDecode::Status;
    Bytes stream = lzari_testdata::noise(150000, 5);
    std::copy_n("\x40\x0D\x03\x00", 4, stream.begin());
    const Bytes expected = lzari::decode(stream.data(), stream.size(), 1 << 20);
    const struct {
        const char* what;
        Bytes in;
        DWORD inAccess, outAccess;
        Status status;
        uint32_t error;
    } cases[] = {
        {"whole", stream, GENERIC_READ, GENERIC_WRITE, Status::Decoded, 0},
        {"output that takes no write", stream, GENERIC_READ, GENERIC_READ, Status::WriteFailed, ERROR_ACCESS_DENIED},
        {"input that gives no read", stream, GENERIC_WRITE, GENERIC_WRITE, Status::ReadFailed, ERROR_ACCESS_DENIED},
        {"no length field", {1, 0, 0}, GENERIC_READ, GENERIC_WRITE, Status::ShortHead, 0},
    };
    for (const auto& c : cases) {
        DecodeFolder folder(c.in);
        folder.write("out", {});
        const auto open = [&](const char* name, DWORD access) {
            return platform::win32::UniqueFile(CreateFileW(folder.file(name).c_str(), access, 0, nullptr,
                                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        };
        lzari::win32::FileDecode result;
        {
            const auto in = open("in", c.inAccess);
            const auto out = open("out", c.outAccess);
            testing::internal::CaptureStdout();
            result = lzari::win32::decodeFile(in.get(), out.get());
            std::fflush(stdout);
            testing::internal::GetCapturedStdout();
        }
        EXPECT_EQ(result.status, c.status) << c.what;
        EXPECT_EQ(result.error, c.error) << c.what;
        if (c.status == Status::Decoded) {
            EXPECT_EQ(folder.read("out"), expected) << c.what;
        }
    }
}
