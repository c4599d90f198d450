// The installed direct writer and the two formatting entry points.
#include "trace/DirectTrace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace trace {
namespace {

std::atomic<DirectWriter> gWriter{nullptr};

void write(uint32_t level, std::string_view module, const char* format, va_list args)
{
    const DirectWriter writer = gWriter.load(std::memory_order_acquire);
    if (!writer || !format)
        return;
    char text[2048];
    const int length = std::vsnprintf(text, sizeof text, format, args);
    if (length < 0)
        return;
    writer(level, module,
           std::string_view(text, static_cast<size_t>(length) < sizeof text ? length : sizeof text - 1));
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
