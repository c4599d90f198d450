// The constants of the LZARI stream and its two probability models, shared by decoder and encoder.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// limit - 1, for a search key at or above its limit, which no stream gives. Out of line and cold, so
// that the compiler keeps a branch, which the processor predicts and the next code does not wait
// for, instead of a conditional move on the path from one code to the next.
__attribute__((cold, noinline)) inline uint32_t lastBelow(uint32_t limit)
{
    return limit - 1;
}

constexpr uint32_t kPositionTotal = 28568;

// cum[p]: the weight of the positions p..4095; the entry past the end is 0 too, for
// PositionModel::find().
constexpr std::array<uint16_t, kRingSize + 2> buildPositionCum()
{
    std::array<uint16_t, kRingSize + 2> cum{};
    for (uint32_t i = kRingSize; i >= 1; --i) {
        cum[i - 1] = static_cast<uint16_t>(cum[i] + 10000 / (i + 200));
    }
    return cum;
}

inline constexpr std::array<uint16_t, kRingSize + 2> kPositionCum = buildPositionCum();
static_assert(kPositionCum[0] == kPositionTotal);

// Targets per entry of the table of PositionModel::findTable(). Every position weighs at least 2,
// so the targets of one entry span at most three positions.
constexpr uint32_t kTargetsPerEntry = 4;
static_assert(10000 / (kRingSize + 200) >= 2);
static_assert(kPositionTotal % kTargetsPerEntry == 0);

// The table of PositionModel::findTable(): 14 KB, built on first use instead of being stored in
// every program that decodes.
const uint16_t* positionByTarget();

// n zeros, then n ones.
template <class T, uint32_t n> constexpr std::array<T, 2 * n> onesFrom()
{
    std::array<T, 2 * n> ones{};
    for (uint32_t i = n; i < 2 * n; ++i) {
        ones[i] = 1;
    }
    return ones;
}

} // namespace detail

// floor(x / d) for every 32-bit x and divisor 1 <= d < 2^32. Where the processor multiplies 64 by 64
// bits into 128, the quotient is one multiply by m = floor((2^64 - 1) / d), made once per divisor:
// floor((x + 1) * m / 2^64) = floor(x / d), because (x + 1) * m / 2^64 falls short of (x + 1) / d by
// (x + 1) * (1 + r) / (d * 2^64) with r = (2^64 - 1) mod d < d, and (x + 1) * (1 + r) < 2^32 * 2^32,
// so the shortfall is below 1 / d: too little to cross a multiple of 1 / d that (x + 1) / d does not
// reach exactly, and enough to step back below the one it does. Elsewhere it is a plain division.
class Divisor {
public:
    explicit Divisor(uint32_t d)
#if defined(__SIZEOF_INT128__)
        : mMagic(~uint64_t{0} / d)
#else
        : mDivisor(d)
#endif
    {
    }

    // The divisor d * 2^n. floor(floor((2^64 - 1) / d) / 2^n) = floor((2^64 - 1) / (d * 2^n)), so
    // the multiplier is this one's shifted: no second division.
    Divisor times2To(uint32_t n) const
    {
        Divisor scaled = *this;
#if defined(__SIZEOF_INT128__)
        scaled.mMagic >>= n;
#else
        scaled.mDivisor <<= n;
#endif
        return scaled;
    }

    uint32_t divide(uint32_t x) const
    {
#if defined(__SIZEOF_INT128__)
        __extension__ using Wide = unsigned __int128;
        return static_cast<uint32_t>((static_cast<Wide>(uint64_t{x} + 1) * mMagic) >> 64);
#else
        return x / mDivisor;
#endif
    }

private:
#if defined(__SIZEOF_INT128__)
    uint64_t mMagic;
#else
    uint32_t mDivisor;
#endif
};

// What RangeScale needs of a total: ceil(2^47 / total) where the processor multiplies 64 by 64 bits
// into 128, else the total itself.
class ScaleFactor {
public:
    constexpr explicit ScaleFactor(uint32_t total)
#if defined(__SIZEOF_INT128__)
        : mValue(((uint64_t{1} << 47) + total - 1) / total)
#else
        : mValue(total)
#endif
    {
    }

private:
    friend class RangeScale;
#if defined(__SIZEOF_INT128__)
    uint64_t mValue;
#else
    uint32_t mValue;
#endif
};

