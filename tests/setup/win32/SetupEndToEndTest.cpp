// The real setup.exe under the system, one run per case: packages built here and by kvpack put
// behind it, its files checked where they land, and its lines read back from its trace file.
#include "hostutil/win32/FileSystem.h"
#include "logging/LogItem.h"
#include "lzari/Codec.h"
#include "platform/Bytes.h"
#include "platform/TextConvert.h"
#include "platform/win32/Handle.h"
#include "platform/win32/Windows.h"
#include "setup/PackageDirectory.h"
#include "setup/PackageFormat.h"
#include "tests/support/TempFolder.h"
#include "tests/support/win32/Win32Support.h"
#include "trace/TraceReader.h"
#include "trace/win32/TraceStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using test_support::Bytes;

using Item = setup::PackageItem;

Bytes readBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& path, const Bytes& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

fs::path ownFolder()
{
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
    return fs::path(path).parent_path();
}

Bytes payloadOf(const std::vector<Item>& items)
{
    return setup::buildPayload(items);
}

Bytes blockOf(const Bytes& payload)
{
    return lzari::encode(payload.data(), payload.size());
}

// What a signature or other trailer would be: bytes behind the package the program never reads.
const Bytes kTrailer(64, 0xA5);

Bytes installerWith(const Bytes& block, uint32_t crcChange = 0)
{
    Bytes file = readBytes(ownFolder() / "setup.exe");
    Bytes header = setup::makePackageHeader(block);
    header[8] ^= static_cast<uint8_t>(crcChange);
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), block.begin(), block.end());
    file.insert(file.end(), kTrailer.begin(), kTrailer.end());
    return file;
}

Bytes installerWithRaw(const Bytes& behindImage)
{
    Bytes file = readBytes(ownFolder() / "setup.exe");
    file.insert(file.end(), behindImage.begin(), behindImage.end());
    return file;
}

const std::string kConfig =
    "Path=#currentappdata#\\Kavari\nExcute=#Path#\\OrvaneKavariStart.exe\nArgument=/r\nrunasadmin=0\n";

Bytes demoFile(const std::string& name)
{
    return readBytes(ownFolder().parent_path() / "demo" / name);
}

// The trace lines of one process, as "module: text" for the utilities and the text alone for DPX.
class LineCollector : public trace::TraceVisitor {
public:
    explicit LineCollector(uint32_t processId) : mProcessId(processId) {}
    void record(const trace::TraceRecordView& r) override
    {
        if (r.processId != mProcessId)
            return;
        const std::string module = trace::traceTextToUtf8(r.module);
        const std::string line = trace::traceTextToUtf8(r.text);
        all.push_back(module + ": " + line);
        if (module == "DPX")
            dpx.push_back(line);
    }
    std::vector<std::string> dpx;
    std::vector<std::string> all;

private:
    uint32_t mProcessId;
};

