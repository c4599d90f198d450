// The payload as the packer lays it out, and the item names it accepts: apart from the directory
// reader, which the setup program links, as it needs none of this.
#include "setup/PackageDirectory.h"

#include "platform/Bytes.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace setup {

std::vector<uint8_t> buildPayload(const std::vector<PackageItem>& items)
{
    constexpr uint64_t kLimit = 0xFFFFFFFF;
    uint64_t bodies = 0;
    uint64_t directory = 8;
    for (const auto& item : items) {
        bodies += item.body.size();
        directory += 12 + item.name.size();
    }
    if (bodies + directory > kLimit || items.size() > kLimit)
        throw std::length_error("the payload would exceed 4 GiB");

    std::vector<uint8_t> payload;
    payload.reserve(static_cast<size_t>(bodies + directory));
    std::vector<uint32_t> offsets(items.size());
    for (size_t k = items.size(); k-- > 0;) {
        offsets[k] = static_cast<uint32_t>(payload.size());
        payload.insert(payload.end(), items[k].body.begin(), items[k].body.end());
    }
    for (size_t k = 0; k < items.size(); ++k) {
        const auto& item = items[k];
        payload.insert(payload.end(), item.name.begin(), item.name.end());
        platform::append32(payload, static_cast<uint32_t>(item.name.size()));
        platform::append32(payload, static_cast<uint32_t>(item.body.size()));
        platform::append32(payload, offsets[k]);
    }
    platform::append32(payload, static_cast<uint32_t>(items.size()));
    platform::append32(payload, static_cast<uint32_t>(directory));
    return payload;
}

std::string itemNameProblem(const std::string& name, bool hasBody)
{
    if (name.empty())
        return "an item name must not be empty";
    if (name == ".")
        return hasBody ? "\".\" may only name an item without a body" : "";
    if (name == "..")
        return "\"..\" is not a file name";
    for (unsigned char c : name) {
        if (c < 0x20 || c > 0x7E)
            return "item names must be printable ASCII";
        if (c == '\\' || c == '/' || c == ':')
            return "an item name must be a plain file name, without a folder or drive";
        if (c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|')
            return std::string("'") + char(c) + "' is not allowed in a Windows file name";
    }
    if (name.back() == '.' || name.back() == ' ')
        return "a Windows file name must not end with a dot or a blank";

    // Device names stay devices with any extension ("nul.txt" is NUL).
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    std::transform(stem.begin(), stem.end(), stem.begin(), [](unsigned char c) { return std::toupper(c); });
    // CONIN$, CONOUT$ and CLOCK$ are devices too, and COM0 and LPT0 are taken like COM1 and LPT1.
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    bool reserved = std::find(std::begin(kDevices), std::end(kDevices), stem) != std::end(kDevices);
    if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
        stem[3] >= '0' && stem[3] <= '9')
        reserved = true;
    if (reserved)
        return "\"" + name + "\" is a reserved device name on Windows";
    return "";
}

} // namespace setup
