// The install run's system calls on Windows.
#include "setup/win32/SystemInstallHost.h"

#include "hostutil/win32/BrowserUtil.h"
#include "hostutil/win32/FileSystem.h"
#include "platform/win32/Handle.h"
#include "platform/win32/LastError.h"
#include "setup/win32/AnsiText.h"

#include <utility>

namespace setup::win32 {

using platform::win32::LastError;

namespace {

// Writes beside the target and swaps the whole file in on close.
class ReplacementWriter final : public ItemWriter {
public:
    ReplacementWriter(std::wstring target, ReplaceLines lines) : mTarget(std::move(target)), mLines(lines) {}

    bool open() { return mStaged.open(mTarget); }

    const std::wstring& path() const override { return mStaged.path(); }

    bool write(const uint8_t* data, size_t size) override { return mStaged.write(data, size); }

    bool close() override
    {
        if (mLines == ReplaceLines::forcedCopy)
            return hostutil::ForceCopyStaged(mStaged, mTarget) != 0;
        return mStaged.finish() && hostutil::SwapInStaged(mStaged, mStaged.path(), mTarget) != 0;
    }

    // The staged file goes with the writer; the target was never touched.
    void abandon() override {}

    uint32_t error() const override { return mStaged.error(); }

private:
    std::wstring mTarget;
    ReplaceLines mLines;
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

bool SystemInstallHost::pathExists(const std::wstring& path)
{
    return hostutil::PathExists(path);
}

std::unique_ptr<ItemWriter> SystemInstallHost::createReplacement(const std::wstring& target,
                                                                 ReplaceLines lines)
{
    auto writer = std::make_unique<ReplacementWriter>(target, lines);
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
