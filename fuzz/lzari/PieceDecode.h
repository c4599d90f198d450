// Decoding through lzari::Decoder with the stream handed out in small pieces and the output drained
// through a small buffer: the path a file takes, shared by the piece fuzz target and the tests.
#pragma once

#include "lzari/Decoder.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace lzari_pieces {

class PieceSource : public lzari::ByteSource {
public:
    PieceSource(const uint8_t* data, size_t size, size_t pieceSize)
        : mData(data), mLeft(size), mPieceSize(pieceSize)
    {
    }
    Piece next() override
    {
        const Piece piece{mData, std::min(mLeft, mPieceSize)};
        mData += piece.size;
        mLeft -= piece.size;
        return piece;
    }

private:
    const uint8_t* mData;
    size_t mLeft;
    size_t mPieceSize;
};

struct Result {
    std::vector<uint8_t> bytes;
    bool stalled = false; // a decodeSome() call wrote nothing before the end
};

// Drains a decoder (built over its source already) through a buffer of `room` bytes: decodeSome()
// into a buffer of its own, or, in place, decodeAfter() into a buffer that keeps the last
// kRingSize bytes before the room, with every other call given less than kInPlaceRoom, so that
// the decoder keeps moving between the ring and the caller's bytes.
inline Result drain(lzari::Decoder& decoder, size_t room, bool takeMarks, bool inPlace = false)
{
    Result result;
    std::vector<uint8_t> buffer(lzari::kRingSize + room);
    uint8_t* const out = buffer.data() + lzari::kRingSize;
    for (size_t call = 0; !decoder.finished(); ++call) {
        const size_t offered = inPlace && call % 2 == 1 ? std::min(room, size_t{lzari::kMaxMatch}) : room;
        const size_t written = inPlace ? decoder.decodeAfter(out, offered) : decoder.decodeSome(out, offered);
        if (written == 0) {
            result.stalled = true;
            break;
        }
        result.bytes.insert(result.bytes.end(), out, out + written);
        const size_t kept = std::min(result.bytes.size(), size_t{lzari::kRingSize});
        std::copy(result.bytes.end() - kept, result.bytes.end(), out - kept);
        if (takeMarks) {
            decoder.takeProgressMark();
        }
    }
    return result;
}

} // namespace lzari_pieces
