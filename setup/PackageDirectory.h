// The payload's item table: the directory block at the payload's end, read and written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace setup {

struct PackageFileEntry {
    uint32_t Offset = 0;
    uint32_t Size = 0;
    uint32_t Length = 0;
    std::string szFileName; // Length bytes in the ANSI code page (std::string keeps the zero)
};

struct PackageHeader {
    uint32_t cbSize = 0;
    uint32_t Count = 0;
    std::vector<PackageFileEntry> pFile; // entry number i at index i
};

// Parses a directory block. A block whose counters or name lengths would take the parse before
// the block's start is malformed: it yields Count 0 and an empty table, and `malformed` (when
// given) is set, so nothing outside the block is ever read.
void CopyToHeaderStruct(const uint8_t* block, uint32_t len, PackageHeader& header, bool* malformed = nullptr);

// One item of a package to be built, in the order the setup program is to process it.
struct PackageItem {
    std::string name;
    std::vector<uint8_t> body;
};

// Lays out a payload: the bodies in the opposite order of the items from offset 0, then the
// directory block listing the items in their order. Throws std::length_error past 4 GiB.
std::vector<uint8_t> buildPayload(const std::vector<PackageItem>& items);

// Why a name cannot be an item name (empty when it can). Item names become file names on the
// installing machine, so only plain printable-ASCII names that Windows accepts as they are pass.
// "." passes only for an item without a body (`hasBody` false).
std::string itemNameProblem(const std::string& name, bool hasBody);

// Whether an item name, as the setup program reads it, is a plain file name that stays in the
// folder it is joined to and names an ordinary file there: no separator of either kind, no drive
// or colon, not "." or "..", no trailing dot or blank, no reserved device name (CON, PRN, AUX,
// NUL, COM0 to COM9, LPT0 to LPT9, CONIN$, CONOUT$, CLOCK$, with any extension), no control or
// wildcard characters. Unlike item names kvpack writes, any other character is accepted.
bool isPlainFileName(const std::wstring& name);

} // namespace setup