struct SetupRun {
    std::vector<std::string> lines; // DPX lines
    std::vector<std::string> all;
    DWORD exitCode = 1;
    bool has(const std::string& line) const
    {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    bool anyContains(const std::string& piece) const
    {
        return std::any_of(all.begin(), all.end(),
                           [&](const std::string& l) { return l.find(piece) != std::string::npos; });
    }
    // The lines appear in this order, others may stand between them; an expected line ending
    // with "*" is matched by its beginning.
    bool inOrder(const std::vector<std::string>& expected) const
    {
        auto at = lines.begin();
        for (const std::string& e : expected) {
            const bool prefix = !e.empty() && e.back() == '*';
            const std::string wanted = prefix ? e.substr(0, e.size() - 1) : e;
            at = std::find_if(at, lines.end(), [&](const std::string& line) {
                return prefix ? line.rfind(wanted, 0) == 0 : line == wanted;
            });
            if (at == lines.end()) {
                ADD_FAILURE() << "missing or out of order: " << e;
                return false;
            }
            ++at;
        }
        return true;
    }
};

std::wstring masked(const std::wstring& path)
{
    return platform::utf8ToWide(rlxutil::maskedValue(path));
}

class SetupEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        mLocal = hostutil::GetLocalAppDataFolder();
        mRoaming = hostutil::GetRoamingAppDataFolder();
        ASSERT_FALSE(mLocal.empty());
        cleanInstall();
    }
    void TearDown() override { cleanInstall(); }

    void cleanInstall()
    {
        std::error_code ignored;
        for (const fs::path& p :
             {installFolder(), fs::path(mLocal) / L"Google", fs::path(mRoaming) / L"Mozilla"})
            fs::remove_all(p, ignored);
    }

    fs::path installFolder() const { return fs::path(mLocal) / L"Kavari"; }
    fs::path installed(const std::string& name) const { return installFolder() / name; }
    fs::path record() const { return installed("OrvaneKavariStart.record"); }

    // Runs the installer from a folder of its own with a temporary folder of its own, waits for
    // it and reads its lines back.
    SetupRun install(const Bytes& installer)
    {
        const fs::path exe = mCase.path() / L"setup.exe";
        writeBytes(exe, installer);
        fs::create_directories(tempFolder());
        std::wstring environment;
        for (const wchar_t* at = mEnvironment.get(); *at != L'\0'; at += wcslen(at) + 1) {
            const std::wstring entry = at;
            if (_wcsnicmp(at, L"TEMP=", 5) == 0 || _wcsnicmp(at, L"TMP=", 4) == 0)
                continue;
            environment += entry + L'\0';
        }
        environment += L"TEMP=" + tempFolder().wstring() + L'\0';
        environment += L"TMP=" + tempFolder().wstring() + L'\0';
        environment += L'\0';

        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        std::wstring commandLine = L"\"" + exe.wstring() + L"\"";
        SetupRun result;
        if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                            CREATE_UNICODE_ENVIRONMENT, environment.data(), mCase.path().c_str(), &startup,
                            &info)) {
            ADD_FAILURE() << "setup.exe did not start: " << GetLastError();
            return result;
        }
        platform::win32::UniqueHandle process(info.hProcess);
        platform::win32::UniqueHandle thread(info.hThread);
        EXPECT_EQ(WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
        GetExitCodeProcess(process.get(), &result.exitCode);

        LineCollector collector(info.dwProcessId);
        for (const auto& file : fs::directory_iterator(tempFolder())) {
            if (file.path().filename().wstring().rfind(L"kvrtra_", 0) != 0)
                continue;
            const Bytes bytes = readBytes(file.path());
            const trace::TraceReadResult read = trace::readTraceFile(bytes.data(), bytes.size(), &collector);
            EXPECT_FALSE(read.damaged()) << file.path();
        }
        result.lines = collector.dpx;
        result.all = collector.all;
        return result;
    }

    fs::path tempFolder() const { return mCase.path() / L"tmp"; }

    // The files the run left in its temporary folder, its trace file aside.
    std::vector<std::wstring> leftInTemp() const
    {
        std::vector<std::wstring> left;
        for (const auto& file : fs::directory_iterator(tempFolder()))
            if (file.path().filename().wstring().rfind(L"kvrtra_", 0) != 0)
                left.push_back(file.path().filename().wstring());
        return left;
    }

    // The follow-up program's record of its start, waited for: nothing waits for the program.
    std::string waitForRecord() const
    {
        for (int i = 0; i < 100 && !fs::exists(record()); ++i)
            Sleep(100);
        Sleep(100);
        const Bytes bytes = readBytes(record());
        // One line a start.
        std::string line(bytes.begin(), bytes.end());
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        return line;
    }

    std::wstring mLocal;
    std::wstring mRoaming;
    test_support::TempFolder mCase{"-setup e2e"};

private:
    struct FreeEnvironment {
        void operator()(wchar_t* block) const { FreeEnvironmentStringsW(block); }
    };
    std::unique_ptr<wchar_t, FreeEnvironment> mEnvironment{GetEnvironmentStringsW()};
};

