// Readers of registry string data and of null-separated name lists.
#include "hostutil/SystemText.h"

namespace hostutil {

std::u16string registryText(const uint8_t* data, size_t size)
{
    std::u16string text;
    for (size_t offset = 0; offset + 1 < size; offset += 2) {
        const auto unit = static_cast<char16_t>(data[offset] | (data[offset + 1] << 8));
        if (unit == 0)
            break;
        text += unit;
    }
    return text;
}

std::vector<std::wstring> splitNullList(std::wstring_view list)
{
    std::vector<std::wstring> names;
    while (!list.empty() && list.front() != L'\0') {
        const size_t end = list.find(L'\0');
        names.emplace_back(list.substr(0, end));
        if (end == std::wstring_view::npos)
            break;
        list.remove_prefix(end + 1);
    }
    return names;
}

} // namespace hostutil
