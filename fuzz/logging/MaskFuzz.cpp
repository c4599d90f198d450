// Fuzz target for the masking: never crashes, never lengthens a text, always agrees with the plain
// reference form.
#include "logging/Masking.h"
#include "tests/logging/MaskingReference.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string masked = rlxutil::maskSensitiveInfo(text);
    if (masked.size() > text.size() || masked != testref::maskSensitiveInfo(text))
        std::abort();
    return 0;
}
