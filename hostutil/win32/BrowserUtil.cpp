// The browser plug-in folders, found through the registry and Firefox's INI files.
#include "hostutil/win32/BrowserUtil.h"

#include "hostutil/DpxUtil.h"
#include "hostutil/PathUtil.h"
#include "hostutil/SystemText.h"
#include "hostutil/win32/FileSystem.h"
#include "hostutil/win32/Registry.h"
#include "platform/TextConvert.h"
#include "platform/win32/Handle.h"

#include <vector>

namespace hostutil::browserUtil {

namespace {

// INI texts are read in a buffer that doubles until the text fits, up to this many characters;
// anything longer is no file the browsers write.
constexpr DWORD kMaxIniText = 1 << 20;

// Every section name of an INI file, however many there are.
std::vector<std::wstring> sectionNames(const std::wstring& ini)
{
    // The system answers "size - 2" when the list did not fit.
    for (DWORD size = 4096; size <= kMaxIniText; size *= 2) {
        std::vector<wchar_t> buffer(size, L'\0');
        const DWORD length = GetPrivateProfileSectionNamesW(buffer.data(), size, ini.c_str());
        if (length < size - 2)
            return splitNullList(std::wstring_view(buffer.data(), length));
    }
    dpxUtil(3, "browserUtil>>GetFireFoxPluginPath, section list too long", pathItem("ini", ini));
    return {};
}

// Follows the profile files only when they hold a folder: an empty path would name a file
// relative to whatever the current folder is.
std::wstring nonEmptyFolder(const std::wstring& base, const wchar_t* below)
{
    return base.empty() ? std::wstring() : CombinePath(base, below, L'\\');
}

} // namespace

bool ReadIniString(const wchar_t* file, const wchar_t* section, const wchar_t* key, std::wstring& out)
{
    out.clear();
    if (!file || !section || !key)
        return false;
    // The system answers "size - 1" when the value was cut to fit.
    for (DWORD size = 1024; size <= kMaxIniText; size *= 2) {
        std::vector<wchar_t> buffer(size, L'\0');
        const DWORD length = GetPrivateProfileStringW(section, key, L"", buffer.data(), size, file);
        if (length < size - 1) {
            out.assign(buffer.data(), length);
            return !out.empty();
        }
    }
    dpxUtil(3, "browserUtil>>ReadIniString, value too long", pathItem("file", file), pathItem("key", key));
    return false;
}

bool ReadChromeInstallLocationFromRegister(HKEY root, const std::wstring& subKey, std::wstring& out)
{
    bool found = false;
    platform::win32::UniqueRegKey key;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS) {
        dpxUtil(1, "browserUtil>>ReadChromeInstallLocationFromRegister ===1");
        // Any type: the text is taken as the uninstall key holds it.
        DWORD type = 0;
        std::vector<uint8_t> data;
        if (readRegistryValue(key.get(), L"InstallLocation", type, data)) {
            dpxUtil(1, "browserUtil>>ReadChromeInstallLocationFromRegister === >1");
            out = platform::utf16ToWide(registryText(data.data(), data.size()));
            found = true;
        }
    }
    key.reset();
    dpxUtil(1, "browserUtil>>ReadChromeInstallLocationFromRegister ===2");
    return found;
}

