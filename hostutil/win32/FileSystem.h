// The installer's file-system operations: forced copies over files in use, deletion, folders
// created with their parents, the writability test, and the well-known folders.
#pragma once

// <windows.h> comes first on purpose: it makes DeleteFile a macro for DeleteFileW, and every
// file that sees the declaration below must see it renamed the same way.
#include "platform/win32/Windows.h"

#include <cstdint>
#include <string>

namespace hostutil {

class CFileSystem {
public:
    // Non-zero when the folder exists on a fixed drive (or any drive, with the second argument)
    // and the current user may write and append data in it.
    static int IsFolderWritable(const std::wstring& folderPath, bool allowNonFixedDrive);
    // Creates the folder and every missing parent, each with the folder rights the installer
    // gives; non-zero when the folder exists afterwards.
    static int RecursiveCreateFolder(const std::wstring& path);
    // The low 32 bits of the size of the first entry a directory search finds; 0 when none.
    static uint32_t GetFileSize(const std::wstring& path);
};

// Deletes a file; the system's result, 0 for an empty path.
int DeleteFile(const std::wstring& filePath);

// Replaces `newFile` whole with a copy of `existingFile`: the bytes go to a new file beside it,
// are flushed, and take its place in one rename, so it is at every instant the old file or the
// new one. A target in use is moved aside to "<newFile>.<n>.tmp" (n from 0 to 99) and the rename
// repeated; when that fails too, the aside file is moved back. A target that is not a file (a
// folder) is left alone and the copy fails. Non-zero on success, and for two names of the same
// file, which are not copied.
int ForceCopyFile(const std::wstring& existingFile, const std::wstring& newFile);

// The long form of a path; empty when the system has none or it does not fit MAX_PATH.
std::wstring GetLongPath(const std::wstring& path);

// Program Files from the registry, kept once found.
std::wstring GetProgramFilesDir();
// The per-user folders, looked up in shell32.dll at run time; empty when unavailable.
std::wstring GetLocalAppDataFolder();
std::wstring GetRoamingAppDataFolder();
// The system's temporary folder, with its trailing backslash.
std::wstring GetTempFolder();
// Creates an empty file of a new unique name in the folder and returns its path; empty on failure.
std::wstring MakeTempFileName(const std::wstring& folder, const std::wstring& prefix);
// The local application-data folder followed by "Kavari".
std::wstring GetProductDataFolder();

bool PathExists(const std::wstring& path);

// The file version of an executable file, read through the Win32 file mapping; empty when the
// file cannot be read as an image or has no version resource.
std::wstring GetFileVersion(const std::wstring& path);

} // namespace hostutil
