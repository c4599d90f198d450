// CFileSystem and the free file-system operations over the wide Win32 calls.
#include "hostutil/win32/FileSystem.h"

#include "hostutil/DpxUtil.h"
#include "hostutil/PathUtil.h"
#include "hostutil/Version.h"
#include "hostutil/win32/FolderSecurity.h"
#include "hostutil/win32/Registry.h"
#include "peimage/win32/CFileMapping.h"
#include "platform/Decimal.h"
#include "platform/win32/Handle.h"
#include "platform/win32/LastError.h"
#include "platform/win32/SystemLibrary.h"

#include <atomic>
#include <cstring>
#include <io.h>
#include <memory>
#include <mutex>
#include <new>
#include <shlwapi.h>

namespace hostutil {

using platform::win32::LastError;

namespace {

void secureFolder(const std::wstring& folder)
{
    applyFolderSecurity(folder, GetProgramFilesDir());
}

bool isFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// What a failed CreateDirectoryW means for RecursiveCreateFolder, when its parent is not missing.
int createFailed(const std::wstring& path, uint32_t error)
{
    // "Already exists" answers for a file of that name too, which is no folder to write into.
    if (error == ERROR_ALREADY_EXISTS && isFolder(path))
        return 1;
    if (error == ERROR_ACCESS_DENIED)
        dpxUtil(3, "recursiveCreate folder failed, access denied", pathItem("strPath", path),
                uintItem("uError", error));
    else
        dpxUtil(3, "recursiveCreate folder failed", pathItem("strPath", path), uintItem("uError", error));
    return 0;
}

// The name "%s.%d.tmp" as it fits the system's MAX_PATH buffers, or empty when it would not.
std::wstring renameName(const std::wstring& newFile, int index)
{
    const std::string digits = platform::decimal(static_cast<int32_t>(index));
    std::wstring name = newFile + L"." + std::wstring(digits.begin(), digits.end()) + L".tmp";
    return name.size() < MAX_PATH ? name : std::wstring();
}

// Copies in the making sit beside their target as "<target>.<16 hex digits>.kvnew": in the same
// folder, so that the swap is one rename on one volume.
constexpr wchar_t kStagedSuffix[] = L".kvnew";
constexpr size_t kSerialDigits = 16;
constexpr DWORD kCopyPiece = 1 << 20;

bool isStagedName(const std::wstring& name, const std::wstring& prefix)
{
    const size_t suffixSize = sizeof kStagedSuffix / sizeof kStagedSuffix[0] - 1;
    if (name.size() != prefix.size() + kSerialDigits + suffixSize ||
        _wcsnicmp(name.c_str(), prefix.c_str(), prefix.size()) != 0 ||
        _wcsicmp(name.c_str() + name.size() - suffixSize, kStagedSuffix) != 0)
        return false;
    for (size_t i = prefix.size(); i < prefix.size() + kSerialDigits; ++i) {
        const wchar_t c = name[i];
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F')))
            return false;
    }
    return true;
}

// Copies that a killed run left beside the target. A run still writing holds its copy open until
// the swap, so the exclusive open fails for it and succeeds, deleting on close, for those nobody
// holds.
void removeStaleCopies(const std::wstring& target)
{
    const size_t separator = target.find_last_of(L"\\/:");
    const std::wstring folder = separator == std::wstring::npos ? L"" : target.substr(0, separator + 1);
    const std::wstring prefix = target.substr(folder.size()) + L".";
    WIN32_FIND_DATAW found{};
    const platform::win32::UniqueFind find(FindFirstFileW((target + L".*" + kStagedSuffix).c_str(), &found));
    if (!find)
        return;
    do {
        if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
            isStagedName(found.cFileName, prefix))
            platform::win32::UniqueFile(
                CreateFileW((folder + found.cFileName).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    } while (FindNextFileW(find.get(), &found));
}

std::wstring stagedName(const std::wstring& target)
{
    static std::atomic<uint32_t> counter{0};
    wchar_t serial[kSerialDigits + 1] = {};
    _snwprintf(serial, kSerialDigits + 1, L"%08lx%08lx", static_cast<unsigned long>(GetCurrentProcessId()),
               static_cast<unsigned long>(counter.fetch_add(1) ^ GetTickCount()));
    return target + L"." + serial + kStagedSuffix;
}

// One rename puts the staged copy in place, replacing the target, and is on disk when it returns.
BOOL swapIn(const std::wstring& staged, const std::wstring& target)
{
    return MoveFileExW(staged.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

// A folder (or a link, a device) where the file belongs is the user's, not an older copy of ours:
// it is neither replaced nor moved aside. True, after a line, for such a target.
bool refuseNonFile(const std::wstring& target)
{
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)))
        return false;
    dpxUtil(3, "filesystem>>ForceCopyFile failed, target is not a file", pathItem("newFile", target));
    return true;
}

// The source's bytes in a new staged file beside the target, read in pieces; the error of the call
// that failed, taken where it failed, or 0.
uint32_t stageCopy(const std::wstring& source, const std::wstring& target, StagedFile& staged)
{
    const platform::win32::UniqueFile in(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                     OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in)
        return LastError::take().code;
    if (!staged.open(target))
        return staged.error();
    const std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kCopyPiece]);
    if (!buffer)
        return ERROR_NOT_ENOUGH_MEMORY;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(in.get(), buffer.get(), kCopyPiece, &read, nullptr))
            return LastError::take().code;
        if (read == 0)
            break;
        if (!staged.write(buffer.get(), read))
            return staged.error();
    }
    return 0;
}

