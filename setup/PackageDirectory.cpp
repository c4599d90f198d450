// Reading the package directory block, and what the setup program accepts as an item name.
#include "setup/PackageDirectory.h"

#include "platform/Bytes.h"
#include "setup/Dpx.h"

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