std::string utf8(const std::wstring& text)
{
    return platform::wideToUtf8(text);
}

TEST_F(SetupEndToEnd, DemoInstallerFromKvpackInstallsEverythingAndStartsTheStartProgram)
{
    const SetupRun run = install(demoFile("KavariSetup.exe"));
    EXPECT_EQ(run.exitCode, 0u);

    for (const char* name : {"orvanekavaristart.exe", "firefox.json", "edge.json", "chrome.json"}) {
        const std::string source =
            std::string(name) == "orvanekavaristart.exe" ? "OrvaneKavariStart.exe" : name;
        const Bytes expected = std::string(name) == "orvanekavaristart.exe"
                                   ? demoFile(source)
                                   : readBytes(fs::path(KV_SOURCE_DIR) / "demo" / source);
        EXPECT_EQ(readBytes(installed(name)), expected) << name;
    }
    const Bytes plugin = demoFile("npkvdpx.dll");
    EXPECT_EQ(readBytes(fs::path(mLocal) / L"Google\\Chrome\\Application\\Plugins\\npkvdpx.dll"), plugin);
    EXPECT_EQ(readBytes(fs::path(mRoaming) / L"Mozilla\\plugins\\npkvdpx.dll"), plugin);
    EXPECT_EQ(waitForRecord(), "/r");
    EXPECT_TRUE(leftInTemp().empty());

    const std::string folder = utf8(masked(installFolder().wstring()));
    const std::string app = utf8(masked((mCase.path() / L"setup.exe").wstring()));
    EXPECT_TRUE(run.inOrder({
        "orvane kavari addone setup program starting..., g_strApplication=" + app,
        "InstallKavariAddOn>>begin",
        "GetPEFileSize, szFile=" + app,
        "InstallKavariAddOn>>extract-folder, targetFolder=" + folder,
        "InstallKavariAddOn>>processing, i=6, itemName=extaction.bin",
        "InitExtensionAction, strValue=#currentappdata#\\Kavari",
        "InitExtensionAction, strValue=#Path#\\OrvaneKavariStart.exe",
        "InitExtensionAction, strValue=/r",
        "InitExtensionAction, strValue=0",
        "InstallAddOn>>InitGeneralInstallPath",
        "InstallAddOn>>install-path, g_ExtensionPath=#currentappdata#\\Kavari",
        "InstallAddOn>>Excute, g_strExcute=#Path#\\OrvaneKavariStart.exe",
        "InstallAddOn>>KavariExcute, g_strKavariExcute=",
        "InstallAddOn>>Install path new, g_ExtensionPath=" + folder,
        "InstallAddOn>>Excute new, g_strExcute=" + folder + "\\OrvaneKavariStart.exe",
        "InstallAddOn>>KavariExcute new, g_strKavariExcute=",
        "InstallKavariAddOn>>processing, i=5, itemName=OrvaneKavariStart.exe",
        "InstallKavariAddOn>>Installing, strTempInstallPath=" + folder + "\\orvanekavaristart.exe.*",
        "InstallKavariAddOn>>processing, i=4, itemName=npkvdpx.dll",
        "InstallKavariAddOn>>processing, i=3, itemName=firefox.json",
        "InstallKavariAddOn>>Installing, strTempInstallPath=" + folder + "\\firefox.json.*",
        "InstallKavariAddOn>>processing, i=2, itemName=edge.json",
        "InstallKavariAddOn>>processing, i=1, itemName=chrome.json",
        "InstallKavariAddOn>>processing, i=0, itemName=.",
        "strexeclog=Excute:" + folder + "\\OrvaneKavariStart.exe bRet=TRUE",
        "Argument:/r",
        "InstallKavariAddOn>>leave",
        "orvane kavari addone setup program exits.",
    }));
    // No path of the run names the user's profile folder.
    wchar_t user[256] = {};
    DWORD userLength = 256;
    ASSERT_TRUE(GetUserNameW(user, &userLength));
    EXPECT_FALSE(run.anyContains("\\" + utf8(user) + "\\")) << utf8(user);
}

