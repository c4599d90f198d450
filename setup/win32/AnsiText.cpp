// The ANSI-code-page conversion through the system's converter, for item names and the install
// configuration.
#include "setup/win32/AnsiText.h"

#include "platform/win32/Windows.h"

#include <climits>

namespace setup::win32 {

std::wstring ansiToWide(std::string_view bytes)
{
    if (bytes.empty() || bytes.size() > INT_MAX)
        return {};
    const int length = static_cast<int>(bytes.size());
    const int wide = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    if (wide <= 0)
        return {};
    std::wstring text(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, text.data(), wide);
    return text;
}

} // namespace setup::win32
