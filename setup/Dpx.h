// The setup driver's logger, DPX, and the shorthand its lines are written in.
#pragma once

#include "logging/LogLine.h"

#include <cstdint>

namespace setup {

inline rlxutil::LoggerRef dpxLogger{"DPX"};

// One line: the message first, then the named values in order.
template <typename... Items> void dpx(int32_t level, const char* message, const Items&... items)
{
    rlxutil::logLine(dpxLogger, level, message, items...);
}

using rlxutil::intItem;
using rlxutil::pathItem;
using rlxutil::uintItem;

} // namespace setup
