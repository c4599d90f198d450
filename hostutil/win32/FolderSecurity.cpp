// Folder rights inside the Program Files folder.
#include "hostutil/win32/FolderSecurity.h"

#include "platform/win32/Security.h"

#include <cwctype>

namespace hostutil {

using platform::win32::UniqueLocal;

namespace {

constexpr wchar_t kFolderSddl[] = L"D:(A;OICI;GA;;;BA)(A;OICI;GA;;;PU)(A;OICI;GRGX;;;BU)";

} // namespace

UniqueLocal makeFolderSecurityDescriptor()
{
    return platform::win32::descriptorFromSddl(kFolderSddl);
}

bool isUnderProgramFiles(const std::wstring& path, const std::wstring& programFilesDir)
{
    if (programFilesDir.empty())
        return false;
    auto lower = [](std::wstring text) {
        for (wchar_t& c : text)
            c = static_cast<wchar_t>(std::towlower(c));
        return text;
    };
    return lower(path).find(lower(programFilesDir)) != std::wstring::npos;
}

void applyFolderSecurity(const std::wstring& folder, const std::wstring& programFilesDir)
{
    if (!isUnderProgramFiles(folder, programFilesDir))
        return;
    const UniqueLocal descriptor = makeFolderSecurityDescriptor();
    if (descriptor)
        SetFileSecurityW(folder.c_str(), DACL_SECURITY_INFORMATION, descriptor.get());
}

} // namespace hostutil