// Flushes the staged copy and swaps it in, with the failure line a forced copy writes.
int finishAndSwap(StagedFile& staged, const std::wstring& source, const std::wstring& newFile)
{
    if (!staged.finish()) {
        dpxUtil(3, "filesystem>>ForceCopyFile failed", uintItem("GetLastError()", staged.error()),
                pathItem("existingFile", source), pathItem("newFile", newFile));
        return 0;
    }
    return SwapInStaged(staged, source, newFile);
}

} // namespace

// Flushes a staged file from a thread of its own while the writer goes on, through a handle of its
// own: Windows runs the calls on one synchronous handle one at a time, so a flush through the
// writer's handle would hold up its writes. Requests that come while a flush runs make one more.
class BackgroundFlush {
public:
    // Null when the thread or its handle cannot be had; the last flush then does all the work.
    static std::unique_ptr<BackgroundFlush> start(const std::wstring& path);
    ~BackgroundFlush() { stop(); }
    void request() { SetEvent(mWake.get()); }
    // Waits for the thread; the first error a flush reported, or 0. Kept here because a failed
    // write-back is reported once (Linux's fsync), so the last flush may well succeed after it.
    uint32_t stop();

private:
    static DWORD WINAPI run(void* self);

    platform::win32::UniqueFile mFile;
    platform::win32::UniqueEvent mWake;
    platform::win32::UniqueHandle mThread;
    std::atomic<bool> mStopping{false};
    std::atomic<uint32_t> mError{0};
};

