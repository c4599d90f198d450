// Where the installed browsers keep their plug-ins: Chrome or Chromium from their uninstall keys,
// Firefox from its profile files, and the per-user Mozilla folder.
#pragma once

#include "platform/win32/Windows.h"

#include <string>

namespace hostutil::browserUtil {

// Each folder result ends with a backslash and exists (it is created when missing), or is empty
// when no usable folder is found. Null text arguments are missing ones.

// Chrome's or Chromium's install folder from their uninstall keys, the current user first; empty
// when none is registered.
std::wstring GetChromePathFromRegister();
bool ReadChromeInstallLocationFromRegister(HKEY root, const std::wstring& subKey, std::wstring& out);
// "Plugins\" in the registered folder, else below the local application-data folder.
std::wstring GetChromePluginPath();

// The Firefox folder that holds profiles.ini, or empty.
std::wstring GetFireFoxProfileRoot();
// "plugins\" in the folder the default Firefox profile last ran from.
std::wstring GetFireFoxPluginPath();
bool GetPluginPathFromProfileSection(const wchar_t* ini, const wchar_t* section,
                                     const std::wstring& profileRoot, std::wstring& out);
bool GetFireFoxPlugInPathFromCompatibilityFile(const std::wstring& profileFolder, std::wstring& out);
// The per-user "Mozilla\plugins\" folder, or, when `createMozillaFolder` is set and there is no
// Mozilla folder yet, the newly created Mozilla folder itself.
std::wstring GetFireFoxAppDataPath(bool createMozillaFolder);

// One value of an INI file, at any length; true when it is not empty.
bool ReadIniString(const wchar_t* file, const wchar_t* section, const wchar_t* key, std::wstring& out);

} // namespace hostutil::browserUtil
