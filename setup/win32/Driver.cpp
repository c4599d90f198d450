// One run of the setup program: its own file measured and read, the package checked, the data
// block handed to the unpacking through a temporary file that lives no longer than the run.
#include "setup/win32/Driver.h"

#include "hostutil/win32/FileSystem.h"
#include "lzari/Codec.h"
#include "lzari/win32/LZARI.h"
#include "platform/win32/Handle.h"
#include "platform/win32/LastError.h"
#include "setup/Dpx.h"
#include "setup/PackageFormat.h"
#include "setup/TempNames.h"
#include "setup/win32/FileReader.h"

#include <exception>

std::wstring g_strApplication;

using platform::win32::LastError;
using platform::win32::UniqueFile;
using setup::dpx;
using setup::pathItem;
using setup::uintItem;

namespace {

UniqueFile openForReading(const std::wstring& path, DWORD disposition)
{
    return UniqueFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The package found and checked in the setup program's own file, which stays open in `file` for the
// copy; false when the run must end (already logged).
bool checkOwnPackage(uint32_t dwFileSize, UniqueFile& file, setup::PackageBlock& package)
{
    file = openForReading(g_strApplication, OPEN_EXISTING);
    if (!file) {
        dpx(1, "InstallKavariAddOn>>failed to open source file.",
            uintItem("GetLastError()", LastError::take().code));
        return false;
    }
    setup::win32::FileReader reader(file.get());
    package = setup::checkPackage(reader, dwFileSize);
    if (package.check != setup::PackageCheck::Ok)
        return false;
    // Bits behind a stream's end decode as 1s, so a length field no encoder could have written
    // would have the decoder fill Temp from nothing: refused before anything is made.
    const uint64_t plausible = lzari::plausibleTextSize(package.dwLength);
    if (package.dwLength >= 4 && package.textSize > plausible) {
        dpx(3, "InstallKavariAddOn>>implausible data size", uintItem("dwLength", package.dwLength),
            uintItem("textSize", package.textSize),
            uintItem("plausible", static_cast<uint32_t>(plausible))); // below textSize, so 32 bits
        return false;
    }
    return true;
}

// Removes the temporary files that killed runs left: names of the run's own forms only, plain
// files only, and none that is open, since the open takes no sharing. A run going on beside this
// one holds its data block and payload open from their creation on; an item's copy is safe only
// while its writer holds it open the same way.
void removeLeftoverTemporaries(const std::wstring& tempFolder)
{
    if (tempFolder.empty())
        return;
    WIN32_FIND_DATAW found;
    const platform::win32::UniqueFind find(FindFirstFileW((tempFolder + L"*.tmp").c_str(), &found));
    if (!find)
        return;
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
            !setup::isRunTemporaryName(found.cFileName))
            continue;
        const std::wstring path = tempFolder + found.cFileName;
        // A folder does not open without backup semantics, and a link is removed, never followed.
        const UniqueFile file(CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (file)
            dpx(1, "InstallKavariAddOn>>removed leftover", pathItem("file", path));
    } while (FindNextFileW(find.get(), &found));
}

// Checks the extraction folder, creating it when missing; false when it cannot be written.
bool prepareExtractionFolder(const std::wstring& targetFolder)
{
    using hostutil::CFileSystem;
    if (hostutil::PathExists(targetFolder)) {
        if (!CFileSystem::IsFolderWritable(targetFolder, false))
            dpx(2, "InstallKavariAddOn>>extract-folder is read-only", pathItem("targetFolder", targetFolder));
    } else if (!CFileSystem::RecursiveCreateFolder(targetFolder)) {
        dpx(2, "InstallKavariAddOn>>extract-folder, failed to create folder",
            pathItem("targetFolder", targetFolder));
    }
    if (!CFileSystem::IsFolderWritable(targetFolder, false)) {
        dpx(1, "InstallKavariAddOn>>We has no right to access the specified directory.");
        return false;
    }
    return true;
}

void runInstall()
{
    removeLeftoverTemporaries(hostutil::GetTempFolder());

    const uint32_t dwFileSize = GetPEFileSize(g_strApplication);
    dpx(1, "InstallKavariAddOn>>source", pathItem("g_strApplication", g_strApplication),
        uintItem("dwFileSize", dwFileSize),
        uintItem("CFileSystem::GetFileSize(g_strApplication)",
                 hostutil::CFileSystem::GetFileSize(g_strApplication)));

    UniqueFile source;
    setup::PackageBlock package;
    if (!checkOwnPackage(dwFileSize, source, package))
        return;

    const std::wstring targetFolder = hostutil::GetProductDataFolder();
    dpx(1, "InstallKavariAddOn>>extract-folder", pathItem("targetFolder", targetFolder));
    if (!prepareExtractionFolder(targetFolder))
        return;

    RunTemporary compressed = openRunTemporary(setup::kDataBlockPrefix);
    if (!compressed.file) {
        dpx(1, "InstallKavariAddOn>>Can not open compressed file.", uintItem("GetLastError()", compressed.error));
        return;
    }

    // The block is read once more rather than held: its CRC is checked again on the way, so what
    // lands in the file is what was checked, and no more than a piece is in memory.
    uint32_t writeError = 0;
    setup::win32::FileReader reader(source.get());
    const setup::BlockCopy copy = setup::copyPackageBlock(reader, package, [&](const uint8_t* data, size_t size) {
        return lzari::win32::writeWhole(compressed.file.get(), data, size, writeError);
    });
    source.reset();
    if (copy == setup::BlockCopy::WriteFailed) {
        dpx(3, "InstallKavariAddOn>>write compressed file failed", pathItem("tempFile", compressed.path),
            uintItem("GetLastError()", writeError));
        return;
    }
    if (copy == setup::BlockCopy::Changed) {
        dpx(3, "InstallKavariAddOn>>package changed while it was read", pathItem("tempFile", compressed.path));
        return;
    }

    Uncompress(targetFolder, compressed.path, std::move(compressed.file));

    if (hostutil::PathExists(compressed.path))
        hostutil::DeleteFile(compressed.path);
}

} // namespace