std::wstring GetChromePathFromRegister()
{
    dpxUtil(1, "browserUtil>>GetChromePathFromRegister ===1");
    static const wchar_t kChrome[] =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Google Chrome";
    static const wchar_t kChromium[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Chromium";
    std::wstring folder;
    if (ReadChromeInstallLocationFromRegister(HKEY_CURRENT_USER, kChrome, folder) ||
        ReadChromeInstallLocationFromRegister(HKEY_LOCAL_MACHINE, kChrome, folder) ||
        ReadChromeInstallLocationFromRegister(HKEY_CURRENT_USER, kChromium, folder) ||
        ReadChromeInstallLocationFromRegister(HKEY_LOCAL_MACHINE, kChromium, folder))
        return folder;
    dpxUtil(1, "GetChromePathFromRegister ===2");
    return {};
}

std::wstring GetChromePluginPath()
{
    const std::wstring folder = GetChromePathFromRegister();
    std::wstring result =
        !folder.empty() ? CombinePath(folder, L"Plugins\\", L'\\')
                        : nonEmptyFolder(GetLocalAppDataFolder(), L"Google\\Chrome\\Application\\Plugins\\");
    if (!result.empty() && !PathExists(result) && !CFileSystem::RecursiveCreateFolder(result))
        result.clear();
    dpxUtil(1, "browserUtil>>chrome", pathItem("result", result));
    return result;
}

std::wstring GetFireFoxProfileRoot()
{
    const std::wstring folder = nonEmptyFolder(GetRoamingAppDataFolder(), L"Mozilla\\Firefox\\");
    if (folder.empty() || !PathExists(CombinePath(folder, L"profiles.ini", L'\\')))
        return {};
    return folder;
}

std::wstring GetFireFoxPluginPath()
{
    const std::wstring profileRoot = GetFireFoxProfileRoot();
    if (profileRoot.empty())
        return {};
    dpxUtil(1, "browserUtil>>GetFireFoxPluginPath", pathItem("strProfileDir", profileRoot));
    const std::wstring ini = profileRoot + L"profiles.ini";
    if (GetPrivateProfileIntW(L"General", L"StartWithLastProfile", 0, ini.c_str()) == 0)
        return {};

    std::vector<std::wstring> profiles;
    std::wstring chosen;
    for (const std::wstring& name : sectionNames(ini)) {
        dpxUtil(1, "csAllSections", pathItem("csAllSections", name));
        if (name == L"General")
            continue;
        profiles.push_back(name);
        if (GetPrivateProfileIntW(name.c_str(), L"Default", 0, ini.c_str()) != 0) {
            chosen = name;
            break;
        }
    }
    // Without a default, a single profile is the one Firefox starts; of several none is chosen.
    if (chosen.empty()) {
        if (profiles.size() != 1)
            return {};
        chosen = profiles.front();
    }
    std::wstring out;
    GetPluginPathFromProfileSection(ini.c_str(), chosen.c_str(), profileRoot, out);
    return out;
}

bool GetPluginPathFromProfileSection(const wchar_t* ini, const wchar_t* section,
                                     const std::wstring& profileRoot, std::wstring& out)
{
    if (!ini || !section)
        return false;
    const UINT relative = GetPrivateProfileIntW(section, L"IsRelative", 0, ini);
    std::wstring path;
    ReadIniString(ini, section, L"Path", path);
    // profiles.ini writes forward slashes; the system takes them as they are. Without a path a
    // relative profile is the profile root, an absolute one no folder at all (not the current one).
    const std::wstring profileFolder = relative != 0 ? CombinePath(profileRoot, path, L'\\') : path;
    return GetFireFoxPlugInPathFromCompatibilityFile(profileFolder, out);
}

bool GetFireFoxPlugInPathFromCompatibilityFile(const std::wstring& profileFolder, std::wstring& out)
{
    const std::wstring file = nonEmptyFolder(profileFolder, L"compatibility.ini");
    if (file.empty() || !PathExists(file))
        return false;
    std::wstring dir;
    if (!ReadIniString(file.c_str(), L"Compatibility", L"LastAppDir", dir))
        return false;
    dpxUtil(1, "browserUtil>>GetFireFoxPlugInPathFromCompatibilityFile", pathItem("strTemp", dir));
    dir = CombinePath(dir, L"plugins\\", L'\\');
    if (!PathExists(dir)) {
        dpxUtil(1, "browserUtil>>GetFireFoxPlugInPathFromCompatibilityFile 111", pathItem("strTemp", dir));
        if (CFileSystem::RecursiveCreateFolder(dir)) {
            out = dir;
            dpxUtil(1, "browserUtil>>GetFireFoxPlugInPathFromCompatibilityFile", pathItem("strPath", out));
            return true;
        }
        dpxUtil(1, "browserUtil>>GetFireFoxPlugInPathFromCompatibilityFile failed", pathItem("strPath", out));
        return false;
    }
    if (!CFileSystem::IsFolderWritable(dir, false))
        return false;
    out = dir;
    return true;
}

std::wstring GetFireFoxAppDataPath(bool createMozillaFolder)
{
    const std::wstring mozilla = nonEmptyFolder(GetRoamingAppDataFolder(), L"Mozilla\\");
    if (mozilla.empty())
        return {};
    if (!PathExists(mozilla) && createMozillaFolder && CFileSystem::RecursiveCreateFolder(mozilla))
        return mozilla;
    const std::wstring dir = CombinePath(mozilla, L"plugins\\", L'\\');
    if (!PathExists(dir)) {
        dpxUtil(1, "browserUtil>>GetFireFoxAppDataPath", pathItem("strTemp", dir));
        if (CFileSystem::RecursiveCreateFolder(dir)) {
            dpxUtil(1, "browserUtil>>GetFireFoxAppDataPath", pathItem("strTemp", dir));
            return dir;
        }
        dpxUtil(1, "browserUtil>>GetFireFoxAppDataPath failed", pathItem("strTemp", dir));
        return {};
    }
    return CFileSystem::IsFolderWritable(dir, false) ? dir : std::wstring();
}

} // namespace hostutil::browserUtil
