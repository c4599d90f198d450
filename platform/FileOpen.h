// Opening files by wide path through the C runtime, the same way on every system.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace platform {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
// The owner of one open C-runtime stream.
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// _wfopen on Windows; elsewhere fopen of the UTF-8 form. Null when the file cannot be opened.
std::FILE* openFile(const std::wstring& path, const char* mode);

// The same for a UTF-8 path, as the tools receive them.
std::FILE* openFileUtf8(const std::string& path, const char* mode);

} // namespace platform
