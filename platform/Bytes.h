// Little-endian loads and stores on raw bytes, for the fixed layouts of the package and trace files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

// Byte-wise on purpose: the bytes may lie anywhere, and compilers turn these into single
// unaligned moves on little-endian machines.
inline uint16_t load16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t load32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t load64(const uint8_t* p)
{
    return static_cast<uint64_t>(load32(p)) | (static_cast<uint64_t>(load32(p + 4)) << 32);
}

inline void store16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void store32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline void store64(uint8_t* p, uint64_t v)
{
    store32(p, static_cast<uint32_t>(v));
    store32(p + 4, static_cast<uint32_t>(v >> 32));
}

inline void append32(std::vector<uint8_t>& out, uint32_t v)
{
    uint8_t bytes[4];
    store32(bytes, v);
    out.insert(out.end(), bytes, bytes + 4);
}

} // namespace platform
