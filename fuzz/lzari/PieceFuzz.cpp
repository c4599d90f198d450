// A stream handed out in pieces of 1, 3, 7 or 64 bytes, drained through a buffer that just holds a
// longest match, with or without taking the progress marks, into a buffer of its own or in place,
// must decode to exactly what the stream decodes to in one piece, and every call must make
// progress until the end.
#include "PieceDecode.h"
#include "lzari/Codec.h"
#include "platform/Bytes.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    // The first byte picks the way the stream is fed; the rest is the stream.
    static constexpr size_t kPieceSizes[] = {1, 3, 7, 64};
    const size_t pieceSize = kPieceSizes[data[0] & 3];
    const bool takeMarks = (data[0] & 4) != 0;
    const size_t room = (data[0] & 8) != 0 ? lzari::kMaxMatch : 4096;
    const bool inPlace = (data[0] & 16) != 0;
    ++data;
    --size;
    const uint64_t limit = std::min<uint64_t>(1 << 14, lzari::plausibleTextSize(size));
    if (size >= lzari::kHeaderSize && platform::load32(data) > limit) {
        return 0;
    }
    lzari_pieces::PieceSource source(data, size, pieceSize);
    if (size < lzari::kHeaderSize) {
        try {
            lzari::Decoder decoder(source);
        } catch (const lzari::ReadError&) {
            return 0;
        }
        std::abort();
    }
    const std::vector<uint8_t> whole = lzari::decode(data, size, limit);
    lzari::Decoder decoder(source);
    const lzari_pieces::Result result = lzari_pieces::drain(decoder, room, takeMarks, inPlace);
    if (result.stalled || result.bytes != whole) {
        std::abort();
    }
    return 0;
}
