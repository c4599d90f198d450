// Trace records written without a logger: the image reader's low-level failures (trace level 8)
// and the few setup records that must carry a text literally (module "DPX", trace level 2).
// They go to the writer the trace library's Windows side installs once the shared trace file is
// open; before that, and in portable programs, nowhere.
#pragma once

#include <cstdint>
#include <string_view>

namespace trace {

// Takes one finished record: its trace level, its module name (empty for none) and its text.
// It must not throw; it may be called from any thread.
using DirectWriter = void (*)(uint32_t level, std::string_view module, std::string_view text);

// Installs the writer, or removes it with null; returns the one installed before.
DirectWriter setDirectWriter(DirectWriter writer);

// printf-style 8-bit format of which only "%s" (a text, null for none) and "%%" are read; any other
// '%' stands for itself. The text is cut at 2047 bytes. Callers pass "%s" and a UTF-8 text so
// that the text is written literally; the setup program carries no printf formatter for these.
void traceFormatted(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
void traceFormattedDpx(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

} // namespace trace
