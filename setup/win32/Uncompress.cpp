// Unpacking the package: the data block decoded into a payload file, the directory read from the
// payload's end, each item installed where it belongs, then the follow-up programs started.
#include "hostutil/PathUtil.h"
#include "hostutil/Version.h"
#include "hostutil/win32/BrowserUtil.h"
#include "hostutil/win32/FileSystem.h"
#include "lzari/Codec.h"
#include "lzari/win32/LZARI.h"
#include "lzari/win32/OpBinaryFile.h"
#include "platform/win32/Handle.h"
#include "platform/win32/LastError.h"
#include "setup/Dpx.h"
#include "setup/InstallConfig.h"
#include "setup/PackageDirectory.h"
#include "setup/win32/AnsiText.h"
#include "setup/win32/Driver.h"
#include "setup/win32/SystemInstallEnvironment.h"
#include "trace/DirectTrace.h"

#include <array>
#include <exception>
#include <new>
#include <vector>

using hostutil::CombinePath;
using platform::win32::LastError;
using platform::win32::UniqueFile;
using setup::dpx;
using setup::intItem;
using setup::uintItem;

namespace {

rlxutil::LogItem maskedItem(const char* name, const std::wstring& value)
{
    return rlxutil::LogItem(rlxutil::maskedValue(value), name);
}

// The browser plug-in folders, in the order they are tried, and which of the first three took
// the module; the fourth is the fallback.
struct PluginTargets {
    std::array<std::wstring, 4> folders;
    std::array<bool, 3> written{};
};

PluginTargets pluginTargets()
{
    namespace browser = hostutil::browserUtil;
    PluginTargets targets;
    targets.folders = {browser::GetChromePluginPath(), browser::GetFireFoxPluginPath(),
                       browser::GetFireFoxAppDataPath(false), browser::GetFireFoxAppDataPath(true)};
    return targets;
}

// Writes the body to `path` through the item stream; false (with the system's reason still in
// the last error) when the file cannot be opened, written or closed in full.
bool writeBody(const std::wstring& path, const std::vector<uint8_t>& body, bool& opened)
{
    COpBinaryFile stream;
    opened = stream.Open(path, L"wb");
    if (!opened)
        return false;
    const bool written = stream.Write(body.data(), body.size());
    return stream.Close() && written;
}

// The copy in the temporary folder is what replaces the installed file: it must be there in full
// before anything installed is touched.
bool hasSize(const std::wstring& path, uint64_t size)
{
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER actual{};
    return file && GetFileSizeEx(file.get(), &actual) && static_cast<uint64_t>(actual.QuadPart) == size;
}

bool isStartProgram(const std::wstring& itemName)
{
    // The names arrive lowercased.
    return itemName == L"orvanekavaristart.exe" || itemName == L"kavari.exe";
}

void installItem(const std::wstring& itemName, const std::vector<uint8_t>& body)
{
    hostutil::CFileSystem::RecursiveCreateFolder(g_ExtensionPath);
    const std::wstring strInstallPath = CombinePath(g_ExtensionPath, itemName, L'\\');
    const std::wstring strTempInstallPath = CombinePath(hostutil::GetTempFolder(), itemName, L'\\');

    bool opened = false;
    const bool written = writeBody(strTempInstallPath, body, opened);
    if (opened)
        dpx(1, "InstallKavariAddOn>>Installing", maskedItem("strTempInstallPath", strTempInstallPath));
    if (!written || !hasSize(strTempInstallPath, body.size())) {
        // Without a whole copy to put in its place, the installed file stays as it is.
        dpx(3, "Installing file failed", maskedItem("strInstallPath", strInstallPath),
            uintItem("GetLastError()", LastError::take().code));
        if (opened)
            hostutil::DeleteFile(strTempInstallPath);
        return;
    }

    const bool installed = hostutil::PathExists(strInstallPath);
    if (!isStartProgram(itemName)) {
        // Copied over rather than deleted first: a copy that fails then leaves the old file.
        hostutil::ForceCopyFile(strTempInstallPath, strInstallPath);
    } else if (installed && hostutil::VersionGreator(hostutil::GetFileVersion(strInstallPath),
                                                     hostutil::GetFileVersion(strTempInstallPath), 4)) {
        dpx(1, "InstallKavariAddOn>>file already exists, and version is higher",
            maskedItem("strInstallPath", strInstallPath));
    } else {
        hostutil::ForceCopyFile(strTempInstallPath, strInstallPath);
    }
    hostutil::DeleteFile(strTempInstallPath);
}

void installPlugin(const std::vector<uint8_t>& body, PluginTargets& targets)
{
    for (size_t k = 0; k < targets.written.size(); ++k) {
        if (targets.folders[k].empty())
            continue;
        const std::wstring strInstallPath = CombinePath(targets.folders[k], L"npkvdpx.dll", L'\\');
        if (hostutil::PathExists(strInstallPath))
            DeleteFileW(strInstallPath.c_str());
        bool opened = false;
        if (writeBody(strInstallPath, body, opened)) {
            dpx(1, "InstallKavariAddOn>>Installing", maskedItem("strInstallPath", strInstallPath));
            targets.written[k] = true;
        } else {
            dpx(3, "Installing plugin failed", maskedItem("strInstallPath", strInstallPath),
                uintItem("GetLastError()", LastError::take().code));
        }
    }
    // The per-user Firefox plug-in folder does not count: the shared folder gets its copy anyway.
    if (targets.written[0] || targets.written[2])
        return;
    const std::wstring strInstallPath = CombinePath(targets.folders[3], L"npkvdpx.dll", L'\\');
    bool opened = false;
    if (writeBody(strInstallPath, body, opened)) {
        dpx(1, "Force Installing plugin to FireFox shared path:");
        trace::traceFormattedDpx("%s", rlxutil::maskedValue(strInstallPath).c_str());
    } else {
        dpx(3, "Installing plugin failed", maskedItem("strInstallPath", strInstallPath),
            uintItem("GetLastError()", LastError::take().code));
    }
}

void launch(const std::wstring& program, const std::wstring& commandLine)
{
    if (program.empty())
        return;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    // The command line alone, without the program's path: the program sees exactly what was
    // configured. CreateProcessW may write into it.
    std::wstring line = commandLine;
    const BOOL started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    // Nothing waits for the program; its handles are not needed.
    platform::win32::UniqueHandle processHandle(process.hProcess);
    platform::win32::UniqueHandle threadHandle(process.hThread);
    const std::wstring strexeclog = L"Excute:" + program + L" bRet=" + (started ? L"TRUE" : L"FALSE");
    rlxutil::getLogger("DPX")->log(1, maskedItem("strexeclog", strexeclog));
    trace::traceFormattedDpx("%s", rlxutil::maskedValue(L"Argument:" + commandLine).c_str());
}

void launchFollowUps()
{
    launch(g_strExcute, g_strArgument);
    launch(g_strKavariExcute, g_strKavariArgument);
}

// The entry's name as text: the stored bytes up to their first zero, in the ANSI code page.
std::wstring entryName(const std::string& szFileName)
{
    return setup::win32::ansiToWide(std::string_view(szFileName.c_str()));
}

void toLower(std::wstring& text)
{
    if (!text.empty())
        CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
}

bool seekTo(HANDLE file, int64_t offset, DWORD method)
{
    LARGE_INTEGER to;
    to.QuadPart = offset;
    return SetFilePointerEx(file, to, nullptr, method) != 0;
}

uint32_t readUpTo(HANDLE file, uint8_t* destination, uint32_t count)
{
    uint32_t done = 0;
    while (done < count) {
        DWORD got = 0;
        if (!ReadFile(file, destination + done, count - done, &got, nullptr) || got == 0)
            break;
        done += got;
    }
    return done;
}

// The directory block at the payload's end; false, without a line, when it cannot be had.
bool readDirectory(HANDLE payload, setup::PackageHeader& header)
{
    if (!seekTo(payload, -4, FILE_END))
        return false;
    std::array<uint8_t, 4> word{};
    if (readUpTo(payload, word.data(), 4) != 4)
        return false;
    const uint32_t n = static_cast<uint32_t>(word[0]) | static_cast<uint32_t>(word[1]) << 8 |
                       static_cast<uint32_t>(word[2]) << 16 | static_cast<uint32_t>(word[3]) << 24;
    if (n == 0 || n == 0xFFFFFFFF || !seekTo(payload, -static_cast<int64_t>(n), FILE_END))
        return false;
    std::vector<uint8_t> block;
    try {
        block.resize(n);
    } catch (const std::exception&) {
        return false;
    }
    if (readUpTo(payload, block.data(), n) == 0)
        return false;
    setup::CopyToHeaderStruct(block.data(), n, header);
    return true;
}

} // namespace

