// Encoding at either level and decoding must give the input back, and best must not lose to greedy.
#include "lzari/Codec.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The ring starts nearly full of spaces, so it wraps within the first 60 bytes: past 1 KiB an
    // input only repeats work the fuzzer could spend on new inputs.
    size = std::min<size_t>(size, 1024);
    const std::vector<uint8_t> input(data, data + size);
    const std::vector<uint8_t> greedy = lzari::encode(data, size, lzari::EncodeLevel::greedy);
    const std::vector<uint8_t> best = lzari::encode(data, size, lzari::EncodeLevel::best);
    if (best.size() > greedy.size()) {
        std::abort();
    }
    for (const std::vector<uint8_t>* stream : {&greedy, &best}) {
        if (lzari::decode(stream->data(), stream->size(), size) != input) {
            std::abort();
        }
    }
    return 0;
}
