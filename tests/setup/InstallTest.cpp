// The install run against a recording host: every DPX line, trace record and system call of a run,
// in the order they happen, for a normal install, the version rule, the plug-in folders and
// damaged payloads.
#include "setup/Install.h"

#include "platform/Bytes.h"
#include "platform/TextConvert.h"
#include "setup/TempNames.h"
#include "tests/support/CaptureSink.h"
#include "trace/DirectTrace.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

// Calls of the host and direct trace records join the DPX lines in the one capture, so the test
// sees them interleaved as they happened.
void note(const std::string& text)
{
    rlxutil::getLogger("HOST")->logRaw(0, text);
}

void noteTrace(uint32_t, std::string_view, std::string_view text)
{
    rlxutil::getLogger("TRACE")->logRaw(0, std::string(text));
}

std::string utf8(const std::wstring& text)
{
    return platform::wideToUtf8(text);
}

// A file system of whole files in memory; a file's version is what follows "v=" in it.
class RecordingHost final : public setup::InstallHost {
public:
    std::map<std::wstring, std::string> files;
    std::set<std::wstring> refuseCreate; // create fails with error 5
    std::set<std::wstring> failWrite;    // writes fail with error 112
    std::array<std::wstring, 4> plugins{L"C:\\Chrome", L"", L"", L"S:\\Shared"};

    std::wstring fromAnsi(std::string_view bytes) const override { return setup::latin1ToWide(bytes); }
    std::wstring localAppDataFolder() const override { return L"L:\\Local"; }
    void createFolder(const std::wstring& folder) const override { note("createFolder " + utf8(folder)); }
    void toLower(std::wstring& text) override
    {
        for (wchar_t& c : text)
            c = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
    }
    bool pathExists(const std::wstring& path) override { return files.count(path) != 0; }
    // Written aside, under the target's name and ".new": the target changes only when the whole
    // body is in.
    std::unique_ptr<setup::ItemWriter> createReplacement(const std::wstring& target,
                                                         setup::ReplaceLines lines) override
    {
        note("stage " + utf8(target));
        if (refuseCreate.count(target)) {
            mError = 5;
            return nullptr;
        }
        return std::make_unique<Writer>(*this, target, lines);
    }
    uint32_t lastError() override { return mError; }
    std::wstring fileVersion(const std::wstring& path) override
    {
        note("version " + utf8(path));
        const std::string& content = files[path];
        return content.rfind("v=", 0) == 0 ? setup::latin1ToWide(content.substr(2)) : L"";
    }
    std::array<std::wstring, 4> pluginFolders() override { return plugins; }
    bool launch(const std::wstring& program, const std::wstring& commandLine) override
    {
        note("launch " + utf8(program) + " " + utf8(commandLine));
        return files.count(program) != 0;
    }

private:
    // The staged copy sits in `files` while it is written, so the version check can read it.
    class Writer final : public setup::ItemWriter {
    public:
        Writer(RecordingHost& host, std::wstring target, setup::ReplaceLines lines)
            : mHost(host), mTarget(std::move(target)), mPath(mTarget + L".new"), mLines(lines)
        {
            mHost.files[mPath];
        }
        ~Writer() override { mHost.files.erase(mPath); }
        const std::wstring& path() const override { return mPath; }
        bool write(const uint8_t* data, size_t size) override
        {
            if (mHost.failWrite.count(mTarget))
                return false;
            mHost.files[mPath].append(reinterpret_cast<const char*>(data), size);
            return true;
        }
        bool close() override
        {
            note((mLines == setup::ReplaceLines::forcedCopy ? "replace " : "swap ") + utf8(mTarget));
            mHost.files[mTarget] = mHost.files[mPath];
            return true;
        }
        void abandon() override {}
        uint32_t error() const override { return 112; }

    private:
        RecordingHost& mHost;
        std::wstring mTarget;
        std::wstring mPath;
        setup::ReplaceLines mLines;
    };

    uint32_t mError = 0;
};

