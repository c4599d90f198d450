// The host services on Windows: wide paths through the C runtime, the wide command line.
#include "platform/Host.h"

#include "platform/TextConvert.h"
#include "platform/win32/Handle.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Windows.h"

#include <cstring>
#include <io.h>
#include <limits>
#include <shellapi.h>
#include <utility>

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
    // The view keeps the mapping and the file open by itself; it is all there is to release.
    win32::UniqueView(const_cast<uint8_t*>(mData)).reset();
    mData = nullptr;
    mSize = 0;
}

bool MappedFile::open(const std::string& path, std::string& problem)
{
    close();
    const std::wstring wide = utf8ToWide(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        problem = "is a folder, not a file";
        return false;
    }
    const win32::UniqueFile file(CreateFileW(wide.c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const auto error = win32::LastError::take();
        problem = error.code == ERROR_FILE_NOT_FOUND || error.code == ERROR_PATH_NOT_FOUND
                      ? "no such file"
                      : "cannot open: " + error.message();
        return false;
    }
    LARGE_INTEGER size{};
    if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.get(), &size)) {
        problem = "is not a regular file";
        return false;
    }
    if (static_cast<uint64_t>(size.QuadPart) > std::numeric_limits<size_t>::max()) {
        problem = "too large to map on this system";
        return false;
    }
    if (size.QuadPart > 0) {
        const win32::UniqueMapping mapping(
            CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        win32::UniqueView view(mapping ? MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr);
        if (!view) {
            problem = "cannot map: " + win32::LastError::take().message();
            return false;
        }
        mData = static_cast<const uint8_t*>(view.release());
    }
    mSize = static_cast<uint64_t>(size.QuadPart);
    return true;
}

} // namespace platform
