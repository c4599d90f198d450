// The operating-system facade: the registry calls behind virtual operations, so that code
// written against it can be handed another implementation.
#pragma once

#include "platform/win32/Windows.h"

namespace platform::win32 {

// Each operation takes exactly the arguments of the Win32 function of its name and returns its
// result unchanged. Only the registry operations that the registry object needs are here: every
// further function would be one more import of every program that links this, and the setup
// program must import nothing it never calls.
class KavariWindowsInterface {
public:
    virtual ~KavariWindowsInterface() = default;

    virtual LSTATUS RegCreateKeyW(HKEY key, LPCWSTR subKey, PHKEY result) = 0;
    virtual LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result) = 0;
    virtual LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                     LPDWORD dataSize) = 0;
    virtual LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                                   DWORD dataSize) = 0;
    virtual LSTATUS RegCloseKey(HKEY key) = 0;
    virtual LSTATUS RegDeleteValueW(HKEY key, LPCWSTR valueName) = 0;
    virtual LSTATUS RegDeleteTreeW(HKEY key, LPCWSTR subKey) = 0;
};

// Forwards every operation to the system.
class KavariWindowsImplemention : public KavariWindowsInterface {
public:
    LSTATUS RegCreateKeyW(HKEY key, LPCWSTR subKey, PHKEY result) override;
    LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result) override;
    LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD dataSize) override;
    LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD dataSize) override;
    LSTATUS RegCloseKey(HKEY key) override;
    LSTATUS RegDeleteValueW(HKEY key, LPCWSTR valueName) override;
    LSTATUS RegDeleteTreeW(HKEY key, LPCWSTR subKey) override;
};

// The process-wide implementation, made on the first call and kept until the process ends.
KavariWindowsInterface* GetWindowsInterface();

} // namespace platform::win32
