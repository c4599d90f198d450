// Unpacking the package: the data block decoded into a delete-on-close payload file, which the
// install run reads; the payload is gone before the follow-up programs start.
#include "hostutil/win32/FileSystem.h"
#include "lzari/win32/LZARI.h"
#include "platform/win32/Handle.h"
#include "platform/win32/LastError.h"
#include "setup/Dpx.h"
#include "setup/Install.h"
#include "setup/TempNames.h"
#include "setup/win32/Driver.h"
#include "setup/win32/FileReader.h"
#include "setup/win32/SystemInstallHost.h"

using platform::win32::LastError;
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

    const std::wstring tempFile = hostutil::MakeTempFileName(hostutil::GetTempFolder(), setup::kPayloadPrefix);
    const uint32_t nameError = tempFile.empty() ? LastError::take().code : 0;
    // Opened once, unshared and delete-on-close, before a byte is decoded into it: the payload
    // goes with the handle however the run ends, and no other run's clean-up takes it meanwhile.
    UniqueFile payload;
    if (!tempFile.empty())
        payload.reset(CreateFileW(tempFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!payload) {
        const uint32_t error = tempFile.empty() ? nameError : LastError::take().code;
        dpx(3, "InstallKavariAddOn>>open file failed", pathItem("tempFile", tempFile),
            setup::uintItem("GetLastError()", error));
        return 0;
    }
    if (!decodePayload(compressed, file, payload.get(), tempFile))
        return 0;

    setup::win32::SystemInstallHost host(hostutil::GetLocalAppDataFolder);
    setup::win32::FileReader reader(payload.get());
    if (!setup::installItems(reader, destDir, host))
        return 0;
    // Closing deletes the payload.
    payload.reset();
    setup::launchFollowUps(host);
    return 0;
}
