// The few operating-system services that the portable tools and tests ask for: files by path,
// read-only mappings of regular files, output files put in place whole, the command line as
// UTF-8, whether a stream is a terminal.
// platform/posix and platform/win32 implement it; portable libraries never call it, programs link the one of
// their system.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace platform {

struct StreamCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
// The owner of one open C-runtime stream.
using UniqueStream = std::unique_ptr<std::FILE, StreamCloser>;

// _wfopen on Windows; elsewhere fopen of the UTF-8 form. Null when the file cannot be opened.
std::FILE* openFile(const std::wstring& path, const char* mode);

// The same for a path as the tools receive it: UTF-8 on Windows, the user's bytes elsewhere.
std::FILE* openFileUtf8(const std::string& path, const char* mode);

// The program's arguments without its name, in UTF-8 on Windows (whose main() gets the ANSI code
// page, which loses names outside it, so they come from the wide command line there) and as the
// bytes given elsewhere.
std::vector<std::string> commandLineArguments(int argc, char** argv);

bool isTerminal(std::FILE* stream);

// The last component of a path as the tools receive it (after the last '/', and on Windows also
// '\\' or a drive's ':'), byte for byte; empty when the path ends in a separator.
std::string fileNameOf(const std::string& path);

// `folder` and `name` joined with the system's separator (none added after one already there).
std::string joinPath(const std::string& folder, const std::string& name);

// Creates the folder and any missing parents; true when it exists as a folder afterwards.
bool makeFolders(const std::string& path, std::string& problem);

enum class Existing {
    replace, // an existing regular file is replaced in one step
    refuse,  // an existing file of any kind is left alone and the commit fails
};

// A file written under a fresh temporary name beside its target and put in place only once it is
// whole, so that a failed or killed run never leaves a half-written file where a good one was.
// The temporary is created exclusively (an existing name, a link planted there included, is never
// opened), and a target that exists and is not a regular file (a folder, a device, a link) is
// refused rather than replaced. Temporaries that a killed run left beside the same target are
// removed when the next one opens; those of a run still writing are kept.
class OutputFile {
public:
    OutputFile();
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Whether `target` may be written, as open() judges it, without creating anything. Commit
    // still refuses a name taken in the meantime.
    static bool check(const std::string& target, Existing existing, std::string& problem);
    // On failure returns false and names the problem in a few words.
    bool open(const std::string& target, Existing existing, std::string& problem);
    bool write(const uint8_t* data, size_t size, std::string& problem);
    // Puts the file in place; the temporary is gone whichever way it ends.
    bool commit(std::string& problem);
    // Removes the temporary, if any.
    void discard();

    // The name beside `target` that temporaries of it take, `serial` making it unique: the
    // target's name, a dot, the serial, then ".kvpack-part".
    static std::string temporaryName(const std::string& target, const std::string& serial);

private:
    struct State;
    std::unique_ptr<State> mState;
};

// A regular file mapped read-only, whole or its first bytes (a window), so that a reader touches
// only the pages it needs and memory follows what is read, not the file's size; a window lets a
// 32-bit process read the part of a large file it needs. The open never blocks (a FIFO with no writer),
// and what is not a regular file (a folder, a FIFO, a device) is refused before a byte is read.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile() { close(); }
    MappedFile(MappedFile&& other) noexcept
        : mData(std::exchange(other.mData, nullptr)), mSize(std::exchange(other.mSize, 0)),
          mFileSize(std::exchange(other.mFileSize, 0))
    {
    }
    MappedFile& operator=(MappedFile&& other) noexcept
    {
        if (this != &other) {
            close();
            mData = std::exchange(other.mData, nullptr);
            mSize = std::exchange(other.mSize, 0);
            mFileSize = std::exchange(other.mFileSize, 0);
        }
        return *this;
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // `path` as the tools receive it. On failure returns false and names the problem in a few
    // words ("no such file", "is a folder, not a file", "is not a regular file", ...).
    // Maps the first min(file size, window) bytes.
    bool open(const std::string& path, std::string& problem, uint64_t window = UINT64_MAX);
    void close();

    // The mapped bytes: the whole file unless a smaller window was asked for.
    const uint8_t* data() const { return mData; }
    uint64_t size() const { return mSize; }
    uint64_t fileSize() const { return mFileSize; }

private:
    const uint8_t* mData = nullptr; // null for an empty file or window
    uint64_t mSize = 0;
    uint64_t mFileSize = 0;
};

} // namespace platform
