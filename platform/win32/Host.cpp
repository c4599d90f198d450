// The host services on Windows: wide paths through the C runtime, the wide command line.
#include "platform/Host.h"

#include "platform/TextConvert.h"
#include "platform/win32/Handle.h"
#include "platform/win32/Windows.h"

#include <cstring>
#include <io.h>
#include <shellapi.h>

namespace platform {

std::FILE* openFile(const std::wstring& path, const char* mode)
{
    const std::wstring wideMode(mode, mode + std::strlen(mode));
    return _wfopen(path.c_str(), wideMode.c_str());
}

std::FILE* openFileUtf8(const std::string& path, const char* mode)
{
    return openFile(utf8ToWide(path), mode);
}

std::vector<std::string> commandLineArguments(int argc, char** argv)
{
    int count = 0;
    const win32::UniqueLocal wide(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!wide)
        return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
    const auto* list = static_cast<const LPWSTR*>(wide.get());
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i)
        args.push_back(wideToUtf8(list[i]));
    return args;
}

bool isTerminal(std::FILE* stream)
{
    return _isatty(_fileno(stream)) != 0;
}

} // namespace platform
