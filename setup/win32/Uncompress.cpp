// Unpacking the package: the data block decoded into a delete-on-close payload file, which the
// install run reads; the payload is gone before the follow-up programs start.
#include "hostutil/win32/FileSystem.h"
#include "lzari/win32/LZARI.h"
#include "platform/win32/Handle.h"
#include "platform/win32/LastError.h"
#include "setup/Dpx.h"
#include "setup/Install.h"
#include "setup/win32/Driver.h"
#include "setup/win32/FileReader.h"
#include "setup/win32/SystemInstallHost.h"

#include <exception>

using platform::win32::LastError;
using platform::win32::UniqueFile;
using setup::dpx;
using setup::pathItem;

int Uncompress(std::wstring destDir, std::wstring file)
{
    dpx(1, "InstallKavariAddOn>>Uncompress", pathItem("file", file), pathItem("destDir", destDir));
    if (!hostutil::PathExists(destDir))
        hostutil::CFileSystem::RecursiveCreateFolder(destDir);

    const std::wstring tempFile = hostutil::MakeTempFileName(hostutil::GetTempFolder(), L"Pre");
    try {
        LZARI().DecodeFile(file, tempFile);
    } catch (const std::exception& error) {
        // A block too short to hold its length, or one that claims more than can be made: there
        // is no payload to install from.
        dpx(3, "InstallKavariAddOn>>decode failed", pathItem("tempFile", tempFile),
            rlxutil::textItem("error", error.what()));
        if (!tempFile.empty())
            DeleteFileW(tempFile.c_str());
        return 0;
    }

    UniqueFile payload(CreateFileW(tempFile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!payload) {
        const uint32_t error = LastError::take().code;
        dpx(3, "InstallKavariAddOn>>open file failed", pathItem("tempFile", tempFile),
            setup::uintItem("GetLastError()", error));
        return 0;
    }
    setup::win32::SystemInstallHost host(hostutil::GetLocalAppDataFolder);
    setup::win32::FileReader reader(payload.get());
    if (!setup::installItems(reader, destDir, host))
        return 0;
    // Closing deletes the payload.
    payload.reset();
    setup::launchFollowUps(host);
    return 0;
}
