// The package's CRC, the image-end arithmetic, the package search and the header checks.
#include "setup/PackageFormat.h"

#include "platform/Bytes.h"
#include "setup/Crc16.h"
#include "tests/setup/TestImages.h"
#include "tests/support/CaptureSink.h"

#include <gtest/gtest.h>

#include <random>

using namespace setup;

namespace {

// CRC-16/MODBUS one bit at a time, bytes swapped: the yardstick.
uint32_t bitwiseCrc(const uint8_t* p, size_t n)
{
    uint32_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return ((crc & 0xFF) << 8) | (crc >> 8);
}

std::vector<uint8_t> withPackage(std::vector<uint8_t> image, const std::vector<uint8_t>& block)
{
    const auto header = makePackageHeader(block);
    image.insert(image.end(), header.begin(), header.end());
    image.insert(image.end(), block.begin(), block.end());
    return image;
}

const std::vector<uint8_t> kMagic = {'M', 'I', 'P', '!'};

} // namespace

TEST(Crc16, MatchesTheBitwiseCrcAndCheckValue)
{
    const std::string check = "123456789";
    EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x374Bu);
    EXPECT_EQ(Crc16(nullptr, 0), 0xFFFFu);

    std::mt19937 rng(7);
    std::vector<uint8_t> data(4096 + 16);
    for (auto& b : data)
        b = uint8_t(rng());
    // Every length up to a few slices, at every alignment: the 8-byte steps and the tail.
    for (size_t offset = 0; offset < 8; ++offset)
        for (size_t n = 0; n < 70; ++n)
            ASSERT_EQ(Crc16(&data[offset], n), bitwiseCrc(&data[offset], n)) << offset << "+" << n;
    EXPECT_EQ(Crc16(data.data(), data.size()), bitwiseCrc(data.data(), data.size()));
}

TEST(ImageEnd, FollowsTheSetupProgramsArithmeticAndItsEarlyStops)
{
    using testimages::makeImage;
    const auto twoSections = makeImage({0x80, 224, 512, {0x200, 0x200}});
    const auto cut = [&](size_t size) {
        return std::vector<uint8_t>(twoSections.begin(), twoSections.begin() + size);
    };
    auto farHeader = makeImage({0x80, 224, 512, {}});
    testimages::put32(farHeader, 60, 0xFFFFFFFE); // the 32-bit sum wraps; nothing outside is read
    const struct {
        const char* what;
        std::vector<uint8_t> file;
        uint32_t offset;
        ImageEndStop stop;
    } cases[] = {
        // The shape of the shipped file: 288 + 248 + 5 * 40 + 625,152 = 625,888 -> 626,176.
        {"shipped", makeImage({288, 224, 512, {0x7A000, 0x10000, 0x2200, 0x200, 0xC600}}), 626176,
         ImageEndStop::Complete},
        // A sum already aligned still gets a whole alignment more: not a round-up.
        {"aligned", makeImage({0x80, 224, 0x200, {0x200 - (0x80 + 248 + 40)}}), 0x400,
         ImageEndStop::Complete},
        // Stopped behind the signature, a search for the package starts inside a 64-bit image.
        {"64-bit", makeImage({0x100, 240, 512, {0x600}}), 0x104, ImageEndStop::NotPe32},
        {"empty", {}, 0, ImageEndStop::NoDosHeader},
        {"no optional header", cut(0x80 + 24), 0x80 + 24, ImageEndStop::NoOptionalHeader},
        {"second section header missing", cut(0x80 + 248 + 40), 0x80 + 248 + 40 + 0x200,
         ImageEndStop::SectionTableCut},
        {"FileAlignment 0", makeImage({0x80, 224, 0, {0x200}}), 0x80 + 248 + 40 + 0x200,
         ImageEndStop::ZeroAlignment},
        {"e_lfanew beyond the file", farHeader, 2, ImageEndStop::NotPe32},
    };
    for (const auto& c : cases) {
        MemoryReader reader(c.file.data(), c.file.size());
        const ImageEnd end = computeImageEnd(reader);
        EXPECT_EQ(end.offset, c.offset) << c.what;
        EXPECT_EQ(end.stop, c.stop) << c.what;
    }
}

