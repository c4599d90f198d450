// The utilities' logger, DPXUtil, and the shorthand its lines are written in.
#pragma once

#include "logging/LogLine.h"

#include <cstdint>

namespace hostutil {

inline rlxutil::LoggerRef dpxUtilLogger{"DPXUtil"};

// One line: the message first, then the named values in order.
template <typename... Items> void dpxUtil(int32_t level, const char* message, const Items&... items)
{
    rlxutil::logLine(dpxUtilLogger, level, message, items...);
}

using rlxutil::intItem;
using rlxutil::pathItem;
using rlxutil::textItem;
using rlxutil::uintItem;
using rlxutil::utf8Item;

} // namespace hostutil
