// Decimal text of integers, for the few numbers the setup program writes: the C runtime's printf
// family would bring its whole formatter (about 35 KB, floating point included) into the stub.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// The digits, with a leading minus sign for negative numbers, as printf's %d and %u write them.
std::string decimal(uint64_t value);
std::string decimal(int64_t value);
inline std::string decimal(uint32_t value) { return decimal(static_cast<uint64_t>(value)); }
inline std::string decimal(int32_t value) { return decimal(static_cast<int64_t>(value)); }

// Right-aligned in `width` characters with blanks in front, as printf's %12u writes it.
std::string decimal(uint64_t value, size_t width);

} // namespace platform
