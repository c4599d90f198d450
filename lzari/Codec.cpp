// Decoding of a stream held in memory, through the same core that decodes files.
#include "lzari/Codec.h"

#include "lzari/Decoder.h"

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
    : std::length_error("LZARI stream declares " + std::to_string(declared) +
                        " bytes, more than the limit of " + std::to_string(limit)),
      mDeclared(declared)
{
}

std::vector<uint8_t> decode(const uint8_t* data, size_t size, uint64_t maxOutput, const Progress& progress)
{
    MemorySource source(data, size);
    Decoder decoder(source);
    if (decoder.textSize() > maxOutput) {
        throw OutputLimitError(decoder.textSize(), maxOutput);
    }
    // The last match may run up to kMaxMatch - 1 bytes past the length field.
    std::vector<uint8_t> out(decoder.textSize() == 0 ? 0 : size_t{decoder.textSize()} + kMaxMatch - 1);
    size_t written = 0;
    while (!decoder.finished()) {
        written += decoder.decodeSome(out.data() + written, out.size() - written);
        if (decoder.takeProgressMark() && progress) {
            progress(decoder.count(), decoder.textSize());
        }
    }
    out.resize(written);
    return out;
}

} // namespace lzari