const std::string kConfig =
    "Path=#currentappdata#\\Kavari\nExcute=#Path#\\OrvaneKavariStart.exe\nArgument=/r\nrunasadmin=0\n";

std::vector<uint8_t> payloadOf(const std::vector<std::pair<std::string, std::string>>& items)
{
    std::vector<setup::PackageItem> list;
    for (const auto& [name, body] : items)
        list.push_back({name, {body.begin(), body.end()}});
    return setup::buildPayload(list);
}

// The demo package's items, in its order.
std::vector<uint8_t> demoPayload()
{
    return payloadOf({{"extaction.bin", kConfig},
                      {"OrvaneKavariStart.exe", "v=7.0.1.9"},
                      {"npkvdpx.dll", "module"},
                      {"firefox.json", "{}"},
                      {".", ""}});
}

// One whole run; the journal as "<level> <line>" for DPX, "> call" for the host, "~ record" for
// direct trace records and "u<level> <line>" for the utilities' logger.
Lines run(const std::vector<uint8_t>& payload, RecordingHost& host)
{
    setup::resetInstallState();
    rlxutil::ScopedCaptureSink capture;
    const trace::DirectWriter previous = trace::setDirectWriter(&noteTrace);
    setup::MemoryReader reader(payload.data(), payload.size());
    setup::installPayload(reader, L"L:\\Local\\Kavari", host);
    trace::setDirectWriter(previous);
    setup::resetInstallState();
    Lines journal;
    for (const rlxutil::CapturedLine& line : capture.lines()) {
        const std::string prefix = line.loggerName == "HOST"    ? "> "
                                   : line.loggerName == "TRACE" ? "~ "
                                   : line.loggerName == "DPX"   ? std::to_string(line.level) + " "
                                                                : "u" + std::to_string(line.level) + " ";
        journal.push_back(prefix + line.line);
    }
    return journal;
}

const Lines kConfigLines = {
    "1 InitExtensionAction, strValue=#currentappdata#\\Kavari",
    "1 InitExtensionAction, strValue=#Path#\\OrvaneKavariStart.exe",
    "1 InitExtensionAction, strValue=/r",
    "1 InitExtensionAction, strValue=0",
    "1 InstallAddOn>>InitGeneralInstallPath",
    "1 InstallAddOn>>install-path, g_ExtensionPath=#currentappdata#\\Kavari",
    "1 InstallAddOn>>Excute, g_strExcute=#Path#\\OrvaneKavariStart.exe",
    "1 InstallAddOn>>KavariExcute, g_strKavariExcute=",
    "> createFolder L:\\Local\\Kavari",
    "1 InstallAddOn>>Install path new, g_ExtensionPath=L:\\Local\\Kavari",
    "1 InstallAddOn>>Excute new, g_strExcute=L:\\Local\\Kavari\\OrvaneKavariStart.exe",
    "1 InstallAddOn>>KavariExcute new, g_strKavariExcute=",
};

