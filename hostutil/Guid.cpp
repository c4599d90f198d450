// The interface id reader. Stricter than the scanf pattern ids are often read with, which also
// takes signs, blanks and "0x" inside a field.
#include "hostutil/Guid.h"

namespace hostutil {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// `count` hex digits at `at`, or false.
bool readHex(std::string_view text, size_t at, size_t count, uint32_t& value)
{
    value = 0;
    for (size_t i = 0; i < count; ++i) {
        const int digit = hexDigit(text[at + i]);
        if (digit < 0)
            return false;
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    return true;
}

} // namespace

//   0        9    14   19   24
//   XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX
//   data1    data2 data3 data4[0..1] data4[2..7]
bool ParseGuid(std::string_view text, Guid& out)
{
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        return false;
    Guid guid;
    uint32_t value = 0;
    if (!readHex(text, 0, 8, guid.data1))
        return false;
    if (!readHex(text, 9, 4, value))
        return false;
    guid.data2 = static_cast<uint16_t>(value);
    if (!readHex(text, 14, 4, value))
        return false;
    guid.data3 = static_cast<uint16_t>(value);
    static constexpr size_t kByteAt[8] = {19, 21, 24, 26, 28, 30, 32, 34};
    for (size_t i = 0; i < 8; ++i) {
        if (!readHex(text, kByteAt[i], 2, value))
            return false;
        guid.data4[i] = static_cast<uint8_t>(value);
    }
    out = guid;
    return true;
}

} // namespace hostutil
