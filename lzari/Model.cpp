// The adaptive symbol model: start state, halving and the rank exchange that keeps ranks sorted.
#include "lzari/Model.h"

namespace lzari {

SymbolModel::SymbolModel()
{
    for (uint32_t rank = 1; rank <= kSymbolCount; ++rank) {
        mRankToCode[rank] = static_cast<uint16_t>(rank - 1);
        mCodeToRank[rank - 1] = static_cast<uint16_t>(rank);
        mCount[rank] = 1;
    }
    rebuildTree();
}

void SymbolModel::rebuildTree()
{
    mTotal = 0;
    for (uint32_t i = 1; i < kTreeSize; ++i) {
        mTree[i] = mCount[i];
        mTotal += mCount[i];
    }
    for (uint32_t i = 1; i < kTreeSize; ++i) {
        const uint32_t parent = i + (i & (0u - i));
        if (parent < kTreeSize) {
            mTree[parent] += mTree[i];
        }
    }
}

SymbolModel::Interval SymbolModel::intervalOfCode(uint32_t code) const
{
    const uint32_t rank = mCodeToRank[code];
    uint32_t below = 0; // counts of ranks 1..rank-1
    for (uint32_t i = rank - 1; i != 0; i &= i - 1) {
        below += mTree[i];
    }
    return {rank, mTotal - below - mCount[rank], mTotal - below};
}

void SymbolModel::update(uint32_t rank)
{
    if (mTotal >= kCountCeiling) {
        // Rounding up keeps every count at 1 or more, so no code ever loses its interval.
        for (uint32_t i = 1; i <= kSymbolCount; ++i) {
            mCount[i] = (mCount[i] + 1) / 2;
        }
        rebuildTree();
    }
    // Counts fall with rank, so the first rank of the run of equal counts is a binary search away.
    const uint32_t count = mCount[rank];
    uint32_t first = rank;
    if (mCount[rank - 1] == count) {
        uint32_t lo = 1;
        uint32_t hi = rank - 1;
        while (lo < hi) {
            const uint32_t mid = (lo + hi) / 2;
            if (mCount[mid] > count) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        first = lo;
        const uint16_t moved = mRankToCode[first];
        const uint16_t coded = mRankToCode[rank];
        mRankToCode[first] = coded;
        mRankToCode[rank] = moved;
        mCodeToRank[coded] = static_cast<uint16_t>(first);
        mCodeToRank[moved] = static_cast<uint16_t>(rank);
    }
    ++mCount[first];
    ++mTotal;
    for (uint32_t i = first; i < kTreeSize; i += i & (0u - i)) {
        ++mTree[i];
    }
}

} // namespace lzari
