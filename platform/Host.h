// The few operating-system services that the portable tools and tests ask for: files by path,
// the command line as UTF-8, whether a stream is a terminal. platform/posix and platform/win32
// implement it; portable libraries never call it, programs link the one of their system.
#pragma once

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

} // namespace platform
