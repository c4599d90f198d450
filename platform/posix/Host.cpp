// The host services on POSIX systems, where a path and an argument are the bytes the user gave.
#include "platform/Host.h"

#include "platform/TextConvert.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {

std::FILE* openFile(const std::wstring& path, const char* mode)
{
    return std::fopen(wideToUtf8(path).c_str(), mode);
}

std::FILE* openFileUtf8(const std::string& path, const char* mode)
{
    return std::fopen(path.c_str(), mode);
}

std::vector<std::string> commandLineArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

bool isTerminal(std::FILE* stream)
{
    return isatty(fileno(stream)) != 0;
}

} // namespace platform

namespace platform {

MappedFile::MappedFile(MappedFile&& other) noexcept
    : mData(std::exchange(other.mData, nullptr)), mSize(std::exchange(other.mSize, 0))
{
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept
{
    if (this != &other) {
        close();
        mData = std::exchange(other.mData, nullptr);
        mSize = std::exchange(other.mSize, 0);
    }
    return *this;
}

void MappedFile::close()
{
    if (mData)
        munmap(const_cast<uint8_t*>(mData), static_cast<size_t>(mSize));
    mData = nullptr;
    mSize = 0;
}

bool MappedFile::open(const std::string& path, std::string& problem)
{
    close();
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer forever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        problem = errno == ENOENT ? "no such file" : std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    struct stat status {};
    const bool statted = fstat(fd, &status) == 0;
    if (!statted || !S_ISREG(status.st_mode)) {
        problem = !statted                  ? std::string("cannot read: ") + std::strerror(errno)
                  : S_ISDIR(status.st_mode) ? "is a folder, not a file"
                                            : "is not a regular file";
        ::close(fd);
        return false;
    }
    const uint64_t size = static_cast<uint64_t>(status.st_size);
    if (size > std::numeric_limits<size_t>::max()) {
        ::close(fd);
        problem = "too large to map on this system";
        return false;
    }
    if (size > 0) {
        void* address = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (address == MAP_FAILED) {
            problem = std::string("cannot map: ") + std::strerror(errno);
            ::close(fd);
            return false;
        }
        mData = static_cast<const uint8_t*>(address);
    }
    ::close(fd);
    mSize = size;
    return true;
}

} // namespace platform
