// Text the system hands back in buffers: registry string data and lists of null-ended names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hostutil {

// Registry string data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) as RegQueryValueExW hands it over,
// UTF-16 little-endian:
//
//   offset  0     2           2n       2n+2
//          | u16 | u16 | ... | 0x0000 | further strings of a REG_MULTI_SZ, or nothing |
//
// Contract: reads only the `size` bytes at `data`; the text ends at the first null unit or at the
// end of the data, since writers need not store the terminator; an odd last byte is not half a
// unit and is dropped. Any bytes give a text (of a REG_MULTI_SZ the first string), never an error.
std::u16string registryText(const uint8_t* data, size_t size);

// Names as GetPrivateProfileSectionNamesW lists them: each ends with a null, the list with a
// second one.
//
//   | name0 | 0 | name1 | 0 | ... | nameN | 0 | 0 |
//
// Contract: reads only `list`; an empty name ends the list; a last name without its null, as at
// the end of the text, still counts whole (the caller only passes lists it knows are complete).
std::vector<std::wstring> splitNullList(std::wstring_view list);

} // namespace hostutil
