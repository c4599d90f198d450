// Fuzz target: any configuration bytes parse to values that are pieces of the text, and the path
// macros expand over whatever the parse left.
#include "setup/InstallConfig.h"

#include <cstdlib>

namespace {

class FuzzEnvironment : public setup::InstallEnvironment {
public:
    std::wstring fromAnsi(std::string_view bytes) const override { return setup::latin1ToWide(bytes); }
    std::wstring localAppDataFolder() const override { return L"C:\\#currentappdata#\\#Path#"; }
    void createFolder(const std::wstring&) const override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0xFFFFFFFF)
        return 0;
    const FuzzEnvironment environment;
    setup::resetInstallState();
    InitExtensionAction(data, static_cast<uint32_t>(size), environment);
    const std::wstring text =
        environment.fromAnsi(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const std::wstring* value :
         {&g_ExtensionPath, &g_strExcute, &g_strArgument, &g_strKavariExcute, &g_strKavariArgument}) {
        if (text.find(*value) == std::wstring::npos)
            std::abort();
    }
    InitGeneralInstallPath(L"", environment);
    return 0;
}
