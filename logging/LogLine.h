// The shorthand log lines are written in everywhere: the items of a line, and a line made of a
// message and named values through a logger looked up once.
#pragma once

#include "logging/LogItem.h"
#include "logging/Logger.h"

#include <cstdint>
#include <string>

namespace rlxutil {

// One line: the message first, then the named values in order.
template <typename... Items>
void logLine(LoggerRef& logger, int32_t level, const char* message, const Items&... items)
{
    logger->log(level, LogItem(textValue(message)), items...);
}

// A further message item: a text without a name.
inline LogItem textItem(const char* text)
{
    return LogItem(textValue(text));
}

// A named 8-bit text as it is, such as an exception's message.
inline LogItem textItem(const char* name, const char* text)
{
    return LogItem(textValue(text), name);
}

// Paths, command lines and other texts of the machine, masked.
inline LogItem pathItem(const char* name, const std::wstring& text)
{
    return LogItem(maskedValue(text), name);
}

inline LogItem utf8Item(const char* name, const std::wstring& text)
{
    return LogItem(utf8Value(text), name);
}

inline LogItem uintItem(const char* name, uint32_t value)
{
    return LogItem(uintValue(value), name);
}

inline LogItem intItem(const char* name, int32_t value)
{
    return LogItem(intValue(value), name);
}

} // namespace rlxutil
