// The LZARI encoder: the arithmetic coder that mirrors the decoder, a greedy parse and a priced one.
#include "lzari/Codec.h"
#include "lzari/MatchFinder.h"
#include "lzari/Model.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace lzari {

namespace {

// Mirrors the decoder: the same interval arithmetic and the same renormalisation, taken in the
// same two runs (the leading bits low and high - 1 share, then the steps around the middle), so
// low and high are the decoder's after every code. A middle step's bit is not known until the
// next shared bit, so it is counted as pending and sent, inverted, right after that one.
class ArithmeticEncoder {
public:
    explicit ArithmeticEncoder(uint32_t textSize)
        : mOut{uint8_t(textSize), uint8_t(textSize >> 8), uint8_t(textSize >> 16), uint8_t(textSize >> 24)}
    {
    }

    const SymbolModel& model() const { return mSymbols; }

    void encodeCode(uint32_t code)
    {
        const SymbolModel::Interval symbol = mSymbols.intervalOfCode(code);
        narrow(symbol.high, symbol.low, mSymbols.total());
        mSymbols.update(symbol.rank);
    }

    void encodeMatch(const Match& match)
    {
        encodeCode(match.length - kMinMatch + kFirstMatchCode);
        const uint32_t position = match.distance - 1;
        narrow(PositionModel::cum(position), PositionModel::cum(position + 1), PositionModel::kTotal);
    }

    // Picks a quarter inside the final interval. Whatever follows it decodes the same, and the
    // decoder reads 1-bits past the end, so the last byte is padded with 1s and trailing 0xFF
    // bytes are left out.
    std::vector<uint8_t> finish() &&
    {
        ++mPending;
        emit(mLow < kQ1 ? 0 : 1);
        flush();
        while (mOut.size() > kHeaderSize && mOut.back() == 0xFF) {
            mOut.pop_back();
        }
        return std::move(mOut);
    }

private:
    void narrow(uint32_t cumHigh, uint32_t cumLow, uint32_t total)
    {
        constexpr uint32_t kMask = kQ4 - 1;
        const uint32_t range = mHigh - mLow;
        uint32_t top = mLow + range * cumHigh / total - 1;
        uint32_t low = mLow + range * cumLow / total;
        // The marker bits make the count of an all-zero field the field's width.
        const uint32_t shared = uint32_t(__builtin_clz(((low ^ top) << (32 - kStartupBits)) | (1u << 14)));
        if (shared != 0) {
            const uint32_t bits = low >> (kStartupBits - shared);
            const uint32_t first = bits >> (shared - 1);
            const uint32_t rest = bits & ((1u << (shared - 1)) - 1);
            if (mPending + shared <= 32) {
                // The first bit, the pending ones inverted, the rest: one group.
                const uint32_t inverted = first != 0 ? 0 : (1u << mPending) - 1;
                put((first << (mPending + shared - 1)) | (inverted << (shared - 1)) | rest,
                    mPending + shared);
                mPending = 0;
            } else {
                emit(first);
                put(rest, shared - 1);
            }
            low = (low << shared) & kMask;
            top = ((top << shared) | ((1u << shared) - 1)) & kMask;
        }
        // Middle steps while low's next bits are 1s and top's are 0s; none changes nothing.
        const uint32_t lowOnes = (~low & (kQ2 - 1)) << 16;
        const uint32_t topZeros = (top & (kQ2 - 1)) << 16;
        const uint32_t middle = uint32_t(__builtin_clz(lowOnes | topZeros | (1u << 15)));
        mPending += middle;
        low = (low << middle) & (kQ2 - 1);
        top = (((top << middle) | ((1u << middle) - 1)) & (kQ2 - 1)) | kQ2;
        mLow = low;
        mHigh = top + 1;
    }

    // One bit, then the pending ones inverted.
    void emit(uint32_t bit)
    {
        put(bit, 1);
        const uint32_t inverted = bit != 0 ? 0 : 0xFFFFFFFFu;
        for (; mPending >= 32; mPending -= 32) {
            put(inverted, 32);
        }
        put(static_cast<uint32_t>(inverted & ((uint64_t{1} << mPending) - 1)), mPending);
        mPending = 0;
    }

    // The low n bits of bits (n at most 32), highest first. Bytes leave in groups of four.
    void put(uint32_t bits, uint32_t n)
    {
        mBits = (mBits << n) | bits;
        mBitCount += n;
        if (mBitCount >= 32) {
            mBitCount -= 32;
            const uint32_t word = static_cast<uint32_t>(mBits >> mBitCount);
            mOut.push_back(uint8_t(word >> 24));
            mOut.push_back(uint8_t(word >> 16));
            mOut.push_back(uint8_t(word >> 8));
            mOut.push_back(uint8_t(word));
        }
    }