// floor(c * range / total) for 0 <= c <= total, 2 <= total < 2^15 and range <= 2^17 (so that k below
// fits 64 bits; the symbol totals are at least 314): an end of a model's interval
// scaled to the coder's range. With k = range * ceil(2^47 / total), it is the top half of
// (c * 2^17) * k: c * k / 2^47 exceeds c * range / total by c * range * e / (total * 2^47), with
// e = ceil(2^47 / total) * total - 2^47 < total, which is below range * total / 2^47 <= 1 / total:
// too little to reach the next multiple of 1 / total. The product k is made once per range and
// total, off the path from one code to the next, so scaling an end costs one multiply.
class RangeScale {
public:
    RangeScale(uint32_t range, ScaleFactor factor)
#if defined(__SIZEOF_INT128__)
        : mProduct(range * factor.mValue)
#else
        : mRange(range), mTotal(factor.mValue)
#endif
    {
    }

    uint32_t of(uint32_t c) const
    {
#if defined(__SIZEOF_INT128__)
        __extension__ using Wide = unsigned __int128;
        return static_cast<uint32_t>((static_cast<Wide>(uint64_t{c} << 17) * mProduct) >> 64);
#else
        return mRange * c / mTotal;
#endif
    }

private:
#if defined(__SIZEOF_INT128__)
    uint64_t mProduct;
#else
    uint32_t mRange;
    uint32_t mTotal;
#endif
};

// How many one-bit renormalisation steps the coder takes after narrowing to [low, low + width), for
// registers of `bits` bits (the stream's are kStartupBits wide; narrower ones let a test try every
// interval). A step is possible while the interval lies inside one of the windows [a * 2^s, a * 2^s +
// 2^(s + 1)), s = bits - 1 - steps taken: the lower half, the upper half or the middle of what is left.
// That holds for s exactly when (top >> s) - (low >> s) <= 1, top = low + width - 1, and as
// top - low < 2^(s + 1) decides all but one s, the count is one bit scan and one test: whether
// (low mod 2^s) + top - low reaches 2^(s + 1), a carry once both are shifted up to bit 31. Everything
// is doubled so that a width of 1, which takes all `bits` steps, needs no case of its own.
template <uint32_t bits = kStartupBits> inline uint32_t renormalisationSteps(uint32_t low, uint32_t width)
{
    const uint32_t span = 2 * width - 1; // 2 * top + 1 - 2 * low
    const uint32_t up = static_cast<uint32_t>(__builtin_clz(span));
    const uint32_t spanUp = span << up; // top bit at bit 31
    const uint32_t lowUp = ((2 * low) << up) & 0x7FFFFFFF;
    const uint32_t straddles = lowUp + spanUp < spanUp ? 1 : 0;
    return up - (31 - bits) - straddles;
}

// The fixed model of match positions: position p weighs floor(10000 / (p + 201)), so near
// positions are the more probable. cum(p) is the weight of the positions p..4095.
class PositionModel {
public:
    static constexpr uint32_t kTotal = detail::kPositionTotal;

    static uint32_t cum(uint32_t position) { return detail::kPositionCum[position]; }

    // By target / kTargetsPerEntry, the smallest position of the entry's targets. Fetch it once,
    // outside a loop: the first call builds it.
    static const uint16_t* findTable() { return detail::positionByTarget(); }

    // The position p with cum(p + 1) <= target < cum(p), for targets below kTotal. The table leaves
    // at most two steps, taken without branches; a table of every target (57 KB) left the first
    // level cache on most lookups.
    static uint32_t find(const uint16_t* table, uint32_t target)
    {
        const uint32_t first = table[target / detail::kTargetsPerEntry];
        return first + (cum(first + 1) > target ? 1 : 0) + (cum(first + 2) > target ? 1 : 0);
    }
};