Bytes configured(const std::string& config, const std::vector<Item>& more)
{
    std::vector<Item> items{{"extaction.bin", text(config)}};
    items.insert(items.end(), more.begin(), more.end());
    items.push_back({".", {}});
    return payloadOf(items);
}

Bytes startProgram()
{
    return demoFile("OrvaneKavariStart.exe");
}

// Packages that are damaged, unusual or hostile: each run must end with the leave and exit lines
// and exit 0, and install and start exactly what the case says.
struct Case {
    const char* name;
    std::function<Bytes()> installer;
    std::vector<std::string> lines;  // in this order among the run's lines
    std::vector<std::string> absent; // pieces no line may hold
    std::vector<std::string> files;  // in the install folder afterwards
    bool folderCreated;              // whether the install folder exists afterwards
    const char* started;             // the start program's record, or null for no launch
};

TEST_F(SetupEndToEnd, DamagedAndUnusualPackages)
{
    const std::vector<Case> cases = {
        {"no package",
         [] { return installerWithRaw({}); },
         {"InstallKavariAddOn>>invalid package."},
         {"data-size", "extract-folder"},
         {},
         false,
         nullptr},
        {"CRC mismatch",
         [] {
             return installerWith(blockOf(configured(kConfig, {{"OrvaneKavariStart.exe", startProgram()}})),
                                  1);
         },
         {"InstallKavariAddOn>>crc verification failed."},
         {"extract-folder", "Uncompress"},
         {},
         false,
         nullptr},
        {"header cut short",
         [] { return installerWithRaw(text("MIP!0123456789ab")); },
         {"InstallKavariAddOn>>file corrupted.1"},
         {"data-size"},
         {},
         false,
         nullptr},
        {"length beyond the file",
         [] {
             Bytes behind = text("MIP!");
             platform::append32(behind, 0xFFFFFFF0);
             platform::append32(behind, 0);
             behind.insert(behind.end(), 32, 0);
             return installerWithRaw(behind);
         },
         {"InstallKavariAddOn>>file corrupted.2"},
         {"data-size"},
         {},
         false,
         nullptr},
        {"empty data block: no length to decode",
         [] { return installerWith({}); },
         {"InstallKavariAddOn>>data-size, dwLength=0, uiCrc=65535, ncrc=65535",
          "InstallKavariAddOn>>decode failed, tempFile=*"},
         {"processing", "strexeclog"},
         {},
         true,
         nullptr},
        {"length field no stream of its size can honestly claim",
         [] {
             Bytes block(175, 0x5A);
             platform::store32(block.data(), 0xFFFFFFF0);
             return installerWith(block);
         },
         {"InstallKavariAddOn>>implausible data size, dwLength=175, textSize=4294967280, plausible=9546"},
         {"extract-folder", "Uncompress"},
         {},
         false,
         nullptr},
        {"empty payload",
         [] { return installerWith(blockOf({})); },
         {},
         {"processing", "strexeclog"},
         {},
         true,
         nullptr},
        {"follow-up program that does not exist",
         [] {
             return installerWith(blockOf(
                 configured("Path=#currentappdata#\\Kavari\nExcute=#Path#\\missing.exe\nArgument=/r\n", {})));
         },
         {"Argument:/r"},
         {"bRet=TRUE"},
         {},
         true,
         nullptr},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cleanInstall();
        const SetupRun run = install(c.installer());
        EXPECT_EQ(run.exitCode, 0u);
        std::vector<std::string> expected = c.lines;
        expected.push_back("InstallKavariAddOn>>leave");
        expected.push_back("orvane kavari addone setup program exits.");
        EXPECT_TRUE(run.inOrder(expected));
        for (const std::string& piece : c.absent)
            EXPECT_FALSE(run.anyContains(piece)) << piece;
        EXPECT_EQ(fs::exists(installFolder()), c.folderCreated);
        for (const std::string& file : c.files)
            EXPECT_TRUE(fs::exists(installed(file))) << file;
        if (c.started)
            EXPECT_EQ(waitForRecord(), c.started);
        else
            EXPECT_FALSE(fs::exists(record()));
        EXPECT_TRUE(leftInTemp().empty());
    }
}

