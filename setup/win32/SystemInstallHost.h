// The install host of the running system: the ANSI code page, files staged beside their targets
// through the host utilities, the browser plug-in folders and process creation.
#pragma once

#include "setup/Install.h"

#include <functional>
#include <string>
#include <utility>

namespace setup::win32 {

class SystemInstallHost final : public InstallHost {
public:
    using FolderLookup = std::function<std::wstring()>;

    // The local application-data folder comes from `localAppDataFolder`, so tests can name one.
    explicit SystemInstallHost(FolderLookup localAppDataFolder)
        : mLocalAppDataFolder(std::move(localAppDataFolder))
    {
    }

    std::wstring fromAnsi(std::string_view bytes) const override;
    std::wstring localAppDataFolder() const override { return mLocalAppDataFolder(); }
    void createFolder(const std::wstring& folder) const override;

    void toLower(std::wstring& text) override;
    bool pathExists(const std::wstring& path) override;
    std::unique_ptr<ItemWriter> createReplacement(const std::wstring& target, ReplaceLines lines) override;
    uint32_t lastError() override;
    std::wstring fileVersion(const std::wstring& path) override;
    std::array<std::wstring, 4> pluginFolders() override;
    bool launch(const std::wstring& program, const std::wstring& commandLine) override;

private:
    FolderLookup mLocalAppDataFolder;
    uint32_t mError = 0; // a failure already taken, for the next lastError()
};

} // namespace setup::win32
