// CFileSystem and the free file-system operations against a real Win32: forced copies over files
// in use, folder creation and the writability test, the folder lookups, with their exact lines.
#include "hostutil/win32/FileSystem.h"

#include "platform/TextConvert.h"
#include "platform/win32/Handle.h"
#include "tests/support/CaptureSink.h"
#include "tests/support/TempFolder.h"
#include "tests/support/win32/Win32Support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

test_support::Bytes readAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return test_support::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Names in the folder other than those given: what a forced copy left behind.
Lines leftovers(const std::filesystem::path& folder, const Lines& expected)
{
    Lines names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().u8string();
        if (std::find(expected.begin(), expected.end(), name) == expected.end())
            names.push_back(name);
    }
    return names;
}

} // namespace

TEST(HostUtilFileSystem, ForceCopyFileReplacesWholeAndNeverLosesTheInstalledFile)
{
    const test_support::TempFolder folder;
    folder.write("new.dll", bytes("new"));
    const std::wstring source = folder.wide("new.dll");
    const std::wstring target = folder.wide("plugin.dll");
    const std::string copyLine =
        "filesystem>>ForceCopyFile, existingFile=" + m(source) + ", newFile=" + m(target);
    const std::string firstTry =
        "filesystem>>ForceCopyFile,first-try failed, try rename existing, newFile=" + m(target);
    const std::string renamed = "filesystem>>ForceCopyFile, rename, result=1, err=0, newFile=" + m(target) +
                                ", szRename=" + m(target + L".0.tmp");
    const std::string swapped = "filesystem>>ForceCopyFile, result=1, existingFile=" + m(source) +
                                ", newFile=" + m(target) + ", GetLastError()=0";

    {
        // Bytes the caller staged: readable before the swap, swapped in with the forced copy's lines
        // while still held open; a copy a killed run left beside the target goes, another run's
        // staged copy of the same target, held open, stays. Flushed behind the writer every two
        // bytes here, and one abandoned while its flush runs leaves nothing.
        folder.write("plugin.dll", bytes("old"));
        folder.write("plugin.dll.00001f2c0000beef.kvnew", bytes("stale"));
        const std::string live = "plugin.dll.00001f2c0000cafe.kvnew";
        folder.write(live, bytes("live"));
        UniqueFile otherRun = holdOpen(folder.wide(live), FILE_SHARE_READ | FILE_SHARE_DELETE);
        ASSERT_TRUE(otherRun);
        {
            StagedFile abandoned(2);
            ASSERT_TRUE(abandoned.open(target));
            ASSERT_TRUE(abandoned.write("gone", 4));
            EXPECT_TRUE(abandoned.flushesBehind());
        }
        StagedFile staged(2);
        ASSERT_TRUE(staged.open(target));
        ASSERT_TRUE(staged.write("n", 1));
        EXPECT_FALSE(staged.flushesBehind());
        ASSERT_TRUE(staged.write("ewer", 4));
        EXPECT_TRUE(staged.flushesBehind());
        const std::wstring stagedPath = staged.path();
        EXPECT_EQ(folder.read(std::filesystem::path(stagedPath).filename().u8string()), bytes("newer"));
        const rlxutil::ScopedCaptureSink capture;
        EXPECT_EQ(ForceCopyStaged(staged, target), 1);
        EXPECT_EQ(folder.read("plugin.dll"), bytes("newer"));
        EXPECT_EQ(capture.texts(), Lines{"filesystem>>ForceCopyFile, existingFile=" + m(stagedPath) +
                                         ", newFile=" + m(target)});
        EXPECT_EQ(leftovers(folder.path(), {"new.dll", "plugin.dll", live}), Lines{});
        otherRun.reset();
        DeleteFileW(folder.wide(live).c_str());
    }
    {
        // The installed program is running: a file in use is renamed aside, never replaced in place.
        folder.write("plugin.dll", bytes("old"));
        const UniqueFile inUse = holdOpen(target, FILE_SHARE_READ | FILE_SHARE_DELETE);
        ASSERT_TRUE(inUse);
        const rlxutil::ScopedCaptureSink capture;
        EXPECT_EQ(ForceCopyFile(source, target), 1);
        EXPECT_EQ(folder.read("plugin.dll"), bytes("new"));
        if (capture.texts().size() == 1)
            GTEST_SKIP() << "this system replaces a file in use in one rename";
        EXPECT_EQ(folder.read("plugin.dll.0.tmp"), bytes("old"));
        EXPECT_EQ(capture.texts(), (Lines{copyLine, firstTry, renamed, swapped}));
        EXPECT_EQ(leftovers(folder.path(), {"new.dll", "plugin.dll", "plugin.dll.0.tmp"}), Lines{});
    }
}

