// The binary-tree match search: one walk per position that both finds matches and re-roots the tree.
#include "lzari/MatchFinder.h"

#include <algorithm>
#include <cstring>

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the word compare below counts equal bytes from the low end of a little-endian word"
#endif

namespace lzari {

namespace {

// The bytes from len on that a and b share, up to limit. Compares eight at a time, which is why
// the text must stay readable for kTextSlack bytes past its end.
uint32_t extend(const uint8_t* a, const uint8_t* b, uint32_t len, uint32_t limit)
{
    while (len < limit) {
        uint64_t x, y;
        std::memcpy(&x, a + len, sizeof x);
        std::memcpy(&y, b + len, sizeof y);
        if (x != y) {
            return std::min(limit, len + uint32_t(__builtin_ctzll(x ^ y)) / 8);
        }
        len += 8;
    }
    return limit;
}

} // namespace

MatchFinder::MatchFinder(const uint8_t* text, size_t size)
    : mText(text), mSize(size)
{
}

size_t MatchFinder::next(Match* out)
{
    const size_t pos = mPos++;
    const uint32_t slot = static_cast<uint32_t>(pos) & (kSlots - 1);
    const uint32_t lenLimit = static_cast<uint32_t>(std::min<size_t>(kMaxMatch, mSize - pos));
    if (lenLimit < kMinMatch) {
        return 0; // nothing later can match this close to the end, so it need not be in the tree
    }
    const uint8_t* cur = mText + pos;
    const uint32_t key = cur[0] | uint32_t{cur[1]} << 8 | uint32_t{cur[2]} << 16;
    const uint32_t hash = (key * 2654435761u) >> (32 - kHashBits);
    const uint32_t self = static_cast<uint32_t>(pos) + kOffset;
    uint32_t candidate = mHead[hash];
    mHead[hash] = self;

    uint32_t* smaller = &mChildren[2 * slot]; // where the next suffix below ours hangs
    uint32_t* greater = &mChildren[2 * slot + 1];
    uint32_t lenSmaller = 0; // bytes the current suffix shares with every suffix below/above the path
    uint32_t lenGreater = 0;
    uint32_t best = kMinMatch - 1;
    size_t found = 0;
    for (;;) {
        const uint32_t distance = self - candidate;
        if (candidate == kEmpty || distance > kRingSize) {
            *smaller = kEmpty;
            *greater = kEmpty;
            return found;
        }
        uint32_t* node = &mChildren[2 * (candidate & (kSlots - 1))];
        const uint8_t* older = cur - distance;
        const uint32_t len = extend(older, cur, std::min(lenSmaller, lenGreater), lenLimit);
        if (len > best) {
            best = len;
            out[found++] = {len, distance};
            if (len == lenLimit) {
                // Equal as far as any later search looks: the older suffix leaves the tree and
                // ours takes its subtrees.
                *smaller = node[0];
                *greater = node[1];
                return found;
            }
        }
        if (older[len] < cur[len]) {
            *smaller = candidate;
            smaller = node + 1;
            candidate = *smaller;
            lenSmaller = len;
        } else {
            *greater = candidate;
            greater = node;
            candidate = *greater;
            lenGreater = len;
        }
    }
}

} // namespace lzari
