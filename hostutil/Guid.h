// Interface ids as 16-byte values, read from their usual text form.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace hostutil {

// The memory layout of a Windows GUID, so the Windows side can copy one into the other.
struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4{};

    bool operator==(const Guid& other) const
    {
        return data1 == other.data1 && data2 == other.data2 && data3 == other.data3 && data4 == other.data4;
    }
};

// Reads "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (hexadecimal digits of either case, no braces).
// Contract: reads only `text`; anything other than exactly 36 characters of that form gives false
// and leaves `out` alone.
bool ParseGuid(std::string_view text, Guid& out);

} // namespace hostutil
