// Version splitting, comparison, and the file version through the image reader.
#include "hostutil/Version.h"

#include "hostutil/DpxUtil.h"
#include "peimage/Win6432PE.h"

#include <algorithm>
#include <limits>

namespace hostutil {

namespace {

std::wstring trimSpaces(const std::wstring& piece)
{
    const size_t first = piece.find_first_not_of(L' ');
    if (first == std::wstring::npos)
        return {};
    const size_t last = piece.find_last_not_of(L' ');
    return piece.substr(first, last - first + 1);
}

std::vector<std::wstring> splitAt(const std::wstring& text, wchar_t separator)
{
    std::vector<std::wstring> pieces;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        pieces.push_back(
            trimSpaces(text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start)));
        if (end == std::wstring::npos)
            return pieces;
        start = end + 1;
    }
}

bool isWhiteSpace(wchar_t c)
{
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}

} // namespace

std::vector<std::wstring> SplitVersion(const std::wstring& text)
{
    if (text.empty())
        return {};
    std::vector<std::wstring> pieces = splitAt(text, L',');
    if (pieces.size() < 2)
        pieces = splitAt(text, L'.');
    if (pieces.size() == 5)
        pieces.erase(pieces.begin() + 3);
    return pieces;
}

int32_t versionComponentValue(const std::wstring& text)
{
    size_t i = 0;
    while (i < text.size() && isWhiteSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-'))
        negative = text[i++] == L'-';
    // Accumulated as a magnitude that stops growing once it passes the limit, so any number of
    // digits converts without overflow.
    const uint64_t limit = negative ? uint64_t(std::numeric_limits<int32_t>::max()) + 1
                                    : uint64_t(std::numeric_limits<int32_t>::max());
    uint64_t magnitude = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i)
        magnitude = std::min<uint64_t>(magnitude * 10 + uint64_t(text[i] - L'0'), limit);
    return negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude))
                    : static_cast<int32_t>(magnitude);
}

bool VersionGreator(const std::wstring& version1, const std::wstring& version2, int count)
{
    if (count > 4)
        return false;
    const std::vector<std::wstring> parts1 = SplitVersion(version1);
    const std::vector<std::wstring> parts2 = SplitVersion(version2);
    if (parts1.size() != 4 || parts2.size() != 4) {
        dpxUtil(3, "dpx>>fileSystem>>VersionGreator failed, invalid input", utf8Item("version1", version1),
                utf8Item("version2", version2));
        return false;
    }
    for (int i = 0; i < count; ++i) {
        const int32_t a = versionComponentValue(parts1[i]);
        const int32_t b = versionComponentValue(parts2[i]);
        if (a != b)
            return a > b;
    }
    return false;
}

std::wstring GetFileVersion(const std::wstring& path, const peimage::MappingMaker& makeMapping)
{
    const auto reader = std::make_shared<peimage::CWin6432PE>(makeMapping);
    return reader->open(path) ? reader->getFileVersion() : std::wstring();
}

} // namespace hostutil
