// The browser plug-in folders against a real registry and real profile files: the uninstall keys
// in their order, the fallback folder, Firefox's profiles.ini and compatibility.ini, the Mozilla
// folder. Everything a test makes in the user's folders and keys is removed again.
#include "hostutil/win32/BrowserUtil.h"

#include "hostutil/win32/FileSystem.h"
#include "tests/support/CaptureSink.h"
#include "tests/support/TempFolder.h"
#include "tests/support/win32/Win32Support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace hostutil;
using namespace hostutil::browserUtil;
using Lines = std::vector<std::string>;

namespace {

const wchar_t kChrome[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Google Chrome";
const wchar_t kChromium[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Chromium";

std::string m(const std::wstring& path)
{
    return rlxutil::maskedValue(path);
}

// User folders, and with `keys` the four uninstall keys, which must not exist before the test;
// removed with everything in them at its end.
class MustBeNew {
public:
    MustBeNew(std::vector<std::wstring> folders, bool keys) : mFolders(std::move(folders))
    {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            for (const wchar_t* key : {kChrome, kChromium})
                if (keys)
                    mKeys.push_back({root, key});
        for (const std::wstring& folder : mFolders)
            mPreexisting |= PathExists(folder);
        for (const auto& [root, key] : mKeys) {
            platform::win32::UniqueRegKey open;
            mPreexisting |= RegOpenKeyExW(root, key, 0, KEY_READ, open.put()) == ERROR_SUCCESS;
        }
    }
    ~MustBeNew()
    {
        if (mPreexisting)
            return;
        clear();
        for (const auto& [root, key] : mKeys)
            RegDeleteTreeW(root, key);
    }
    MustBeNew(const MustBeNew&) = delete;
    MustBeNew& operator=(const MustBeNew&) = delete;

    bool preexisting() const { return mPreexisting; }
    void clear() const
    {
        std::error_code ignored;
        for (const std::wstring& folder : mFolders)
            std::filesystem::remove_all(folder, ignored);
    }

private:
    std::vector<std::wstring> mFolders;
    std::vector<std::pair<HKEY, const wchar_t*>> mKeys;
    bool mPreexisting = false;
};

void writeText(const std::wstring& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(std::filesystem::path(path), std::ios::binary) << text;
}

std::string narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

} // namespace

TEST(HostUtilBrowser, ChromeFolderFromTheUninstallKeysInOrderOrLocalAppData)
{
    const std::wstring google = GetLocalAppDataFolder() + L"\\Google";
    const MustBeNew sandbox({google}, true);
    if (sandbox.preexisting())
        GTEST_SKIP() << "a browser is installed in this prefix";
    const test_support::TempFolder folder;

    const std::string none = "browserUtil>>ReadChromeInstallLocationFromRegister ===2";
    {
        const rlxutil::ScopedCaptureSink capture;
        EXPECT_EQ(GetChromePathFromRegister(), L"");
        EXPECT_EQ(capture.texts(), (Lines{"browserUtil>>GetChromePathFromRegister ===1", none, none, none,
                                          none, "GetChromePathFromRegister ===2"}));
        // What GetChromePluginPath falls back to then, the setup end-to-end runs pin.
    }

    // Each key added wins over those before it.
    struct Step {
        HKEY root;
        const wchar_t* key;
        std::wstring location;
    };
    const Step steps[] = {
        {HKEY_LOCAL_MACHINE, kChromium, folder.wide("machine-chromium")},
        {HKEY_CURRENT_USER, kChromium, folder.wide("user-chromium")},
        {HKEY_LOCAL_MACHINE, kChrome, folder.wide("machine-chrome")},
        {HKEY_CURRENT_USER, kChrome, folder.wide("user-chrome")},
    };
    for (const Step& step : steps) {
        ASSERT_EQ(RegSetKeyValueW(step.root, step.key, L"InstallLocation", REG_SZ, step.location.c_str(),
                                  static_cast<DWORD>((step.location.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        EXPECT_EQ(GetChromePathFromRegister(), step.location);
    }
    {
        const rlxutil::ScopedCaptureSink capture;
        const std::wstring plugins = folder.wide("user-chrome") + L"\\Plugins\\";
        EXPECT_EQ(GetChromePluginPath(), plugins);
        EXPECT_TRUE(PathExists(plugins));
        EXPECT_EQ(capture.texts(), (Lines{"browserUtil>>GetChromePathFromRegister ===1",
                                          "browserUtil>>ReadChromeInstallLocationFromRegister ===1",
                                          "browserUtil>>ReadChromeInstallLocationFromRegister === >1", none,
                                          "browserUtil>>chrome, result=" + rlxutil::maskedValue(plugins)}));
    }
}

TEST(HostUtilBrowser, FirefoxFoldersFromTheProfileFiles)
{
    const std::wstring mozilla = GetRoamingAppDataFolder() + L"\\Mozilla\\";
    const MustBeNew mozillaFolder({mozilla}, false);
    if (mozillaFolder.preexisting())
        GTEST_SKIP() << "Firefox is installed in this prefix";
    const test_support::TempFolder apps;
    const std::wstring firefox = mozilla + L"Firefox\\";
    const std::wstring ini = firefox + L"profiles.ini";
    for (int i = 1; i <= 2; ++i) {
        writeText(firefox + L"Profiles\\p" + std::to_wstring(i) + L"\\compatibility.ini",
                  "[Compatibility]\r\nLastAppDir=" + narrow(apps.wide("app" + std::to_string(i))) + "\r\n");
    }
    std::filesystem::create_directories(std::filesystem::path(firefox + L"Profiles\\p3"));
    // Read only for a relative profile without a path, whose folder is the profile root itself.
    writeText(firefox + L"compatibility.ini",
              "[Compatibility]\r\nLastAppDir=" + narrow(apps.wide("app1")) + "\r\n");
    const std::wstring app1 = apps.wide("app1") + L"\\plugins\\";
    const std::wstring app2 = apps.wide("app2") + L"\\plugins\\";

    const auto profile = [](const std::string& name, const std::string& path, bool relative, bool isDefault) {
        return "[" + name + "]\r\nName=" + name + "\r\nIsRelative=" + (relative ? "1" : "0") +
               "\r\nPath=" + path + "\r\n" + (isDefault ? "Default=1\r\n" : "");
    };
    const std::string general = "[General]\r\nStartWithLastProfile=1\r\n";
    // More section names than any fixed buffer holds, the default one last.
    std::string many = general;
    for (int i = 0; i < 300; ++i)
        many += profile("ProfileWithAQuiteLongSectionName_" + std::to_string(i), "Profiles/p1", true, false);
    many += profile("Chosen", narrow(firefox) + "Profiles\\p2", false, true);

    struct Case {
        const char* what;
        std::string profiles;
        std::wstring expected;
        Lines lines; // when given
    };
    const std::string p0 = profile("Profile0", "Profiles/p1", true, false);
    // clang-format off
    const Case cases[] = {
        {"no profiles.ini", "", L"", {}},
        {"not started with the last profile",
         "[General]\r\nStartWithLastProfile=0\r\n" + profile("Profile0", "Profiles/p1", true, true), L"", {}},
        {"two profiles, no default", general + p0 + profile("Profile1", "Profiles/p2", true, false), L"", {}},
        {"one profile, relative, not marked: its plug-in folder made", general + p0, app1,
         {"browserUtil>>GetFireFoxPluginPath, strProfileDir=" + m(firefox),
          "csAllSections, csAllSections=General", "csAllSections, csAllSections=Profile0",
          "browserUtil>>GetFireFoxPlugInPathFromCompatibilityFile, strTemp=" + m(apps.wide("app1")),
          "browserUtil>>GetFireFoxPlugInPathFromCompatibilityFile 111, strTemp=" + m(app1),
          "browserUtil>>GetFireFoxPlugInPathFromCompatibilityFile, strPath=" + m(app1)}},
        {"many profiles, the default absolute", many, app2, {}},
        {"the default without compatibility.ini",
         general + p0 + profile("Profile1", "Profiles/p3", true, true), L"", {}},
        {"the default without a path", general + profile("Profile0", "", false, true), L"", {}},
        {"the relative default without a path, its plug-in folder there",
         general + profile("Profile0", "", true, true), app1, {}},
    };
    // clang-format on
    for (const Case& c : cases) {
        if (!c.profiles.empty())
            writeText(ini, c.profiles);
        const rlxutil::ScopedCaptureSink capture;
        EXPECT_EQ(GetFireFoxPluginPath(), c.expected) << c.what;
        EXPECT_TRUE(c.expected.empty() || PathExists(c.expected)) << c.what;
        if (!c.lines.empty()) {
            EXPECT_EQ(capture.texts(), c.lines) << c.what;
        }
    }

    // The per-user Mozilla folder: its plugins\ folder, or the Mozilla folder itself when asked to
    // make it; in the installer's order both calls give plugins\.
    const std::wstring plugins = mozilla + L"plugins\\";
    mozillaFolder.clear();
    EXPECT_EQ(GetFireFoxAppDataPath(false), plugins);
    EXPECT_TRUE(PathExists(plugins));
    mozillaFolder.clear();
    EXPECT_EQ(GetFireFoxAppDataPath(true), mozilla);
    EXPECT_FALSE(PathExists(plugins));
    mozillaFolder.clear();
    EXPECT_EQ(GetFireFoxAppDataPath(false), plugins);
    EXPECT_EQ(GetFireFoxAppDataPath(true), plugins);
}

TEST(HostUtilBrowser, ReadIniStringReadsValuesOfAnyLength)
{
    const test_support::TempFolder folder;
    const std::wstring file = folder.wide("a.ini");
    writeText(file, "[S]\r\nlong=" + std::string(5000, 'v') + "\r\nempty=\r\n");
    std::wstring out = L"before";
    EXPECT_TRUE(ReadIniString(file.c_str(), L"S", L"long", out));
    EXPECT_EQ(out, std::wstring(5000, L'v'));
    for (const wchar_t* key : {L"empty", L"missing", static_cast<const wchar_t*>(nullptr)})
        EXPECT_FALSE(ReadIniString(file.c_str(), L"S", key, out));
    EXPECT_EQ(out, L"");
}
