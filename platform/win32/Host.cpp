// The host services on Windows: wide paths through the C runtime, the wide command line.
#include "platform/FilePrimitives.h"
#include "platform/Host.h"

#include "platform/TextConvert.h"
#include "platform/win32/Handle.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Windows.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <io.h>
#include <limits>
#include <memory>
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

std::string fileNameOf(const std::string& path)
{
    const size_t separator = path.find_last_of("/\\:");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string joinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    const char last = folder.back();
    return last == '\\' || last == '/' || last == ':' ? folder + name : folder + "\\" + name;
}

bool makeFolders(const std::string& path, std::string& problem)
{
    const std::wstring folder = utf8ToWide(path);
    // Every folder on the way, top down. A drive, a share or one that exists fails harmlessly;
    // only the last answer counts.
    uint32_t error = 0;
    for (size_t end = folder.find_first_of(L"\\/", 1);; end = folder.find_first_of(L"\\/", end + 1)) {
        const std::wstring part = folder.substr(0, end);
        if (!part.empty() && part.back() != L':' && part.back() != L'\\' && part.back() != L'/')
            error = CreateDirectoryW(part.c_str(), nullptr) ? 0 : win32::LastError::take().code;
        if (end == std::wstring::npos)
            break;
    }
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    problem = attributes != INVALID_FILE_ATTRIBUTES || error == 0 || error == ERROR_ALREADY_EXISTS
                  ? "is not a folder"
                  : "cannot create the folder: " + win32::LastError{error}.message();
    return false;
}

} // namespace platform

namespace platform {

void MappedFile::close()
{
    // The view keeps the mapping and the file open by itself; it is all there is to release.
    win32::UniqueView(const_cast<uint8_t*>(mData)).reset();
    mData = nullptr;
    mSize = 0;
    mFileSize = 0;
}

bool MappedFile::open(const std::string& path, std::string& problem, uint64_t window)
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
    const uint64_t fileSize = static_cast<uint64_t>(size.QuadPart);
    const uint64_t bytes = std::min(fileSize, window);
    if (bytes > std::numeric_limits<size_t>::max()) {
        problem = "too large to map on this system";
        return false;
    }
    if (bytes > 0) {
        const win32::UniqueMapping mapping(
            CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        win32::UniqueView view(
            mapping ? MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(bytes)) : nullptr);
        if (!view) {
            problem = "cannot map: " + win32::LastError::take().message();
            return false;
        }
        mData = static_cast<const uint8_t*>(view.release());
    }
    mSize = bytes;
    mFileSize = fileSize;
    return true;
}

} // namespace platform

namespace platform::primitives {

using win32::LastError;

bool look(const std::string& path, Entry& entry, std::string& problem)
{
    entry = Entry{};
    // Opened for no access with the link itself in view: a device, a folder or a link shows as
    // what it is, and nothing behind a link is touched.
    const win32::UniqueFile file(CreateFileW(utf8ToWide(path).c_str(), 0,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                             nullptr));
    if (!file) {
        const auto error = LastError::take();
        if (error.code == ERROR_FILE_NOT_FOUND || error.code == ERROR_PATH_NOT_FOUND)
            return true;
        problem = "cannot check: " + error.message();
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.get(), &information))
        entry.kind = Kind::other;
    else if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        entry.kind = Kind::link;
    else if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        entry.kind = Kind::folder;
    else
        entry.kind = Kind::regular;
    return true;
}

struct NativeFile {
    win32::UniqueFile handle;
};

void NativeFileCloser::operator()(NativeFile* file) const
{
    delete file;
}

Created createExclusive(const std::string& path, uint32_t, UniqueNativeFile& file, std::string& problem)
{
    // CREATE_NEW never opens what exists under the name, a planted link included; no sharing
    // keeps other runs from removing it as a stale one.
    win32::UniqueFile handle(CreateFileW(utf8ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
        const auto error = LastError::take();
        if (error.code == ERROR_FILE_EXISTS || error.code == ERROR_ALREADY_EXISTS)
            return Created::nameTaken;
        problem = error.code == ERROR_PATH_NOT_FOUND ? "its folder does not exist"
                                                     : "cannot create a file beside it: " + error.message();
        return Created::failed;
    }
    file.reset(new NativeFile{std::move(handle)});
    return Created::created;
}

bool writeAll(NativeFile& file, const uint8_t* data, size_t size, std::string& problem)
{
    while (size > 0) {
        const DWORD want = static_cast<DWORD>(std::min<size_t>(size, size_t{1} << 30));
        DWORD written = 0;
        if (!WriteFile(file.handle.get(), data, want, &written, nullptr) || written == 0) {
            problem = "write error: " + LastError::take().message();
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool seal(NativeFile& file, std::string& problem)
{
    if (!FlushFileBuffers(file.handle.get())) {
        problem = "write error: " + LastError::take().message();
        return false;
    }
    // A file open without sharing cannot be renamed; the name stays taken for others meanwhile.
    file.handle.reset();
    return true;
}

bool finish(UniqueNativeFile& file, std::string&)
{
    file.reset();
    return true;
}

bool place(const std::string& from, const std::string& to, bool replace, std::string& problem)
{
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name exists, whatever it is.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExW(utf8ToWide(from).c_str(), utf8ToWide(to).c_str(), flags))
        return true;
    const auto error = LastError::take();
    problem = error.code == ERROR_ALREADY_EXISTS || error.code == ERROR_FILE_EXISTS
                  ? "already exists"
                  : "cannot replace: " + error.message();
    return false;
}

std::vector<std::string> list(const std::string& folder, const std::string& prefix, const std::string& suffix)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const win32::UniqueFind find(FindFirstFileW(utf8ToWide(folder + prefix + "*" + suffix).c_str(), &found));
    if (!find)
        return names;
    const std::wstring widePrefix = utf8ToWide(prefix);
    const std::wstring wideSuffix = utf8ToWide(suffix);
    do {
        // The pattern also matches short (8.3) names; only the long name counts.
        const std::wstring name = found.cFileName;
        if (name.size() >= widePrefix.size() + wideSuffix.size() &&
            _wcsnicmp(name.c_str(), widePrefix.c_str(), widePrefix.size()) == 0 &&
            _wcsicmp(name.c_str() + name.size() - wideSuffix.size(), wideSuffix.c_str()) == 0)
            names.push_back(wideToUtf8(name));
    } while (FindNextFileW(find.get(), &found));
    return names;
}

void removeUnheld(const std::string& path)
{
    // A writer holds its file open without sharing, so the delete fails for it; a folder is
    // never deleted by DeleteFileW.
    DeleteFileW(utf8ToWide(path).c_str());
}

void remove(const std::string& path)
{
    DeleteFileW(utf8ToWide(path).c_str());
}

} // namespace platform::primitives