std::unique_ptr<BackgroundFlush> BackgroundFlush::start(const std::wstring& path)
{
    std::unique_ptr<BackgroundFlush> flush(new (std::nothrow) BackgroundFlush);
    if (!flush)
        return nullptr;
    flush->mFile.reset(CreateFileW(path.c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    flush->mWake.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!flush->mFile || !flush->mWake)
        return nullptr;
    // A flush needs little stack; the process's default reservation would be a megabyte of it.
    flush->mThread.reset(
        CreateThread(nullptr, 64 << 10, run, flush.get(), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    return flush->mThread ? std::move(flush) : nullptr;
}

uint32_t BackgroundFlush::stop()
{
    if (mThread) {
        mStopping = true;
        SetEvent(mWake.get());
        WaitForSingleObject(mThread.get(), INFINITE);
        mThread.reset();
    }
    return mError;
}

DWORD WINAPI BackgroundFlush::run(void* self)
{
    auto& flush = *static_cast<BackgroundFlush*>(self);
    while (WaitForSingleObject(flush.mWake.get(), INFINITE) == WAIT_OBJECT_0 && !flush.mStopping) {
        if (!FlushFileBuffers(flush.mFile.get())) {
            uint32_t none = 0;
            flush.mError.compare_exchange_strong(none, LastError::take().code);
        }
    }
    return 0;
}

StagedFile::StagedFile(uint64_t flushBehind) : mFlushBehind(flushBehind) {}

StagedFile::~StagedFile()
{
    mBackground.reset();
    mFile.reset();
    if (!mPath.empty())
        ::DeleteFileW(mPath.c_str());
}

void StagedFile::placed()
{
    // The handle now names the file in its place: closing it deletes nothing.
    mFile.reset();
    mPath.clear();
}

bool StagedFile::fail(uint32_t error)
{
    if (mError == 0)
        mError = error;
    return false;
}

bool StagedFile::open(const std::wstring& target)
{
    removeStaleCopies(target);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::wstring path = stagedName(target);
        // CREATE_NEW never opens what exists under the name. Held open until the swap, which the
        // shared delete access allows, so another run never takes it for a stale copy; readers
        // (the version check) may look in, and the flush behind the writer has a handle of its own.
        mFile.reset(CreateFileW(path.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (mFile) {
            mPath = path;
            mError = 0;
            return true;
        }
        mError = LastError::take().code;
        if (mError != ERROR_FILE_EXISTS && mError != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

bool StagedFile::write(const void* data, size_t size)
{
    if (mError != 0 || !mFile)
        return fail(ERROR_INVALID_HANDLE);
    const auto* bytes = static_cast<const uint8_t*>(data);
    const size_t total = size;
    while (size > 0) {
        const DWORD piece = static_cast<DWORD>(size < kCopyPiece ? size : kCopyPiece);
        DWORD written = 0;
        if (!WriteFile(mFile.get(), bytes, piece, &written, nullptr))
            return fail(LastError::take().code);
        // A short write without an error is what a full disk gives some file systems.
        if (written != piece)
            return fail(ERROR_DISK_FULL);
        bytes += piece;
        size -= piece;
    }
    flushBehind(total);
    return true;
}

void StagedFile::flushBehind(size_t written)
{
    mUnflushed += written;
    if (mUnflushed < mFlushBehind)
        return;
    mUnflushed = 0;
    if (!mBackground)
        mBackground = BackgroundFlush::start(mPath);
    if (mBackground)
        mBackground->request();
}

bool StagedFile::finish()
{
    if (mError != 0 || !mFile)
        return fail(ERROR_INVALID_HANDLE);
    if (mBackground) {
        const uint32_t error = mBackground->stop();
        mBackground.reset();
        if (error != 0)
            return fail(error);
    }
    if (!FlushFileBuffers(mFile.get()))
        return fail(LastError::take().code);
    mFinished = true;
    return true;
}

int SwapInStaged(StagedFile& staged, const std::wstring& source, const std::wstring& newFile)
{
    if (!staged.mFinished || staged.mPath.empty())
        return staged.fail(ERROR_INVALID_HANDLE);
    if (refuseNonFile(newFile))
        return staged.fail(ERROR_DIRECTORY);
    if (swapIn(staged.mPath, newFile)) {
        staged.placed();
        return 1;
    }
    const uint32_t error = LastError::take().code;
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) {
        dpxUtil(3, "filesystem>>ForceCopyFile failed", uintItem("GetLastError()", error),
                pathItem("existingFile", source), pathItem("newFile", newFile));
        return staged.fail(error);
    }

    // A file in use can often still be renamed: move it aside and swap into its place.
    dpxUtil(2, "filesystem>>ForceCopyFile,first-try failed, try rename existing",
            pathItem("newFile", newFile));
    std::wstring aside;
    uint32_t moveError = error;
    for (int i = 0; i < 100; ++i) {
        const std::wstring name = renameName(newFile, i);
        if (name.empty()) {
            // Every later name is as long or longer; a cut name would move the file elsewhere.
            dpxUtil(3, "filesystem>>ForceCopyFile, rename name too long", pathItem("newFile", newFile));
            break;
        }
        const BOOL moved = MoveFileExW(newFile.c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING);
        moveError = moved ? 0 : LastError::take().code;
        dpxUtil(1, "filesystem>>ForceCopyFile, rename", intItem("result", moved), uintItem("err", moveError),
                pathItem("newFile", newFile), pathItem("szRename", name));
        if (moved) {
            aside = name;
            break;
        }
        if (moveError == ERROR_ACCESS_DENIED && !PathExists(name))
            break;
    }
    if (aside.empty()) {
        dpxUtil(3, "filesystem>>ForceCopyFile,rename-failed,copy failed", pathItem("existingFile", source),
                pathItem("newFile", newFile));
        return staged.fail(moveError != 0 ? moveError : error);
    }

    const BOOL result = swapIn(staged.mPath, newFile);
    const uint32_t swapError = result ? 0 : LastError::take().code;
    if (result)
        staged.placed();
    dpxUtil(2, "filesystem>>ForceCopyFile", intItem("result", result), pathItem("existingFile", source),
            pathItem("newFile", newFile), uintItem("GetLastError()", swapError));
    if (!result) {
        staged.fail(swapError);
        // The installed file must not be lost to a failed update: put it back where it was.
        const BOOL restored = MoveFileExW(aside.c_str(), newFile.c_str(), MOVEFILE_REPLACE_EXISTING);
        const uint32_t restoreError = restored ? 0 : LastError::take().code;
        dpxUtil(3, "filesystem>>ForceCopyFile,copy failed, move back", intItem("result", restored),
                uintItem("err", restoreError), pathItem("szRename", aside), pathItem("newFile", newFile));
    }
    return result;
}

int DeleteFile(const std::wstring& filePath)
{
    if (filePath.empty())
        return 0;
    const BOOL result = ::DeleteFileW(filePath.c_str());
    if (!result) {
        const LastError error = LastError::take();
        dpxUtil(3, "filesystem>>DeleteFile failed", uintItem("GetLastError()", error.code),
                pathItem("filePath", filePath));
    }
    return result;
}

int ForceCopyFile(const std::wstring& existingFile, const std::wstring& newFile)
{
    dpxUtil(1, "filesystem>>ForceCopyFile", pathItem("existingFile", existingFile),
            pathItem("newFile", newFile));
    if (SamePath(existingFile, newFile)) {
        dpxUtil(2, "filesystem>>ForceCopyFile,file path are same", pathItem("existingFile", existingFile));
        return 1;
    }
    if (refuseNonFile(newFile))
        return 0;

    // The new bytes are whole and on disk beside the target before the target is touched, so the
    // installed file is at every instant the old one or the new one.
    StagedFile staged;
    const uint32_t error = stageCopy(existingFile, newFile, staged);
    if (error != 0) {
        dpxUtil(3, "filesystem>>ForceCopyFile failed", uintItem("GetLastError()", error),
                pathItem("existingFile", existingFile), pathItem("newFile", newFile));
        return 0;
    }
    return finishAndSwap(staged, existingFile, newFile);
}

int ForceCopyStaged(StagedFile& staged, const std::wstring& newFile)
{
    dpxUtil(1, "filesystem>>ForceCopyFile", pathItem("existingFile", staged.path()),
            pathItem("newFile", newFile));
    if (refuseNonFile(newFile))
        return staged.fail(ERROR_DIRECTORY);
    return finishAndSwap(staged, staged.path(), newFile);
}

int CFileSystem::IsFolderWritable(const std::wstring& folderPath, bool allowNonFixedDrive)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(folderPath.c_str(), GetFileExInfoStandard, &data)) {
        const LastError error = LastError::take();
        dpxUtil(2, "CFileSystem::IsFolderWritable>>GetFileAttributesEx failed",
                uintItem("GetLastError()", error.code), pathItem("folderPath", folderPath));
        return 0;
    }
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        dpxUtil(3, "CFileSystem::IsFolderWritable>>dwFileAttributes != FILE_ATTRIBUTE_DIRECTORY",
                uintItem("GetLastError()", LastError::take().code));
        return 0;
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_VIRTUAL) {
        dpxUtil(2, "CFileSystem::IsFolderWritable>>dwFileAttributes == FILE_ATTRIBUTE_VIRTUAL",
                uintItem("GetLastError()", LastError::take().code));
        return 0;
    }
    const int drive = PathGetDriveNumberW(folderPath.c_str());
    if (drive < 0) {
        dpxUtil(3, "CFileSystem::IsFolderWritable>>PathGetDriveNumber failed",
                uintItem("GetLastError()", LastError::take().code));
        return 0;
    }
    wchar_t root[4] = {};
    PathBuildRootW(root, drive);
    if (GetDriveTypeW(root) != DRIVE_FIXED) {
        if (!allowNonFixedDrive) {
            dpxUtil(3, "CFileSystem::IsFolderWritable>>Path  not in fixed drive",
                    pathItem("folderPath", folderPath));
            return 0;
        }
        dpxUtil(2, "CFileSystem::IsFolderWritable>>Path  not in fixed drive,but it is OK for RZ",
                pathItem("folderPath", folderPath));
    }
    if (!PathFileExistsW(folderPath.c_str())) {
        dpxUtil(3, "CFileSystem::IsFolderWritable>>Path not Exists", pathItem("folderPath", folderPath));
        return 0;
    }

    const SECURITY_INFORMATION what =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    const BOOL sized = GetFileSecurityW(folderPath.c_str(), what, nullptr, 0, &needed);
    const uint32_t sizeError = sized ? 0 : LastError::take().code;
    if (sizeError != ERROR_INSUFFICIENT_BUFFER) {
        dpxUtil(3, "CFileSystem::IsFolderWritable>>first GetFileSecurity ",
                uintItem("GetLastError()", sizeError));
        return 0;
    }
    const std::unique_ptr<uint8_t[]> descriptor(new (std::nothrow) uint8_t[needed]());
    if (!descriptor)
        return 0;
    if (!GetFileSecurityW(folderPath.c_str(), what, descriptor.get(), needed, &needed)) {
        dpxUtil(3, "CFileSystem::IsFolderWritable>>second GetFileSecurity ",
                uintItem("GetLastError()", LastError::take().code));
        return 0;
    }

    // The check runs against this thread's token, so the process token is lent to the thread.
    const auto impersonation = platform::win32::SelfImpersonation::begin();
    platform::win32::UniqueHandle token;
    if (!impersonation ||
        !OpenThreadToken(GetCurrentThread(), TOKEN_IMPERSONATE | TOKEN_QUERY, FALSE, token.put())) {
        dpxUtil(3, "CFileSystem::IsFolderWritable>>ImpersonateSelf err",
                uintItem("GetLastError()", LastError::take().code));
        return 0;
    }
    GENERIC_MAPPING mapping = {0, FILE_GENERIC_WRITE, 0, 0};
    DWORD desired = FILE_WRITE_DATA | FILE_APPEND_DATA;
    MapGenericMask(&desired, &mapping);
    PRIVILEGE_SET privileges{};
    DWORD privilegesLength = sizeof(privileges);
    DWORD granted = 0;
    BOOL status = TRUE;
    const BOOL checked = AccessCheck(descriptor.get(), token.get(), desired, &mapping, &privileges,
                                     &privilegesLength, &granted, &status);
    const int result = checked ? status : 0;
    if (!result)
        dpxUtil(3, "CFileSystem::IsFolderWritable>>AccessCheck failed",
                uintItem("GetLastError()", LastError::take().code));
    return result;
}

int CFileSystem::RecursiveCreateFolder(const std::wstring& path)
{
    if (path.empty()) {
        dpxUtil(2, "CFileSystem::RecursiveCreateFolder", textItem("null path"));
        return 0;
    }
    if (CreateDirectoryW(path.c_str(), nullptr)) {
        secureFolder(path);
        return 1;
    }
    const uint32_t error = LastError::take().code;
    if (error != ERROR_PATH_NOT_FOUND)
        return createFailed(path, error);

    // A parent is missing: create the parents first, from the top. Each step is shorter, so
    // this ends.
    std::wstring folder = path;
    if (folder.back() == L'\\')
        folder.pop_back();
    const size_t slash = folder.rfind(L'\\');
    if (folder.empty() || slash == std::wstring::npos)
        return 0;
    if (!RecursiveCreateFolder(folder.substr(0, slash)))
        return 0;
    if (CreateDirectoryW(folder.c_str(), nullptr)) {
        secureFolder(folder);
        return 1;
    }
    // Created meanwhile by someone else is as good; any other failure goes without a line of its own.
    return LastError::take().code == ERROR_ALREADY_EXISTS && isFolder(folder) ? 1 : 0;
}

uint32_t CFileSystem::GetFileSize(const std::wstring& path)
{
    WIN32_FIND_DATAW data{};
    const platform::win32::UniqueFind find(FindFirstFileW(path.c_str(), &data));
    return find ? data.nFileSizeLow : 0;
}

std::wstring GetLongPath(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = GetLongPathNameW(path.c_str(), buffer, MAX_PATH + 1);
    if (length == 0)
        return {};
    if (length > MAX_PATH) {
        dpxUtil(3, "filesystem>>GetLongPath, path too long", pathItem("path", path),
                uintItem("length", length));
        return {};
    }
    return std::wstring(buffer, length);
}

std::wstring GetProgramFilesDir()
{
    // Never destroyed: a late caller during static destruction still finds them.
    static std::mutex* const mutex = new std::mutex;
    static std::wstring* const cache = new std::wstring;
    const std::lock_guard<std::mutex> lock(*mutex);
    if (cache->empty()) {
        const ComPtr<IDPXRegistry> registry = CreateRegistry();
        if (registry &&
            registry->OpenKey(L"Software\\Microsoft\\Windows\\CurrentVersion", HKEY_LOCAL_MACHINE)) {
            if (const wchar_t* value = registry->GetStringValue(L"ProgramFilesDir", L""))
                *cache = value;
        }
    }
    return *cache;
}

std::wstring GetLocalAppDataFolder()
{
    using GetFolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
    const platform::win32::UniqueModule shell = platform::win32::loadSystemLibrary(L"shell32.dll");
    if (!shell)
        return {};
    const auto getFolderPath = platform::win32::lookUp<GetFolderPath>(shell.get(), "SHGetFolderPathW");
    if (!getFolderPath)
        return {};
    wchar_t buffer[MAX_PATH + 1] = {};
    getFolderPath(nullptr, 28 /* CSIDL_LOCAL_APPDATA */, nullptr, 0, buffer);
    return buffer;
}

std::wstring GetRoamingAppDataFolder()
{
    using GetKnownFolderPath = HRESULT(WINAPI*)(const GUID&, DWORD, HANDLE, PWSTR*);
    // FOLDERID_RoamingAppData
    static const GUID kRoamingAppData = {
        0x3EB685DB, 0x65F9, 0x4CF6, {0xA0, 0x3A, 0xE3, 0xEF, 0x65, 0x72, 0x9F, 0x3D}};
    const platform::win32::UniqueModule shell = platform::win32::loadSystemLibrary(L"shell32.dll");
    if (!shell)
        return {};
    const auto getKnownFolderPath =
        platform::win32::lookUp<GetKnownFolderPath>(shell.get(), "SHGetKnownFolderPath");
    if (!getKnownFolderPath)
        return {};
    PWSTR text = nullptr;
    std::wstring result;
    if (SUCCEEDED(getKnownFolderPath(kRoamingAppData, 0, nullptr, &text)) && text)
        result = text;
    CoTaskMemFree(text);
    return result;
}

std::wstring GetTempFolder()
{
    // The folder comes from the environment and may be longer than MAX_PATH: ask its length.
    std::wstring buffer(MAX_PATH, L'\0');
    DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length > buffer.size()) {
        buffer.assign(length, L'\0');
        length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    }
    if (length == 0 || length >= buffer.size())
        return {};
    buffer.resize(length);
    return buffer;
}

std::wstring MakeTempFileName(const std::wstring& folder, const std::wstring& prefix)
{
    wchar_t name[MAX_PATH] = {};
    // The system takes folders of at most MAX_PATH - 14 characters, room for the name it adds.
    if (folder.size() > MAX_PATH - 14) {
        dpxUtil(3, "filesystem>>MakeTempFileName, folder too long", pathItem("folder", folder));
        return {};
    }
    if (!GetTempFileNameW(folder.c_str(), prefix.c_str(), 0, name))
        return {};
    return name;
}

std::wstring GetProductDataFolder()
{
    // Without the per-user folder there is none: "Kavari" alone would be a folder in the current one.
    const std::wstring localAppData = GetLocalAppDataFolder();
    if (localAppData.empty())
        return {};
    return CombinePath(localAppData, L"Kavari", L'\\');
}

bool PathExists(const std::wstring& path)
{
    return _waccess(path.c_str(), 0) == 0;
}

std::wstring GetFileVersion(const std::wstring& path)
{
    return GetFileVersion(path, peimage::win32::CFileMapping::make);
}

} // namespace hostutil
