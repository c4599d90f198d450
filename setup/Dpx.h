// The setup driver's logger, DPX, and the shorthand its lines are written in.
#pragma once

#include "logging/LogItem.h"
#include "logging/Logger.h"

#include <cstdint>

namespace setup {

// One line: the message first, then the named values in order.
template <typename... Items> void dpx(int32_t level, const char* message, const Items&... items)
{
    rlxutil::getLogger("DPX")->log(level, rlxutil::LogItem(rlxutil::textValue(message)), items...);
}

inline rlxutil::LogItem uintItem(const char* name, uint32_t value)
{
    return rlxutil::LogItem(rlxutil::uintValue(value), name);
}

inline rlxutil::LogItem intItem(const char* name, int32_t value)
{
    return rlxutil::LogItem(rlxutil::intValue(value), name);
}

} // namespace setup
