// The decoder must give the plain reference decoder's bytes for every stream, damaged ones included.
#include "PieceDecode.h"
#include "ReferenceLzari.h"
#include "TestData.h"
#include "lzari/Codec.h"
#include "lzari/Model.h"

#include <gtest/gtest.h>

using lzari_reference::Token;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint64_t kNoLimit = ~uint64_t{0};

Bytes decodeFast(const Bytes& stream)
{
    return lzari::decode(stream.data(), stream.size(), kNoLimit);
}

Bytes decodeReference(const Bytes& stream)
{
    Bytes out;
    EXPECT_TRUE(lzari_reference::decode(stream, out));
    return out;
}

} // namespace

TEST(LzariDecode, SmallStreamsShortHeadersAndTheOutputLimit)
{
    struct Case {
        Bytes stream;
        uint64_t limit;
        Bytes expected;
        int error; // 0: none, 1: a read error carrying 1, 2: over the output limit
    };
    const Case cases[] = {
        {{0, 0, 0, 0}, kNoLimit, {}, 0},
        {{0, 0, 0, 0, 0x12, 0x34}, kNoLimit, {}, 0},
        // An all-ones bit stream selects rank 1, which at the start is the byte 00.
        {{1, 0, 0, 0}, kNoLimit, {0}, 0},
        {{5, 0, 0, 0}, 5, Bytes(5, 0), 0},
        {{5, 0, 0, 0}, 4, {}, 2},
        {{0xFF, 0xFF, 0xFF, 0xFF}, 1 << 20, {}, 2},
        {{2, 0, 0, 0, 0x61, 0x62, 0x63}, kNoLimit, {0xC2, 0xAC}, 0},
        // The last match runs past the length and is written whole.
        {lzari_reference::encodeTokens(2, {{'a'}, {256 + 57, 0}}), kNoLimit, Bytes(61, 'a'), 0},
        {{}, kNoLimit, {}, 1},
        {{1}, kNoLimit, {}, 1},
        {{1, 0, 0}, kNoLimit, {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.stream));
        int error = 0;
        try {
            EXPECT_EQ(lzari::decode(c.stream.data(), c.stream.size(), c.limit), c.expected);
        } catch (const lzari::ReadError& e) {
            error = e.code() == 1 ? 1 : -1;
        } catch (const lzari::OutputLimitError&) {
            error = 2;
        }
        EXPECT_EQ(error, c.error);
        if (c.error == 0) {
            EXPECT_EQ(decodeReference(c.stream), c.expected);
        }
    }
}

TEST(LzariDecode, MatchesReachTheWholeRing)
{
    // Position 0 repeats the byte just written; at the start that is the last initial space.
    EXPECT_EQ(decodeFast(lzari_reference::encodeTokens(4, {{'x'}, {256, 0}})), (Bytes{'x', 'x', 'x', 'x'}));
    EXPECT_EQ(decodeFast(lzari_reference::encodeTokens(3, {{256, 0}})), Bytes(3, ' '));
    // Position 4095 copies from the write position itself: at the start the ring bytes nothing has
    // written yet, which hold 0; after a full turn the byte written 4096 bytes earlier.
    EXPECT_EQ(decodeFast(lzari_reference::encodeTokens(5, {{258, 4095}})), Bytes(5, 0));
    EXPECT_EQ(decodeFast(lzari_reference::encodeTokens(3, {{256, 4036}})), (Bytes{0, ' ', ' '}));

    const Bytes block = lzari_testdata::noise(4096, 7);
    std::vector<Token> tokens;
    for (uint8_t byte : block) {
        tokens.push_back({byte});
    }
    tokens.push_back({256 + 57, 4095});
    Bytes expected(4096 + 60);
    for (size_t i = 0; i < expected.size(); ++i) {
        expected[i] = block[i % 4096];
    }
    EXPECT_EQ(decodeFast(lzari_reference::encodeTokens(4096 + 60, tokens)), expected);
}

// The one-bit renormalisation loop for registers of `bits` bits, counting its steps.
template <uint32_t bits> uint32_t stepsOneByOne(uint32_t low, uint32_t width)
{
    constexpr uint32_t q1 = 1u << (bits - 2), q2 = 2 * q1, q3 = 3 * q1;
    uint32_t high = low + width;
    uint32_t steps = 0;
    for (;; ++steps) {
        if (low >= q2) {
            low -= q2;
            high -= q2;
        } else if (low >= q1 && high <= q3) {
            low -= q1;
            high -= q1;
        } else if (high > q2) {
            return steps;
        }
        low *= 2;
        high *= 2;
    }
}

template <uint32_t bits> uint32_t renormalisationMismatches(uint32_t width)
{
    uint32_t mismatches = 0;
    for (uint32_t low = 0; low + width <= (1u << bits); ++low) {
        mismatches +=
            lzari::renormalisationSteps<bits>(low, width) != stepsOneByOne<bits>(low, width) ? 1 : 0;
    }
    return mismatches;
}

