// CFileSystem and the free file-system operations against a real Win32: forced copies over files
// in use, folder creation and the writability test, the folder lookups, with their exact lines.
#include "hostutil/win32/FileSystem.h"

#include "tests/support/CaptureSink.h"
#include "platform/win32/Handle.h"
#include "tests/support/TempFolder.h"
#include "tests/support/win32/Win32Support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace hostutil;
using platform::win32::UniqueFile;
using Lines = std::vector<std::string>;

namespace {

std::string m(const std::wstring& path)
{
    return rlxutil::maskedValue(path);
}

test_support::Bytes bytes(const std::string& text)
{
    return test_support::Bytes(text.begin(), text.end());
}

// Another handle on the file, sharing only what `share` allows.
UniqueFile holdOpen(const std::wstring& path, DWORD share)
{
    return UniqueFile(CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
}

} // namespace

TEST(HostUtilFileSystem, ForceCopyFileMovesAFileInUseAsideAndNeverLosesIt)
{
    const test_support::TempFolder folder;
    folder.write("new.dll", bytes("new"));
    const std::wstring source = folder.wide("new.dll");
    const std::wstring target = folder.wide("plugin.dll");
    const std::string copyLine =
        "filesystem>>ForceCopyFile, existingFile=" + m(source) + ", newFile=" + m(target);
    const std::string firstTry =
        "filesystem>>ForceCopyFile,first-try failed, try rename existing, newFile=" + m(target);
    const auto rename = [&](int result, int err, int index) {
        return "filesystem>>ForceCopyFile, rename, result=" + std::to_string(result) +
               ", err=" + std::to_string(err) + ", newFile=" + m(target) +
               ", szRename=" + m(target + L"." + std::to_wstring(index) + L".tmp");
    };
    const auto secondCopy = [&](int result, int err) {
        return "filesystem>>ForceCopyFile, result=" + std::to_string(result) + ", existingFile=" + m(source) +
               ", newFile=" + m(target) + ", GetLastError()=" + std::to_string(err);
    };

    {
        // The installed file is in use by a program that lets others read and delete it.
        folder.write("plugin.dll", bytes("old"));
        const UniqueFile inUse = holdOpen(target, FILE_SHARE_READ | FILE_SHARE_DELETE);
        ASSERT_TRUE(inUse);
        const rlxutil::ScopedCaptureSink capture;
        EXPECT_NE(ForceCopyFile(source, target), 0);
        EXPECT_EQ(folder.read("plugin.dll"), bytes("new"));
        EXPECT_EQ(folder.read("plugin.dll.0.tmp"), bytes("old"));
        EXPECT_EQ(capture.texts(), (Lines{copyLine, firstTry, rename(1, 0, 0), secondCopy(1, 0)}));
    }
    {
        // ".0.tmp" is taken by a file that cannot be replaced: the next name is used.
        folder.write("plugin.dll", bytes("old"));
        const UniqueFile inUse = holdOpen(target, FILE_SHARE_READ | FILE_SHARE_DELETE);
        const UniqueFile asideInUse = holdOpen(folder.wide("plugin.dll.0.tmp"), FILE_SHARE_READ);
        ASSERT_TRUE(asideInUse);
        const rlxutil::ScopedCaptureSink capture;
        EXPECT_NE(ForceCopyFile(source, target), 0);
        EXPECT_EQ(folder.read("plugin.dll"), bytes("new"));
        EXPECT_EQ(folder.read("plugin.dll.1.tmp"), bytes("old"));
        EXPECT_EQ(capture.texts(),
                  (Lines{copyLine, firstTry, rename(0, 5, 0), rename(1, 0, 1), secondCopy(1, 0)}));
    }
    {
        // The source is locked, so the copy after the move fails too: the installed file goes back.
        folder.write("plugin.dll", bytes("old"));
        ASSERT_TRUE(DeleteFileW(folder.wide("plugin.dll.0.tmp").c_str()));
        const UniqueFile locked = holdOpen(source, 0);
        ASSERT_TRUE(locked);
        const rlxutil::ScopedCaptureSink capture;
        EXPECT_EQ(ForceCopyFile(source, target), 0);
        EXPECT_EQ(folder.read("plugin.dll"), bytes("old"));
        EXPECT_FALSE(PathExists(folder.wide("plugin.dll.0.tmp")));
        EXPECT_EQ(capture.texts(),
                  (Lines{copyLine, firstTry, rename(1, 0, 0), secondCopy(0, 32),
                         "filesystem>>ForceCopyFile,copy failed, move back, result=1, err=0, szRename=" +
                             m(target + L".0.tmp") + ", newFile=" + m(target)}));
    }
    {
        // Two spellings of one file are never copied onto each other.
        const rlxutil::ScopedCaptureSink capture;
        std::wstring upper = target;
        for (wchar_t& c : upper)
            c = static_cast<wchar_t>(towupper(c));
        EXPECT_EQ(ForceCopyFile(target, upper), 1);
        EXPECT_EQ(ForceCopyFile(target + L"\\", target), 1);
        EXPECT_EQ(folder.read("plugin.dll"), bytes("old"));
        EXPECT_EQ(capture.texts()[1],
                  "filesystem>>ForceCopyFile,file path are same, existingFile=" + m(target));
        EXPECT_EQ(capture.texts().size(), 4u);
    }
    {
        // A missing source is no reason to move anything.
        const rlxutil::ScopedCaptureSink capture;
        const std::wstring missing = folder.wide("missing.dll");
        EXPECT_EQ(ForceCopyFile(missing, target), 0);
        EXPECT_EQ(capture.texts().back(),
                  "filesystem>>ForceCopyFile failed, GetLastError()=2, existingFile=" + m(missing) +
                      ", newFile=" + m(target));
        EXPECT_EQ(folder.read("plugin.dll"), bytes("old"));
    }
    {
        // A target whose aside name would not fit MAX_PATH is not renamed to a cut name.
        const std::string longName = std::string(259 - folder.wide("").size() - 3, 'p') + ".dl";
        folder.write(longName, bytes("old"));
        const std::wstring longTarget = folder.wide(longName);
        ASSERT_LT(longTarget.size(), size_t{MAX_PATH});
        const UniqueFile inUse = holdOpen(longTarget, FILE_SHARE_READ | FILE_SHARE_DELETE);
        ASSERT_TRUE(inUse);
        const rlxutil::ScopedCaptureSink capture;
        EXPECT_EQ(ForceCopyFile(source, longTarget), 0);
        EXPECT_EQ(folder.read(longName), bytes("old"));
        EXPECT_EQ(capture.texts().size(), 4u);
        EXPECT_EQ(capture.texts()[2],
                  "filesystem>>ForceCopyFile, rename name too long, newFile=" + m(longTarget));
    }
}

TEST(HostUtilFileSystem, FoldersAreCreatedWithTheirParentsAndTestedForWriting)
{
    const test_support::TempFolder folder;
    folder.write("file.txt", bytes("x"));
    const std::wstring file = folder.wide("file.txt");
    const std::wstring deep = folder.wide("a") + L"\\b\\c\\";
    struct Case {
        std::wstring path;
        int result;
        Lines lines;
    };
    const Case creations[] = {
        {deep, 1, {}},
        {deep, 1, {}},
        {folder.wide("a"), 1, {}},
        {L"", 0, {"CFileSystem::RecursiveCreateFolder, null path"}},
        // A file of the name is no folder, however the system words it.
        {file, 0, {"recursiveCreate folder failed, strPath=" + m(file) + ", uError=183"}},
        {file + L"\\sub", 0, {"recursiveCreate folder failed, strPath=" + m(file) + ", uError=183"}},
    };
    for (const Case& c : creations) {
        const rlxutil::ScopedCaptureSink capture;
        EXPECT_EQ(CFileSystem::RecursiveCreateFolder(c.path), c.result) << m(c.path);
        EXPECT_EQ(capture.texts(), c.lines) << m(c.path);
    }
    EXPECT_TRUE(PathExists(folder.wide("a") + L"\\b\\c"));

    const std::wstring missing = folder.wide("missing");
    const Case writable[] = {
        {deep, 1, {}},
        {folder.path().wstring(), 1, {}},
        {file,
         0,
         {"CFileSystem::IsFolderWritable>>dwFileAttributes != FILE_ATTRIBUTE_DIRECTORY, GetLastError()=0"}},
        {missing,
         0,
         {"CFileSystem::IsFolderWritable>>GetFileAttributesEx failed, GetLastError()=2, folderPath=" +
          m(missing)}},
    };
    for (const Case& c : writable) {
        const rlxutil::ScopedCaptureSink capture;
        SetLastError(0);
        EXPECT_EQ(CFileSystem::IsFolderWritable(c.path, false), c.result) << m(c.path);
        EXPECT_EQ(capture.texts(), c.lines) << m(c.path);
    }
}

TEST(HostUtilFileSystem, LookupsAndSmallOperations)
{
    const test_support::TempFolder folder;
    const std::wstring localAppData = _wgetenv(L"LOCALAPPDATA");
    EXPECT_EQ(GetLocalAppDataFolder(), localAppData);
    EXPECT_EQ(GetRoamingAppDataFolder(), std::wstring(_wgetenv(L"APPDATA")));
    EXPECT_EQ(GetProductDataFolder(), localAppData + L"\\Kavari");
    EXPECT_EQ(GetTempFolder(), std::wstring(_wgetenv(L"TEMP")) + L"\\");
    EXPECT_TRUE(PathExists(GetProgramFilesDir()));

    folder.write("five.bin", bytes("12345"));
    const std::wstring five = folder.wide("five.bin");
    EXPECT_EQ(CFileSystem::GetFileSize(five), 5u);
    EXPECT_EQ(CFileSystem::GetFileSize(folder.wide("f*.bin")), 5u);
    EXPECT_EQ(CFileSystem::GetFileSize(folder.wide("none.bin")), 0u);
    EXPECT_EQ(GetLongPath(five), five);
    EXPECT_EQ(GetLongPath(folder.wide("none.bin")), L"");

    const std::wstring temp = MakeTempFileName(folder.path().wstring(), L"kvr");
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.rfind(folder.wide("kvr"), 0), 0u);
    EXPECT_TRUE(PathExists(temp));
    {
        const rlxutil::ScopedCaptureSink capture;
        const std::wstring tooLong(MAX_PATH - 13, L'x');
        EXPECT_EQ(MakeTempFileName(tooLong, L"kvr"), L"");
        EXPECT_EQ(capture.texts(),
                  Lines{"filesystem>>MakeTempFileName, folder too long, folder=" + m(tooLong)});
    }

    const rlxutil::ScopedCaptureSink capture;
    EXPECT_EQ(DeleteFile(L""), 0);
    EXPECT_NE(DeleteFile(temp), 0);
    EXPECT_FALSE(PathExists(temp));
    EXPECT_EQ(DeleteFile(temp), 0);
    EXPECT_EQ(capture.texts(), Lines{"filesystem>>DeleteFile failed, GetLastError()=2, filePath=" + m(temp)});
}

TEST(FileSystem, GetFileVersionThroughTheWin32Mapping)
{
    const std::wstring images = L"Z:" + std::wstring(KV_TEST_IMAGES_W);
    EXPECT_EQ(GetFileVersion(images + L"/version32.dll"), L"1.2.3.4");
    EXPECT_EQ(GetFileVersion(images + L"/version64.dll"), L"65535.0.19041.1");
    EXPECT_EQ(GetFileVersion(images + L"/missing.dll"), L"");
}
