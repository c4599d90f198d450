// Any byte string must decode without reading or writing out of bounds, within the output limit
// and the length the stream's size makes plausible.
#include "lzari/Codec.h"
#include "platform/Bytes.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Small enough that a fuzzer spends its time on the bits, not on long runs of output; the ring
    // starts nearly full, so even short outputs reach every distance and wrap it.
    const uint64_t limit = std::min<uint64_t>(1 << 12, lzari::plausibleTextSize(size));
    try {
        const std::vector<uint8_t> out = lzari::decode(data, size, limit);
        // The length field, or up to one longest match more when the last match overshoots.
        const uint64_t declared = platform::load32(data);
        if (out.size() < declared || out.size() > declared + 59 || declared > limit) {
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
