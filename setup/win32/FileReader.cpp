// Positioned reads of the setup program's own file.
#include "setup/win32/FileReader.h"

#include <algorithm>

namespace setup::win32 {

bool FileReader::seek(uint64_t position)
{
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(position);
    return SetFilePointerEx(mFile, to, nullptr, FILE_BEGIN) != 0;
}

uint64_t FileReader::position() const
{
    LARGE_INTEGER zero{};
    LARGE_INTEGER now{};
    if (!SetFilePointerEx(mFile, zero, &now, FILE_CURRENT))
        return 0;
    return static_cast<uint64_t>(now.QuadPart);
}

uint64_t FileReader::size() const
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(mFile, &size))
        return 0;
    return static_cast<uint64_t>(size.QuadPart);
}

size_t FileReader::read(uint8_t* destination, size_t count)
{
    size_t done = 0;
    while (done < count) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(mFile, destination + done, chunk, &got, nullptr) || got == 0)
            break;
        done += got;
    }
    return done;
}

} // namespace setup::win32
