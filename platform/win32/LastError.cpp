// GetLastError with FormatMessageW.
#include "platform/win32/LastError.h"

#include "platform/TextConvert.h"
#include "platform/win32/Handle.h"
#include "platform/win32/Windows.h"

namespace platform::win32 {

LastError LastError::take()
{
    return {GetLastError()};
}

std::string LastError::message() const
{
    LPWSTR buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    const UniqueLocal owner(buffer);
    std::wstring_view text(buffer ? buffer : L"", length);
    while (!text.empty() &&
           (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' || text.back() == L'.'))
        text.remove_suffix(1);
    if (text.empty())
        return "error " + std::to_string(code);
    return wideToUtf8(text);
}

} // namespace platform::win32
