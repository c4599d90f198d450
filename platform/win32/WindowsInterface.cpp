// The facade's forwarding to the registry functions of the system.
#include "platform/win32/WindowsInterface.h"

namespace platform::win32 {

LSTATUS KavariWindowsImplemention::RegCreateKeyW(HKEY key, LPCWSTR subKey, PHKEY result)
{
    return ::RegCreateKeyW(key, subKey, result);
}

LSTATUS KavariWindowsImplemention::RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired,
                                                 PHKEY result)
{
    return ::RegOpenKeyExW(key, subKey, options, desired, result);
}

LSTATUS KavariWindowsImplemention::RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved,
                                                    LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
    return ::RegQueryValueExW(key, valueName, reserved, type, data, dataSize);
}

LSTATUS KavariWindowsImplemention::RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type,
                                                  const BYTE* data, DWORD dataSize)
{
    return ::RegSetValueExW(key, valueName, reserved, type, data, dataSize);
}

LSTATUS KavariWindowsImplemention::RegCloseKey(HKEY key)
{
    return ::RegCloseKey(key);
}

LSTATUS KavariWindowsImplemention::RegDeleteValueW(HKEY key, LPCWSTR valueName)
{
    return ::RegDeleteValueW(key, valueName);
}

LSTATUS KavariWindowsImplemention::RegDeleteTreeW(HKEY key, LPCWSTR subKey)
{
    return ::RegDeleteTreeW(key, subKey);
}

KavariWindowsInterface* GetWindowsInterface()
{
    // Never deleted, so it outlives every static object that might still call through it.
    static KavariWindowsInterface* const instance = new KavariWindowsImplemention;
    return instance;
}

} // namespace platform::win32
