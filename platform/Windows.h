// The one place that includes <windows.h>, with the settings every Win32 file of the project shares.
#pragma once

#ifndef _WIN32
#error "platform/Windows.h is for Windows builds only"
#endif

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600 // Windows Vista, the oldest system the installer runs on
#endif

#include <windows.h>
