// Fuzz target for the readers of text the machine hands over (registry string data, INI section
// name lists) and of interface ids: never crash, never read past the input, and give back what a
// plain reading of the same bytes gives.
#include "hostutil/Guid.h"
#include "hostutil/SystemText.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Registry data: the text is a prefix of the units, without a null unit.
    const std::u16string text = hostutil::registryText(data, size);
    if (text.size() > size / 2 || text.find(u'\0') != std::u16string::npos)
        std::abort();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8)))
            std::abort();
    }

    // Name lists: every name is non-empty and null-free, and the names with their nulls are a
    // prefix of the input.
    const std::wstring list(reinterpret_cast<const char*>(data), reinterpret_cast<const char*>(data) + size);
    std::wstring joined;
    for (const std::wstring& name : hostutil::splitNullList(list)) {
        if (name.empty() || name.find(L'\0') != std::wstring::npos)
            std::abort();
        joined += name;
        joined += L'\0';
    }
    // The last name's null may be missing from the input.
    const size_t compared = std::min(joined.size(), list.size());
    if (joined.size() > list.size() + 1 || list.compare(0, compared, joined, 0, compared) != 0)
        std::abort();

    hostutil::Guid guid;
    const std::string guidText(reinterpret_cast<const char*>(data), size);
    if (hostutil::ParseGuid(guidText, guid) && guidText.size() != 36)
        std::abort();
    return 0;
}
