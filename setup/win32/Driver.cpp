// One run of the setup program: its own file measured and read, the package checked, the data
// block handed to the unpacking through a temporary file.
#include "setup/win32/Driver.h"

#include "hostutil/win32/FileSystem.h"
#include "platform/win32/Handle.h"
#include "platform/win32/LastError.h"
#include "setup/Dpx.h"
#include "setup/PackageFormat.h"
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

// The package data block, read and checked; empty when the run must end (already logged).
bool readOwnPackage(uint32_t dwFileSize, std::vector<uint8_t>& block)
{
    const UniqueFile file = openForReading(g_strApplication, OPEN_EXISTING);
    if (!file) {
        dpx(1, "InstallKavariAddOn>>failed to open source file.",
            uintItem("GetLastError()", LastError::take().code));
        return false;
    }
    setup::win32::FileReader reader(file.get());
    setup::PackageBlock package = setup::readPackage(reader, dwFileSize);
    if (package.check != setup::PackageCheck::Ok)
        return false;
    block = std::move(package.data);
    return true;
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
    const uint32_t dwFileSize = GetPEFileSize(g_strApplication);
    dpx(1, "InstallKavariAddOn>>source", pathItem("g_strApplication", g_strApplication),
        uintItem("dwFileSize", dwFileSize),
        uintItem("CFileSystem::GetFileSize(g_strApplication)",
                 hostutil::CFileSystem::GetFileSize(g_strApplication)));

    std::vector<uint8_t> block;
    if (!readOwnPackage(dwFileSize, block))
        return;

    const std::wstring targetFolder = hostutil::GetProductDataFolder();
    dpx(1, "InstallKavariAddOn>>extract-folder", pathItem("targetFolder", targetFolder));
    if (!prepareExtractionFolder(targetFolder))
        return;

    const std::wstring tempFile = hostutil::MakeTempFileName(hostutil::GetTempFolder(), L"kvr");
    {
        const UniqueFile out(CreateFileW(tempFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_TEMPORARY, nullptr));
        if (tempFile.empty() || !out) {
            dpx(1, "InstallKavariAddOn>>Can not open compressed file.");
            return;
        }
        // A short write shows later as a payload that does not decode.
        DWORD written = 0;
        WriteFile(out.get(), block.data(), static_cast<DWORD>(block.size()), &written, nullptr);
        std::vector<uint8_t>().swap(block);
    }

    Uncompress(targetFolder, tempFile);

    if (hostutil::PathExists(tempFile))
        hostutil::DeleteFile(tempFile);
}

} // namespace

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
