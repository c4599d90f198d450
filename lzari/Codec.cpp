// Decoding of a stream held in memory, through the same core that decodes files.
#include "lzari/Codec.h"

#include "lzari/Decoder.h"

#include <algorithm>
#include <limits>
#include <new>
#include <string>

namespace lzari {

namespace {

class MemorySource : public ByteSource {
public:
    MemorySource(const uint8_t* data, size_t size) : mData(data), mSize(size) {}
    Piece next() override
    {
        const Piece piece{mData, mSize};
        mData = nullptr;
        mSize = 0;
        return piece;
    }

private:
    const uint8_t* mData;
    size_t mSize;
};

} // namespace

OutputLimitError::OutputLimitError(uint64_t declared, uint64_t limit)
    : std::runtime_error("LZARI stream declares " + std::to_string(declared) +
                         " bytes, more than the limit of " + std::to_string(limit)),
      mDeclared(declared)
{
}

size_t outputCapacity(uint32_t textSize, uint64_t addressable)
{
    static_assert(sizeof(uint64_t) > sizeof(uint32_t), "the sum below must not wrap");
    // The last match may run up to kMaxMatch - 1 bytes past the length field.
    const uint64_t capacity = textSize == 0 ? 0 : uint64_t{textSize} + kMaxMatch - 1;
    if (capacity > addressable || capacity > std::numeric_limits<size_t>::max()) {
        throw std::bad_alloc();
    }
    return static_cast<size_t>(capacity);
}

std::vector<uint8_t> decode(const uint8_t* data, size_t size, uint64_t maxOutput, const Progress& progress)
{
    MemorySource source(data, size);
    Decoder decoder(source);
    if (decoder.textSize() > maxOutput) {
        throw OutputLimitError(decoder.textSize(), maxOutput);
    }
    std::vector<uint8_t> out;
    out.resize(outputCapacity(decoder.textSize(), out.max_size()));
    size_t written = 0;
    while (!decoder.finished()) {
        // The output so far lies right before the room: the ring needs no copy of its own.
        const size_t step = decoder.decodeAfter(out.data() + written, out.size() - written);
        if (step == 0) {
            // Unreachable while the capacity holds a longest match past every code; it stops
            // a loop that would otherwise spin forever.
            throw std::logic_error("LZARI output buffer exhausted");
        }
        written += step;
        if (decoder.takeProgressMark() && progress) {
            progress(decoder.count(), decoder.textSize());
        }
    }
    out.resize(written);
    return out;
}

} // namespace lzari
