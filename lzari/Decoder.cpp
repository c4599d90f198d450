// The LZARI decoding loop: arithmetic decoding of codes and positions, and the match copy.
#include "lzari/Decoder.h"

#include "lzari/Codec.h"

#include <algorithm>
#include <cstring>

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
    refill();
    // The range is Q4 and the value its first bits, so the headroom is those bits inverted.
    mHeadroom = static_cast<uint32_t>(mBits.bits >> (64 - kStartupBits));
    mBits.bits <<= kStartupBits;
    mBits.count -= kStartupBits;
    // The ring starts with kInitialFill spaces behind the first write and zeros before them.
    mWindow.assign(kRingSize + kWindowRun + kCopySlack, 0);
    std::fill(mWindow.begin() + (kRingSize - kInitialFill), mWindow.begin() + kRingSize, kFillByte);
}

void Decoder::refill()
{
    BitBuffer& buffer = mBits;
    if (mInEnd - mIn >= 8 && buffer.count > 0) {
        refillWord(buffer.bits, buffer.count, mIn);
        return;
    }
    while (buffer.count <= 56) {
        if (mIn == mInEnd) {
            if (!mInputEnded) {
                const ByteSource::Piece piece = mSource.next();
                mIn = piece.data;
                mInEnd = piece.data + piece.size;
                mInputEnded = piece.size == 0;
                continue;
            }
            // The bits the stream never sent read as 1, inverted 0.
            buffer.count = 64;
            return;
        }
        buffer.bits |= uint64_t{static_cast<uint8_t>(~*mIn++)} << (56 - buffer.count);
        buffer.count += 8;
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
    if (mWindowPos + kMaxMatch > kRingSize + kWindowRun) {
        std::copy(mWindow.begin() + (mWindowPos - kRingSize), mWindow.begin() + mWindowPos, mWindow.begin());
        mWindowPos = kRingSize;
    }
    uint8_t* const begin = mWindow.data() + mWindowPos;
    const size_t written = size_t(run(begin, begin + std::min(room, kRingSize + kWindowRun - mWindowPos)) - begin);
    std::copy(begin, begin + written, out);
    mWindowPos += written;
    return written;
}

size_t Decoder::decodeAfter(uint8_t* out, size_t room)
{
    // Before kRingSize bytes are out, the ring still holds its starting fill, which no caller has.
    if (mCount >= kRingSize && room >= kInPlaceRoom) {
        mWindowStale = true;
        return size_t(run(out, out + (room - kCopySlack)) - out);
    }
    if (mWindowStale) {
        std::copy(out - kRingSize, out, mWindow.begin());
        mWindowPos = kRingSize;
        mWindowStale = false;
    }
    return decodeSome(out, room);
}

uint8_t* Decoder::run(uint8_t* at, uint8_t* const end)
{
    uint32_t low = mLow;
    uint32_t range = mRange;
    uint32_t headroom = mHeadroom;
    uint64_t bits = mBits.bits;
    uint32_t bitCount = mBits.count;
    const uint8_t* in = mIn;
    const uint8_t* inEnd = mInEnd;
    const uint16_t* const positionOf = PositionModel::findTable();
    static constexpr ScaleFactor kPositionScale{PositionModel::kTotal};
    // Stop after the code that passes the next mark at or above the count. A mark the caller has
    // not taken yet lies below it: stopping there would hand back nothing, call after call.
    uint64_t mark = mProgressMark;
    if (mCount > mark) {
        mark += (mCount - mark + kProgressStep - 1) / kProgressStep * kProgressStep;
    }
    const uint64_t stop = std::min<uint64_t>(mTextSize, mark + 1);
    if (mCount >= stop || size_t(end - at) < kMaxMatch) {
        return at;
    }
    // The count grows with `at`, so one bound serves both: the codes go on while the count is below
    // the stop and a longest match still fits.
    uint8_t* const start = at;
    uint8_t* const last = at + std::min<uint64_t>(stop - mCount - 1, size_t(end - at) - kMaxMatch);

    // Both totals stay below 2^15 and the range at most 2^17, so no product leaves 32 bits.
    //
    // A code's count from the front, reach = floor(headroom * total / range), is the classic
    // decoder's target counted from the other end: total - 1 - target. It lies below the total
    // because the headroom lies below the range.
    //
    // The range is the width the last code left, shifted by the renormalisation steps that followed.
    // The width's divisor is made while the steps are still being counted, and the range's is that
    // one shifted (Divisor::times2To), so the reach waits for neither a division nor a shift of its
    // own.
    Divisor byRange(range);
    // Narrows [low, low + range) to [low + riseLow, low + riseHigh) and renormalises. One-bit steps
    // would subtract the same quarters from low, high and value and double them, so the range becomes
    // the width doubled per step, low its low bits doubled, and the headroom only doubles and takes
    // the new bits inverted, as the buffer holds them. The steps' bits, at most 17, come in one piece.
    auto narrow = [&](uint32_t riseLow, uint32_t riseHigh) __attribute__((always_inline))
    {
        const uint32_t width = riseHigh - riseLow;
        headroom -= range - riseHigh;
        low += riseLow;
        const Divisor byWidth(width);
        const uint32_t n = renormalisationSteps(low, width);
        low = (low << n) & (kQ2 - 1);
        range = width << n;
        byRange = byWidth.times2To(n);
        const uint32_t taken = static_cast<uint32_t>(bits >> 1 >> (63 - n)); // n may be 0
        bits <<= n;
        bitCount -= n;
        headroom = (headroom << n) | taken;
    };

    while (at <= last) {
        // Topped up before every code, whether or not its bits are needed yet: a code and its
        // position take at most 2 * kStartupBits bits, and a test of the count before each
        // renormalisation went either way.
        if (inEnd - in >= 8) {
            refillWord(bits, bitCount, in);
        } else {
            mBits = {bits, bitCount};
            mIn = in;
            refill();
            bits = mBits.bits;
            bitCount = mBits.count;
            in = mIn;
            inEnd = mInEnd;
        }
        const uint32_t total = mSymbols.total();
        // Made while the search runs: the range is known before the code's count is.
        const RangeScale symbolScale(range, ScaleFactor(total));
        const SymbolModel::Interval symbol = mSymbols.find(byRange.divide(headroom * total));
        narrow(symbolScale.of(symbol.low), symbolScale.of(symbol.high));
        const uint32_t code = mSymbols.codeOf(symbol.rank);
        mSymbols.update(symbol.rank);

        if (code < kFirstMatchCode) {
            *at++ = static_cast<uint8_t>(code);
            continue;
        }

        const RangeScale positionScale(range, kPositionScale);
        uint32_t reach = byRange.divide(headroom * PositionModel::kTotal);
        // Unreachable while the headroom lies below the range, as it does for every input; kept so
        // that no table is ever indexed past its end. The clamped reach selects the farthest position.
        if (reach >= PositionModel::kTotal) {
            reach = detail::lastBelow(PositionModel::kTotal);
        }
        const uint32_t position = PositionModel::find(positionOf, PositionModel::kTotal - 1 - reach);
        narrow(positionScale.of(PositionModel::cum(position + 1)),
               positionScale.of(PositionModel::cum(position)));

        const uint32_t length = code - kFirstMatchCode + kMinMatch;
        const uint8_t* from = at - position - 1;
        if (position + 1 >= 8) {
            // Eight at a time: every byte read lies at least eight behind the one being written,
            // so it is final. The last group may write up to seven bytes past the match.
            for (uint32_t k = 0; k < length; k += 8) {
                std::memcpy(at + k, from + k, 8);
            }
            at += length;
        } else {
            // Byte by byte: a source overlapping the bytes being written repeats them.
            for (uint32_t k = 0; k < length; ++k) {
                *at++ = from[k];
            }
        }
    }

    mLow = low;
    mRange = range;
    mHeadroom = headroom;
    mCount += uint64_t(at - start);
    mBits = {bits, bitCount};
    mIn = in;
    return at;
}

} // namespace lzari
