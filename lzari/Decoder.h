// The one LZARI decoding core, fed by a source of compressed bytes and drained in caller buffers.
#pragma once

#include "lzari/Model.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace lzari {

// Hands out the compressed stream piece by piece; an empty piece means the stream has ended.
class ByteSource {
public:
    struct Piece {
        const uint8_t* data;
        size_t size;
    };
    virtual ~ByteSource() = default;
    virtual Piece next() = 0;
};

// Contract: reads only the pieces its source hands out and writes only into the buffer given to
// decodeSome(). Any byte string decodes: bits past the end read as 1, ring positions that a
// damaged stream reads before writing hold 0, and a last match running past textSize() is produced
// whole. The counters are 64-bit, so a length field near 4 GiB ends instead of wrapping around.
class Decoder {
    static constexpr size_t kCopySlack = 8; // a match copy may write this far past its end

public:
    // The room decodeAfter() needs to decode in place.
    static constexpr size_t kInPlaceRoom = kMaxMatch + kCopySlack;

    // Reads the length field (throws ReadError when the source has fewer than 4 bytes) and, unless
    // it is 0, the first kStartupBits bits.
    explicit Decoder(ByteSource& source);

    uint32_t textSize() const { return mTextSize; }
    // Bytes produced so far: textSize() once finished, or up to kMaxMatch - 1 more.
    uint64_t count() const { return mCount; }
    bool finished() const { return mCount >= mTextSize; }

    // Decodes codes into out[0..room) while the stream lasts and room for a longest match is left,
    // stopping early after the code that passes the next progress mark at or above count().
    // Returns the bytes written: more than 0 unless finished() or room < kMaxMatch, whether or not
    // the caller takes the marks.
    size_t decodeSome(uint8_t* out, size_t room);

    // The same for a caller whose buffer holds, right before out, the last min(count(), kRingSize)
    // bytes produced, as a buffer of the whole output does: once kRingSize bytes are out and room
    // holds kInPlaceRoom, codes are decoded into out itself, with no copy. A caller that uses it
    // uses it throughout: the ring is not kept while it decodes in place.
    size_t decodeAfter(uint8_t* out, size_t room);

    // True once for each progress mark (every kProgressStep bytes) that the count has passed, the
    // moments at which the setup program has always printed its progress line.
    bool takeProgressMark();

private:
    // Unread bits, inverted, the next one at the top. run() keeps the word and the count in locals of
    // their own, since the bytes it writes could otherwise alias every member.
    struct BitBuffer {
        uint64_t bits;
        uint32_t count;
    };
    // Decodes codes into [at, end) while the stream lasts and a longest match fits, up to the next
    // progress mark; the kRingSize bytes before `at` are the ring. Returns the end of what it wrote.
    uint8_t* run(uint8_t* at, uint8_t* end);
    // Tops mBits up to at least 57 bits, with 1-bits (0 inverted) once the stream has ended.
    void refill();
    // The same from the eight bytes at in, for a buffer holding at least one bit. Bits and count
    // apart, so that run() keeps them in two registers.
    static void refillWord(uint64_t& bits, uint32_t& count, const uint8_t*& in)
    {
        // The bits below the whole bytes taken are the stream's next ones, so the next refill ORs
        // the same values over them.
        const uint64_t word =
            ~(uint64_t{in[0]} << 56 | uint64_t{in[1]} << 48 | uint64_t{in[2]} << 40 | uint64_t{in[3]} << 32 |
              uint64_t{in[4]} << 24 | uint64_t{in[5]} << 16 | uint64_t{in[6]} << 8 | uint64_t{in[7]});
        const uint32_t taken = (64 - count) / 8;
        bits |= word >> 1 >> (count - 1); // a full buffer takes nothing
        count += 8 * taken;
        in += taken;
    }

    ByteSource& mSource;
    const uint8_t* mIn = nullptr;
    const uint8_t* mInEnd = nullptr;
    bool mInputEnded = false;
    BitBuffer mBits{0, 0};

    uint32_t mTextSize = 0;
    uint64_t mCount = 0;
    uint64_t mProgressMark = 0;
    uint32_t mLow = 0;
    uint32_t mRange = kQ4;
    // How far the code value lies below the top of the range, low + range - 1. Every step moves the
    // value and the top alike (both doubled, less the same quarter), so the distance only doubles and
    // takes the new bit inverted, and it stays below the range for every input, since each chosen
    // interval holds the value. Measured from the top, the next code's search needs no subtraction.
    uint32_t mHeadroom = 0;
    // The ring, unrolled: the byte at distance d is mWindow[mWindowPos - d]. Codes are decoded into
    // it straight, with no wrap to mask, and the window slides back by whole runs.
    static constexpr size_t kWindowRun = 64 * 1024;
    size_t mWindowPos = kRingSize;
    bool mWindowStale = false; // decodeAfter() decoded in place since the ring was last written
    SymbolModel mSymbols;
    std::vector<uint8_t> mWindow;
};

} // namespace lzari
