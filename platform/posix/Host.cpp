// The host services on POSIX systems, where a path and an argument are the bytes the user gave.
#include "platform/FilePrimitives.h"
#include "platform/Host.h"

#include "platform/TextConvert.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <memory>
#include <sys/file.h>
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

std::string fileNameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool makeFolders(const std::string& path, std::string& problem)
{
    // A path built from a narrow string keeps the user's bytes; no conversion is involved.
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path), error);
    if (!error && std::filesystem::is_directory(std::filesystem::path(path), error))
        return true;
    problem = error ? "cannot create the folder: " + error.message() : "is not a folder";
    return false;
}

} // namespace platform

namespace platform {

void MappedFile::close()
{
    if (mData)
        munmap(const_cast<uint8_t*>(mData), static_cast<size_t>(mSize));
    mData = nullptr;
    mSize = 0;
    mFileSize = 0;
}

bool MappedFile::open(const std::string& path, std::string& problem, uint64_t window)
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
    const uint64_t fileSize = static_cast<uint64_t>(status.st_size);
    const uint64_t size = std::min(fileSize, window);
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
    mFileSize = fileSize;
    return true;
}

} // namespace platform

namespace platform::primitives {

namespace {

std::string errnoText()
{
    return std::strerror(errno);
}

} // namespace

bool look(const std::string& path, Entry& entry, std::string& problem)
{
    struct stat status {};
    entry = Entry{};
    if (lstat(path.c_str(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return true;
        problem = "cannot check: " + errnoText();
        return false;
    }
    entry.kind = S_ISREG(status.st_mode)   ? Kind::regular
                 : S_ISDIR(status.st_mode) ? Kind::folder
                 : S_ISLNK(status.st_mode) ? Kind::link
                                           : Kind::other;
    entry.permissions = status.st_mode & 07777;
    return true;
}

struct NativeFile {
    int fd = -1;
};

void NativeFileCloser::operator()(NativeFile* file) const
{
    if (file->fd >= 0)
        ::close(file->fd);
    delete file;
}

Created createExclusive(const std::string& path, uint32_t permissions, UniqueNativeFile& file,
                        std::string& problem)
{
    // O_EXCL never opens what exists under the name, a planted link included.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == EEXIST)
            return Created::nameTaken;
        problem = errno == ENOENT || errno == ENOTDIR ? "its folder does not exist"
                                                      : "cannot create a file beside it: " + errnoText();
        return Created::failed;
    }
    // The lock tells removeUnheld() of other runs that this file is being written.
    flock(fd, LOCK_EX | LOCK_NB);
    if (permissions != 0)
        fchmod(fd, static_cast<mode_t>(permissions));
    file.reset(new NativeFile{fd});
    return Created::created;
}

bool writeAll(NativeFile& file, const uint8_t* data, size_t size, std::string& problem)
{
    while (size > 0) {
        const ssize_t n = ::write(file.fd, data, std::min<size_t>(size, size_t{1} << 30));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            problem = "write error: " + (n < 0 ? errnoText() : std::string("nothing written"));
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool seal(NativeFile& file, std::string& problem)
{
    if (fsync(file.fd) == 0)
        return true;
    problem = "write error: " + errnoText();
    return false;
}

bool finish(UniqueNativeFile& file, std::string& problem)
{
    const int fd = std::exchange(file->fd, -1);
    file.reset();
    if (::close(fd) == 0)
        return true;
    problem = "write error: " + errnoText();
    return false;
}

bool place(const std::string& from, const std::string& to, bool replace, std::string& problem)
{
    if (replace) {
        if (rename(from.c_str(), to.c_str()) == 0)
            return true;
        problem = "cannot replace: " + errnoText();
        return false;
    }
    // A link fails when the name exists, whatever it is, so nothing is ever replaced.
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST) {
        problem = "already exists";
        return false;
    }
    // A file system without hard links: the name is taken only if it was free a moment ago.
    const std::string linkError = errnoText();
    struct stat status {};
    if (lstat(to.c_str(), &status) == 0)
        problem = "already exists";
    else if (errno == ENOENT && rename(from.c_str(), to.c_str()) == 0)
        return true;
    else
        problem = "cannot create: " + linkError;
    return false;
}

std::vector<std::string> list(const std::string& folder, const std::string& prefix, const std::string& suffix)
{
    std::vector<std::string> names;
    DIR* listing = opendir(folder.empty() ? "." : folder.c_str());
    if (!listing)
        return names;
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.size() >= prefix.size() + suffix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            names.push_back(name);
    }
    closedir(listing);
    return names;
}

void removeUnheld(const std::string& path)
{
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0)
        return;
    if (S_ISLNK(status.st_mode)) {
        unlink(path.c_str()); // never ours: removing the link touches nothing it points to
        return;
    }
    if (!S_ISREG(status.st_mode))
        return;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        unlink(path.c_str());
    ::close(fd);
}

void remove(const std::string& path)
{
    unlink(path.c_str());
}

} // namespace platform::primitives
