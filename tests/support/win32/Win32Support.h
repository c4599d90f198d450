// What Windows tests share: a registry key of their own, and names for named kernel objects that
// no other test sees (all programs of one Wine prefix share those names).
#pragma once

#include "platform/win32/Handle.h"
#include "platform/win32/Windows.h"

#include <atomic>
#include <string>

namespace test_support {

// A name unique to this process and call, built from `base`.
inline std::wstring uniqueObjectName(const std::wstring& base)
{
    static std::atomic<unsigned> serial{0};
    return base + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount()) +
           L"-" + std::to_wstring(serial++);
}

// HKEY_CURRENT_USER\Software\KavariTests\<unique name>, created empty and deleted with its subtree.
class TempRegistryKey {
public:
    TempRegistryKey() : mPath(L"Software\\KavariTests\\" + uniqueObjectName(L"key"))
    {
        RegCreateKeyExW(HKEY_CURRENT_USER, mPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, mKey.put(),
                        nullptr);
    }
    ~TempRegistryKey()
    {
        mKey.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, mPath.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, mPath.c_str());
    }
    TempRegistryKey(const TempRegistryKey&) = delete;
    TempRegistryKey& operator=(const TempRegistryKey&) = delete;

    HKEY get() const { return mKey.get(); }
    // Below HKEY_CURRENT_USER.
    const std::wstring& path() const { return mPath; }

private:
    std::wstring mPath;
    platform::win32::UniqueRegKey mKey;
};

} // namespace test_support
