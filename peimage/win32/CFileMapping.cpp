// The Win32 file mapping: open for reading with every share mode, map whole, read through the
// shared cursor.
#include "peimage/win32/CFileMapping.h"

#include "logging/LogItem.h"
#include "logging/Logger.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Windows.h"

namespace peimage::win32 {

using platform::win32::LastError;

bool CFileMapping::open(const std::wstring& fileName)
{
    mFileName = fileName;
    if (_Open()) {
        // Only the low part of the size is asked for: a reader of executables needs no more.
        setSize(GetFileSize(mFile.get(), nullptr));
        _MapView();
        return true;
    }
    const LastError error = LastError::take();
    rlxutil::getLogger("DPXUtil")->log(1, rlxutil::LogItem(rlxutil::textValue("CFileMapping::_Open")),
                                       rlxutil::LogItem(rlxutil::uintValue(error.code), "errorNo"));
    close();
    return false;
}

bool CFileMapping::_Open()
{
    // Every share mode, so a file that another process writes or deletes can still be read.
    mFile.reset(CreateFileW(mFileName.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                            nullptr));
    if (mFile.get() == nullptr) {
        mFile.release();
        return false;
    }
    return mFile.valid();
}

bool CFileMapping::_MapView()
{
    mMapping.reset(CreateFileMappingW(mFile.get(), nullptr, PAGE_READONLY, 0, size(), nullptr));
    if (!mMapping)
        return false;
    mView.reset(MapViewOfFile(mMapping.get(), FILE_MAP_READ, 0, 0, size()));
    if (!mView)
        return false;
    attach(static_cast<const uint8_t*>(mView.get()), size());
    return true;
}

bool CFileMapping::close()
{
    detach();
    mView.reset();
    mMapping.reset();
    mFile.reset();
    return true;
}

} // namespace peimage::win32