TEST(LzariDecode, ShortcutsAgreeWithThePlainArithmetic)
{
    // The position table and its steps against the plain binary search, target by target: a stream
    // meets only the targets its bits happen to give.
    const lzari_reference::Model model;
    const uint16_t* table = lzari::PositionModel::findTable();
    uint32_t positionMismatches = 0;
    for (uint32_t target = 0; target < lzari::PositionModel::kTotal; ++target) {
        uint32_t i = 1, j = 4096;
        while (i < j) {
            const uint32_t k = (i + j) / 2;
            if (model.posCum[k] > target) {
                i = k + 1;
            } else {
                j = k;
            }
        }
        positionMismatches += lzari::PositionModel::find(table, target) != i - 1 ? 1 : 0;
    }
    EXPECT_EQ(positionMismatches, 0u);

    // The renormalisation count against the one-bit loop: every interval of narrow registers, and
    // every low of the stream's 17-bit registers for the widths at the edges of each step count.
    uint32_t stepMismatches = 0;
    for (uint32_t width = 1; width <= (1u << 11); ++width) {
        stepMismatches +=
            renormalisationMismatches<11>(width) + (width <= 16 ? renormalisationMismatches<4>(width) : 0);
    }
    for (uint32_t power = 0; power <= 17; ++power) {
        for (const int32_t delta : {-1, 0, 1}) {
            const uint32_t width = uint32_t(int32_t(1u << power) + delta);
            if (width >= 1 && width <= (1u << 17)) {
                stepMismatches += renormalisationMismatches<17>(width);
            }
        }
    }
    EXPECT_EQ(stepMismatches, 0u);

    // Division by every width the coder can have, and by the width shifted as renormalisation
    // shifts it, at the numerators where a quotient steps and at the largest; scaling by every total
    // at the ends and middle of its counts, and by all counts of the totals at the edges, for the
    // ranges at the edges.
    uint32_t divisionMismatches = 0;
    for (uint32_t width = 1; width <= (1u << 17); ++width) {
        for (uint32_t n = 0; (width << n) <= (1u << 17); ++n) {
            const lzari::Divisor divisor = lzari::Divisor(width).times2To(n);
            const uint32_t d = width << n;
            const uint32_t lastStep = 0xFFFFFFFFu / d * d;
            for (const uint32_t x : {0u, d - 1, d, lastStep - 1, lastStep, 0xFFFFFFFFu}) {
                divisionMismatches += divisor.divide(x) != x / d ? 1 : 0;
            }
        }
    }
    EXPECT_EQ(divisionMismatches, 0u);
    uint32_t scaleMismatches = 0;
    for (const uint32_t range : {(1u << 15) + 1, (1u << 16) + 1, (1u << 17) - 1, 1u << 17}) {
        for (uint32_t total = 2; total < (1u << 15); ++total) {
            const lzari::RangeScale scale(range, lzari::ScaleFactor(total));
            const auto check = [&](uint32_t c) {
                scaleMismatches += scale.of(c) != uint32_t(uint64_t{range} * c / total) ? 1 : 0;
            };
            if (total <= 320 || total >= 32440 || total == lzari::PositionModel::kTotal) {
                for (uint32_t c = 0; c <= total; ++c) {
                    check(c);
                }
            } else {
                for (const uint32_t c : {0u, 1u, total / 2, total - 1, total}) {
                    check(c);
                }
            }
        }
    }
    EXPECT_EQ(scaleMismatches, 0u);
}

TEST(LzariDecode, CopiesRepeatTheirSourceAtEveryShortDistance)
{
    // Distances below a copy's group width overlap the bytes being written, those at and above it
    // do not; both sides of that edge, with every length, across many slides of the window.
    std::vector<Token> tokens;
    uint32_t size = 0;
    for (uint32_t round = 0; round < 40; ++round) {
        for (uint32_t distance = 1; distance <= 20; ++distance) {
            for (uint32_t code = 256; code < 256 + 58; code += 1 + round % 5) {
                tokens.push_back({uint8_t(distance * 37 + round)});
                tokens.push_back({code, distance - 1});
                size += 1 + (code - 253);
            }
        }
    }
    const Bytes stream = lzari_reference::encodeTokens(size, tokens);
    ASSERT_GT(size, 200000u);
    EXPECT_EQ(decodeFast(stream), decodeReference(stream));
}

