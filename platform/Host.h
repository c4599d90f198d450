// The few operating-system services that the portable tools and tests ask for: files by path,
// read-only mappings of regular files, the command line as UTF-8, whether a stream is a terminal.
// platform/posix and platform/win32 implement it; portable libraries never call it, programs link the one of
// their system.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
// The owner of one open C-runtime stream.
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// _wfopen on Windows; elsewhere fopen of the UTF-8 form. Null when the file cannot be opened.
std::FILE* openFile(const std::wstring& path, const char* mode);

// The same for a path as the tools receive it: UTF-8 on Windows, the user's bytes elsewhere.
std::FILE* openFileUtf8(const std::string& path, const char* mode);

// The program's arguments without its name, in UTF-8 on Windows (whose main() gets the ANSI code
// page, which loses names outside it, so they come from the wide command line there) and as the
// bytes given elsewhere.
std::vector<std::string> commandLineArguments(int argc, char** argv);

bool isTerminal(std::FILE* stream);

// A regular file mapped read-only and whole, so that a reader touches only the pages it needs and
// memory follows what is read, not the file's size. The open never blocks (a FIFO with no writer),
// and what is not a regular file (a folder, a FIFO, a device) is refused before a byte is read.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile() { close(); }
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // `path` as the tools receive it. On failure returns false and names the problem in a few
    // words ("no such file", "is a folder, not a file", "is not a regular file", ...).
    bool open(const std::string& path, std::string& problem);
    void close();

    const uint8_t* data() const { return mData; }
    uint64_t size() const { return mSize; }

private:
    const uint8_t* mData = nullptr; // null for an empty file
    uint64_t mSize = 0;
};

} // namespace platform
