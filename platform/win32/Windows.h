// The one place that includes <windows.h>. The build defines the settings below for every Windows
// target; they are checked here because a mingw header that comes first quietly sets the newest
// system instead, and a call the oldest supported system lacks would then compile unnoticed.
#pragma once

#ifndef _WIN32
#error "platform/win32/Windows.h is for Windows builds only"
#endif

#if !defined(_WIN32_WINNT) || _WIN32_WINNT != 0x0600 || !defined(WINVER) || WINVER != 0x0600
#error                                                                                                       \
    "Windows targets must build with _WIN32_WINNT and WINVER 0x0600 (Windows Vista, the oldest system the installer runs on)"
#endif
#if !defined(WIN32_LEAN_AND_MEAN) || !defined(NOMINMAX) || !defined(UNICODE)
#error "Windows targets must build with WIN32_LEAN_AND_MEAN, NOMINMAX and UNICODE"
#endif

#include <windows.h>