    // The bits still held, the last byte padded with 1s.
    void flush()
    {
        const uint32_t padding = (8 - mBitCount % 8) % 8;
        mBits = (mBits << padding) | ((1u << padding) - 1);
        for (mBitCount += padding; mBitCount != 0; mBitCount -= 8) {
            mOut.push_back(uint8_t(mBits >> (mBitCount - 8)));
        }
    }

    std::vector<uint8_t> mOut;
    SymbolModel mSymbols;
    uint32_t mLow = 0;
    uint32_t mHigh = kQ4;
    uint32_t mPending = 0;
    uint64_t mBits = 0; // the last mBitCount bits (fewer than 32) are not yet out
    uint32_t mBitCount = 0;
};

// Costs in 1/256 bit, from the counts the adaptive model holds when a block's parse is chosen.
constexpr uint32_t kPriceScale = 256;

uint32_t log2Price(uint32_t count)
{
    return static_cast<uint32_t>(std::lround(std::log2(double(count)) * kPriceScale));
}

struct PriceTables {
    std::vector<uint32_t> log2Of = std::vector<uint32_t>(kQ1);             // of 1..kCountCeiling
    std::vector<uint32_t> position = std::vector<uint32_t>(kRingSize + 1); // by distance

    PriceTables()
    {
        for (uint32_t i = 1; i < kQ1; ++i) {
            log2Of[i] = log2Price(i);
        }
        for (uint32_t d = 1; d <= kRingSize; ++d) {
            position[d] = log2Price(PositionModel::kTotal) -
                          log2Price(PositionModel::cum(d - 1) - PositionModel::cum(d));
        }
    }
};

const PriceTables& priceTables()
{
    static const PriceTables tables;
    return tables;
}

// Encoder contract: text is the decoder's ring view (kInitialFill spaces, then the input), so a
// distance is valid exactly when it stays inside text; the finder guarantees both that and that
// no match runs past the end.
class Encoder {
public:
    Encoder(const uint8_t* text, size_t size, EncodeLevel level, const Progress& progress)
        : mText(text), mSize(size), mLevel(level), mProgress(progress), mFinder(text, size),
          mGreedy(uint32_t(size - kInitialFill)), mPriced(uint32_t(size - kInitialFill))
    {
    }

    std::vector<uint8_t> run() &&
    {
        // The initial spaces go into the finder's tree, since matches may reach back into them.
        // Only the last kMaxMatch + 1 of them are needed: every earlier one begins kMaxMatch
        // spaces, as the first of those does, which is nearer and so always the one a match names.
        mFinder.skip(kInitialFill - kMaxMatch);
        Match ignored[MatchFinder::kMostMatches];
        for (size_t pos = kInitialFill - kMaxMatch; pos < kInitialFill; ++pos) {
            mFinder.next(ignored);
        }
        size_t greedyPos = kInitialFill;
        for (size_t start = kInitialFill; start < mSize; start += kBlockSize) {
            const size_t end = std::min(mSize, start + kBlockSize);
            findMatches(start, end);
            while (greedyPos < end) {
                greedyPos += greedyStep(greedyPos, start);
            }
            if (mLevel == EncodeLevel::best) {
                encodePricedBlock(start, end);
            }
            if (mProgress) {
                mProgress(end - kInitialFill, mSize - kInitialFill);
            }
        }
        std::vector<uint8_t> greedy = std::move(mGreedy).finish();
        if (mLevel == EncodeLevel::greedy) {
            return greedy;
        }
        // Prices frozen per block are estimates, so the priced parse can lose; greedy is the floor.
        std::vector<uint8_t> priced = std::move(mPriced).finish();
        return priced.size() <= greedy.size() ? priced : greedy;
    }

private:
    static constexpr size_t kBlockSize = 4096;
    // A match this long is taken without pricing the positions it covers: they would cost a
    // seventh of the encoding time and win less than a thousandth of the size.
    static constexpr uint32_t kNiceLength = 32;
    static constexpr uint32_t kDistanceBits = 13; // 1..kRingSize; 0 for a literal
    static constexpr uint32_t kDistanceMask = (1u << kDistanceBits) - 1;
    static constexpr uint32_t kLengthMask = 0x3F; // 1 for a literal
    static constexpr uint32_t kStepBits = kDistanceBits + 6;
    static constexpr uint64_t kNoWay = std::numeric_limits<uint64_t>::max();
    static_assert(kRingSize <= kDistanceMask && kMaxMatch <= kLengthMask);

    static constexpr uint64_t step(uint32_t length, uint32_t distance)
    {
        return uint64_t{length} << kDistanceBits | distance;
    }