int Uncompress(std::wstring destDir, std::wstring file)
{
    dpx(1, "InstallKavariAddOn>>Uncompress", maskedItem("file", file), maskedItem("destDir", destDir));
    if (!hostutil::PathExists(destDir))
        hostutil::CFileSystem::RecursiveCreateFolder(destDir);

    const std::wstring tempFile = hostutil::MakeTempFileName(hostutil::GetTempFolder(), L"Pre");
    try {
        LZARI().DecodeFile(file, tempFile);
    } catch (const std::exception& error) {
        // A block too short to hold its length, or one that claims more than can be made: there
        // is no payload to install from.
        dpx(3, "InstallKavariAddOn>>decode failed", maskedItem("tempFile", tempFile),
            rlxutil::LogItem(rlxutil::textValue(error.what()), "error"));
        if (!tempFile.empty())
            DeleteFileW(tempFile.c_str());
        return 0;
    }

    UniqueFile payload(CreateFileW(tempFile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!payload) {
        dpx(3, "InstallKavariAddOn>>open file failed", maskedItem("tempFile", tempFile),
            uintItem("GetLastError()", LastError::take().code));
        return 0;
    }
    setup::PackageHeader header;
    if (!readDirectory(payload.get(), header))
        return 0;

    const setup::win32::SystemInstallEnvironment environment(
        hostutil::GetLocalAppDataFolder,
        [](const std::wstring& folder) { hostutil::CFileSystem::RecursiveCreateFolder(folder); });
    PluginTargets plugins = pluginTargets();

    for (int32_t i = static_cast<int32_t>(header.Count) - 1; i >= 0; --i) {
        setup::PackageFileEntry& entry = header.pFile[static_cast<size_t>(i)];
        std::wstring itemName = entryName(entry.szFileName);
        std::string().swap(entry.szFileName);
        dpx(1, "InstallKavariAddOn>>processing", intItem("i", i), maskedItem("itemName", itemName));
        if (entry.Size == 0)
            continue;
        if (!setup::isPlainFileName(itemName)) {
            // The name becomes a file name in the install folder: nothing may land elsewhere.
            dpx(3, "InstallKavariAddOn>>unsafe item name, skipped", maskedItem("itemName", itemName));
            continue;
        }

        std::vector<uint8_t> body;
        bool complete = false;
        try {
            body.resize(entry.Size);
            complete = seekTo(payload.get(), entry.Offset, FILE_BEGIN) &&
                       readUpTo(payload.get(), body.data(), entry.Size) == entry.Size;
        } catch (const std::bad_alloc&) {
            complete = false;
        }
        if (!complete) {
            dpx(3, "InstallKavariAddOn>>processing", uintItem("header.pFile[i].Offset", entry.Offset),
                uintItem("bufflen", entry.Size));
            break;
        }

        toLower(itemName);
        if (itemName == L"extaction.bin") {
            InitExtensionAction(body.data(), entry.Size, environment);
            InitGeneralInstallPath(destDir, environment);
        } else if (itemName.find(L"npkvdpx.dll") != std::wstring::npos) {
            installPlugin(body, plugins);
        } else {
            installItem(itemName, body);
        }
    }
    // Closing deletes the payload.
    payload.reset();
    launchFollowUps();
    return 0;
}
