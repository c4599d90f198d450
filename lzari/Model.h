// The constants of the LZARI stream and its two probability models, shared by decoder and encoder.
#pragma once

#include <array>
#include <cstdint>

namespace lzari {

// Every constant binds the stream format: a coder with any other value reads a different format.
constexpr uint32_t kRingSize = 4096;
constexpr uint32_t kRingMask = kRingSize - 1;
constexpr uint32_t kMaxMatch = 60;
constexpr uint32_t kThreshold = 2; // a match copies at least kThreshold + 1 bytes
constexpr uint32_t kMinMatch = kThreshold + 1;
constexpr uint32_t kFirstMatchCode = 256;                       // code of a match of kMinMatch bytes
constexpr uint32_t kSymbolCount = 256 - kThreshold + kMaxMatch; // 314 codes: bytes, then lengths
constexpr uint32_t kInitialFill = kRingSize - kMaxMatch;        // ring bytes that start as spaces
constexpr uint8_t kFillByte = 0x20;
constexpr uint32_t kQ1 = 0x8000;
constexpr uint32_t kQ2 = 2 * kQ1;
constexpr uint32_t kQ3 = 3 * kQ1;
constexpr uint32_t kQ4 = 4 * kQ1;
constexpr uint32_t kCountCeiling = kQ1 - 1; // the symbol counts are halved once their total reaches it
constexpr uint32_t kStartupBits = 17;
constexpr uint32_t kHeaderSize = 4;
constexpr uint32_t kProgressStep = 1024;

namespace detail {

constexpr uint32_t kPositionTotal = 28568;
// Every position weighs at least 2, so one bucket of 4 targets spans at most 3 positions.
constexpr uint32_t kPositionBucketShift = 2;
constexpr uint32_t kPositionBuckets = (kPositionTotal >> kPositionBucketShift) + 1;

struct PositionTables {
    std::array<uint16_t, kRingSize + 1> cum{};
    std::array<uint16_t, kPositionBuckets> bucketStart{}; // answer of find() for the bucket's first target
};

constexpr PositionTables buildPositionTables()
{
    PositionTables t{};
    for (uint32_t i = kRingSize; i >= 1; --i) {
        t.cum[i - 1] = static_cast<uint16_t>(t.cum[i] + 10000 / (i + 200));
    }
    uint32_t p = kRingSize - 1;
    for (uint32_t b = 0; b < kPositionBuckets; ++b) {
        while (p > 0 && t.cum[p] <= (b << kPositionBucketShift)) {
            --p;
        }
        t.bucketStart[b] = static_cast<uint16_t>(p);
    }
    return t;
}

inline constexpr PositionTables kPositionTables = buildPositionTables();
static_assert(kPositionTables.cum[0] == kPositionTotal);

} // namespace detail

// The fixed model of match positions: position p weighs floor(10000 / (p + 201)), so near
// positions are the more probable. cum(p) is the weight of the positions p..4095.
class PositionModel {
public:
    static constexpr uint32_t kTotal = detail::kPositionTotal;

    static uint32_t cum(uint32_t position) { return detail::kPositionTables.cum[position]; }

    // The position p with cum(p + 1) <= target < cum(p); target must be below kTotal.
    static uint32_t find(uint32_t target)
    {
        uint32_t p = detail::kPositionTables.bucketStart[target >> detail::kPositionBucketShift];
        while (cum(p) <= target) {
            --p;
        }
        return p;
    }
};

// The adaptive model of literals and match lengths. Ranks 1..314 are ordered by falling count; the
// coder sees cum(rank) = sum of the counts of the ranks above it, cum(0) being the total. The
// counts live in a Fenwick tree so that search and update cost O(log n) while every cumulative
// value stays exactly what a plain table of running sums would hold.
class SymbolModel {
public:
    // The coding interval of one rank: [cum(rank), cum(rank - 1)) out of total().
    struct Interval {
        uint32_t rank;
        uint32_t low;
        uint32_t high;
    };

    SymbolModel();

    uint32_t total() const { return mTotal; }
    uint32_t codeOf(uint32_t rank) const { return mRankToCode[rank]; }
    uint32_t countOfCode(uint32_t code) const { return mCount[mCodeToRank[code]]; }

    // The smallest rank with cum(rank) <= target (rank 1 if target is not below the total).
    Interval find(uint32_t target) const
    {
        const uint32_t want = target < mTotal ? mTotal - target : 1;
        uint32_t rank = 0;
        uint32_t below = 0; // counts of ranks 1..rank
        for (uint32_t step = kTreeSize / 2; step != 0; step >>= 1) {
            const uint32_t next = rank + step;
            if (below + mTree[next] < want) {
                rank = next;
                below += mTree[next];
            }
        }
        ++rank;
        return {rank, mTotal - below - mCount[rank], mTotal - below};
    }

    Interval intervalOfCode(uint32_t code) const;

    // Counts one more occurrence of the code at this rank (call after coding it).
    void update(uint32_t rank);

private:
    static constexpr uint32_t kTreeSize = 512; // a power of two above kSymbolCount

    void rebuildTree();

    std::array<uint32_t, kTreeSize> mCount{}; // by rank; [0] is a zero sentinel, unused ranks 0
    std::array<uint32_t, kTreeSize> mTree{};  // Fenwick sums of mCount, 1-based
    std::array<uint16_t, kSymbolCount + 1> mRankToCode{};
    std::array<uint16_t, kSymbolCount> mCodeToRank{};
    uint32_t mTotal = 0;
};

} // namespace lzari
