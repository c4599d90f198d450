// The per-process block through which every module of a process that carries the trace library
// shares one view of the trace file. Its bytes mean the same whichever width wrote them:
//
//   off  size  field
//    0    4    low 32 bits of the view's address in the process, 0 for none
//    4    4    number of users of that view
//    8    4    high 32 bits of the address (0 from a 32-bit process)
//
// The first 8 bytes are the address and the count as two 32-bit values, as 32-bit modules have
// always kept them; a 64-bit address adds its high half behind them instead of widening the
// first field, so no field moves with the writer's width.
#pragma once

#include "platform/Bytes.h"

#include <cstdint>

namespace trace {

constexpr uint32_t kViewBlockSize = 1024;

struct ViewBlock {
    uint64_t address = 0;
    uint32_t users = 0;
};

inline ViewBlock loadViewBlock(const uint8_t* block)
{
    return {uint64_t{platform::load32(block)} | uint64_t{platform::load32(block + 8)} << 32,
            platform::load32(block + 4)};
}

inline void storeViewBlock(uint8_t* block, const ViewBlock& value)
{
    platform::store32(block, static_cast<uint32_t>(value.address));
    platform::store32(block + 4, value.users);
    platform::store32(block + 8, static_cast<uint32_t>(value.address >> 32));
}

} // namespace trace
