// Decimal digits written from the last one backwards into a buffer that holds any 64-bit number.
#include "platform/Decimal.h"

namespace platform {

namespace {

constexpr size_t kMaxDigits = 20; // 18446744073709551615

char* digitsBefore(uint64_t value, char* end)
{
    do {
        *--end = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return end;
}

} // namespace

std::string decimal(uint64_t value)
{
    char buffer[kMaxDigits];
    char* const end = buffer + sizeof buffer;
    char* const first = digitsBefore(value, end);
    return std::string(first, end);
}

std::string decimal(int64_t value)
{
    // Negated as unsigned, so the lowest value has a magnitude too.
    const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::string text = value < 0 ? "-" : "";
    return text += decimal(magnitude);
}

std::string decimal(uint64_t value, size_t width)
{
    std::string digits = decimal(value);
    return digits.size() >= width ? digits : std::string(width - digits.size(), ' ') + digits;
}

} // namespace platform
