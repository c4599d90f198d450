// The adaptive symbol model: start state, halving and the rank exchange that keeps ranks sorted.
#include "lzari/Model.h"

namespace lzari {

namespace detail {

const uint16_t* positionByTarget()
{
    // Built once on the heap: a table in static storage, even a zeroed one, may still be stored in
    // the program file, and one returned by value the compiler folds into data.
    static const uint16_t* const table = [] {
        constexpr uint32_t kEntries = kPositionTotal / kTargetsPerEntry;
        uint16_t* byTarget = new uint16_t[kEntries];
        uint32_t p = kRingSize - 1;
        for (uint32_t entry = 0; entry < kEntries; ++entry) {
            // The entry's last target has the smallest position.
            const uint32_t target = entry * kTargetsPerEntry + kTargetsPerEntry - 1;
            while (kPositionCum[p] <= target) {
                --p;
            }
            byTarget[entry] = static_cast<uint16_t>(p);
        }
        return byTarget;
    }();
    return table;
}

} // namespace detail

SymbolModel::SymbolModel()
{
    for (uint32_t rank = 1; rank <= kSymbolCount; ++rank) {
        mRankToCode[rank] = static_cast<uint16_t>(rank - 1);
        mCodeToRank[rank - 1] = static_cast<uint16_t>(rank);
        mCount[rank] = 1;
    }
    rebuildSums();
    rebuildRunStarts();
}

void SymbolModel::rebuildSums()
{
    mTotal = 0;
    for (uint32_t b = 0; b < kBlocks; ++b) {
        uint32_t inBlock = 0;
        for (uint32_t k = 0; k < kBlockSize; ++k) {
            inBlock += mCount[b * kBlockSize + k + 1];
            mSumInBlock[b * kBlockSize + k] = static_cast<Sum>(inBlock);
        }
        mTotal += inBlock;
        mBlockSum[kBlockSlots0 + b] = static_cast<Sum>(mTotal);
    }
    // Never below a count searched for, so find() never stops in them; update() keeps them equal to the
    // total.
    for (uint32_t b = kBlocks; b < kBlockSlots; ++b) {
        mBlockSum[kBlockSlots0 + b] = static_cast<Sum>(mTotal);
    }
}

void SymbolModel::halve()
{
    // Rounding up keeps every count at 1 or more, so no code ever loses its interval.
    for (uint32_t rank = 1; rank <= kSymbolCount; ++rank) {
        mCount[rank] = (mCount[rank] + 1) / 2;
    }
    rebuildSums();
    rebuildRunStarts();
}

void SymbolModel::rebuildRunStarts()
{
    for (uint32_t rank = 1; rank <= kSymbolCount; ++rank) {
        if (mCount[rank] != mCount[rank - 1]) {
            mRunStart[mCount[rank]] = static_cast<uint16_t>(rank);
        }
    }
}

} // namespace lzari
