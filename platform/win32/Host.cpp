// The host services on Windows: wide paths through the C runtime, the wide command line.
#include "platform/Host.h"

#include "platform/TextConvert.h"
#include "platform/win32/Handle.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Windows.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <io.h>
#include <limits>
#include <memory>
#include <random>
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
    std::error_code error;
    const std::filesystem::path folder(utf8ToWide(path));
    std::filesystem::create_directories(folder, error);
    if (!error && std::filesystem::is_directory(folder, error))
        return true;
    problem = error ? "cannot create the folder: " + error.message() : "is not a folder";
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

namespace platform {

namespace {

constexpr const wchar_t kPartSuffix[] = L".kvpack-part";
constexpr size_t kSerialDigits = 16;

// What an existing target is when it must not be replaced, in a few words; empty for a plain file.
std::string kindProblem(const std::wstring& target, bool& exists, std::string& problem)
{
    exists = false;
    problem.clear();
    // Opened for no access with the link itself in view: a device, a folder or a link shows as
    // what it is, and nothing behind a link is touched.
    const win32::UniqueFile file(
        CreateFileW(target.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        const auto error = win32::LastError::take();
        if (error.code != ERROR_FILE_NOT_FOUND)
            problem = error.code == ERROR_PATH_NOT_FOUND ? "its folder does not exist"
                                                         : "cannot check: " + error.message();
        return problem;
    }
    exists = true;
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.get(), &information))
        problem = "is not a regular file";
    else if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        problem = "is a link, not a regular file";
    else if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        problem = "is a folder, not a file";
    return problem;
}

bool isSerial(const std::wstring& text)
{
    if (text.size() != kSerialDigits)
        return false;
    for (const wchar_t c : text)
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f')))
            return false;
    return true;
}

// Temporaries that runs killed part-way left beside the target. A run still writing holds its own
// open without sharing, so the delete fails for it and succeeds only for those nobody holds.
void removeStaleTemporaries(const std::wstring& target)
{
    const size_t separator = target.find_last_of(L"/\\:");
    const std::wstring folder = separator == std::wstring::npos ? L"" : target.substr(0, separator + 1);
    const std::wstring prefix = target.substr(folder.size()) + L".";
    const size_t suffixSize = sizeof kPartSuffix / sizeof kPartSuffix[0] - 1;
    WIN32_FIND_DATAW found{};
    const win32::UniqueFind find(FindFirstFileW((target + L".*" + kPartSuffix).c_str(), &found));
    if (!find)
        return;
    do {
        const std::wstring name = found.cFileName;
        if (name.size() != prefix.size() + kSerialDigits + suffixSize ||
            _wcsnicmp(name.c_str(), prefix.c_str(), prefix.size()) != 0 ||
            _wcsicmp(name.c_str() + name.size() - suffixSize, kPartSuffix) != 0 ||
            !isSerial(name.substr(prefix.size(), kSerialDigits)) ||
            (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        DeleteFileW((folder + name).c_str());
    } while (FindNextFileW(find.get(), &found));
}

std::string randomSerial()
{
    static std::random_device device;
    static std::mt19937_64 generator((uint64_t{device()} << 32) ^ device() ^ GetCurrentProcessId());
    static const char kHex[] = "0123456789abcdef";
    uint64_t value = generator();
    std::string serial(kSerialDigits, '0');
    for (size_t i = 0; i < kSerialDigits; ++i, value >>= 4)
        serial[i] = kHex[value & 15];
    return serial;
}

} // namespace

struct OutputFile::State {
    win32::UniqueFile file;
    std::wstring target;
    std::wstring temporary;
    Existing existing = Existing::replace;
};

OutputFile::OutputFile() = default;

OutputFile::~OutputFile()
{
    discard();
}

std::string OutputFile::temporaryName(const std::string& target, const std::string& serial)
{
    return target + "." + serial + wideToUtf8(kPartSuffix);
}

bool OutputFile::check(const std::string& target, Existing existing, std::string& problem)
{
    const std::string name = fileNameOf(target);
    if (name.empty() || name == "." || name == "..") {
        problem = "is a folder, not a file";
        return false;
    }
    bool exists = false;
    if (kindProblem(utf8ToWide(target), exists, problem).empty() && exists && existing == Existing::refuse)
        problem = "already exists";
    return problem.empty();
}

bool OutputFile::open(const std::string& target, Existing existing, std::string& problem)
{
    discard();
    if (!check(target, existing, problem))
        return false;
    auto state = std::make_unique<State>();
    state->target = utf8ToWide(target);
    state->existing = existing;
    removeStaleTemporaries(state->target);

    for (int attempt = 0; attempt < 100 && !state->file; ++attempt) {
        state->temporary = utf8ToWide(temporaryName(target, randomSerial()));
        // CREATE_NEW never opens what exists under the name, a planted link included; no sharing
        // keeps other runs from taking it for a stale one.
        state->file.reset(CreateFileW(state->temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!state->file) {
            const auto error = win32::LastError::take();
            if (error.code != ERROR_FILE_EXISTS && error.code != ERROR_ALREADY_EXISTS) {
                problem = "cannot create a file beside it: " + error.message();
                return false;
            }
        }
    }
    if (!state->file) {
        problem = "cannot create a file beside it: no free temporary name";
        return false;
    }
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
        const DWORD want = static_cast<DWORD>(std::min<size_t>(size, size_t{1} << 30));
        DWORD written = 0;
        if (!WriteFile(mState->file.get(), data, want, &written, nullptr) || written == 0) {
            problem = "write error: " + win32::LastError::take().message();
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool OutputFile::commit(std::string& problem)
{
    if (!mState) {
        problem = "not open";
        return false;
    }
    if (!FlushFileBuffers(mState->file.get())) {
        problem = "write error: " + win32::LastError::take().message();
        discard();
        return false;
    }
    mState->file.reset();
    bool exists = false;
    bool placed = false;
    if (kindProblem(mState->target, exists, problem).empty()) {
        // Without MOVEFILE_REPLACE_EXISTING the move fails when the name exists, whatever it is.
        const DWORD flags =
            MOVEFILE_WRITE_THROUGH | (mState->existing == Existing::replace ? MOVEFILE_REPLACE_EXISTING : 0);
        if (MoveFileExW(mState->temporary.c_str(), mState->target.c_str(), flags)) {
            placed = true;
        } else {
            const auto error = win32::LastError::take();
            problem = error.code == ERROR_ALREADY_EXISTS || error.code == ERROR_FILE_EXISTS
                          ? "already exists"
                          : "cannot replace: " + error.message();
        }
    }
    if (placed)
        mState->temporary.clear();
    discard();
    return placed;
}

void OutputFile::discard()
{
    if (!mState)
        return;
    mState->file.reset();
    if (!mState->temporary.empty())
        DeleteFileW(mState->temporary.c_str());
    mState.reset();
}

} // namespace platform
