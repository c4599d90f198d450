// Wide-path file opening through the C runtime.
#include "platform/FileOpen.h"

#include "platform/TextConvert.h"

#include <cstring>

namespace platform {

std::FILE* openFile(const std::wstring& path, const char* mode)
{
#ifdef _WIN32
    const std::wstring wideMode(mode, mode + std::strlen(mode));
    return _wfopen(path.c_str(), wideMode.c_str());
#else
    return std::fopen(wideToUtf8(path).c_str(), mode);
#endif
}

std::FILE* openFileUtf8(const std::string& path, const char* mode)
{
#ifdef _WIN32
    return openFile(utf8ToWide(path), mode);
#else
    return std::fopen(path.c_str(), mode);
#endif
}

} // namespace platform
