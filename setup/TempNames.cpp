// Recognising the temporary files of earlier runs by name.
#include "setup/TempNames.h"

namespace setup {

namespace {

wchar_t lower(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool startsWithFolded(const std::wstring& text, const wchar_t* prefix)
{
    size_t i = 0;
    for (; prefix[i] != L'\0'; ++i)
        if (i >= text.size() || lower(text[i]) != lower(prefix[i]))
            return false;
    return true;
}

bool isHexDigit(wchar_t c)
{
    c = lower(c);
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
}

} // namespace

bool isRunTemporaryName(const std::wstring& fileName)
{
    constexpr size_t kPrefix = 3;
    const std::wstring extension = L".tmp";
    if (fileName.size() < kPrefix + 1 + extension.size() || fileName.size() > kPrefix + 4 + extension.size())
        return false;
    if (!startsWithFolded(fileName, kDataBlockPrefix) && !startsWithFolded(fileName, kPayloadPrefix))
        return false;
    const size_t digitsEnd = fileName.size() - extension.size();
    for (size_t i = kPrefix; i < digitsEnd; ++i)
        if (!isHexDigit(fileName[i]))
            return false;
    return startsWithFolded(fileName.substr(digitsEnd), extension.c_str());
}

} // namespace setup
