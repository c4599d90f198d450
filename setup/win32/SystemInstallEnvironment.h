// The install environment of the running system: the system's ANSI code page, and the folder
// lookups of the host utilities, which the driver hands in so that this library needs none.
#pragma once

#include "setup/InstallConfig.h"

#include <functional>
#include <string>
#include <utility>

namespace setup::win32 {

class SystemInstallEnvironment : public InstallEnvironment {
public:
    using FolderLookup = std::function<std::wstring()>;
    using FolderCreation = std::function<void(const std::wstring&)>;

    SystemInstallEnvironment(FolderLookup localAppDataFolder, FolderCreation createFolder)
        : mLocalAppDataFolder(std::move(localAppDataFolder)), mCreateFolder(std::move(createFolder))
    {
    }

    std::wstring fromAnsi(std::string_view bytes) const override;
    std::wstring localAppDataFolder() const override { return mLocalAppDataFolder(); }
    void createFolder(const std::wstring& folder) const override { mCreateFolder(folder); }

private:
    FolderLookup mLocalAppDataFolder;
    FolderCreation mCreateFolder;
};

} // namespace setup::win32
