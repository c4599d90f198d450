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

// Drains a decoder (built over its source already) through a buffer of `room` bytes.
inline Result drain(lzari::Decoder& decoder, size_t room, bool takeMarks)
{
    Result result;
    std::vector<uint8_t> buffer(room);
    while (!decoder.finished()) {
        const size_t written = decoder.decodeSome(buffer.data(), buffer.size());
        if (written == 0) {
            result.stalled = true;
            break;
        }
        result.bytes.insert(result.bytes.end(), buffer.begin(), buffer.begin() + written);
        if (takeMarks) {
            decoder.takeProgressMark();
        }
    }
    return result;
}

} // namespace lzari_pieces
