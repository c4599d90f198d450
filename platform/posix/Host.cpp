// The host services on POSIX systems, where a path and an argument are the bytes the user gave.
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
#include <random>
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

namespace platform {

namespace {

constexpr const char kPartSuffix[] = ".kvpack-part";
constexpr size_t kSerialDigits = 16;

std::string errnoText()
{
    return std::strerror(errno);
}

// What a target that exists but must not be replaced is, in a few words; empty for a regular file.
std::string kindProblem(mode_t mode)
{
    if (S_ISREG(mode))
        return "";
    if (S_ISDIR(mode))
        return "is a folder, not a file";
    if (S_ISLNK(mode))
        return "is a symbolic link, not a regular file";
    return "is not a regular file";
}

// Whether the target may be written: absent, or a regular file that may be replaced. `mode` is
// the existing file's permissions, 0 when it is absent.
bool checkTarget(const std::string& target, Existing existing, mode_t& mode, std::string& problem)
{
    const std::string name = fileNameOf(target);
    if (name.empty() || name == "." || name == "..") {
        problem = "is a folder, not a file";
        return false;
    }
    struct stat status {};
    mode = 0;
    if (lstat(target.c_str(), &status) == 0) {
        problem = kindProblem(status.st_mode);
        if (problem.empty() && existing == Existing::refuse)
            problem = "already exists";
        mode = status.st_mode & 07777;
        return problem.empty();
    }
    if (errno == ENOENT || errno == ENOTDIR)
        return true; // whether its folder exists shows when the temporary is created
    problem = "cannot check: " + errnoText();
    return false;
}

bool isSerial(const std::string& text)
{
    if (text.size() != kSerialDigits)
        return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

// Temporaries that runs killed part-way left beside the target. A run still writing holds a lock
// on its own, so only those nobody holds go.
void removeStaleTemporaries(const std::string& target)
{
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const std::string prefix = fileNameOf(target) + ".";
    const size_t suffixSize = sizeof kPartSuffix - 1;
    DIR* listing = opendir(folder.c_str());
    if (!listing)
        return;
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.size() != prefix.size() + kSerialDigits + suffixSize ||
            name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - suffixSize, suffixSize, kPartSuffix) != 0 ||
            !isSerial(name.substr(prefix.size(), kSerialDigits)))
            continue;
        const std::string path = (slash == std::string::npos ? "" : folder) + name;
        struct stat status {};
        if (lstat(path.c_str(), &status) != 0)
            continue;
        if (S_ISLNK(status.st_mode)) {
            unlink(path.c_str()); // never ours: removing the link touches nothing it points to
            continue;
        }
        if (!S_ISREG(status.st_mode))
            continue;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            unlink(path.c_str());
        ::close(fd);
    }
    closedir(listing);
}

std::string randomSerial()
{
    static std::random_device device;
    static std::mt19937_64 generator((uint64_t{device()} << 32) ^ device() ^ uint64_t(getpid()));
    static const char kHex[] = "0123456789abcdef";
    uint64_t value = generator();
    std::string serial(kSerialDigits, '0');
    for (size_t i = 0; i < kSerialDigits; ++i, value >>= 4)
        serial[i] = kHex[value & 15];
    return serial;
}

} // namespace

struct OutputFile::State {
    int fd = -1;
    std::string target;
    std::string temporary;
    Existing existing = Existing::replace;
};

OutputFile::OutputFile() = default;

OutputFile::~OutputFile()
{
    discard();
}

std::string OutputFile::temporaryName(const std::string& target, const std::string& serial)
{
    return target + "." + serial + kPartSuffix;
}

bool OutputFile::check(const std::string& target, Existing existing, std::string& problem)
{
    mode_t mode = 0;
    return checkTarget(target, existing, mode, problem);
}

bool OutputFile::open(const std::string& target, Existing existing, std::string& problem)
{
    discard();
    mode_t mode = 0;
    if (!checkTarget(target, existing, mode, problem))
        return false;
    removeStaleTemporaries(target);

    auto state = std::make_unique<State>();
    for (int attempt = 0; attempt < 100 && state->fd < 0; ++attempt) {
        state->temporary = temporaryName(target, randomSerial());
        // O_EXCL never opens what exists under the name, a planted link included.
        state->fd =
            ::open(state->temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (state->fd < 0 && errno != EEXIST) {
            problem = errno == ENOENT || errno == ENOTDIR ? "its folder does not exist"
                                                          : "cannot create a file beside it: " + errnoText();
            return false;
        }
    }
    if (state->fd < 0) {
        problem = "cannot create a file beside it: no free temporary name";
        return false;
    }
    flock(state->fd, LOCK_EX | LOCK_NB);
    if (mode != 0)
        fchmod(state->fd, mode); // a replaced file keeps its permissions
    state->target = target;
    state->existing = existing;
    mState = std::move(state);
    return true;
}

bool OutputFile::write(const uint8_t* data, size_t size, std::string& problem)
{
    if (!mState) {
        problem = "not open";
        return false;
    }
    while (size > 0) {
        const ssize_t n = ::write(mState->fd, data, std::min<size_t>(size, size_t{1} << 30));
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

bool OutputFile::commit(std::string& problem)
{
    if (!mState) {
        problem = "not open";
        return false;
    }
    // Errors of writes the system delayed show here, before the file takes the target's place.
    if (fsync(mState->fd) != 0) {
        problem = "write error: " + errnoText();
        discard();
        return false;
    }
    // The lock is held until the file is in place, so no other run takes it for a stale one.
    bool placed = false;
    if (mState->existing == Existing::replace) {
        struct stat status {};
        if (lstat(mState->target.c_str(), &status) == 0 && !kindProblem(status.st_mode).empty()) {
            problem = kindProblem(status.st_mode);
        } else if (rename(mState->temporary.c_str(), mState->target.c_str()) == 0) {
            placed = true;
        } else {
            problem = "cannot replace: " + errnoText();
        }
    } else if (link(mState->temporary.c_str(), mState->target.c_str()) == 0) {
        // A link fails when the name exists, whatever it is, so nothing is ever replaced.
        placed = true;
        unlink(mState->temporary.c_str());
    } else if (errno == EEXIST) {
        problem = "already exists";
    } else {
        // A file system without hard links: the name is taken only if it was free a moment ago.
        const std::string linkError = errnoText();
        struct stat status {};
        if (lstat(mState->target.c_str(), &status) == 0)
            problem = "already exists";
        else if (errno == ENOENT && rename(mState->temporary.c_str(), mState->target.c_str()) == 0)
            placed = true;
        else
            problem = "cannot create: " + linkError;
    }
    if (placed)
        mState->temporary.clear();
    const bool closed = ::close(mState->fd) == 0;
    mState->fd = -1;
    if (placed && !closed)
        problem = "write error: " + errnoText();
    discard();
    return placed && closed;
}

void OutputFile::discard()
{
    if (!mState)
        return;
    if (!mState->temporary.empty())
        unlink(mState->temporary.c_str());
    if (mState->fd >= 0)
        ::close(mState->fd);
    mState.reset();
}

} // namespace platform
