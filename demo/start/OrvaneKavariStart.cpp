// The demo start program: started with "/r", as the installer starts it after an install, it
// appends its command line to "OrvaneKavariStart.record" beside itself and exits; otherwise it
// only exits. It shows no window either way.
#include "platform/win32/Handle.h"
#include "platform/win32/Windows.h"

namespace {

// Paths up to the longest the system allows; the program uses no C++ library, so it stays small.
constexpr DWORD kMaxPath = 32768;
wchar_t gPath[kMaxPath];

bool isBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

bool hasArgument(const wchar_t* commandLine, const wchar_t* wanted)
{
    // The installer passes the configured arguments alone, without the program's own path, so
    // every blank-separated word counts.
    for (const wchar_t* at = commandLine; *at != L'\0';) {
        while (isBlank(*at))
            ++at;
        const wchar_t* end = at;
        while (*end != L'\0' && !isBlank(*end))
            ++end;
        const wchar_t* w = wanted;
        const wchar_t* c = at;
        while (c < end && *w != L'\0' && *c == *w) {
            ++c;
            ++w;
        }
        if (end > at && c == end && *w == L'\0')
            return true;
        at = end;
    }
    return false;
}

void appendRecord(const wchar_t* commandLine)
{
    const DWORD length = GetModuleFileNameW(nullptr, gPath, kMaxPath);
    if (length == 0 || length >= kMaxPath)
        return;
    DWORD folderEnd = length;
    while (folderEnd > 0 && gPath[folderEnd - 1] != L'\\')
        --folderEnd;
    const wchar_t kName[] = L"OrvaneKavariStart.record";
    if (folderEnd + sizeof(kName) / sizeof(kName[0]) > kMaxPath)
        return;
    for (DWORD i = 0; i < sizeof(kName) / sizeof(kName[0]); ++i)
        gPath[folderEnd + i] = kName[i];

    const platform::win32::UniqueFile file(CreateFileW(gPath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    // One line in UTF-8; a command line holds at most 32767 units, three bytes each at most.
    static char line[3 * kMaxPath + 1];
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, line, sizeof(line) - 1, nullptr, nullptr);
    if (bytes <= 0)
        return;
    line[bytes - 1] = '\n'; // in place of the terminating zero
    DWORD written = 0;
    WriteFile(file.get(), line, static_cast<DWORD>(bytes), &written, nullptr);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const wchar_t* commandLine = GetCommandLineW();
    if (hasArgument(commandLine, L"/r"))
        appendRecord(commandLine);
    return 0;
}
