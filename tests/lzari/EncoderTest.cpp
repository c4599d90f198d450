// Encoded streams must decode to the input under any decoder faithful to the format, and be no
// larger than the greedy yardstick's.
#include "ReferenceLzari.h"
#include "TestData.h"
#include "lzari/Codec.h"

#include <gtest/gtest.h>

using Bytes = std::vector<uint8_t>;
using lzari::EncodeLevel;

namespace {

Bytes encode(const Bytes& input, EncodeLevel level)
{
    return lzari::encode(input.data(), input.size(), level);
}

// Decodes with the fast decoder and with a reference whose never-written ring bytes are not zero:
// a stream that reads them, or whose last match runs past the end, fails one of the two.
void expectRoundTrip(const Bytes& input, const Bytes& stream)
{
    ASSERT_EQ(lzari::decode(stream.data(), stream.size(), input.size()), input);
    Bytes viaReference;
    ASSERT_TRUE(lzari_reference::decode(stream, viaReference, {32767, true, 0xA5}));
    ASSERT_EQ(viaReference, input);
}

Bytes repeatedWindow(const Bytes& window, size_t size)
{
    Bytes out(size);
    for (size_t i = 0; i < size; ++i) {
        out[i] = window[i % window.size()];
    }
    return out;
}

std::vector<Bytes> assortedInputs()
{
    std::vector<Bytes> inputs{{},
                              {0},
                              {' '},
                              {1, 2},
                              {0, 0, 0},
                              {' ', ' ', ' ', ' '},
                              Bytes(5000, 0),
                              Bytes(300, ' '),
                              lzari_testdata::noise(3, 1)};
    for (uint64_t seed = 1; seed <= 6; ++seed) {
        inputs.push_back(lzari_testdata::noise(size_t(seed * 700), seed));
        inputs.push_back(lzari_testdata::text(size_t(seed * 2500), seed));
        inputs.push_back(lzari_testdata::executableLike(size_t(seed * 3000), seed));
    }
    // Repeats exactly a window apart: only distance 4096 (position 4095) finds them.
    inputs.push_back(repeatedWindow(lzari_testdata::noise(4096, 77), 6096));
    // A long match that starts two bytes before the end of the encoder's first 4096-byte block.
    Bytes longMatchAtBlockEnd = lzari_testdata::noise(4094, 78);
    longMatchAtBlockEnd.insert(longMatchAtBlockEnd.end(), longMatchAtBlockEnd.begin(),
                               longMatchAtBlockEnd.begin() + 200);
    inputs.push_back(longMatchAtBlockEnd);
    return inputs;
}

} // namespace

TEST(LzariEncode, GreedyLevelIsTheYardstickByteForByte)
{
    // The yardstick tries every distance and matches the initial spaces; equal streams prove the
    // finder exact over the whole window.
    for (const Bytes& input : assortedInputs()) {
        const Bytes stream = encode(input, EncodeLevel::greedy);
        ASSERT_EQ(stream, lzari_reference::greedyEncode(input)) << "input of " << input.size() << " bytes";
        expectRoundTrip(input, stream);
    }
}

TEST(LzariEncode, BestIsNeverLargerThanGreedy)
{
    size_t bestTotal = 0, greedyTotal = 0;
    for (const Bytes& input : assortedInputs()) {
        const Bytes stream = encode(input, EncodeLevel::best);
        expectRoundTrip(input, stream);
        const size_t greedy = lzari_reference::greedyEncode(input).size();
        ASSERT_LE(stream.size(), greedy) << "input of " << input.size() << " bytes";
        bestTotal += stream.size();
        greedyTotal += greedy;
    }
    EXPECT_LT(bestTotal, greedyTotal);
}

TEST(LzariEncode, RoundTripsSixMebibytesOfProgram)
{
    const Bytes input = lzari_testdata::executableLike(6 << 20, 2024);
    uint64_t lastDone = 0;
    const Bytes best =
        lzari::encode(input.data(), input.size(), EncodeLevel::best, [&](uint64_t done, uint64_t total) {
            EXPECT_EQ(total, input.size());
            EXPECT_GT(done, lastDone);
            lastDone = done;
        });
    EXPECT_EQ(lastDone, input.size());
    EXPECT_EQ(lzari::decode(best.data(), best.size(), input.size()), input);
    const Bytes greedy = encode(input, EncodeLevel::greedy);
    EXPECT_EQ(lzari::decode(greedy.data(), greedy.size(), input.size()), input);
    EXPECT_LE(best.size(), greedy.size());
}