    void findMatches(size_t start, size_t end)
    {
        mFirstMatch.assign(1, 0);
        size_t used = 0;
        for (size_t pos = start; pos < end; ++pos) {
            if (mMatches.size() < used + MatchFinder::kMostMatches) {
                mMatches.resize(2 * (used + MatchFinder::kMostMatches));
            }
            used += mFinder.next(&mMatches[used]);
            mFirstMatch.push_back(uint32_t(used));
        }
    }

    size_t greedyStep(size_t pos, size_t blockStart)
    {
        const size_t index = pos - blockStart;
        const uint32_t first = mFirstMatch[index];
        const uint32_t last = mFirstMatch[index + 1];
        if (first == last) {
            mGreedy.encodeCode(mText[pos]);
            return 1;
        }
        const Match& longest = mMatches[last - 1];
        mGreedy.encodeMatch(longest);
        return longest.length;
    }

    void encodePricedBlock(size_t start, size_t end)
    {
        const PriceTables& tables = priceTables();
        const SymbolModel& model = mPriced.model();
        const uint32_t totalPrice = tables.log2Of[model.total()];
        for (uint32_t code = 0; code < kSymbolCount; ++code) {
            mCodePrice[code] = totalPrice - tables.log2Of[model.countOfCode(code)];
        }

        const size_t n = end - start;
        mBest.assign(n + 1, kNoWay);
        mBest[0] = 0;
        size_t next = 0; // positions before it lie inside a long match already taken
        for (size_t i = 0; i < n; ++i) {
            if (i < next) {
                continue;
            }
            const uint32_t room = uint32_t(std::min<size_t>(n - i, kMaxMatch));
            const uint32_t longest = mFirstMatch[i + 1] == mFirstMatch[i]
                                         ? 0
                                         : std::min(mMatches[mFirstMatch[i + 1] - 1].length, room);
            if (longest >= kNiceLength) {
                next = i + longest;
            }
            const uint64_t here = mBest[i] >> kStepBits << kStepBits;
            mBest[i + 1] = std::min(
                mBest[i + 1], here + (uint64_t{mCodePrice[mText[start + i]]} << kStepBits) + step(1, 0));
            uint32_t length = kMinMatch;
            for (uint32_t k = mFirstMatch[i]; k < mFirstMatch[i + 1] && length <= room; ++k) {
                const Match& match = mMatches[k];
                const uint64_t base =
                    here + (uint64_t{tables.position[match.distance]} << kStepBits) + step(0, match.distance);
                // Branch-free: which of the ways is cheaper is close to a coin toss.
                for (const uint32_t top = std::min(match.length, room); length <= top; ++length) {
                    const uint64_t way =
                        base + (uint64_t{mCodePrice[length - kMinMatch + kFirstMatchCode]} << kStepBits) +
                        step(length, 0);
                    mBest[i + length] = std::min(mBest[i + length], way);
                }
            }
        }

        mPath.clear();
        for (size_t at = n; at > 0;) {
            const Match last{uint32_t(mBest[at] >> kDistanceBits) & kLengthMask,
                             uint32_t(mBest[at]) & kDistanceMask};
            mPath.push_back(last);
            at -= last.length;
        }
        size_t pos = start;
        for (auto step = mPath.rbegin(); step != mPath.rend(); ++step) {
            if (step->length == 1) {
                mPriced.encodeCode(mText[pos]);
            } else {
                mPriced.encodeMatch(*step);
            }
            pos += step->length;
        }
    }

    const uint8_t* mText;
    size_t mSize;
    EncodeLevel mLevel;
    const Progress& mProgress;
    MatchFinder mFinder;
    ArithmeticEncoder mGreedy;
    ArithmeticEncoder mPriced;
    std::vector<Match> mMatches;       // of the block's positions, in order; only grows
    std::vector<uint32_t> mFirstMatch; // index into mMatches by position in the block, plus the end
    uint32_t mCodePrice[kSymbolCount] = {};
    // The cheapest way to each position of the block: its cost above kStepBits, its last step
    // below, so that one min() both compares and keeps the choice. Equal costs go to the shorter
    // last step, then to the nearer distance.
    std::vector<uint64_t> mBest;
    std::vector<Match> mPath;
};

} // namespace

std::vector<uint8_t> encode(const uint8_t* data, size_t size, EncodeLevel level, const Progress& progress)
{
    if (size > std::numeric_limits<uint32_t>::max()) {
        throw std::length_error("LZARI cannot store more than 4 GiB - 1 bytes");
    }
    if (size == 0) {
        return std::vector<uint8_t>(kHeaderSize, 0);
    }
    std::vector<uint8_t> text(kInitialFill + size + MatchFinder::kTextSlack, kFillByte);
    std::copy(data, data + size, text.begin() + kInitialFill);
    return Encoder(text.data(), text.size() - MatchFinder::kTextSlack, level, progress).run();
}

} // namespace lzari
