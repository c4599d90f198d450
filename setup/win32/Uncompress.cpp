// Unpacking the package: the data block decoded into a delete-on-close payload file, which the
// install run reads; the payload is gone before the follow-up programs start.
#include "hostutil/win32/FileSystem.h"
#include "lzari/win32/LZARI.h"
#include "platform/win32/Handle.h"
#include "setup/Dpx.h"
#include "setup/Install.h"
#include "setup/TempNames.h"
#include "setup/win32/Driver.h"
#include "setup/win32/FileReader.h"
#include "setup/win32/SystemInstallHost.h"

using platform::win32::UniqueFile;
using setup::dpx;
using setup::pathItem;
using setup::uintItem;

namespace {

// Decodes into the payload and says why when it fails; false when there is nothing to install from.
bool decodePayload(UniqueFile& compressed, const std::wstring& file, HANDLE payload, const std::wstring& tempFile)
{
    using Status = lzari::win32::FileDecode::Status;
    LARGE_INTEGER start{};
    SetFilePointerEx(compressed.get(), start, nullptr, FILE_BEGIN);
    const lzari::win32::FileDecode decode = lzari::win32::decodeFile(compressed.get(), payload);
    // The data block is not needed any more: its room in Temp is given back before the items
    // take theirs.
    compressed.reset();
    switch (decode.status) {
    case Status::Decoded:
        return SetFilePointerEx(payload, start, nullptr, FILE_BEGIN) != 0;
    case Status::ShortHead:
        // A block too short to hold its length: there is no payload to install from.
        dpx(3, "InstallKavariAddOn>>decode failed", pathItem("tempFile", tempFile),
            rlxutil::textItem("error", "Read Error"));
        return false;
    case Status::ReadFailed:
        dpx(3, "InstallKavariAddOn>>read compressed file failed", pathItem("file", file),
            uintItem("GetLastError()", decode.error));
        return false;
    case Status::WriteFailed:
        dpx(3, "InstallKavariAddOn>>write payload failed", pathItem("tempFile", tempFile),
            uintItem("GetLastError()", decode.error));
        return false;
    }
    return false;
}

} // namespace

int Uncompress(std::wstring destDir, std::wstring file, UniqueFile compressed)
{
    dpx(1, "InstallKavariAddOn>>Uncompress", pathItem("file", file), pathItem("destDir", destDir));
    if (!hostutil::PathExists(destDir))
        hostutil::CFileSystem::RecursiveCreateFolder(destDir);

    RunTemporary payload = openRunTemporary(setup::kPayloadPrefix);
    if (!payload.file) {
        dpx(3, "InstallKavariAddOn>>open file failed", pathItem("tempFile", payload.path),
            setup::uintItem("GetLastError()", payload.error));
        return 0;
    }
    if (!decodePayload(compressed, file, payload.file.get(), payload.path))
        return 0;

    setup::win32::SystemInstallHost host(hostutil::GetLocalAppDataFolder);
    setup::win32::FileReader reader(payload.file.get());
    if (!setup::installItems(reader, destDir, host))
        return 0;
    // Closing deletes the payload.
    payload.file.reset();
    setup::launchFollowUps(host);
    return 0;
}
