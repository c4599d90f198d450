// The install run's system calls on Windows.
#include "setup/win32/SystemInstallHost.h"

#include "hostutil/win32/BrowserUtil.h"
#include "hostutil/win32/FileSystem.h"
#include "lzari/win32/OpBinaryFile.h"
#include "platform/win32/Handle.h"
#include "platform/win32/LastError.h"
#include "setup/win32/AnsiText.h"

#include <utility>

namespace setup::win32 {

namespace {

using platform::win32::LastError;
using platform::win32::UniqueFile;

// The size the system reports for the file; what was written must be there in full before it
// replaces anything installed.
bool hasSize(const std::wstring& path, uint64_t size)
{
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER actual{};
    return file && GetFileSizeEx(file.get(), &actual) && static_cast<uint64_t>(actual.QuadPart) == size;
}

// Writes through the item stream and keeps the error of the first call that failed.
class StreamWriter final : public ItemWriter {
public:
    bool open(const std::wstring& path)
    {
        mPath = path;
        return mStream.Open(path, L"wb");
    }

    bool write(const uint8_t* data, size_t size) override
    {
        clearErrors();
        if (!mStream.Write(data, size))
            return fail();
        mWritten += size;
        return true;
    }

    bool close() override
    {
        clearErrors();
        if (!mStream.Close())
            return fail();
        if (!hasSize(mPath, mWritten))
            return fail(); // closed without complaint, yet not all there: the bytes were never taken
        return !mFailed;
    }

    void abandon() override { mStream.Close(); }

    uint32_t error() const override { return mError; }

private:
    // The stream leaves the system's error as the last call set it, and opening over the empty
    // unique file set 183 (it already existed): clear it before each call, so a failure names its
    // own cause.
    static void clearErrors()
    {
        SetLastError(0);
    }

    bool fail()
    {
        if (!mFailed) {
            mError = LastError::take().code;
            // A write that the disk cut short succeeds for the system, which then has nothing to
            // say (the runtime's errno is ENOSPC, Wine's EINVAL): a plain file that takes fewer
            // bytes than handed is full.
            if (mError == 0)
                mError = ERROR_DISK_FULL;
        }
        mFailed = true;
        return false;
    }

    COpBinaryFile mStream;
    std::wstring mPath;
    uint64_t mWritten = 0;
    uint32_t mError = 0;
    bool mFailed = false;
};

// Writes beside the target and swaps the whole file in on close.
class ReplacementWriter final : public ItemWriter {
public:
    explicit ReplacementWriter(std::wstring target) : mTarget(std::move(target)) {}

    bool open() { return mStaged.open(mTarget); }

    bool write(const uint8_t* data, size_t size) override { return mStaged.write(data, size); }

    bool close() override
    {
        return mStaged.finish() && hostutil::SwapInStaged(mStaged, mStaged.path(), mTarget) != 0;
    }

    // The staged file goes with the writer; the target was never touched.
    void abandon() override {}

    uint32_t error() const override { return mStaged.error(); }

private:
    std::wstring mTarget;
    hostutil::StagedFile mStaged;
};

} // namespace

std::wstring SystemInstallHost::fromAnsi(std::string_view bytes) const
{
    return ansiToWide(bytes);
}

void SystemInstallHost::createFolder(const std::wstring& folder) const
{
    hostutil::CFileSystem::RecursiveCreateFolder(folder);
}

void SystemInstallHost::toLower(std::wstring& text)
{
    if (!text.empty())
        CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
}

std::wstring SystemInstallHost::tempFolder()
{
    return hostutil::GetTempFolder();
}

bool SystemInstallHost::pathExists(const std::wstring& path)
{
    return hostutil::PathExists(path);
}

std::unique_ptr<ItemWriter> SystemInstallHost::create(const std::wstring& path)
{
    auto writer = std::make_unique<StreamWriter>();
    if (!writer->open(path))
        return nullptr;
    return writer;
}

std::wstring SystemInstallHost::makeTempFile(const std::wstring& folder, const std::wstring& prefix)
{
    return hostutil::MakeTempFileName(folder, prefix);
}

std::unique_ptr<ItemWriter> SystemInstallHost::createReplacement(const std::wstring& target)
{
    auto writer = std::make_unique<ReplacementWriter>(target);
    if (!writer->open()) {
        // Kept for lastError(): the writer that knew it goes now.
        mError = writer->error();
        return nullptr;
    }
    return writer;
}

uint32_t SystemInstallHost::lastError()
{
    if (mError != 0)
        return std::exchange(mError, 0u);
    return LastError::take().code;
}

std::wstring SystemInstallHost::fileVersion(const std::wstring& path)
{
    return hostutil::GetFileVersion(path);
}

void SystemInstallHost::replaceFile(const std::wstring& from, const std::wstring& to)
{
    hostutil::ForceCopyFile(from, to);
}

void SystemInstallHost::deleteFile(const std::wstring& path)
{
    hostutil::DeleteFile(path);
}

void SystemInstallHost::removeFile(const std::wstring& path)
{
    DeleteFileW(path.c_str());
}

std::array<std::wstring, 4> SystemInstallHost::pluginFolders()
{
    namespace browser = hostutil::browserUtil;
    return {browser::GetChromePluginPath(), browser::GetFireFoxPluginPath(),
            browser::GetFireFoxAppDataPath(false), browser::GetFireFoxAppDataPath(true)};
}

bool SystemInstallHost::launch(const std::wstring& program, const std::wstring& commandLine)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    // The command line alone, without the program's path: the program sees exactly what was
    // configured. CreateProcessW may write into it.
    std::wstring line = commandLine;
    const BOOL started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    // Nothing waits for the program; its handles are not needed.
    platform::win32::UniqueHandle processHandle(process.hProcess);
    platform::win32::UniqueHandle threadHandle(process.hThread);
    return started != 0;
}

} // namespace setup::win32
