// The package's CRC-16: CRC-16/MODBUS with its two bytes swapped, as the setup program checks it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace setup {

// 0xFFFF for an empty buffer; over "123456789" 0x374B (CRC-16/MODBUS gives 0x4B37).
uint32_t Crc16(const uint8_t* buffer, size_t length);

} // namespace setup