TEST(LocatePackage, FindsTheMagicAtOrBehindTheStart)
{
    auto find = [](const std::vector<uint8_t>& file, uint32_t start, uint64_t* after = nullptr) {
        MemoryReader reader(file.data(), file.size());
        const bool found = LocatePackage(reader, start);
        if (after)
            *after = reader.position();
        return found;
    };
    // Right at the start is where every read of a whole package finds it; here behind padding, at
    // every place around the seam of the first two blocks (start + 4 + 512).
    uint64_t after = 0;
    for (uint32_t at = 500; at < 540; ++at) {
        std::vector<uint8_t> padded(2000, 0);
        std::copy(kMagic.begin(), kMagic.end(), padded.begin() + at);
        ASSERT_TRUE(find(padded, 10, &after)) << at;
        EXPECT_EQ(after, at + 4u);
    }
    // Occurrences starting at start+1..start+3 are never seen; start+4 is.
    for (uint32_t shift = 1; shift <= 4; ++shift) {
        std::vector<uint8_t> near(600, 0);
        std::copy(kMagic.begin(), kMagic.end(), near.begin() + 100 + shift);
        EXPECT_EQ(find(near, 100), shift == 4) << shift;
    }
    // The last four bytes of a file, reached through a final short block.
    std::vector<uint8_t> tail(3000, 0);
    std::copy(kMagic.begin(), kMagic.end(), tail.end() - 4);
    EXPECT_TRUE(find(tail, 0));
    EXPECT_FALSE(find(std::vector<uint8_t>(3000, 0), 0));
    EXPECT_FALSE(find(tail, 5000)); // start beyond the end
}

TEST(ReadPackage, ChecksInTheSetupProgramsOrder)
{
    rlxutil::ScopedCaptureSink log;
    const auto image = testimages::makeImage({});
    const uint32_t end = testimages::expectedEnd({});
    auto check = [&](const std::vector<uint8_t>& file) {
        MemoryReader reader(file.data(), file.size());
        return readPackage(reader, end);
    };

    std::vector<uint8_t> block(100);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = uint8_t(i * 7);
    auto good = withPackage(image, block);
    good.insert(good.end(), 300, 0xEE); // a signature behind the package is ignored
    PackageBlock result = check(good);
    EXPECT_EQ(result.check, PackageCheck::Ok);
    EXPECT_EQ(result.magicOffset, end);
    EXPECT_EQ(result.data, block);
    EXPECT_EQ(result.uiCrc, Crc16(block.data(), block.size()));
    const std::string dataSize =
        "InstallKavariAddOn>>data-size, dwLength=100, uiCrc=" + std::to_string(result.uiCrc) +
        ", ncrc=" + std::to_string(result.uiCrc);
    EXPECT_EQ(log.texts(), std::vector<std::string>{dataSize});

    EXPECT_EQ(check(image).check, PackageCheck::InvalidPackage);
    EXPECT_EQ(log.texts().back(), "InstallKavariAddOn>>invalid package.");

    // 16 bytes behind the magic are too few, 17 are enough to go on.
    auto shortFile = withPackage(image, {});
    shortFile.resize(end + 4 + 16, 0);
    EXPECT_EQ(check(shortFile).check, PackageCheck::Corrupted1);
    EXPECT_EQ(log.texts().back(), "InstallKavariAddOn>>file corrupted.1");
    shortFile.push_back(0);
    EXPECT_NE(check(shortFile).check, PackageCheck::Corrupted1);

    auto tooLong = good;
    testimages::put32(tooLong, end + 4, uint32_t(tooLong.size()));
    EXPECT_EQ(check(tooLong).check, PackageCheck::Corrupted2);
    EXPECT_EQ(log.texts().back(), "InstallKavariAddOn>>file corrupted.2");
    testimages::put32(tooLong, end + 4, uint32_t(tooLong.size() - 1));
    EXPECT_EQ(check(tooLong).check, PackageCheck::CrcMismatch); // zero-filled past the end

    auto flipped = good;
    flipped[end + 12 + 50] ^= 0x10;
    result = check(flipped);
    EXPECT_EQ(result.check, PackageCheck::CrcMismatch);
    EXPECT_NE(result.ncrc, result.uiCrc);
    EXPECT_EQ(log.texts().back(), "InstallKavariAddOn>>crc verification failed.");
    EXPECT_EQ(log.lines().back().loggerName, "DPX");

    // An empty block with the CRC of nothing passes every check here.
    auto empty = withPackage(image, {});
    empty.resize(empty.size() + 20, 0);
    result = check(empty);
    EXPECT_EQ(result.check, PackageCheck::Ok);
    EXPECT_EQ(result.uiCrc, 0xFFFFu);
}

