// Any byte string must decode without reading or writing out of bounds, within the output limit.
#include "lzari/Codec.h"
#include "platform/Bytes.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Small enough that a fuzzer spends its time on the bits, not on long runs of output; the ring
    // starts nearly full, so even short outputs reach every distance and wrap it.
    constexpr uint64_t kLimit = 1 << 12;
    try {
        const std::vector<uint8_t> out = lzari::decode(data, size, kLimit);
        // The length field, or up to one longest match more when the last match overshoots.
        const uint64_t declared = platform::load32(data);
        if (out.size() < declared || out.size() > declared + 59) {
            std::abort();
        }
    } catch (const lzari::ReadError& error) {
        if (size >= 4 || error.code() != 1) {
            std::abort();
        }
    } catch (const lzari::OutputLimitError&) {
    }
    return 0;
}
