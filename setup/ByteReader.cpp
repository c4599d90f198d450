// Memory and C-runtime implementations of the positioned byte source.
#include "setup/ByteReader.h"

#include "platform/FileOpen.h"

#include <cstring>

namespace setup {

size_t MemoryReader::read(uint8_t* destination, size_t count)
{
    if (mPosition >= mSize)
        return 0;
    const size_t available = static_cast<size_t>(mSize - mPosition);
    const size_t n = count < available ? count : available;
    std::memcpy(destination, mData + mPosition, n);
    mPosition += n;
    return n;
}

namespace {

bool seekTo(std::FILE* file, uint64_t position)
{
#ifdef _WIN32
    return _fseeki64(file, static_cast<__int64>(position), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
#endif
}

} // namespace

FileReader::~FileReader()
{
    if (mFile)
        std::fclose(mFile);
}

bool FileReader::open(const std::wstring& path)
{
    if (mFile)
        std::fclose(mFile);
    mFile = platform::openFile(path, "rb");
    if (!mFile)
        return false;
        // A seek to the end and back is the one size query that works the same on every runtime.
#ifdef _WIN32
    const bool sized = _fseeki64(mFile, 0, SEEK_END) == 0 && (mSize = _ftelli64(mFile), true);
#else
    const bool sized =
        fseeko(mFile, 0, SEEK_END) == 0 && (mSize = static_cast<uint64_t>(ftello(mFile)), true);
#endif
    if (!sized || !seekTo(mFile, 0)) {
        std::fclose(mFile);
        mFile = nullptr;
        return false;
    }
    mPosition = 0;
    return true;
}

bool FileReader::seek(uint64_t position)
{
    if (!mFile || !seekTo(mFile, position))
        return false;
    mPosition = position;
    return true;
}

size_t FileReader::read(uint8_t* destination, size_t count)
{
    if (!mFile || mPosition >= mSize)
        return 0;
    const size_t n = std::fread(destination, 1, count, mFile);
    mPosition += n;
    return n;
}

} // namespace setup
