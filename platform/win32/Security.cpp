// Security descriptors from their text.
#include "platform/win32/Security.h"

#include "platform/win32/SystemLibrary.h"

#include <sddl.h>

namespace platform::win32 {

UniqueLocal descriptorFromSddl(const wchar_t* text)
{
    using ConvertSddl = BOOL(WINAPI*)(LPCWSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG);
    // Looked up at run time: the oldest systems may lack it in the import library's view.
    const UniqueModule advapi = loadSystemLibrary(L"advapi32.dll");
    const auto convert =
        lookUp<ConvertSddl>(advapi.get(), "ConvertStringSecurityDescriptorToSecurityDescriptorW");
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!convert || !text || !convert(text, SDDL_REVISION_1, &descriptor, nullptr))
        return UniqueLocal();
    return UniqueLocal(descriptor);
}

} // namespace platform::win32