RunTemporary openRunTemporary(const wchar_t* prefix)
{
    RunTemporary temporary;
    for (int attempt = 0; attempt < 8; ++attempt) {
        temporary.path = hostutil::MakeTempFileName(hostutil::GetTempFolder(), prefix);
        if (temporary.path.empty()) {
            temporary.error = LastError::take().code;
            return temporary;
        }
        // The name comes as an empty file. Opened over it, the file would be truncated, which Linux
        // file systems under Wine take for a file being rewritten: its last close writes it all
        // out, a 192 MiB payload's removal then cost 0.2 s instead of 0.03 s. Made anew under the
        // name it is never truncated, and CREATE_NEW never opens what another process put there.
        ::DeleteFileW(temporary.path.c_str());
        temporary.file.reset(CreateFileW(temporary.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (temporary.file) {
            temporary.error = 0;
            return temporary;
        }
        temporary.error = LastError::take().code;
        if (temporary.error != ERROR_FILE_EXISTS && temporary.error != ERROR_ALREADY_EXISTS)
            return temporary;
    }
    return temporary;
}

uint32_t GetPEFileSize(const std::wstring& path)
{
    dpx(1, "GetPEFileSize", pathItem("szFile", path));
    // Opening always, as the program always has: a missing file is created empty.
    const UniqueFile file = openForReading(path, OPEN_ALWAYS);
    if (!file)
        return 0;
    setup::win32::FileReader reader(file.get());
    const setup::ImageEnd end = setup::computeImageEnd(reader);
    if (end.stop == setup::ImageEndStop::NoDosHeader)
        dpx(3, "GetPEFileSize.read", pathItem("szFile", path),
            uintItem("GetLastError()", LastError::take().code));
    return end.offset;
}

int InstallKavariAddOn()
{
    dpx(1, "InstallKavariAddOn>>begin");
    try {
        runInstall();
    } catch (const std::exception& error) {
        // Nothing of the run throws by design; should the runtime (memory, a library) still do so,
        // the run ends like any other failed one: logged, with the leave line and exit code 0.
        dpx(3, "InstallKavariAddOn>>failed", rlxutil::textItem("error", error.what()));
    }
    dpx(1, "InstallKavariAddOn>>leave");
    return 0;
}
