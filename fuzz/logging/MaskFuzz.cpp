// Fuzz target for the masking: never crashes, never lengthens a text, always agrees with the plain
// reference form; the first bytes also drive one addMask call with arbitrary positions.
#include "logging/Masking.h"
#include "tests/logging/MaskingReference.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string masked = rlxutil::maskSensitiveInfo(text);
    if (masked.size() > text.size() || masked != testref::maskSensitiveInfo(text)) {
        std::abort();
    }

    if (size >= 2) {
        // Positions near the text's length are the interesting ones; a few overshoot it.
        const uint32_t begin = data[0] % (size + 4);
        const uint32_t end = data[1] % (size + 4);
        const std::string ranged = rlxutil::addMask(text, begin, end);
        const bool unchanged = end > size || begin >= end;
        if ((unchanged && ranged != text) || ranged.size() > text.size() ||
            std::memcmp(ranged.data(), text.data(), std::min<size_t>(begin, ranged.size())) != 0) {
            std::abort();
        }
    }
    return 0;
}
