// The real setup.exe under the system, one run per case: packages built here and by kvpack put
// behind it, its files checked where they land, and its lines read back from its trace file.
// What a run decides from the lines alone is pinned by the native install tests; these runs keep
// what only the system shows: files on disk, handles and sharing, renames, Temp and processes.
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
#include "trace/TraceReader.h"
#include "trace/win32/TraceStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using test_support::Bytes;
using Lines = std::vector<std::string>;

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

// Built beside the tests: setup.exe, the demo installer and its programs, start programs of other
// versions.
Bytes built(const fs::path& relative)
{
    return readBytes(ownFolder().parent_path() / relative);
}

// The package of a data block, and behind it what a signature would be: bytes the program never
// reads.
Bytes installerWith(const Bytes& block)
{
    Bytes file = built("bin/setup.exe"), header = setup::makePackageHeader(block);
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), block.begin(), block.end());
    file.insert(file.end(), 64, 0xA5);
    return file;
}

const wchar_t* const kChromeKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Google Chrome";

const std::string kConfig =
    "Path=#currentappdata#\\Kavari\nExcute=#Path#\\OrvaneKavariStart.exe\nArgument=/r\nrunasadmin=0\n";

// The configuration first, the items, and the closing "." entry, as the shipped package has them.
Bytes installerOf(const std::vector<setup::PackageItem>& items, const std::string& config = kConfig)
{
    std::vector<setup::PackageItem> all{{"extaction.bin", text(config)}};
    all.insert(all.end(), items.begin(), items.end());
    all.push_back({".", {}});
    const Bytes payload = setup::buildPayload(all);
    return installerWith(lzari::encode(payload.data(), payload.size()));
}

// The trace lines of one process: every line as "module: text", and the DPX lines' text alone.
struct SetupRun final : trace::TraceVisitor {
    explicit SetupRun(DWORD id = 0) : processId(id) {}
    void record(const trace::TraceRecordView& r) override
    {
        if (r.processId != processId)
            return;
        const std::string module = trace::traceTextToUtf8(r.module);
        const std::string line = trace::traceTextToUtf8(r.text);
        all.push_back(module + ": " + line);
        if (module == "DPX")
            lines.push_back(line);
    }
    bool anyContains(const std::string& piece) const
    {
        return std::any_of(all.begin(), all.end(),
                           [&](const std::string& l) { return l.find(piece) != std::string::npos; });
    }
    // The DPX lines appear in this order, others may stand between them; an expected line ending
    // with "*" is matched by its beginning.
    bool inOrder(const Lines& expected) const
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

