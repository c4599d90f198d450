// The package's CRC-16: CRC-16/MODBUS with its two bytes swapped, as the setup program checks it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace setup {

// 0xFFFF for an empty buffer; over "123456789" 0x374B (CRC-16/MODBUS gives 0x4B37).
uint32_t Crc16(const uint8_t* buffer, size_t length);

// The CRC of the bytes behind those whose Crc16 is `previous`, so a block can be checked in
// pieces: Crc16(a + b) == continueCrc16(Crc16(a), b), and Crc16 of nothing is 0xFFFF.
uint32_t continueCrc16(uint32_t previous, const uint8_t* buffer, size_t length);

} // namespace setup
