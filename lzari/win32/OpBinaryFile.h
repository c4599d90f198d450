// COpBinaryFile: the one buffered file stream through which installed items are written.
#pragma once

#include "platform/Host.h"

#include <cstddef>
#include <string>

class COpBinaryFile {
public:
    COpBinaryFile() = default;
    virtual ~COpBinaryFile();
    COpBinaryFile(const COpBinaryFile&) = delete;
    COpBinaryFile& operator=(const COpBinaryFile&) = delete;

    // Opens `path` with the runtime's wide open and `mode` ("wb", "rb", ...), sharing with anyone.
    // An empty path or mode returns false and changes nothing; a stream still open from before is
    // closed first. On failure GetLastError() holds the system's reason.
    bool Open(const std::wstring& path, const std::wstring& mode);
    // Writes all `size` bytes in one call; true when every byte went to the stream. Without an
    // open stream nothing happens and the answer is false.
    bool Write(const void* buffer, size_t size);
    // Closes the stream; false when its buffered bytes could not be written out. Harmless twice.
    bool Close();

    bool IsOpen() const { return mStream != nullptr; }
    // The path of the last successful Open.
    const std::wstring& Path() const { return mPath; }

private:
    platform::UniqueStream mStream;
    std::wstring mPath;
};
