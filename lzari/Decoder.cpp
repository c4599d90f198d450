// The LZARI decoding loop: arithmetic decoding of codes and positions, and the ring copy.
#include "lzari/Decoder.h"

#include "lzari/Codec.h"

#include <algorithm>

namespace lzari {

Decoder::Decoder(ByteSource& source) : mSource(source)
{
    // The length field may arrive split over pieces, so it is read byte by byte.
    uint32_t textSize = 0;
    for (uint32_t i = 0; i < kHeaderSize; ++i) {
        while (mIn == mInEnd) {
            const ByteSource::Piece piece = mSource.next();
            if (piece.size == 0) {
                throw ReadError();
            }
            mIn = piece.data;
            mInEnd = piece.data + piece.size;
        }
        textSize |= static_cast<uint32_t>(*mIn++) << (8 * i);
    }
    mTextSize = textSize;
    if (mTextSize == 0) {
        return;
    }
    for (uint32_t i = 0; i < kStartupBits; ++i) {
        mValue = 2 * mValue + nextBit();
    }
    std::fill(mRing.begin(), mRing.begin() + kInitialFill, kFillByte);
}

void Decoder::refillBits()
{
    if (mInEnd - mIn >= 8) {
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) {
            bits = (bits << 8) | mIn[i];
        }
        mIn += 8;
        mBits = bits;
        mBitCount = 64;
        return;
    }
    // Near the end of a piece: take what is left, byte by byte, asking for the next piece when empty.
    mBits = 0;
    mBitCount = 0;
    while (mBitCount < 64) {
        if (mIn == mInEnd && !mInputEnded) {
            const ByteSource::Piece piece = mSource.next();
            mIn = piece.data;
            mInEnd = piece.data + piece.size;
            mInputEnded = piece.size == 0;
            if (!mInputEnded && mBitCount == 0 && piece.size >= 8) {
                refillBits();
                return;
            }
        }
        // Past the end every byte is 0xFF: the bits the stream never sent read as 1.
        const uint64_t byte = mIn != mInEnd ? *mIn++ : 0xFF;
        mBits |= byte << (56 - mBitCount);
        mBitCount += 8;
        if (mInputEnded && mBitCount < 64) {
            mBits |= ~uint64_t{0} >> mBitCount;
            mBitCount = 64;
        }
    }
}

bool Decoder::takeProgressMark()
{
    if (mCount <= mProgressMark) {
        return false;
    }
    mProgressMark += kProgressStep;
    return true;
}

size_t Decoder::decodeSome(uint8_t* out, size_t room)
{
    uint32_t low = mLow;
    uint32_t high = mHigh;
    uint32_t value = mValue;
    uint32_t r = mRingPos;
    uint64_t count = mCount;
    const uint64_t stop = std::min<uint64_t>(mTextSize, mProgressMark + 1);
    size_t written = 0;

    // Both totals stay below 2^15 and the range at most 2^17, so no product leaves 32 bits.
    auto renormalise = [&] {
        for (;;) {
            if (low >= kQ2) {
                value -= kQ2;
                low -= kQ2;
                high -= kQ2;
            } else if (low >= kQ1 && high <= kQ3) {
                value -= kQ1;
                low -= kQ1;
                high -= kQ1;
            } else if (high > kQ2) {
                break;
            }
            low += low;
            high += high;
            value = 2 * value + nextBit();
        }
    };

    while (count < stop && room - written >= kMaxMatch) {
        uint32_t range = high - low;
        const uint32_t total = mSymbols.total();
        const SymbolModel::Interval symbol = mSymbols.find(((value - low + 1) * total - 1) / range);
        high = low + range * symbol.high / total;
        low = low + range * symbol.low / total;
        renormalise();
        const uint32_t code = mSymbols.codeOf(symbol.rank);
        mSymbols.update(symbol.rank);

        if (code < kFirstMatchCode) {
            out[written++] = static_cast<uint8_t>(code);
            mRing[r] = static_cast<uint8_t>(code);
            r = (r + 1) & kRingMask;
            ++count;
            continue;
        }

        range = high - low;
        uint32_t target = ((value - low + 1) * PositionModel::kTotal - 1) / range;
        // Unreachable while low <= value < high holds, as it does for every input; kept so that no
        // table is ever indexed past its end. The clamped target selects position 0, as it would.
        target = std::min(target, PositionModel::kTotal - 1);
        const uint32_t position = PositionModel::find(target);
        high = low + range * PositionModel::cum(position) / PositionModel::kTotal;
        low = low + range * PositionModel::cum(position + 1) / PositionModel::kTotal;
        renormalise();

        const uint32_t length = code - kFirstMatchCode + kMinMatch;
        uint32_t from = r - position - 1;
        // Byte by byte: a source overlapping the bytes being written repeats them.
        for (uint32_t k = 0; k < length; ++k) {
            const uint8_t byte = mRing[from & kRingMask];
            out[written++] = byte;
            mRing[r] = byte;
            r = (r + 1) & kRingMask;
            ++from;
        }
        count += length;
    }

    mLow = low;
    mHigh = high;
    mValue = value;
    mRingPos = r;
    mCount = count;
    return written;
}

} // namespace lzari
