// The entry points that format their text: kept apart from the raw ones, so that a program that
// only writes finished texts (the setup program) carries no printf formatter.
#include "trace/win32/Kvrtrace.h"

#include "trace/win32/TraceStore.h"

#include <cwchar>

using namespace trace::win32;

namespace {

int formatted(uint32_t level, const wchar_t* module, const wchar_t* category, const wchar_t* format,
              va_list args, const wchar_t* instance, const wchar_t* name, const void* returnAddress)
{
    if (!format || !args)
        return kTraceSkipped;
    // Level 1 is not worth formatting while no viewer listens.
    HANDLE viewer = nullptr;
    TraceStore* s = startedStore(L"KVRTRACE_WITH_NAME", instance, level, viewer);
    if (!s)
        return kTraceSkipped;
    // The mingw formatter in either runtime mode, so that both Windows builds read "%s" alike.
    wchar_t text[2048];
    if (__mingw_vsnwprintf(text, 2048, format, args) < 0)
        text[0] = 0;
    text[2047] = 0;
    return s->write(TraceRequest<wchar_t>{level, module, category, text, name, format, returnAddress}, viewer);
}

} // namespace

__attribute__((noinline)) int KVRTRACE_WITH_NAME(uint32_t level, const wchar_t* module,
                                                 const wchar_t* category, const wchar_t* format, va_list args,
                                                 const wchar_t* instance, const wchar_t* name)
{
    return formatted(level, module, category, format, args, instance, name, __builtin_return_address(0));
}

__attribute__((noinline)) int KVRTRACE(uint32_t level, const wchar_t* module, const wchar_t* category,
                                       const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const int result =
        formatted(level, module, category, format, args, nullptr, nullptr, __builtin_return_address(0));
    va_end(args);
    return result;
}