Bytes otherStartProgram(const char* version)
{
    return readBytes(ownFolder().parent_path() / "e2e" / version / "OrvaneKavariStart.exe");
}

std::vector<std::wstring> filesIn(const fs::path& folder)
{
    std::vector<std::wstring> names;
    for (const auto& file : fs::directory_iterator(folder))
        names.push_back(file.path().filename().wstring());
    return names;
}

TEST_F(SetupEndToEnd, StartProgramsReplacedUnlessNewerOrdinaryItemsAlwaysAndFilesInUseMovedAside)
{
    const Bytes packaged = startProgram(); // 7.0.1.9
    const Bytes newer = otherStartProgram("newer");
    const Bytes older = otherStartProgram("older");
    ASSERT_FALSE(newer.empty());
    ASSERT_FALSE(older.empty());
    const Bytes installer =
        installerWith(blockOf(configured(kConfig, {{"OrvaneKavariStart.exe", packaged},
                                                   {"Kavari.exe", packaged},
                                                   {"chrome.json", text("packaged")},
                                                   {"edge.json", text("packaged edge")}})));

    // Newer installed start program kept; an older one under the other start name replaced; an
    // ordinary item replaced although it is "newer"; an item held open moved aside.
    writeBytes(installed("orvanekavaristart.exe"), newer);
    writeBytes(installed("kavari.exe"), older);
    writeBytes(installed("chrome.json"), text("installed, newer"));
    writeBytes(installed("edge.json"), text("installed edge"));
    {
        const platform::win32::UniqueFile held(CreateFileW(installed("edge.json").c_str(), GENERIC_READ,
                                                           FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        const SetupRun run = install(installer);
        const std::string folder = utf8(masked(installFolder().wstring()));
        EXPECT_TRUE(run.inOrder(
            {"InstallKavariAddOn>>processing, i=4, itemName=OrvaneKavariStart.exe",
             "InstallKavariAddOn>>file already exists, and version is higher, strInstallPath=" + folder +
                 "\\orvanekavaristart.exe",
             "InstallKavariAddOn>>processing, i=3, itemName=Kavari.exe"}));
        EXPECT_FALSE(run.has(
            "InstallKavariAddOn>>file already exists, and version is higher, strInstallPath=" + folder +
            "\\kavari.exe"));
    }
    EXPECT_EQ(readBytes(installed("orvanekavaristart.exe")), newer);
    EXPECT_EQ(readBytes(installed("kavari.exe")), packaged);
    EXPECT_EQ(readBytes(installed("chrome.json")), text("packaged"));
    EXPECT_EQ(readBytes(installed("edge.json")), text("packaged edge"));
    const std::vector<std::wstring> names = filesIn(installFolder());
    const auto aside = std::find_if(names.begin(), names.end(), [](const std::wstring& n) {
        return n.rfind(L"edge.json.", 0) == 0 && n.size() > 4 && n.substr(n.size() - 4) == L".tmp";
    });
    ASSERT_NE(aside, names.end());
    EXPECT_EQ(readBytes(installFolder() / *aside), text("installed edge"));
    EXPECT_EQ(waitForRecord(), "/r");
    EXPECT_TRUE(leftInTemp().empty());

    // The same version installed (its bytes differ) and a start program without a version: both replaced.
    Bytes sameVersion = packaged;
    sameVersion.push_back(0);
    writeBytes(installed("orvanekavaristart.exe"), sameVersion);
    writeBytes(installed("kavari.exe"), text("no version at all"));
    fs::remove(record());
    const SetupRun again = install(installer);
    EXPECT_FALSE(again.anyContains("version is higher"));
    EXPECT_EQ(readBytes(installed("orvanekavaristart.exe")), packaged);
    EXPECT_EQ(readBytes(installed("kavari.exe")), packaged);
}

// The registry value of the Chrome uninstall key of the current user, removed again.
class ChromeKey {
public:
    explicit ChromeKey(const std::wstring& installLocation)
    {
        platform::win32::UniqueRegKey key;
        RegCreateKeyExW(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
        RegSetValueExW(key.get(), L"InstallLocation", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(installLocation.c_str()),
                       static_cast<DWORD>((installLocation.size() + 1) * sizeof(wchar_t)));
    }
    ~ChromeKey() { RegDeleteTreeW(HKEY_CURRENT_USER, kPath), RegDeleteKeyW(HKEY_CURRENT_USER, kPath); }
    ChromeKey(const ChromeKey&) = delete;
    ChromeKey& operator=(const ChromeKey&) = delete;

private:
    static constexpr const wchar_t* kPath =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Google Chrome";
};

void writeText(const fs::path& path, const std::string& content)
{
    writeBytes(path, text(content));
}

TEST_F(SetupEndToEnd, PluginModuleGoesToTheBrowserFoldersOrIsForcedIntoTheFallback)
{
    const Bytes plugin = demoFile("npkvdpx.dll");
    const Bytes installer =
        installerWith(blockOf(configured(kConfig, {{"npkvdpx.dll", plugin}, {"chrome.json", text("{}")}})));
    // A Firefox profile whose compatibility file names the folder Firefox last ran from.
    const fs::path firefox = fs::path(mRoaming) / L"Mozilla\\Firefox";
    const fs::path firefoxApp = mCase.path() / L"firefox app";
    const auto writeProfile = [&] {
        writeText(firefox / L"profiles.ini",
                  "[General]\r\nStartWithLastProfile=1\r\n\r\n[Profile0]\r\nName=default\r\n"
                  "IsRelative=1\r\nPath=Profiles/kv.default\r\nDefault=1\r\n");
        writeText(firefox / L"Profiles\\kv.default\\compatibility.ini",
                  "[Compatibility]\r\nLastAppDir=" + utf8(firefoxApp.wstring()) + "\r\n");
    };

    {
        SCOPED_TRACE("Chrome registered, a Firefox profile, the per-user Mozilla folder");
        const fs::path chrome = mCase.path() / L"chrome app";
        const ChromeKey key(chrome.wstring());
        writeProfile();
        const SetupRun run = install(installer);
        EXPECT_EQ(readBytes(chrome / L"Plugins\\npkvdpx.dll"), plugin);
        EXPECT_EQ(readBytes(firefoxApp / L"plugins\\npkvdpx.dll"), plugin);
        EXPECT_EQ(readBytes(fs::path(mRoaming) / L"Mozilla\\plugins\\npkvdpx.dll"), plugin);
        EXPECT_FALSE(fs::exists(fs::path(mLocal) / L"Google"));
        EXPECT_FALSE(run.anyContains("Force Installing"));
    }
    {
        SCOPED_TRACE("no Chrome, and the Mozilla plug-in folders unusable: forced into the fallback");
        cleanInstall();
        fs::remove_all(firefoxApp);
        writeProfile();
        // Files where the Chrome and Mozilla plug-in folders would have to be made.
        writeText(fs::path(mLocal) / L"Google", "not a folder");
        writeText(fs::path(mRoaming) / L"Mozilla\\plugins", "not a folder");
        const SetupRun run = install(installer);
        // The profile's folder took it, but that one does not count.
        EXPECT_EQ(readBytes(firefoxApp / L"plugins\\npkvdpx.dll"), plugin);
        EXPECT_TRUE(run.inOrder({"InstallKavariAddOn>>processing, i=2, itemName=npkvdpx.dll",
                                 "Force Installing plugin to FireFox shared path:", "npkvdpx.dll",
                                 "InstallKavariAddOn>>processing, i=1, itemName=chrome.json"}));
        // Without a shared folder, the fallback is the bare name in the current folder.
        EXPECT_EQ(readBytes(mCase.path() / L"npkvdpx.dll"), plugin);
        EXPECT_TRUE(fs::exists(installed("chrome.json")));
    }
}

TEST_F(SetupEndToEnd, TemporariesOfKilledRunsGoAndNothingElse)
{
    fs::create_directories(tempFolder());
    fs::create_directories(installFolder());
    // What killed runs leave: the data block and the payload in Temp, in any letter case, and a
    // copy staged beside an installed file.
    const std::vector<fs::path> leftovers = {tempFolder() / L"kvr1A2B.tmp", tempFolder() / L"PREffff.tmp",
                                             installed("firefox.json.00000001DEADBEEF.kvnew")};
    // What is not theirs to take: other names, a folder, and the files another run holds open.
    const std::vector<fs::path> kept = {
        tempFolder() / L"kvr12345.tmp",   tempFolder() / L"kvrt.tmp",
        tempFolder() / L"Pre1.txt",       tempFolder() / L"other.tmp",
        tempFolder() / L"kvr2.tmp",       installed("firefox.json.00000002deadbeef.kvnew"),
        installed("firefox.json.1.kvnew")};
    for (const auto& path : leftovers)
        writeBytes(path, text("left"));
    for (const auto& path : kept)
        writeBytes(path, text("kept"));
    fs::create_directories(tempFolder() / L"kvr3.tmp");
    const auto hold = [](const fs::path& path) {
        return platform::win32::UniqueFile(CreateFileW(path.c_str(), GENERIC_WRITE,
                                                       FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    const platform::win32::UniqueFile heldTemp = hold(tempFolder() / L"kvr2.tmp");
    const platform::win32::UniqueFile heldStaged = hold(installed("firefox.json.00000002deadbeef.kvnew"));
    ASSERT_TRUE(heldTemp && heldStaged);

    const SetupRun run = install(demoFile("KavariSetup.exe"));
    EXPECT_TRUE(run.has("InstallKavariAddOn>>leave"));
    EXPECT_EQ(readBytes(installed("firefox.json")),
              readBytes(fs::path(KV_SOURCE_DIR) / "demo" / "firefox.json"));
    for (const auto& path : leftovers)
        EXPECT_FALSE(fs::exists(path)) << path.string();
    for (const auto& path : kept)
        EXPECT_TRUE(fs::exists(path)) << path.string();
    EXPECT_TRUE(fs::is_directory(tempFolder() / L"kvr3.tmp"));
}

TEST_F(SetupEndToEnd, DllPlantedBesideTheInstallerIsNotLoaded)
{
    const fs::path planted = ownFolder().parent_path() / "planted" / "psapi.dll";
    ASSERT_TRUE(fs::exists(planted));
    fs::copy_file(planted, mCase.path() / L"psapi.dll");
    // Wine takes the planted file first where the program lets its own folder be searched; it reads
    // that only from the environment it starts with, which the test registration sets.
    const char* overrides = std::getenv("WINEDLLOVERRIDES");
    ASSERT_TRUE(overrides != nullptr && std::strstr(overrides, "psapi=n") != nullptr)
        << "WINEDLLOVERRIDES must prefer a psapi.dll found beside the program (psapi=n,b)";
    // The trace file is open in another process (this one): setup.exe attaches to it and, at its
    // end, asks psapi for the file's path, the one library it loads only at run time.
    fs::create_directories(tempFolder());
    trace::win32::TraceOptions options;
    options.folder = tempFolder().wstring();
    trace::win32::TraceStore holder(options);
    holder.init();
    ASSERT_NE(holder.view(), nullptr);
    const SetupRun run = install(demoFile("KavariSetup.exe"));
    EXPECT_TRUE(run.has("InstallKavariAddOn>>leave"));
    EXPECT_TRUE(fs::exists(installed("orvanekavaristart.exe")));
    EXPECT_FALSE(fs::exists(mCase.path() / L"psapi.dll.loaded"));
}

} // namespace
