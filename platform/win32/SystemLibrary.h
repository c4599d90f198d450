// Loading a system DLL at run time from the system folder only, never from the program's own
// folder (the installer runs from download folders, where a planted DLL of the same name waits).
#pragma once

#include "platform/win32/Handle.h"

namespace platform::win32 {

// The DLL `name` ("psapi.dll") from the system folder; an empty owner when it cannot be loaded.
UniqueModule loadSystemLibrary(const wchar_t* name);

// A function of a loaded module as the type the caller names; null when the module lacks it.
template <typename Function> Function lookUp(HMODULE module, const char* name)
{
    if (!module)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace platform::win32
