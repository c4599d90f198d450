// Reading and writing the package directory block.
#include "setup/PackageDirectory.h"

#include "platform/Bytes.h"
#include "setup/Dpx.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string_view>

namespace setup {

// The directory block, read forwards; every integer is a little-endian u32:
//
//   +---------------------+-----+---------------------+-------+--------+
//   | entry Count-1       | ... | entry 0             | Count | cbSize |
//   +---------------------+-----+---------------------+-------+--------+
//   one entry: | szFileName (Length bytes) | Length | Size | Offset |
//
// The parse runs backwards from the end with a cursor that counts bytes from the end.
void CopyToHeaderStruct(const uint8_t* block, uint32_t len, PackageHeader& header, bool* malformed)
{
    header = PackageHeader{};
    const auto reject = [&](uint32_t entry) {
        header.Count = 0;
        dpx(3, "InstallKavariAddOn>>CopyToHeaderStruct.malformed", uintItem("len", len),
            uintItem("i", entry));
        if (malformed)
            *malformed = true;
    };
    if (malformed)
        *malformed = false;
    if (len < 8)
        return reject(0);
    header.cbSize = platform::load32(block + len - 4);
    header.Count = platform::load32(block + len - 8);
    dpx(1, "InstallKavariAddOn>>CopyToHeaderStruct", uintItem("len", len),
        uintItem("header.cbSize", header.cbSize), uintItem("header.Count", header.Count));

    // Walk once without keeping anything, so that a hostile Count cannot make the table grow
    // beyond what the block can hold, and a bad entry leaves no half-filled table behind.
    uint64_t cursor = 8;
    for (uint32_t i = 0; i < header.Count; ++i) {
        if (cursor + 12 > len)
            return reject(i);
        cursor += 12 + uint64_t(platform::load32(block + len - (cursor + 12)));
        if (cursor > len)
            return reject(i);
    }

    header.pFile.reserve(header.Count);
    cursor = 8;
    for (uint32_t i = 0; i < header.Count; ++i) {
        PackageFileEntry entry;
        cursor += 4;
        entry.Offset = platform::load32(block + len - cursor);
        cursor += 4;
        entry.Size = platform::load32(block + len - cursor);
        cursor += 4;
        entry.Length = platform::load32(block + len - cursor);
        const uint8_t* name = block + len - cursor - entry.Length;
        entry.szFileName.assign(reinterpret_cast<const char*>(name), entry.Length);
        cursor += entry.Length;
        dpx(1, "InstallKavariAddOn>>CopyToHeaderStruct,", intItem("i", int32_t(i)),
            rlxutil::LogItem(rlxutil::maskedValue(entry.szFileName.c_str()), "header.pFile[i].szFileName"),
            uintItem("header.pFile[i].Offset", entry.Offset),
            uintItem("header.pFile[i].Length", entry.Length), uintItem("header.pFile[i].Size", entry.Size));
        header.pFile.push_back(std::move(entry));
    }
}

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

bool isPlainFileName(const std::wstring& name)
{
    if (name.empty() || name == L"." || name == L"..")
        return false;
    for (const wchar_t c : name) {
        if (c < 0x20 || c == 0x7F || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos)
            return false;
    }
    if (name.back() == L'.' || name.back() == L' ')
        return false;
    // The system takes the part before the first dot, blanks at its end dropped, for the device.
    std::wstring base = name.substr(0, name.find(L'.'));
    while (!base.empty() && base.back() == L' ')
        base.pop_back();
    for (wchar_t& c : base)
        c = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$", L"CLOCK$"})
        if (base == device)
            return false;
    const bool numbered = base.size() == 4 && base[3] >= L'0' && base[3] <= L'9';
    return !(numbered && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0));
}

} // namespace setup