TEST(ReadPackage, BlocksAreCheckedAndCopiedInPiecesWithTheirCrcCheckedAgain)
{
    rlxutil::ScopedCaptureSink log;
    const auto image = testimages::makeImage({});
    const uint32_t end = testimages::expectedEnd({});
    std::mt19937 rng(11);
    // Two whole pieces and a part: the CRC runs across the seams.
    std::vector<uint8_t> block(2 * kBlockPiece + 12345);
    for (auto& b : block)
        b = uint8_t(rng());
    block[0] = 0x78, block[1] = 0x56, block[2] = 0x34, block[3] = 0x12;
    auto file = withPackage(image, block);
    file.insert(file.end(), 64, 0xEE);

    MemoryReader reader(file.data(), file.size());
    const PackageBlock checked = checkPackage(reader, end);
    ASSERT_EQ(checked.check, PackageCheck::Ok);
    EXPECT_TRUE(checked.data.empty());
    EXPECT_EQ(checked.dataOffset, end + kPackageHeaderSize);
    EXPECT_EQ(checked.textSize, 0x12345678u);
    EXPECT_EQ(checked.ncrc, Crc16(block.data(), block.size()));

    // The copy as a writer sees it, a writer that gives up after `accept` pieces, and the file
    // changed between the check and the copy.
    const struct {
        const char* what;
        size_t accept;
        size_t changeAt; // offset in the block changed before the copy, or SIZE_MAX
        BlockCopy result;
        size_t pieces;
    } cases[] = {
        {"whole", SIZE_MAX, SIZE_MAX, BlockCopy::Ok, 3},
        {"write fails", 1, SIZE_MAX, BlockCopy::WriteFailed, 2},
        {"changed in the last piece", SIZE_MAX, block.size() - 1, BlockCopy::Changed, 3},
    };
    for (const auto& c : cases) {
        auto copyOf = file;
        if (c.changeAt != SIZE_MAX)
            copyOf[checked.dataOffset + c.changeAt] ^= 1;
        MemoryReader again(copyOf.data(), copyOf.size());
        std::vector<uint8_t> copied;
        size_t pieces = 0;
        const BlockCopy result = copyPackageBlock(again, checked, [&](const uint8_t* p, size_t n) {
            EXPECT_LE(n, kBlockPiece);
            if (pieces++ >= c.accept)
                return false;
            copied.insert(copied.end(), p, p + n);
            return true;
        });
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_EQ(pieces, c.pieces) << c.what;
        if (c.result == BlockCopy::Ok) {
            EXPECT_EQ(copied, block) << c.what;
        }
    }

    // A block the file cuts short (its length still below the file's size) counts its missing
    // bytes as zeros in both reads.
    auto cut = file;
    cut.resize(checked.dataOffset + block.size() - 100);
    std::vector<uint8_t> zeroFilled(block.begin(), block.end() - 100);
    zeroFilled.resize(block.size(), 0);
    platform::store32(&cut[end + 8], Crc16(zeroFilled.data(), zeroFilled.size()));
    MemoryReader shortReader(cut.data(), cut.size());
    const PackageBlock shortBlock = readPackage(shortReader, end);
    EXPECT_EQ(shortBlock.check, PackageCheck::Ok);
    EXPECT_EQ(shortBlock.data, zeroFilled);
}