// The adaptive model of literals and match lengths. Ranks 1..314 are ordered by falling count; the
// coder sees cum(rank) = sum of the counts of the ranks above it, cum(0) being the total. Counts are
// kept as running sums in two levels, per block of 16 ranks and within each block, so that search
// and update are a few fixed-length, branch-free loops while every cumulative value stays exactly
// what one plain table of running sums would hold.
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

    // The rank whose counts from the front cover reach: the smallest rank with cum(rank) <= total - 1 -
    // reach. A reach at or above the total, which no stream can give, selects the last rank.
    __attribute__((always_inline)) Interval find(uint32_t reach) const
    {
        if (reach >= mTotal) {
            reach = detail::lastBelow(mTotal);
        }
        const Sum* blockSums = &mBlockSum[kBlockSlots0];
#if defined(__SSE2__)
        // The block's search needs the sum before the block, which a load could fetch only once the
        // block is known. It is the largest block sum not above reach (0 for block 0), so it is
        // reduced from the same compares, in the vector registers, while the block index is counted.
        static_assert(kBlockSlots == 24 && kBlockSize == 16, "three vectors of block sums, two in a block");
        const __m128i reached = _mm_set1_epi16(static_cast<Sum>(reach));
        const __m128i* sums = reinterpret_cast<const __m128i*>(blockSums);
        const __m128i sums0 = _mm_loadu_si128(sums), sums1 = _mm_loadu_si128(sums + 1),
                      sums2 = _mm_loadu_si128(sums + 2);
        const __m128i over0 = _mm_cmpgt_epi16(sums0, reached), over1 = _mm_cmpgt_epi16(sums1, reached),
                      over2 = _mm_cmpgt_epi16(sums2, reached);
        const uint32_t block = uint32_t(
            __builtin_ctz(uint32_t(_mm_movemask_epi8(_mm_packs_epi16(over0, over1))) |
                          uint32_t(_mm_movemask_epi8(_mm_packs_epi16(over2, _mm_setzero_si128()))) << 16));
        __m128i before =
            _mm_max_epi16(_mm_max_epi16(_mm_andnot_si128(over0, sums0), _mm_andnot_si128(over1, sums1)),
                          _mm_andnot_si128(over2, sums2));
        before = _mm_max_epi16(before, _mm_shuffle_epi32(before, 0x4E));
        before = _mm_max_epi16(before, _mm_shuffle_epi32(before, 0xB1));
        before = _mm_max_epi16(before, _mm_shufflehi_epi16(_mm_shufflelo_epi16(before, 0xB1), 0xB1));
        const __m128i inReach = _mm_sub_epi16(reached, before);
        const Sum* inBlock = &mSumInBlock[block * kBlockSize];
        const __m128i* blockRow = reinterpret_cast<const __m128i*>(inBlock);
        const uint32_t offset = uint32_t(__builtin_ctz(uint32_t(
            _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpgt_epi16(_mm_loadu_si128(blockRow), inReach),
                                              _mm_cmpgt_epi16(_mm_loadu_si128(blockRow + 1), inReach))))));
#else
        const uint32_t block = countNotAbove<kBlockSlots>(blockSums, reach);
        const Sum* inBlock = &mSumInBlock[block * kBlockSize];
        const uint32_t offset = countNotAbove<kBlockSize>(
            inBlock, reach - static_cast<uint16_t>(mBlockSum[kBlockSlots0 + block - 1]));
#endif
        const uint32_t rank = block * kBlockSize + offset + 1;
        // Counts of ranks 1..rank.
        const uint32_t upTo = static_cast<uint16_t>(mBlockSum[kBlockSlots0 + block - 1]) +
                              static_cast<uint16_t>(inBlock[offset]);
        // The high end does not wait for the low one: its count is loaded beside the sums.
        return {rank, mTotal - upTo, (mTotal + mCount[rank]) - upTo};
    }

    Interval intervalOfCode(uint32_t code) const
    {
        const uint32_t rank = mCodeToRank[code];
        const uint32_t block = (rank - 1) / kBlockSize;
        const uint32_t upTo =
            static_cast<uint16_t>(mBlockSum[kBlockSlots0 + block - 1]) + mSumInBlock[rank - 1];
        return {rank, mTotal - upTo, mTotal - upTo + mCount[rank]};
    }

    // Counts one more occurrence of the code at this rank (call after coding it). The code first
    // trades places with the first rank of equal count, so that ranks stay sorted by count.
    void update(uint32_t rank)
    {
        if (mTotal >= kCountCeiling) {
            halve();
        }
        const uint32_t count = mCount[rank];
        const uint32_t first = mRunStart[count];
        // The exchange and the run starts are written whether or not they change: which way each
        // goes is close to a coin toss, and a missed guess costs more than the stores.
        const uint16_t moved = mRankToCode[first];
        const uint16_t coded = mRankToCode[rank];
        mRankToCode[first] = coded;
        mRankToCode[rank] = moved;
        mCodeToRank[moved] = static_cast<uint16_t>(rank);
        mCodeToRank[coded] = static_cast<uint16_t>(first);
        mCount[first] = count + 1;
        ++mTotal;
        // The run of count + 1 ends just above first, or starts with it; the run of count loses its head.
        const uint16_t upStart = mRunStart[count + 1];
        mRunStart[count + 1] = mCount[first - 1] != count + 1 ? static_cast<uint16_t>(first) : upStart;
        const uint16_t nextStart = static_cast<uint16_t>(first + (mCount[first + 1] == count ? 1 : 0));
        mRunStart[count] = nextStart;
        const uint32_t block = (first - 1) / kBlockSize;
        const Sum* blockStep = &kOnesFrom[kBlockSlots - block]; // 1 exactly for the blocks from block on
        Sum* blockSum = &mBlockSum[kBlockSlots0];
        const uint32_t offset = (first - 1) % kBlockSize;
        const Sum* rankStep = &kOnesFrom[kBlockSlots - offset];
        Sum* inBlock = &mSumInBlock[block * kBlockSize];
#if defined(__SSE2__)
        // Written out: the compiler keeps a loop of whole vectors, whose control costs as much as the adds.
        addSteps(blockSum, blockStep);
        addSteps(blockSum + 8, blockStep + 8);
        addSteps(blockSum + 16, blockStep + 16);
        addSteps(inBlock, rankStep);
        addSteps(inBlock + 8, rankStep + 8);
#else
        for (uint32_t b = 0; b < kBlockSlots; ++b) {
            blockSum[b] = static_cast<Sum>(blockSum[b] + blockStep[b]);
        }
        for (uint32_t k = 0; k < kBlockSize; ++k) {
            inBlock[k] = static_cast<Sum>(inBlock[k] + rankStep[k]);
        }
#endif
    }