Lines concat(std::initializer_list<Lines> parts)
{
    Lines all;
    for (const Lines& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The demo package's last item and the launch, the same after every start program and module.
const Lines kDemoTail = {
    "> stage L:\\Local\\Kavari\\firefox.json",
    "1 InstallKavariAddOn>>Installing, strTempInstallPath=L:\\Local\\Kavari\\firefox.json.new",
    "> replace L:\\Local\\Kavari\\firefox.json",
    "1 InstallKavariAddOn>>processing, i=0, itemName=.",
    "> launch L:\\Local\\Kavari\\OrvaneKavariStart.exe /r",
    "1 strexeclog=Excute:L:\\Local\\Kavari\\OrvaneKavariStart.exe bRet=FALSE",
    "~ Argument:/r"};

// The journal without the directory's and the configuration's own lines, which the demo package's
// table pins down: what is left is what each case decides.
Lines decisions(const Lines& journal)
{
    Lines kept;
    for (const std::string& line : journal) {
        bool own = false;
        for (const char* prefix : {"1 InstallKavariAddOn>>CopyToHeaderStruct", "1 InitExtensionAction",
                                   "1 InstallAddOn>>", "> createFolder"})
            own = own || line.rfind(prefix, 0) == 0;
        if (!own)
            kept.push_back(line);
    }
    return kept;
}

std::vector<uint8_t> withLast32(std::vector<uint8_t> payload, uint32_t value)
{
    platform::store32(payload.data() + payload.size() - 4, value);
    return payload;
}

// A payload whose one item, after the configuration, claims a body at `offset`.
std::vector<uint8_t> itemAt(uint32_t offset)
{
    std::vector<uint8_t> payload =
        payloadOf({{"extaction.bin", kConfig}, {"late.txt", "late"}, {"never.txt", "x"}});
    // late.txt's Offset field: the entries stand first to last, each name then Length, Size, Offset.
    const size_t lateOffsetAt = payload.size() - 8 - (9 + 12) - 4;
    platform::store32(payload.data() + lateOffsetAt, offset);
    return payload;
}

const std::wstring kInstalledStart = L"L:\\Local\\Kavari\\orvanekavaristart.exe";

} // namespace

// Every line and call of a run of the demo package, for each state of the installed start program
// and of the browsers' plug-in folders.
TEST(Install, VersionRulePluginFoldersAndFailures)
{
    const Lines directory = {
        "1 InstallKavariAddOn>>CopyToHeaderStruct, len=126, header.cbSize=126, header.Count=5",
        "1 InstallKavariAddOn>>CopyToHeaderStruct,, i=0, header.pFile[i].szFileName=., "
        "header.pFile[i].Offset=0, header.pFile[i].Length=1, header.pFile[i].Size=0",
        "1 InstallKavariAddOn>>CopyToHeaderStruct,, i=1, header.pFile[i].szFileName=firefox.json, "
        "header.pFile[i].Offset=0, header.pFile[i].Length=12, header.pFile[i].Size=2",
        "1 InstallKavariAddOn>>CopyToHeaderStruct,, i=2, header.pFile[i].szFileName=npkvdpx.dll, "
        "header.pFile[i].Offset=2, header.pFile[i].Length=11, header.pFile[i].Size=6",
        "1 InstallKavariAddOn>>CopyToHeaderStruct,, i=3, header.pFile[i].szFileName=OrvaneKavariStart.exe, "
        "header.pFile[i].Offset=8, header.pFile[i].Length=21, header.pFile[i].Size=9",
        "1 InstallKavariAddOn>>CopyToHeaderStruct,, i=4, header.pFile[i].szFileName=extaction.bin, "
        "header.pFile[i].Offset=17, header.pFile[i].Length=13, header.pFile[i].Size=90",
        "1 InstallKavariAddOn>>processing, i=4, itemName=extaction.bin"};
    const std::string staged =
        "1 InstallKavariAddOn>>Installing, strTempInstallPath=L:\\Local\\Kavari\\orvanekavaristart.exe.new";
    const std::string replaced = "> replace L:\\Local\\Kavari\\orvanekavaristart.exe";
    const Lines versions = {staged, "> version L:\\Local\\Kavari\\orvanekavaristart.exe",
                            "> version L:\\Local\\Kavari\\orvanekavaristart.exe.new"};
    const Lines chromeTakes = {"> stage C:\\Chrome\\npkvdpx.dll",
                               "1 InstallKavariAddOn>>Installing, strInstallPath=C:\\Chrome\\npkvdpx.dll",
                               "> swap C:\\Chrome\\npkvdpx.dll"};
    const auto installed = [](const char* content) {
        return [=](RecordingHost& host) { host.files[kInstalledStart] = content; };
    };
    struct Case {
        const char* what;
        std::function<void(RecordingHost&)> prepare;
        Lines start; // the start program's part of the run, after it is staged
        std::string installedStart;
        Lines plugin = {}; // the plug-in module's part, when Chrome does not simply take it
        std::string profileModule = "old module"; // what P:\\Profile holds afterwards
    };
    const std::vector<Case> cases = {
        {"older installed", installed("v=7.0.1.8"), concat({versions, {replaced}}), "v=7.0.1.9"},
        {"none installed", [](RecordingHost&) {}, {staged, replaced}, "v=7.0.1.9"},
        {"newer installed", installed("v=7.0.2.1"),
         concat({versions,
                 {"1 InstallKavariAddOn>>file already exists, and version is higher, "
                  "strInstallPath=L:\\Local\\Kavari\\orvanekavaristart.exe"}}),
         "v=7.0.2.1"},
        {"same version", installed("v=7.0.1.9"), concat({versions, {replaced}}), "v=7.0.1.9"},
        {"installed without a version", installed("old"),
         concat({versions,
                 {"u3 dpx>>fileSystem>>VersionGreator failed, invalid input, version1=, version2=7.0.1.9",
                  replaced}}),
         "v=7.0.1.9"},
        {"the copy cannot be made: the installed file stays",
         [](RecordingHost& host) {
             host.files[kInstalledStart] = "v=7.0.1.8";
             host.refuseCreate.insert(kInstalledStart);
         },
         {"3 Installing file failed, strInstallPath=L:\\Local\\Kavari\\orvanekavaristart.exe, "
          "GetLastError()=5"},
         "v=7.0.1.8"},
        {"the copy cut short: dropped, the installed file stays",
         [](RecordingHost& host) {
             host.files[kInstalledStart] = "v=7.0.1.8";
             host.failWrite.insert(kInstalledStart);
         },
         {staged, "3 Installing file failed, strInstallPath=L:\\Local\\Kavari\\orvanekavaristart.exe, "
                  "GetLastError()=112"},
         "v=7.0.1.8"},
        {"only the per-user Firefox folder: its module replaced whole, and the fallback gets one too",
         [](RecordingHost& host) {
             host.plugins = {L"", L"P:\\Profile", L"", L"S:\\Shared"};
             host.files[L"P:\\Profile\\npkvdpx.dll"] = "old module";
         },
         {staged, replaced},
         "v=7.0.1.9",
         {"> stage P:\\Profile\\npkvdpx.dll",
          "1 InstallKavariAddOn>>Installing, strInstallPath=P:\\Profile\\npkvdpx.dll",
          "> swap P:\\Profile\\npkvdpx.dll", "> stage S:\\Shared\\npkvdpx.dll",
          "1 Force Installing plugin to FireFox shared path:", "~ S:\\Shared\\npkvdpx.dll",
          "> swap S:\\Shared\\npkvdpx.dll"},
         "module"},
        {"Chrome refuses, a cut write in the profile folder keeps its old module; the fallback, with no "
         "shared folder the bare name",
         [](RecordingHost& host) {
             host.plugins = {L"C:\\Chrome", L"", L"P:\\Profile", L""};
             host.files[L"P:\\Profile\\npkvdpx.dll"] = "old module";
             host.refuseCreate.insert(L"C:\\Chrome\\npkvdpx.dll");
             host.failWrite.insert(L"P:\\Profile\\npkvdpx.dll");
             host.refuseCreate.insert(L"npkvdpx.dll");
         },
         {staged, replaced},
         "v=7.0.1.9",
         {"> stage C:\\Chrome\\npkvdpx.dll",
          "3 Installing plugin failed, strInstallPath=C:\\Chrome\\npkvdpx.dll, GetLastError()=5",
          "> stage P:\\Profile\\npkvdpx.dll",
          "1 InstallKavariAddOn>>Installing, strInstallPath=P:\\Profile\\npkvdpx.dll",
          "3 Installing plugin failed, strInstallPath=P:\\Profile\\npkvdpx.dll, GetLastError()=112",
          "> stage npkvdpx.dll", "3 Installing plugin failed, strInstallPath=npkvdpx.dll, GetLastError()=5"}},
    };
    for (const Case& c : cases) {
        RecordingHost host;
        c.prepare(host);
        EXPECT_EQ(
            run(demoPayload(), host),
            concat({directory,
                    kConfigLines,
                    {"1 InstallKavariAddOn>>processing, i=3, itemName=OrvaneKavariStart.exe",
                     "> createFolder L:\\Local\\Kavari", "> stage L:\\Local\\Kavari\\orvanekavaristart.exe"},
                    c.start,
                    {"1 InstallKavariAddOn>>processing, i=2, itemName=npkvdpx.dll"},
                    c.plugin.empty() ? chromeTakes : c.plugin,
                    {"1 InstallKavariAddOn>>processing, i=1, itemName=firefox.json",
                     "> createFolder L:\\Local\\Kavari"},
                    kDemoTail}))
            << c.what;
        EXPECT_EQ(host.files[kInstalledStart], c.installedStart) << c.what;
        EXPECT_EQ(host.files[L"L:\\Local\\Kavari\\firefox.json"], "{}") << c.what;
        if (c.plugin.empty()) {
            EXPECT_EQ(host.files[L"C:\\Chrome\\npkvdpx.dll"], "module") << c.what;
        }
        for (const auto& [path, content] : host.files)
            EXPECT_NE(path.substr(path.size() - 4), L".new") << c.what; // no copy left
        if (host.files.count(L"P:\\Profile\\npkvdpx.dll")) {
            EXPECT_EQ(host.files[L"P:\\Profile\\npkvdpx.dll"], c.profileModule) << c.what;
        }
    }
}

TEST(Install, DamagedAndUnusualPayloads)
{
    const Lines launched = {"> launch L:\\Local\\Kavari\\OrvaneKavariStart.exe /r",
                            "1 strexeclog=Excute:L:\\Local\\Kavari\\OrvaneKavariStart.exe bRet=FALSE",
                            "~ Argument:/r"};
    std::vector<uint8_t> tooManyEntries = payloadOf({{"a.txt", "a"}});
    platform::store32(tooManyEntries.data() + tooManyEntries.size() - 8, 1000);
    struct Case {
        const char* what;
        std::vector<uint8_t> payload;
        Lines expected;
    };
    const std::vector<Case> cases = {
        // Without a directory the run ends: nothing installed, nothing started.
        {"empty payload", {}, {}},
        {"three bytes", {1, 2, 3}, {}},
        {"directory size 0", withLast32(demoPayload(), 0), {}},
        {"directory size 0xFFFFFFFF", withLast32(demoPayload(), 0xFFFFFFFF), {}},
        {"directory larger than the payload", withLast32(demoPayload(), 100000), {}},
        // A malformed directory is an empty one: the walk is reached, with nothing to start.
        {"more entries than the block holds",
         tooManyEntries,
         {"3 InstallKavariAddOn>>CopyToHeaderStruct.malformed, len=25, i=1"}},
        {"item body past the payload's end ends the walk, the launch still comes", itemAt(0x10000000),
         concat({{"1 InstallKavariAddOn>>processing, i=2, itemName=extaction.bin",
                  "1 InstallKavariAddOn>>processing, i=1, itemName=late.txt",
                  "3 InstallKavariAddOn>>processing, header.pFile[i].Offset=268435456, bufflen=4"},
                 launched})},
        {"unsafe names skipped, case-mixed names installed lowercased, names merely holding the module's",
         payloadOf({{"EXTACTION.BIN", kConfig},
                    {"..\\escaped.txt", "no"},
                    {"CON.txt", "no"},
                    {"Plain.TXT", "yes"},
                    {"old-npkvdpx.dll.bak", "module"}}),
         concat({{"1 InstallKavariAddOn>>processing, i=4, itemName=EXTACTION.BIN",
                  "1 InstallKavariAddOn>>processing, i=3, itemName=..\\escaped.txt",
                  "3 InstallKavariAddOn>>unsafe item name, skipped, itemName=..\\escaped.txt",
                  "1 InstallKavariAddOn>>processing, i=2, itemName=CON.txt",
                  "3 InstallKavariAddOn>>unsafe item name, skipped, itemName=CON.txt",
                  "1 InstallKavariAddOn>>processing, i=1, itemName=Plain.TXT",
                  "> stage L:\\Local\\Kavari\\plain.txt",
                  "1 InstallKavariAddOn>>Installing, strTempInstallPath=L:\\Local\\Kavari\\plain.txt.new",
                  "> replace L:\\Local\\Kavari\\plain.txt",
                  "1 InstallKavariAddOn>>processing, i=0, itemName=old-npkvdpx.dll.bak",
                  "> stage C:\\Chrome\\npkvdpx.dll",
                  "1 InstallKavariAddOn>>Installing, strInstallPath=C:\\Chrome\\npkvdpx.dll",
                  "> swap C:\\Chrome\\npkvdpx.dll"},
                 launched})},
        {"no configuration: the bare name, relative to the current folder, and no launch",
         payloadOf({{"loose.txt", "loose"}, {".", ""}}),
         {"1 InstallKavariAddOn>>processing, i=1, itemName=loose.txt", "> stage loose.txt",
          "1 InstallKavariAddOn>>Installing, strTempInstallPath=loose.txt.new", "> replace loose.txt",
          "1 InstallKavariAddOn>>processing, i=0, itemName=."}},
        {"only the second follow-up program, with an empty command line",
         payloadOf({{"extaction.bin", "KavariExcute=K:\\k.exe\n"}}),
         {"1 InstallKavariAddOn>>processing, i=0, itemName=extaction.bin", "> launch K:\\k.exe ",
          "1 strexeclog=Excute:K:\\k.exe bRet=FALSE", "~ Argument:"}},
    };
    for (const Case& c : cases) {
        RecordingHost host;
        EXPECT_EQ(decisions(run(c.payload, host)), c.expected) << c.what;
    }

    // Refused before any work: 5,000 "#Path#" over a 10,000-character folder, a command line the
    // system cannot take, a value longer than any path. The long values' own lines are left out.
    RecordingHost host;
    Lines refusals;
    std::string macros;
    while (macros.size() < 5000 * 6)
        macros += "#Path#";
    for (const std::string& line :
         run(payloadOf({{"extaction.bin",
                         "Path=" + std::string(10000, 'p') + "\nExcute=" + macros +
                             "\nKavariExcute=K:\\k.exe\nKavariArgument=" + std::string(32767, 'a') +
                             "\nArgument=" + std::string(32768, 'b')}}),
             host))
        if (line.rfind("3 ", 0) == 0 || line.rfind("> ", 0) == 0)
            refusals.push_back(line);
    EXPECT_EQ(refusals,
              (Lines{"3 InitExtensionAction>>value too long, ignored, length=32768",
                     "3 InstallAddOn>>expanded path too long, ignored, g_strExcute",
                     "3 InstallKavariAddOn>>launch refused, too long, program=8, commandLine=32767"}));
}

TEST(Install, OnlyTheRunsOwnTemporaryNamesCountAsLeftovers)
{
    // What a later run may remove: the system's unique names under the run's two prefixes.
    for (const wchar_t* name : {L"kvr1.tmp", L"kvrFFFF.TMP", L"KVRa2f.tmp", L"kvr0.tmp", L"PreAB12.tmp"})
        EXPECT_TRUE(setup::isRunTemporaryName(name)) << utf8(name);
    // Another program's files, an installed item's name, a fifth digit, a folder in the name, the
    // trace files, a staged copy beside an installed file, an older build's item copy.
    for (const wchar_t* name :
         {L"kvr.tmp", L"kvr12345.tmp", L"kvrg.tmp", L"kvx1.tmp", L"kvr1.tmp.kvnew", L"firefox.json",
          L"x\\kvr1.tmp", L"kvr1.tm", L"kvrtra_1.kvl", L"Prefs.tmp", L"kvi1.tmp"})
        EXPECT_FALSE(setup::isRunTemporaryName(name)) << utf8(name);
}
