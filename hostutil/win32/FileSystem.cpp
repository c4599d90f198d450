// CFileSystem and the free file-system operations over the wide Win32 calls.
#include "hostutil/win32/FileSystem.h"

#include "hostutil/DpxUtil.h"
#include "hostutil/PathUtil.h"
#include "hostutil/Version.h"
#include "hostutil/win32/Registry.h"
#include "peimage/win32/CFileMapping.h"
#include "platform/win32/Handle.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Security.h"
#include "platform/win32/SystemLibrary.h"

#include <cstring>
#include <io.h>
#include <memory>
#include <mutex>
#include <new>
#include <shlwapi.h>

namespace hostutil {

using platform::win32::LastError;

namespace {

// Undoes ImpersonateSelf on every path out of the access check.
struct RevertGuard {
    ~RevertGuard() { RevertToSelf(); }
};

void secureFolder(const std::wstring& folder)
{
    platform::win32::applyFolderSecurity(folder, GetProgramFilesDir());
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
    std::wstring name = newFile + L"." + std::to_wstring(index) + L".tmp";
    return name.size() < MAX_PATH ? name : std::wstring();
}

} // namespace

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
    BOOL result = CopyFileW(existingFile.c_str(), newFile.c_str(), FALSE);
    if (result)
        return result;
    const uint32_t error = LastError::take().code;
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) {
        dpxUtil(3, "filesystem>>ForceCopyFile failed", uintItem("GetLastError()", error),
                pathItem("existingFile", existingFile), pathItem("newFile", newFile));
        return 0;
    }

    // A file in use can often still be renamed: move it aside and copy into its place.
    dpxUtil(2, "filesystem>>ForceCopyFile,first-try failed, try rename existing",
            pathItem("newFile", newFile));
    std::wstring aside;
    for (int i = 0; i < 100; ++i) {
        const std::wstring name = renameName(newFile, i);
        if (name.empty()) {
            // Every later name is as long or longer; a cut name would move the file elsewhere.
            dpxUtil(3, "filesystem>>ForceCopyFile, rename name too long", pathItem("newFile", newFile));
            break;
        }
        const BOOL moved = MoveFileExW(newFile.c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING);
        const uint32_t moveError = moved ? 0 : LastError::take().code;
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
        dpxUtil(3, "filesystem>>ForceCopyFile,rename-failed,copy failed",
                pathItem("existingFile", existingFile), pathItem("newFile", newFile));
        return 0;
    }

    result = CopyFileW(existingFile.c_str(), newFile.c_str(), FALSE);
    const uint32_t copyError = result ? 0 : LastError::take().code;
    dpxUtil(2, "filesystem>>ForceCopyFile", intItem("result", result), pathItem("existingFile", existingFile),
            pathItem("newFile", newFile), uintItem("GetLastError()", copyError));
    if (!result) {
        // The installed file must not be lost to a failed update: put it back where it was.
        const BOOL restored = MoveFileExW(aside.c_str(), newFile.c_str(), MOVEFILE_REPLACE_EXISTING);
        const uint32_t restoreError = restored ? 0 : LastError::take().code;
        dpxUtil(3, "filesystem>>ForceCopyFile,copy failed, move back", intItem("result", restored),
                uintItem("err", restoreError), pathItem("szRename", aside), pathItem("newFile", newFile));
    }
    return result;
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
    const RevertGuard revert;
    platform::win32::UniqueHandle token;
    if (!ImpersonateSelf(SecurityImpersonation) ||
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
    return createFailed(folder, LastError::take().code);
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
