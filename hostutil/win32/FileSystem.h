// The installer's file-system operations: forced copies over files in use, deletion, folders
// created with their parents, the writability test, and the well-known folders.
#pragma once

// <windows.h> comes first on purpose (Handle.h opens with it): it makes DeleteFile a macro for
// DeleteFileW, and every file that sees the declaration below must see it renamed the same way.
#include "platform/win32/Handle.h"
#include "platform/win32/Windows.h"

#include <cstddef>
#include <cstdint>
#include <memory>
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

class BackgroundFlush;

// A file in the making beside its target, "<target>.<16 hex digits>.kvnew" in the same folder so
// that the swap is one rename on one volume. Filled in pieces, finished, then put in place by
// SwapInStaged; held open until then (others may read it), and removed on every way out that did
// not put it in place.
class StagedFile {
public:
    // Every `flushBehind` bytes written, a thread of its own flushes what has come so far, so that
    // the disk writes while the rest comes and finish() waits only for the last stretch.
    explicit StagedFile(uint64_t flushBehind = uint64_t{32} << 20);
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    ~StagedFile();

    // Makes the new file beside `target`, first removing copies that killed runs left there;
    // false, with error(), when it cannot be made.
    bool open(const std::wstring& target);
    // False, with error(), when not every byte went to the file.
    bool write(const void* data, size_t size);
    // Flushes: delayed write errors (a full disk among them) show here, before the copy takes any
    // place. False, with error().
    bool finish();
    // The system's error number of the call that failed, taken where it failed; 0 while none did.
    uint32_t error() const { return mError; }
    const std::wstring& path() const { return mPath; }
    // True while a thread flushes behind the writer.
    bool flushesBehind() const { return mBackground != nullptr; }

private:
    friend int SwapInStaged(StagedFile&, const std::wstring&, const std::wstring&);
    friend int ForceCopyStaged(StagedFile&, const std::wstring&);
    bool fail(uint32_t error);
    void placed();
    void flushBehind(size_t written);

    platform::win32::UniqueFile mFile;
    std::wstring mPath;
    uint32_t mError = 0;
    bool mFinished = false;
    uint64_t mFlushBehind;
    uint64_t mUnflushed = 0;
    // Declared last: it holds a handle of the file of its own, and goes first.
    std::unique_ptr<BackgroundFlush> mBackground;
};

// Puts a finished staged copy in place of `target` with one rename that is on disk when it returns.
// A target in use is moved aside and the rename repeated, with ForceCopyFile's lines (`source`
// named as their existing file); a target that is not a file is left alone. Non-zero on success;
// on failure the target is as it was and error() holds the failing call's error.
int SwapInStaged(StagedFile& staged, const std::wstring& source, const std::wstring& target);

// ForceCopyFile for bytes already staged beside `newFile`: its lines, with the staged file as the
// existing one, its flush and its swap. Non-zero on success.
int ForceCopyStaged(StagedFile& staged, const std::wstring& newFile);

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