private:
    // Every running sum is at most the total, which stays below 2^15: 16-bit lanes hold them, and
    // signed compares are exact, which is what plain SSE2 offers. The loops then cover whole vectors
    // of 8 lanes, so the compiler replaces them entirely.
    using Sum = int16_t;
    static constexpr uint32_t kBlockSize = 16;
    static constexpr uint32_t kBlocks = (kSymbolCount + kBlockSize - 1) / kBlockSize;
    static constexpr uint32_t kBlockSlots = (kBlocks + 7) / 8 * 8; // the slots past kBlocks hold the total
    // Zeros in front of the block sums, so that the sum before block 0 is read like any other.
    static constexpr uint32_t kBlockSlots0 = 8;
    static_assert(kCountCeiling <= 0x7FFF);
    // kBlockSlots zeros, then as many ones: from &kOnesFrom[kBlockSlots - i], entries i on are 1.
    static constexpr std::array<Sum, 2 * kBlockSlots> kOnesFrom = detail::onesFrom<Sum, kBlockSlots>();

#if defined(__SSE2__)
    static void addSteps(Sum* sums, const Sum* steps)
    {
        __m128i* at = reinterpret_cast<__m128i*>(sums);
        _mm_storeu_si128(
            at, _mm_add_epi16(_mm_loadu_si128(at), _mm_loadu_si128(reinterpret_cast<const __m128i*>(steps))));
    }
#else
    template <uint32_t n> static uint32_t countNotAbove(const Sum* sums, uint32_t reach)
    {
        uint32_t count = 0;
        for (uint32_t k = 0; k < n; ++k) {
            count += static_cast<uint32_t>(static_cast<uint16_t>(sums[k])) <= reach ? 1 : 0;
        }
        return count;
    }
#endif

    void rebuildSums();
    void rebuildRunStarts();
    void halve();

    std::array<uint32_t, kBlocks * kBlockSize + 1> mCount{}; // by rank; [0] is a zero sentinel
    // Aligned so that no vector of sums straddles two cache lines: a split load costs the search
    // cycles on its chain.
    alignas(64)
        std::array<Sum, kBlockSlots0 + kBlockSlots> mBlockSum{}; // from kBlockSlots0: counts of blocks 0..b
    alignas(
        64) std::array<Sum, kBlocks * kBlockSize> mSumInBlock{}; // [rank - 1]: counts of its block up to it
    std::array<uint16_t, kSymbolCount + 1> mRankToCode{};
    std::array<uint16_t, kSymbolCount> mCodeToRank{};
    // By count: the first rank holding it. Exact for every count some rank holds; stale otherwise.
    // Zeroed with one memset (a vector's element-wise fill costs more than a short decode under
    // sanitizers).
    std::unique_ptr<uint16_t[]> mRunStart{new uint16_t[kQ1]()};
    uint32_t mTotal = 0;
};

} // namespace lzari