TEST(HostUtilFileSystem, ForceCopyFileFailuresLeaveTheInstalledFile)
{
    const test_support::TempFolder folder;
    folder.write("new.dll", bytes("new"));
    const std::wstring source = folder.wide("new.dll");
    const std::wstring target = folder.wide("plugin.dll");
    folder.write("plugin.dll", bytes("old"));
    {
        // The source is locked (a missing one takes the same path): nothing is written, nothing moved.
        const UniqueFile locked = holdOpen(source, 0);
        ASSERT_TRUE(locked);
        const rlxutil::ScopedCaptureSink capture;
        EXPECT_EQ(ForceCopyFile(source, target), 0);
        EXPECT_EQ(capture.texts()[1], "filesystem>>ForceCopyFile failed, GetLastError()=32, existingFile=" +
                                          m(source) + ", newFile=" + m(target));
        EXPECT_EQ(folder.read("plugin.dll"), bytes("old"));
        EXPECT_EQ(leftovers(folder.path(), {"new.dll", "plugin.dll"}), Lines{});
    }
    {
        // Two spellings of one file (the spellings themselves are compared natively) are never
        // copied onto each other.
        const rlxutil::ScopedCaptureSink capture;
        std::wstring upper = target;
        std::transform(upper.begin(), upper.end(), upper.begin(), towupper);
        EXPECT_EQ(ForceCopyFile(target, upper), 1);
        EXPECT_EQ(folder.read("plugin.dll"), bytes("old"));
        EXPECT_EQ(capture.texts(),
                  (Lines{"filesystem>>ForceCopyFile, existingFile=" + m(target) + ", newFile=" + m(upper),
                         "filesystem>>ForceCopyFile,file path are same, existingFile=" + m(target)}));
    }
    {
        // A folder where the file belongs is the user's: neither replaced nor moved aside.
        const std::wstring taken = folder.wide("data.txt");
        ASSERT_TRUE(CreateDirectoryW(taken.c_str(), nullptr));
        folder.write("data.txt/notes", bytes("mine"));
        const rlxutil::ScopedCaptureSink capture;
        EXPECT_EQ(ForceCopyFile(source, taken), 0);
        EXPECT_EQ(capture.texts().back(),
                  "filesystem>>ForceCopyFile failed, target is not a file, newFile=" + m(taken));
        EXPECT_EQ(folder.read("data.txt/notes"), bytes("mine"));
        EXPECT_EQ(leftovers(folder.path(), {"new.dll", "plugin.dll", "data.txt"}), Lines{});
    }
}

// The small disk is a tmpfs the test run mounts (tests/hostutil/win32/small-disk.sh); Z: reaches it.
TEST(HostUtilFileSystem, ForceCopyFileOntoAFullDiskKeepsTheInstalledFile)
{
    const char* smallDisk = std::getenv("KV_SMALL_DISK");
    const std::wstring disk = smallDisk ? L"Z:" + platform::utf8ToWide(smallDisk) : L"";
    ULARGE_INTEGER available{}, total{}, free{};
    if (disk.empty() || !GetDiskFreeSpaceExW(disk.c_str(), &available, &total, &free) ||
        total.QuadPart > (4u << 20))
        GTEST_SKIP() << "no small disk mounted (KV_SMALL_DISK, a tmpfs of 1 MiB)";

    const test_support::TempFolder folder;
    const test_support::Bytes old(256 << 10, 'o');
    const test_support::Bytes large(2 << 20, 'n');
    folder.write("large.bin", large);
    const std::wstring source = folder.wide("large.bin");
    const std::wstring target = disk + L"\\item.bin";
    std::ofstream(std::filesystem::path(target), std::ios::binary)
        .write(reinterpret_cast<const char*>(old.data()), static_cast<std::streamsize>(old.size()));
    ASSERT_EQ(std::filesystem::file_size(target), old.size());
    const rlxutil::ScopedCaptureSink capture;
    EXPECT_EQ(ForceCopyFile(source, target), 0);
    EXPECT_EQ(capture.texts().back(),
              "filesystem>>ForceCopyFile failed, GetLastError()=" + std::to_string(ERROR_DISK_FULL) +
                  ", existingFile=" + m(source) + ", newFile=" + m(target));
    EXPECT_EQ(readAll(target) == old, true);
    EXPECT_EQ(leftovers(disk + L"\\", {"item.bin"}), Lines{});
    DeleteFileW(target.c_str());
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
