// Path text helpers.
#include "hostutil/PathUtil.h"

namespace hostutil {

std::wstring CombinePath(const std::wstring& folder, const std::wstring& name, wchar_t separator)
{
    std::wstring result = folder;
    if (!result.empty() && result.back() != separator)
        result += separator;
    result += name;
    return result;
}

namespace {

// Only A to Z: the system's own case folding knows more letters, but the installer has always
// compared this way and a wider folding would call different files the same.
std::wstring comparable(const std::wstring& path)
{
    std::wstring text = path;
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    if (!text.empty() && text.back() == L'\\')
        text.pop_back();
    return text;
}

} // namespace

bool SamePath(const std::wstring& path1, const std::wstring& path2)
{
    if (path1.empty() || path2.empty())
        return false;
    return comparable(path1) == comparable(path2);
}

} // namespace hostutil
