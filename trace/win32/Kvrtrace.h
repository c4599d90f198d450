// The trace library's entry points: one record each into the logon's shared trace file.
// Every one answers 1 written, 0 not written (tracing off, or a level-1 record while no viewer
// listens), -1 no trace file or trace mutex, -2 no space in the ring, -11 a bad argument.
#pragma once

#include <cstdarg>
#include <cstdint>

// printf-style UTF-16 text, at most 2047 characters. As in the C standard (and the mingw runtime),
// "%s" takes 8-bit text and "%ls" UTF-16 text. A null module name names the module that holds the
// format. `instance` (or null) selects the named objects of a separate trace file, on the first
// record of the process only; `name` (or null) is the record name.
int KVRTRACE_WITH_NAME(uint32_t level, const wchar_t* module, const wchar_t* category, const wchar_t* format,
                       va_list args, const wchar_t* instance, const wchar_t* name);
// The text unchanged. A null module name names the caller's module.
int KVRTRACE_RAW_WITH_NAME(uint32_t level, const wchar_t* module, const wchar_t* category,
                           const wchar_t* text, const wchar_t* instance, const wchar_t* name);
// All 8-bit; the instance name is in the OEM code page.
int KVRTRACE_RAW_A_WITH_NAME(uint32_t level, const char* module, const char* category, const char* text,
                             const char* instance, const char* name);

int KVRTRACE(uint32_t level, const wchar_t* module, const wchar_t* category, const wchar_t* format, ...);
int KVRTRACERAW(uint32_t level, const wchar_t* module, const wchar_t* category, const wchar_t* text);
int KVRTRACERAWA(uint32_t level, const char* module, const char* category, const char* text);

// Runs once at process exit (registered when the library starts): the process writes no more
// records, lets go of the file and cuts it to its used length when it never wrapped.
void kvrtra_process_exit();
// Lets go of the product store's view and handles; records are no longer written.
void kvrtra_lib_clean();