TEST(LzariDecode, HalvesTheCountsAtTheirCeilingRoundingUp)
{
    // Over 32767 codes: the model is halved at least once, and the stream is sensitive to the way.
    const Bytes input = lzari_testdata::text(40000, 3);
    std::vector<Token> tokens;
    for (uint8_t byte : input) {
        tokens.push_back({byte});
    }
    const Bytes stream = lzari_reference::encodeTokens(uint32_t(input.size()), tokens);
    EXPECT_EQ(decodeFast(stream), input);

    Bytes wrong;
    ASSERT_TRUE(lzari_reference::decode(stream, wrong, {32768, true}));
    EXPECT_NE(wrong, input);
    ASSERT_TRUE(lzari_reference::decode(stream, wrong, {32767, false}));
    EXPECT_NE(wrong, input);
}

TEST(LzariDecode, AgreesWithTheReferenceOnRandomCutAndFlippedStreams)
{
    lzari_testdata::Random random(11);
    for (int round = 0; round < 300; ++round) {
        // Random bits behind length fields from 1 byte to 70000: codes, matches and halvings alike.
        const uint32_t length = 1 + random.below(round % 10 == 0 ? 70000 : 3000);
        Bytes stream = lzari_testdata::noise(random.below(round % 3 == 0 ? 64 : 4000), round);
        stream.insert(stream.begin(), {uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16), 0});
        ASSERT_EQ(decodeFast(stream), decodeReference(stream)) << "round " << round;
    }
    const Bytes input = lzari_testdata::executableLike(30000, 5);
    const Bytes stream = lzari_reference::greedyEncode(input);
    ASSERT_EQ(decodeFast(stream), input);
    lzari_testdata::Random cuts(13);
    for (int round = 0; round < 40; ++round) {
        Bytes damaged = stream;
        damaged.resize(4 + cuts.below(uint32_t(stream.size() - 4)));
        damaged[4 + cuts.below(uint32_t(damaged.size() - 4))] ^= uint8_t(1 << cuts.below(8));
        ASSERT_EQ(decodeFast(damaged), decodeReference(damaged)) << "cut round " << round;
    }
}

TEST(LzariDecode, ReportsProgressEvery1024Bytes)
{
    std::vector<uint64_t> seen;
    const Bytes stream{0xB8, 0x0B, 0, 0}; // 3000 zero bytes, one literal at a time
    const Bytes out =
        lzari::decode(stream.data(), stream.size(), kNoLimit, [&](uint64_t done, uint64_t total) {
            EXPECT_EQ(total, 3000u);
            seen.push_back(done);
        });
    EXPECT_EQ(out, Bytes(3000, 0));
    EXPECT_EQ(seen, (std::vector<uint64_t>{1, 1025, 2049}));
}

TEST(LzariDecode, PiecesOfAnySizeAndCallersThatSkipTheMarksGiveTheSameBytes)
{
    // An honest stream with matches and halvings, and a cut and flipped one that ends early.
    const Bytes honest = lzari_reference::greedyEncode(lzari_testdata::executableLike(40000, 9));
    Bytes damaged(honest.begin(), honest.begin() + 3000);
    damaged[1500] ^= 0x10;
    // One byte short of a full turn, the farthest position still reads the ring's starting fill,
    // which lies in no caller's buffer.
    std::vector<Token> tokens;
    for (const uint8_t byte : lzari_testdata::noise(4095, 7)) {
        tokens.push_back({byte});
    }
    tokens.push_back({256 + 57, 4095});
    const Bytes ringEdge = lzari_reference::encodeTokens(4095 + 60, tokens);
    ASSERT_EQ(decodeFast(ringEdge)[4095], ' ');
    for (const Bytes* stream : {&honest, &ringEdge, static_cast<const Bytes*>(&damaged)}) {
        const Bytes whole = decodeFast(*stream);
        for (const size_t pieceSize : {1, 3, 7, 64}) {
            for (const size_t room : {size_t{lzari::kMaxMatch}, lzari::Decoder::kInPlaceRoom, size_t{65536}}) {
                for (const int way : {0, 1, 2}) {
                    const bool takeMarks = way != 1;
                    const bool inPlace = way == 2;
                    SCOPED_TRACE(::testing::Message()
                                 << "stream of " << stream->size() << ", pieces of " << pieceSize << ", room "
                                 << room << ", marks " << (takeMarks ? "taken" : "never taken")
                                 << (inPlace ? ", in place" : ""));
                    lzari_pieces::PieceSource source(stream->data(), stream->size(), pieceSize);
                    lzari::Decoder decoder(source);
                    const lzari_pieces::Result result = lzari_pieces::drain(decoder, room, takeMarks, inPlace);
                    EXPECT_FALSE(result.stalled);
                    EXPECT_EQ(result.bytes, whole);
                }
            }
        }
    }
    // The length field split over pieces, and cut short.
    for (const size_t size : {0, 1, 3}) {
        lzari_pieces::PieceSource source(honest.data(), size, 1);
        EXPECT_THROW(lzari::Decoder{source}, lzari::ReadError);
    }
}
