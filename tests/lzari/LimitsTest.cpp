// How much a stream may claim, and the buffer sizes that must not wrap in a 32-bit build.
#include "lzari/Codec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>

using Bytes = std::vector<uint8_t>;

namespace {

Bytes encoded(const Bytes& input, lzari::EncodeLevel level)
{
    return lzari::encode(input.data(), input.size(), level);
}

} // namespace

TEST(LzariLimits, TheTightestHonestStreamsStayWithinThePlausibleLength)
{
    // Runs of one byte are what compresses best: every code a 60-byte match at distance 1, the
    // likeliest position. Lengths just past a whole number of matches end on the costliest
    // step; 2 MiB is enough for the model to settle.
    struct Case {
        size_t size;
        uint8_t byte;
    } const cases[] = {{1, 0},
                       {61, 0},
                       {4096, 0x20},
                       {60 * 1000 + 1, 0},
                       {60 * 1001 + 1, 0xAB},
                       {2 << 20, 0},
                       {(2 << 20) + 1, 0},
                       {(2 << 20) + 59, 0xFF}};
    double tightest = 0;
    for (const Case& c : cases) {
        const Bytes input(c.size, c.byte);
        for (const auto level : {lzari::EncodeLevel::greedy, lzari::EncodeLevel::best}) {
            const Bytes stream = encoded(input, level);
            const uint64_t plausible = lzari::plausibleTextSize(stream.size());
            EXPECT_LE(c.size, plausible) << c.size << " bytes in " << stream.size();
            EXPECT_EQ(lzari::decode(stream.data(), stream.size(), plausible), input);
            tightest = std::max(tightest, double(c.size) / double(plausible));
        }
    }
    // How close the best compression comes to the bound: a margin, yet not a wide one.
    EXPECT_GT(tightest, 0.9);
    RecordProperty("tightest_share_of_bound", std::to_string(tightest));
}

TEST(LzariLimits, LengthsBeyondTheStreamsBitsAreRefused)
{
    struct Case {
        uint64_t streamSize;
        uint64_t plausible;
    } const cases[] = {
        {0, 0},
        {3, 0},
        {4, 64 * 60 / 9},           // the length field alone: only the coder's slack
        {9, (5 * 8 + 64) * 60 / 9}, // a 9-byte stream: 693 bytes, not 256 MiB
        {2200000, (2199996ull * 8 + 64) * 60 / 9},
        {~uint64_t{0}, (((uint64_t{1} << 48) - 4) * 8 + 64) * 60 / 9}, // capped, so nothing wraps
    };
    for (const Case& c : cases)
        EXPECT_EQ(lzari::plausibleTextSize(c.streamSize), c.plausible) << c.streamSize;

    // A 9-byte stream claiming 256 MiB would decode on its implicit 1-bits: it is refused at once.
    const Bytes nine{0, 0, 0, 0x10, 1, 2, 3, 4, 5};
    EXPECT_THROW(lzari::decode(nine.data(), nine.size(), lzari::plausibleTextSize(nine.size())),
                 lzari::OutputLimitError);
}

TEST(LzariLimits, OutputCapacityCannotWrapAt32BitLimits)
{
    static_assert(sizeof(lzari::plausibleTextSize(0)) == 8, "plausible lengths are reckoned in 64 bits");
    constexpr uint64_t k32BitMax = 0xFFFFFFFF;    // SIZE_MAX of a 32-bit build
    constexpr uint64_t k32BitVector = 0x7FFFFFFF; // vector<uint8_t>::max_size() there
    struct Case {
        uint32_t textSize;
        uint64_t addressable;
        uint64_t capacity; // 0 with textSize != 0: refused as out of memory
    } const cases[] = {
        {0, k32BitVector, 0},
        {1, k32BitVector, 60},
        {0x7FFFFFFF - 59, k32BitVector, 0x7FFFFFFF},
        {0x7FFFFFFF - 58, k32BitVector, 0}, // was std::length_error, which nothing caught
        {0xFFFFFFFF - 58, k32BitMax, 0},    // was 0 after the wrap, and a decode that never ended
        {0xFFFFFFFF - 59, k32BitMax, k32BitMax},
        {0xFFFFFFFF, k32BitMax, 0},
        // Any address space will do, yet a 32-bit size_t cannot count the bytes: refused there too.
        {0xFFFFFFFF, ~uint64_t{0}, sizeof(size_t) > 4 ? 0xFFFFFFFFull + 59 : 0},
    };
    for (const Case& c : cases) {
        if (c.capacity == 0 && c.textSize != 0) {
            EXPECT_THROW(lzari::outputCapacity(c.textSize, c.addressable), std::bad_alloc) << c.textSize;
        } else {
            EXPECT_EQ(lzari::outputCapacity(c.textSize, c.addressable), c.capacity) << c.textSize;
        }
    }
}
