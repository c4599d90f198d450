// The host services on POSIX systems, where a path and an argument are the bytes the user gave.
#include "platform/Host.h"

#include "platform/TextConvert.h"

#include <unistd.h>

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
