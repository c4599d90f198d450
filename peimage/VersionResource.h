// The version numbers and strings inside the bytes of one version resource (a VS_VERSIONINFO
// block), the way the image reader's queries read them.
//
// Contract: reads only the `size` bytes at `data`; a block too short for what a query reads, or
// malformed in any way, gives an empty result. Every step of the string walk moves forward by a
// block's length of at least 6 bytes, so it ends within size / 6 steps.
#pragma once

#include <cstdint>
#include <string>

namespace peimage {

// "a.b.c.d" from the fixed part's dwFileVersionMS and dwFileVersionLS; empty below 64 bytes.
std::wstring fixedFileVersion(const uint8_t* data, uint32_t size);
// The same from dwProductVersionMS and dwProductVersionLS.
std::wstring fixedProductVersion(const uint8_t* data, uint32_t size);
// The value of `key` (ASCII letter case ignored) in the first string table of the StringFileInfo
// child; keys and values of 1024 units or more without a terminator count as empty.
std::wstring versionString(const uint8_t* data, uint32_t size, const std::wstring& key);

} // namespace peimage