    DWORD processId;
    DWORD exitCode = 1;
    Lines lines;
    Lines all;
};

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

    // The install and the browsers' folders, and the Chrome uninstall key a case registers.
    void cleanInstall()
    {
        std::error_code ignored;
        for (const fs::path& p :
             {installFolder(), fs::path(mLocal) / L"Google", fs::path(mRoaming) / L"Mozilla"})
            fs::remove_all(p, ignored);
        RegDeleteTreeW(HKEY_CURRENT_USER, kChromeKey);
        RegDeleteKeyW(HKEY_CURRENT_USER, kChromeKey);
    }

    fs::path installFolder() const { return fs::path(mLocal) / L"Kavari"; }
    fs::path installed(const std::string& name) const { return installFolder() / name; }
    fs::path record() const { return installed("OrvaneKavariStart.record"); }
    fs::path tempFolder() const { return mCase.path() / L"tmp"; }

    // Runs the installer from a folder of its own with a temporary folder of its own, waits for
    // it and reads its lines back.
    SetupRun install(const Bytes& installer)
    {
        const fs::path exe = mCase.path() / L"setup.exe";
        writeBytes(exe, installer);
        fs::create_directories(tempFolder());
        std::wstring environment;
        for (const wchar_t* at = mEnvironment.get(); *at != L'\0'; at += wcslen(at) + 1) {
            if (_wcsnicmp(at, L"TEMP=", 5) != 0 && _wcsnicmp(at, L"TMP=", 4) != 0)
                environment += std::wstring(at) + L'\0';
        }
        environment += L"TEMP=" + tempFolder().wstring() + L'\0';
        environment += L"TMP=" + tempFolder().wstring() + L'\0';
        environment += L'\0';

        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        std::wstring commandLine = L"\"" + exe.wstring() + L"\"";
        if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                            CREATE_UNICODE_ENVIRONMENT, environment.data(), mCase.path().c_str(), &startup,
                            &info)) {
            ADD_FAILURE() << "setup.exe did not start: " << GetLastError();
            return SetupRun();
        }
        platform::win32::UniqueHandle process(info.hProcess);
        platform::win32::UniqueHandle thread(info.hThread);
        SetupRun result(info.dwProcessId);
        EXPECT_EQ(WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
        GetExitCodeProcess(process.get(), &result.exitCode);
        for (const auto& file : fs::directory_iterator(tempFolder())) {
            if (file.path().filename().wstring().rfind(L"kvrtra_", 0) != 0)
                continue;
            const Bytes bytes = readBytes(file.path());
            EXPECT_FALSE(trace::readTraceFile(bytes.data(), bytes.size(), &result).damaged()) << file.path();
        }
        return result;
    }

    // The names the run left in its temporary folder, its trace file aside.
    std::vector<std::wstring> leftInTemp() const
    {
        std::vector<std::wstring> left;
        for (const auto& file : fs::directory_iterator(tempFolder()))
            if (file.path().filename().wstring().rfind(L"kvrtra_", 0) != 0)
                left.push_back(file.path().filename().wstring());
        return left;
    }

    // The follow-up program's record of its start (one line a start), waited for: nothing waits
    // for the program.
    std::string waitForRecord() const
    {
        for (int i = 0; i < 100 && !fs::exists(record()); ++i)
            Sleep(100);
        Sleep(100);
        const Bytes bytes = readBytes(record());
        std::string line(bytes.begin(), bytes.end());
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        return line;
    }

    // A Firefox profile whose compatibility file names the folder Firefox last ran from; that
    // folder is returned.
    fs::path writeFirefoxProfile() const
    {
        const fs::path firefox = fs::path(mRoaming) / L"Mozilla\\Firefox";
        const fs::path app = mCase.path() / L"firefox app";
        writeBytes(firefox / L"profiles.ini",
                   text("[General]\r\nStartWithLastProfile=1\r\n\r\n[Profile0]\r\nName=default\r\n"
                        "IsRelative=1\r\nPath=Profiles/kv.default\r\nDefault=1\r\n"));
        writeBytes(firefox / L"Profiles\\kv.default\\compatibility.ini",
                   text("[Compatibility]\r\nLastAppDir=" + platform::wideToUtf8(app.wstring()) + "\r\n"));
        return app;
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

// Held as another program holds a file: open for `access`, sharing reading and deleting.
platform::win32::UniqueFile hold(const fs::path& path, DWORD access)
{
    return platform::win32::UniqueFile(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The shipped installer as kvpack made it, run over what killed runs left, beside a planted
// psapi.dll, while this process holds the trace file open: setup.exe attaches to that file and at
// its end asks psapi, the one library it loads only at run time, for the file's path.
TEST_F(SetupEndToEnd, DemoInstallerFromKvpackInstallsEverythingAndStartsTheStartProgram)
{
    // What killed runs leave: the data block and the payload in Temp, in any letter case, and a
    // copy staged beside an installed file. Not theirs to take: other names, a folder, and the
    // files another run holds open.
    const std::vector<fs::path> leftovers = {tempFolder() / L"kvr1A2B.tmp", tempFolder() / L"PREffff.tmp",
                                             installed("firefox.json.00000001DEADBEEF.kvnew")};
    const std::vector<fs::path> kept = {
        tempFolder() / L"Pre1.txt",       tempFolder() / L"kvr12345.tmp",
        tempFolder() / L"kvr2.tmp",       tempFolder() / L"kvrt.tmp",
        tempFolder() / L"other.tmp",      installed("firefox.json.00000002deadbeef.kvnew"),
        installed("firefox.json.1.kvnew")};
    for (const auto& path : leftovers)
        writeBytes(path, text("left"));
    for (const auto& path : kept)
        writeBytes(path, text("kept"));
    fs::create_directories(tempFolder() / L"kvr3.tmp");
    const platform::win32::UniqueFile heldTemp = hold(kept[2], GENERIC_WRITE);
    const platform::win32::UniqueFile heldStaged = hold(kept[5], GENERIC_WRITE);
    ASSERT_TRUE(heldTemp && heldStaged);

    fs::copy_file(ownFolder().parent_path() / "planted" / "psapi.dll", mCase.path() / L"psapi.dll");
    // Wine takes the planted file first where the program lets its own folder be searched; it reads
    // that only from the environment it starts with, which the test registration sets.
    const char* overrides = std::getenv("WINEDLLOVERRIDES");
    ASSERT_TRUE(overrides != nullptr && std::strstr(overrides, "psapi=n") != nullptr)
        << "WINEDLLOVERRIDES must prefer a psapi.dll found beside the program (psapi=n,b)";
    trace::win32::TraceOptions options;
    options.folder = tempFolder().wstring();
    trace::win32::TraceStore holder(options);
    holder.init();
    ASSERT_NE(holder.view(), nullptr);

    const SetupRun run = install(built("demo/KavariSetup.exe"));
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(readBytes(installed("orvanekavaristart.exe")), built("demo/OrvaneKavariStart.exe"));
    for (const char* name : {"firefox.json", "edge.json", "chrome.json"})
        EXPECT_EQ(readBytes(installed(name)), readBytes(fs::path(KV_SOURCE_DIR) / "demo" / name)) << name;
    const Bytes plugin = built("demo/npkvdpx.dll");
    EXPECT_EQ(readBytes(fs::path(mLocal) / L"Google\\Chrome\\Application\\Plugins\\npkvdpx.dll"), plugin);
    EXPECT_EQ(readBytes(fs::path(mRoaming) / L"Mozilla\\plugins\\npkvdpx.dll"), plugin);
    EXPECT_EQ(waitForRecord(), "/r");
    EXPECT_FALSE(fs::exists(mCase.path() / L"psapi.dll.loaded"));
    for (const auto& path : leftovers)
        EXPECT_FALSE(fs::exists(path)) << path.string();
    for (const auto& path : kept)
        EXPECT_TRUE(fs::exists(path)) << path.string();
    // Nothing else is left in Temp: the run's own data block and payload are gone too.
    EXPECT_EQ(leftInTemp().size(), 6u);
    EXPECT_TRUE(fs::is_directory(tempFolder() / L"kvr3.tmp"));

    // The configuration's own lines and the order of the items are pinned by the native install tests.
    const std::string folder = rlxutil::maskedValue(installFolder().wstring());
    const std::string app = rlxutil::maskedValue((mCase.path() / L"setup.exe").wstring());
    EXPECT_TRUE(run.inOrder({
        "orvane kavari addone setup program starting..., g_strApplication=" + app,
        "InstallKavariAddOn>>begin",
        "GetPEFileSize, szFile=" + app,
        "InstallKavariAddOn>>extract-folder, targetFolder=" + folder,
        "InstallKavariAddOn>>Installing, strTempInstallPath=" + folder + "\\orvanekavaristart.exe.*",
        "InstallKavariAddOn>>Installing, strTempInstallPath=" + folder + "\\firefox.json.*",
        "strexeclog=Excute:" + folder + "\\OrvaneKavariStart.exe bRet=TRUE",
        "Argument:/r",
        "InstallKavariAddOn>>leave",
        "orvane kavari addone setup program exits.",
    }));
    // No path of the run names the user's profile folder.
    wchar_t user[256] = {};
    DWORD userLength = 256;
    ASSERT_TRUE(GetUserNameW(user, &userLength));
    const std::string name = platform::wideToUtf8(user);
    EXPECT_FALSE(run.anyContains("\\" + name + "\\")) << name;
}

// Packages that are damaged, unusual or hostile: each run must end with the leave and exit lines
// and exit 0, and make and start exactly what the case says. Every refusal of the package check
// takes one way out of the run, shown here by a file without a package; the check's own lines and
// decisions are pinned where it is tested over memory.
TEST_F(SetupEndToEnd, DamagedAndUnusualPackages)
{
    Bytes implausible(175, 0x5A);
    platform::store32(implausible.data(), 0xFFFFFFF0);
    const std::string missing = "Path=#currentappdata#\\Kavari\nExcute=#Path#\\missing.exe\nArgument=/r\n";
    const struct {
        const char* name;
        Bytes installer;
        Lines lines;       // in this order among the run's lines
        Lines absent;      // pieces no line may hold
        bool folderMade;   // whether the install folder exists afterwards
        const char* start; // the start program's record, or null for no launch
    } cases[] = {
        // clang-format off
        {"no package", built("bin/setup.exe"), {"InstallKavariAddOn>>invalid package."},
         {"data-size", "extract-folder"}, false, nullptr},
        {"empty data block: no length to decode", installerWith({}),
         {"InstallKavariAddOn>>data-size, dwLength=0, uiCrc=65535, ncrc=65535",
          "InstallKavariAddOn>>decode failed, tempFile=*"},
         {"processing", "strexeclog"}, true, nullptr},
        {"length field no stream of its size can honestly claim", installerWith(implausible),
         {"InstallKavariAddOn>>implausible data size, dwLength=175, textSize=4294967280, plausible=9546"},
         {"extract-folder", "Uncompress"}, false, nullptr},
        {"empty payload", installerWith(lzari::encode(nullptr, 0)), {}, {"processing", "strexeclog"}, true,
         nullptr},
        {"follow-up program that does not exist", installerOf({}, missing), {"Argument:/r"}, {"bRet=TRUE"},
         true, nullptr},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cleanInstall();
        const SetupRun run = install(c.installer);
        EXPECT_EQ(run.exitCode, 0u);
        Lines expected = c.lines;
        expected.push_back("InstallKavariAddOn>>leave");
        expected.push_back("orvane kavari addone setup program exits.");
        EXPECT_TRUE(run.inOrder(expected));
        for (const std::string& piece : c.absent)
            EXPECT_FALSE(run.anyContains(piece)) << piece;
        EXPECT_EQ(fs::exists(installFolder()), c.folderMade);
        if (c.start)
            EXPECT_EQ(waitForRecord(), c.start);
        else
            EXPECT_FALSE(fs::exists(record()));
        EXPECT_TRUE(leftInTemp().empty());
    }
}

// Over installed files: a newer start program kept, an older one under the other start name
// replaced, an ordinary item replaced although it is "newer", an item held open moved aside. The
// plug-in module goes into the folders of a registered Chrome, of the Firefox a profile names and
// the per-user Mozilla folder.
TEST_F(SetupEndToEnd, InstalledFilesReplacedByTheVersionRuleAndModuleIntoEveryBrowserFolder)
{
    const Bytes packaged = built("demo/OrvaneKavariStart.exe"); // 7.0.1.9
    const Bytes newer = built("e2e/newer/OrvaneKavariStart.exe");
    const Bytes older = built("e2e/older/OrvaneKavariStart.exe");
    ASSERT_FALSE(newer.empty() || older.empty());
    const Bytes plugin = built("demo/npkvdpx.dll");
    writeBytes(installed("orvanekavaristart.exe"), newer);
    writeBytes(installed("kavari.exe"), older);
    writeBytes(installed("chrome.json"), text("installed, newer"));
    writeBytes(installed("edge.json"), text("installed edge"));
    const std::wstring chrome = (mCase.path() / L"chrome app").wstring();
    RegSetKeyValueW(HKEY_CURRENT_USER, kChromeKey, L"InstallLocation", REG_SZ, chrome.c_str(),
                    static_cast<DWORD>((chrome.size() + 1) * sizeof(wchar_t)));
    const fs::path firefoxApp = writeFirefoxProfile();
    {
        const platform::win32::UniqueFile held = hold(installed("edge.json"), GENERIC_READ);
        ASSERT_TRUE(held);
        const SetupRun run = install(installerOf({{"OrvaneKavariStart.exe", packaged},
                                                  {"Kavari.exe", packaged},
                                                  {"npkvdpx.dll", plugin},
                                                  {"chrome.json", text("packaged")},
                                                  {"edge.json", text("packaged edge")}}));
        // Which file the version rule keeps shows in the files; its lines are pinned natively.
        EXPECT_FALSE(run.anyContains("Force Installing"));
    }
    EXPECT_EQ(readBytes(installed("orvanekavaristart.exe")), newer);
    EXPECT_EQ(readBytes(installed("kavari.exe")), packaged);
    EXPECT_EQ(readBytes(installed("chrome.json")), text("packaged"));
    EXPECT_EQ(readBytes(installed("edge.json")), text("packaged edge"));
    std::vector<fs::path> aside;
    for (const auto& file : fs::directory_iterator(installFolder())) {
        const std::wstring name = file.path().filename().wstring();
        if (name.rfind(L"edge.json.", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == L".tmp")
            aside.push_back(file.path());
    }
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readBytes(aside[0]), text("installed edge"));
    EXPECT_EQ(readBytes(fs::path(chrome) / L"Plugins\\npkvdpx.dll"), plugin);
    EXPECT_EQ(readBytes(firefoxApp / L"plugins\\npkvdpx.dll"), plugin);
    EXPECT_EQ(readBytes(fs::path(mRoaming) / L"Mozilla\\plugins\\npkvdpx.dll"), plugin);
    EXPECT_FALSE(fs::exists(fs::path(mLocal) / L"Google"));
    EXPECT_EQ(waitForRecord(), "/r");
    EXPECT_TRUE(leftInTemp().empty());
}

// No Chrome, and files where the Mozilla plug-in folders would have to be made: the profile's
// folder takes the module but does not count, so it is forced into the fallback, which without a
// shared folder is the bare name in the current folder.
TEST_F(SetupEndToEnd, PluginModuleForcedIntoTheFallbackWhereNoBrowserFolderTakesIt)
{
    const Bytes plugin = built("demo/npkvdpx.dll");
    const fs::path firefoxApp = writeFirefoxProfile();
    writeBytes(fs::path(mLocal) / L"Google", text("not a folder"));
    writeBytes(fs::path(mRoaming) / L"Mozilla\\plugins", text("not a folder"));
    const SetupRun run = install(installerOf({{"npkvdpx.dll", plugin}, {"chrome.json", text("{}")}}));
    EXPECT_EQ(readBytes(firefoxApp / L"plugins\\npkvdpx.dll"), plugin);
    EXPECT_TRUE(run.anyContains("Force Installing plugin to FireFox shared path:"));
    EXPECT_EQ(readBytes(mCase.path() / L"npkvdpx.dll"), plugin);
    EXPECT_TRUE(fs::exists(installed("chrome.json")));
}

} // namespace
