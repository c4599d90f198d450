// Opening, writing and closing the binary file stream of installed items.
#include "lzari/win32/OpBinaryFile.h"

#include <cstdio>

COpBinaryFile::~COpBinaryFile()
{
    Close();
}

bool COpBinaryFile::Open(const std::wstring& path, const std::wstring& mode)
{
    if (path.empty() || mode.empty())
        return false;
    // Two open streams on one object would leave the first one unowned.
    Close();
    mStream.reset(_wfopen(path.c_str(), mode.c_str()));
    if (!mStream)
        return false;
    mPath = path;
    return true;
}

bool COpBinaryFile::Write(const void* buffer, size_t size)
{
    if (!mStream)
        return false;
    // A short write is the only sign of a full disk or a failing device: callers that must not
    // leave a truncated file behind act on it.
    return std::fwrite(buffer, 1, size, mStream.get()) == size;
}

bool COpBinaryFile::Close()
{
    if (!mStream)
        return true;
    return std::fclose(mStream.release()) == 0;
}
