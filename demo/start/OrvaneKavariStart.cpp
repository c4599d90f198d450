// The demo start program: started with "/r", as the installer starts it after an install, it
// appends its command line to "OrvaneKavariStart.record" beside itself and exits; otherwise it
// only exits. It shows no window either way.
#include "platform/win32/Handle.h"
#include "platform/win32/Windows.h"

#include <cwctype>
#include <string>

namespace {

bool hasArgument(const std::wstring& commandLine, const std::wstring& wanted)
{
    // The installer passes the configured arguments alone, without the program's own path, so
    // every blank-separated word counts.
    size_t at = 0;
    while (at < commandLine.size()) {
        while (at < commandLine.size() && std::iswspace(commandLine[at]))
            ++at;
        size_t end = at;
        while (end < commandLine.size() && !std::iswspace(commandLine[end]))
            ++end;
        if (end > at && commandLine.compare(at, end - at, wanted) == 0)
            return true;
        at = end;
    }
    return false;
}

std::string toUtf8(const std::wstring& text)
{
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), length,
                            nullptr, nullptr);
    return utf8;
}

void appendRecord(const std::wstring& commandLine)
{
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    while (length == path.size()) {
        path.resize(path.size() * 2);
        length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    }
    path.resize(length);
    path.erase(path.find_last_of(L'\\') + 1);
    path += L"OrvaneKavariStart.record";
    const platform::win32::UniqueFile file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    const std::string line = toUtf8(commandLine) + "\n";
    DWORD written = 0;
    WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const std::wstring commandLine = GetCommandLineW();
    if (hasArgument(commandLine, L"/r"))
        appendRecord(commandLine);
    return 0;
}
