// Slicing-by-8 CRC-16/MODBUS (reflected polynomial 0xA001, initial 0xFFFF); slicing-by-8 is the
// table scheme of Kounavis and Berry (Intel, 2005).
//
// The published Modbus form keeps two bytes, hi and lo, and two 256-byte tables; its "hi" byte is
// the low byte of the ordinary reflected CRC register. Running the ordinary register eight input
// bytes per step gives the same bits several times faster; the swap happens once at the end.
#include "setup/Crc16.h"

#include <array>

namespace setup {

namespace {

using Table = std::array<std::array<uint16_t, 256>, 8>;

constexpr Table makeTables()
{
    Table t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
        t[0][i] = static_cast<uint16_t>(crc);
    }
    for (size_t k = 1; k < 8; ++k)
        for (size_t i = 0; i < 256; ++i)
            t[k][i] = static_cast<uint16_t>((t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF]);
    return t;
}

constexpr Table kTables = makeTables();

} // namespace

uint32_t Crc16(const uint8_t* buffer, size_t length)
{
    return continueCrc16(0xFFFF, buffer, length);
}

uint32_t continueCrc16(uint32_t previous, const uint8_t* buffer, size_t length)
{
    // The result has its two bytes swapped; the register holds them the other way round.
    uint32_t crc = ((previous & 0xFF) << 8) | ((previous >> 8) & 0xFF);
    const uint8_t* p = buffer;
    for (; length >= 8; length -= 8, p += 8) {
        crc ^= p[0] | (uint32_t(p[1]) << 8);
        crc = kTables[7][crc & 0xFF] ^ kTables[6][crc >> 8] ^ kTables[5][p[2]] ^ kTables[4][p[3]] ^
              kTables[3][p[4]] ^ kTables[2][p[5]] ^ kTables[1][p[6]] ^ kTables[0][p[7]];
    }
    for (; length > 0; --length, ++p)
        crc = (crc >> 8) ^ kTables[0][(crc ^ *p) & 0xFF];
    return ((crc & 0xFF) << 8) | (crc >> 8);
}

} // namespace setup
