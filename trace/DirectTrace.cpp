// The installed direct writer and the two formatting entry points.
#include "trace/DirectTrace.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstring>

namespace trace {
namespace {

std::atomic<DirectWriter> gWriter{nullptr};

void write(uint32_t level, std::string_view module, const char* format, va_list args)
{
    const DirectWriter writer = gWriter.load(std::memory_order_acquire);
    if (!writer || !format)
        return;
    char text[2048];
    size_t length = 0;
    auto append = [&](const char* from, size_t count) {
        count = std::min(count, sizeof text - 1 - length);
        std::memcpy(text + length, from, count);
        length += count;
    };
    for (const char* at = format; *at; ++at) {
        if (at[0] == '%' && at[1] == 's') {
            const char* argument = va_arg(args, const char*);
            if (argument)
                append(argument, std::strlen(argument));
            ++at;
        } else if (at[0] == '%' && at[1] == '%') {
            append(at, 1);
            ++at;
        } else {
            append(at, 1);
        }
    }
    writer(level, module, std::string_view(text, length));
}

} // namespace

DirectWriter setDirectWriter(DirectWriter writer)
{
    return gWriter.exchange(writer, std::memory_order_acq_rel);
}

void traceFormatted(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    write(8, {}, format, args);
    va_end(args);
}

void traceFormattedDpx(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    write(2, "DPX", format, args);
    va_end(args);
}

} // namespace trace
