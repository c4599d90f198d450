// The install run: directory, item walk, ordinary items with the start programs' version rule,
// the plug-in module with its fallback folder, and the follow-up launch.
#include "setup/Install.h"

#include "hostutil/PathUtil.h"
#include "hostutil/Version.h"
#include "platform/Bytes.h"
#include "setup/Dpx.h"
#include "trace/DirectTrace.h"

#include <algorithm>
#include <new>
#include <vector>

namespace setup {

namespace {

using hostutil::CombinePath;

// Bodies go through memory in pieces of this size, so an item of any size costs one piece.
constexpr size_t kPieceSize = 1 << 20;

// Where an item's body lies in the payload; always inside it once the walk has checked it.
struct BodyRange {
    uint64_t offset;
    uint32_t size;
};

// Reads until `count` bytes came or the source gives no more.
size_t readFully(ByteReader& reader, uint8_t* destination, size_t count)
{
    size_t done = 0;
    while (done < count) {
        const size_t got = reader.read(destination + done, count - done);
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

// False when a piece could not be read or written.
bool copyBody(ByteReader& payload, const BodyRange& body, ItemWriter& writer)
{
    if (!payload.seek(body.offset))
        return false;
    std::vector<uint8_t> piece(std::min<size_t>(body.size, kPieceSize));
    for (uint32_t left = body.size; left > 0;) {
        const size_t count = std::min<size_t>(left, piece.size());
        if (readFully(payload, piece.data(), count) != count || !writer.write(piece.data(), count))
            return false;
        left -= static_cast<uint32_t>(count);
    }
    return true;
}

// Copies the body and closes the writer, or abandons it when the body did not get there whole;
// false when the file is not whole.
bool writeBody(ByteReader& payload, const BodyRange& body, ItemWriter& writer)
{
    if (!copyBody(payload, body, writer)) {
        writer.abandon();
        return false;
    }
    return writer.close();
}

// Opens a file that replaces `target` whole; null with `error` read right where the open failed,
// before a log line is made.
std::unique_ptr<ItemWriter> createReplacement(InstallHost& host, const std::wstring& target,
                                              ReplaceLines lines, uint32_t& error)
{
    std::unique_ptr<ItemWriter> writer = host.createReplacement(target, lines);
    error = writer ? 0 : host.lastError();
    return writer;
}

bool isStartProgram(const std::wstring& itemName)
{
    // The names arrive lowercased.
    return itemName == L"orvanekavaristart.exe" || itemName == L"kavari.exe";
}

void installItem(const std::wstring& itemName, ByteReader& payload, const BodyRange& body, InstallHost& host)
{
    host.createFolder(g_ExtensionPath);
    const std::wstring strInstallPath = CombinePath(g_ExtensionPath, itemName, L'\\');
    // The copy is made beside the installed file, under a name of this run's own, and swapped in
    // whole: the bytes are written once, and two installers at once never share a copy.
    uint32_t openError = 0;
    const std::unique_ptr<ItemWriter> writer =
        createReplacement(host, strInstallPath, ReplaceLines::forcedCopy, openError);
    if (!writer) {
        // Without a copy to put in its place, the installed file stays as it is.
        dpx(3, "Installing file failed", pathItem("strInstallPath", strInstallPath),
            uintItem("GetLastError()", openError));
        return;
    }
    const std::wstring& strTempInstallPath = writer->path();
    dpx(1, "InstallKavariAddOn>>Installing", pathItem("strTempInstallPath", strTempInstallPath));
    if (!copyBody(payload, body, *writer)) {
        // A cut copy must not replace a whole installed file.
        writer->abandon();
        dpx(3, "Installing file failed", pathItem("strInstallPath", strInstallPath),
            uintItem("GetLastError()", writer->error()));
        return;
    }

    bool keep = false;
    if (isStartProgram(itemName) && host.pathExists(strInstallPath)) {
        // The installed file is asked first: its version lines come before the packaged one's.
        const std::wstring installedVersion = host.fileVersion(strInstallPath);
        const std::wstring packagedVersion = host.fileVersion(strTempInstallPath);
        keep = hostutil::VersionGreator(installedVersion, packagedVersion, 4);
    }
    if (keep) {
        dpx(1, "InstallKavariAddOn>>file already exists, and version is higher",
            pathItem("strInstallPath", strInstallPath));
        writer->abandon();
    } else {
        // The swap logs its own failures; the installed file stays as it was on any of them.
        writer->close();
    }
}

// Which of the first three plug-in folders took the module; kept across plug-in items of a run.
using PluginFlags = std::array<bool, 3>;

void pluginFailed(const std::wstring& strInstallPath, uint32_t error)
{
    dpx(3, "Installing plugin failed", pathItem("strInstallPath", strInstallPath),
        uintItem("GetLastError()", error));
}

// A plug-in target is written beside the installed module and swapped in whole: a browser never
// finds no module or half of one, and a failed write leaves the old one. Null, logged, when the
// staged file cannot be made.
std::unique_ptr<ItemWriter> openPluginTarget(InstallHost& host, const std::wstring& strInstallPath)
{
    uint32_t openError = 0;
    std::unique_ptr<ItemWriter> writer =
        createReplacement(host, strInstallPath, ReplaceLines::quiet, openError);
    if (!writer)
        pluginFailed(strInstallPath, openError);
    return writer;
}

void installPlugin(ByteReader& payload, const BodyRange& body, const std::array<std::wstring, 4>& folders,
                   PluginFlags& written, InstallHost& host)
{
    for (size_t k = 0; k < written.size(); ++k) {
        if (folders[k].empty())
            continue;
        const std::wstring strInstallPath = CombinePath(folders[k], L"npkvdpx.dll", L'\\');
        const std::unique_ptr<ItemWriter> writer = openPluginTarget(host, strInstallPath);
        if (!writer)
            continue;
        dpx(1, "InstallKavariAddOn>>Installing", pathItem("strInstallPath", strInstallPath));
        if (writeBody(payload, body, *writer))
            written[k] = true;
        else
            // A folder that holds no whole module does not count, so the fallback still gets one.
            pluginFailed(strInstallPath, writer->error());
    }
    // The per-user Firefox plug-in folder does not count: the shared folder gets its copy anyway.
    if (written[0] || written[2])
        return;
    const std::wstring strInstallPath = CombinePath(folders[3], L"npkvdpx.dll", L'\\');
    const std::unique_ptr<ItemWriter> writer = openPluginTarget(host, strInstallPath);
    if (!writer)
        return;
    dpx(1, "Force Installing plugin to FireFox shared path:");
    trace::traceFormattedDpx("%s", rlxutil::maskedValue(strInstallPath).c_str());
    if (!writeBody(payload, body, *writer))
        pluginFailed(strInstallPath, writer->error());
}

void launch(const std::wstring& program, const std::wstring& commandLine, InstallHost& host)
{
    if (program.empty())
        return;
    // The system takes no longer path or command line (the command line with its terminating
    // zero); a longer one is refused here rather than handed on.
    if (program.size() > kMaxPathLength || commandLine.size() >= kMaxPathLength) {
        dpx(3, "InstallKavariAddOn>>launch refused, too long",
            uintItem("program", static_cast<uint32_t>(program.size())),
            uintItem("commandLine", static_cast<uint32_t>(commandLine.size())));
        return;
    }
    const bool started = host.launch(program, commandLine);
    const std::wstring strexeclog = L"Excute:" + program + L" bRet=" + (started ? L"TRUE" : L"FALSE");
    dpxLogger->log(1, pathItem("strexeclog", strexeclog));
    trace::traceFormattedDpx("%s", rlxutil::maskedValue(L"Argument:" + commandLine).c_str());
}

// The configuration item's bytes, read whole: they are parsed as one text.
bool readConfiguration(ByteReader& payload, const BodyRange& body, std::vector<uint8_t>& bytes)
{
    try {
        bytes.resize(body.size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return payload.seek(body.offset) && readFully(payload, bytes.data(), body.size) == body.size;
}

} // namespace

bool readPayloadDirectory(ByteReader& payload, PackageHeader& header)
{
    //   payload: | bodies | directory block: entries, Count u32, N u32 |   N is the block's size, itself
    //   included
    const uint64_t size = payload.size();
    uint8_t word[4];
    if (size < sizeof word || !payload.seek(size - sizeof word) ||
        readFully(payload, word, sizeof word) != sizeof word)
        return false;
    const uint32_t n = platform::load32(word);
    if (n == 0 || n == 0xFFFFFFFF || n > size || !payload.seek(size - n))
        return false;
    std::vector<uint8_t> block;
    try {
        block.resize(n);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (readFully(payload, block.data(), n) == 0)
        return false;
    CopyToHeaderStruct(block.data(), n, header);
    return true;
}

bool installItems(ByteReader& payload, const std::wstring& destDir, InstallHost& host)
{
    PackageHeader header;
    if (!readPayloadDirectory(payload, header))
        return false;
    const std::array<std::wstring, 4> pluginFolders = host.pluginFolders();
    PluginFlags pluginWritten{};

    for (int32_t i = static_cast<int32_t>(header.Count) - 1; i >= 0; --i) {
        PackageFileEntry& entry = header.pFile[static_cast<size_t>(i)];
        // The stored bytes up to their first zero.
        std::wstring itemName = host.fromAnsi(std::string_view(entry.szFileName.c_str()));
        std::string().swap(entry.szFileName);
        dpx(1, "InstallKavariAddOn>>processing", intItem("i", i), pathItem("itemName", itemName));
        if (entry.Size == 0)
            continue;
        if (!isPlainFileName(itemName)) {
            // The name becomes a file name in the install folder: nothing may land elsewhere.
            dpx(3, "InstallKavariAddOn>>unsafe item name, skipped", pathItem("itemName", itemName));
            continue;
        }

        const BodyRange body{entry.Offset, entry.Size};
        // A body past the payload's end is refused before anything is allocated or written.
        bool readable = body.offset + body.size <= payload.size();
        std::vector<uint8_t> configuration;
        host.toLower(itemName);
        const bool isConfiguration = itemName == L"extaction.bin";
        if (readable && isConfiguration)
            readable = readConfiguration(payload, body, configuration);
        if (!readable) {
            dpx(3, "InstallKavariAddOn>>processing", uintItem("header.pFile[i].Offset", entry.Offset),
                uintItem("bufflen", entry.Size));
            break;
        }

        if (isConfiguration) {
            InitExtensionAction(configuration.data(), entry.Size, host);
            InitGeneralInstallPath(destDir, host);
        } else if (itemName.find(L"npkvdpx.dll") != std::wstring::npos) {
            installPlugin(payload, body, pluginFolders, pluginWritten, host);
        } else {
            installItem(itemName, payload, body, host);
        }
    }
    return true;
}

void launchFollowUps(InstallHost& host)
{
    launch(g_strExcute, g_strArgument, host);
    launch(g_strKavariExcute, g_strKavariArgument, host);
}

void installPayload(ByteReader& payload, const std::wstring& destDir, InstallHost& host)
{
    if (installItems(payload, destDir, host))
        launchFollowUps(host);
}

} // namespace setup
