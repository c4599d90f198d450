// The utilities' logger, DPXUtil, and the shorthand its lines are written in.
#pragma once

#include "logging/LogItem.h"
#include "logging/Logger.h"

#include <cstdint>
#include <string>

namespace hostutil {

// One line: the message first, then the named values in order.
template <typename... Items> void dpxUtil(int32_t level, const char* message, const Items&... items)
{
    rlxutil::getLogger("DPXUtil")->log(level, rlxutil::LogItem(rlxutil::textValue(message)), items...);
}

// A second message item: a line of two texts without a name.
inline rlxutil::LogItem textItem(const char* text)
{
    return rlxutil::LogItem(rlxutil::textValue(text));
}

// Paths and other texts of the machine, masked.
inline rlxutil::LogItem pathItem(const char* name, const std::wstring& path)
{
    return rlxutil::LogItem(rlxutil::maskedValue(path), name);
}

inline rlxutil::LogItem utf8Item(const char* name, const std::wstring& text)
{
    return rlxutil::LogItem(rlxutil::utf8Value(text), name);
}

inline rlxutil::LogItem uintItem(const char* name, uint32_t value)
{
    return rlxutil::LogItem(rlxutil::uintValue(value), name);
}

inline rlxutil::LogItem intItem(const char* name, int32_t value)
{
    return rlxutil::LogItem(rlxutil::intValue(value), name);
}

} // namespace hostutil
