// Exact match search for the encoder: at each position, the nearest match of every length.
#pragma once

#include "lzari/Model.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace lzari {

struct Match {
    uint32_t length;
    uint32_t distance; // 1..kRingSize; the stream codes it as position distance - 1
};

// A binary tree of the window's suffixes per hash of their first three bytes, re-rooted at every
// insertion, so that younger suffixes sit nearer the root: the binary-tree match finder of Igor
// Pavlov's LZMA SDK (bt3), itself after the search trees of Haruhiko Okumura's LZSS.C (1989),
// here with no depth cut. The search path of a suffix then meets, for each length, the
// nearest earlier suffix that shares that many bytes, so the results are exact: what trying
// every distance would give.
class MatchFinder {
public:
    // text must outlive the finder; it is the whole text the decoder's ring sees, initial fill
    // included, and distances never reach before its start. kTextSlack bytes past its end must
    // be readable too; their values do not matter.
    MatchFinder(const uint8_t* text, size_t size);

    // Inserts the next position (positions come in order from 0) and writes its matches to out,
    // longer ones after shorter ones, each the nearest of its length or more: out[k].distance serves
    // every length from out[k - 1].length + 1 to out[k].length. Returns how many; matches are at
    // least kMinMatch and at most kMaxMatch long and never run past the end of the text.
    size_t next(Match* out);

    // Moves past `count` positions without inserting them. Exact only when a position inserted
    // later shares every skipped suffix's first kMaxMatch bytes, so no search could prefer one.
    void skip(size_t count) { mPos += count; }

    static constexpr size_t kTextSlack = 8;
    static constexpr size_t kMostMatches = kMaxMatch - kMinMatch + 1;

private:
    // A power of two above kRingSize: a node's slot is its position's low bits, and no slot is
    // reused while its position is still within reach.
    static constexpr uint32_t kSlots = 2 * kRingSize;
    static constexpr uint32_t kEmpty = 0; // what value-initialisation gives
    static constexpr uint32_t kOffset = kSlots; // stored positions are pos + kOffset, with the same low bits
    static constexpr uint32_t kHashBits = 14;

    const uint8_t* mText;
    size_t mSize;
    size_t mPos = 0;
    // Zeroed (kEmpty) with one memset each, which matters for the many short texts of a fuzzer.
    std::unique_ptr<uint32_t[]> mHead{new uint32_t[size_t{1} << kHashBits]()};
    std::unique_ptr<uint32_t[]> mChildren{new uint32_t[2 * kSlots]()}; // [2 * slot] smaller, [2 * slot + 1] greater
};

} // namespace lzari
