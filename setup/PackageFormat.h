// Where the package stands in the setup program's file, and its 12-byte header with the CRC check.
#pragma once

#include "setup/ByteReader.h"

#include <cstdint>
#include <vector>

namespace setup {

constexpr uint32_t kPackageMagic = 0x2150494D; // "MIP!" read as a little-endian word

// The magic as the setup program's code must use it. Where the image-end arithmetic stops early
// (a 64-bit build), the search starts inside the program's own image, so the program must not
// carry the four bytes anywhere: they are kept rotated and turned back at run time.
uint32_t packageMagic();
constexpr uint32_t kPackageHeaderSize = 12;

// Why the image-end arithmetic stopped where it did. Only `Complete` is the true end of a PE32
// image; every other stop gives an offset inside the image, where the package search then starts.
enum class ImageEndStop {
    Complete,
    NoDosHeader,      // 0: the first 64 bytes could not be read
    NotPe32,          // e_lfanew + 4: no file header, or an optional header that is not 224 bytes
    NoOptionalHeader, // e_lfanew + 24
    SectionTableCut,  // the headers and sections counted before a section header was missing
    ZeroAlignment,    // FileAlignment 0: the unaligned sum, rather than a division by zero
};

struct ImageEnd {
    uint32_t offset = 0;
    ImageEndStop stop = ImageEndStop::NoDosHeader;
    uint32_t fileAlignment = 0;
    uint16_t numberOfSections = 0;
};

// The arithmetic of GetPEFileSize over an open file: headers plus raw section sizes, then one
// whole FileAlignment more. All 32-bit unsigned, wrapping as the setup program's does.
ImageEnd computeImageEnd(ByteReader& file);

// Looks for the magic at `start`, then forward from start + 4 in 512-byte blocks that overlap by
// 3 bytes. On success the position is just behind the magic.
bool LocatePackage(ByteReader& file, uint32_t start);

// The checks of reading the package, in the order the setup program makes them.
enum class PackageCheck {
    Ok,
    InvalidPackage, // no magic at the image end nor after it
    Corrupted1,     // 16 bytes or fewer behind the magic
    Corrupted2,     // length word unreadable or not below the file size
    OutOfMemory,    // the data block could not be allocated
    CrcMismatch,
};

// The message the setup program logs for a failed check (empty for Ok).
const char* packageCheckMessage(PackageCheck check);

struct PackageBlock {
    PackageCheck check = PackageCheck::InvalidPackage;
    uint64_t magicOffset = 0; // where the header starts, when the magic was found
    uint32_t dwLength = 0;
    uint32_t uiCrc = 0;
    uint32_t ncrc = 0;
    std::vector<uint8_t> data; // the package data block, zero-filled where the file was short
};

// Finds the package behind `imageEnd` and checks its header and CRC. The file's size is taken as
// 32 bits, as the setup program takes it.
PackageBlock readPackage(ByteReader& file, uint32_t imageEnd);

// The 12-byte header for a package data block: magic, length, CRC.
std::vector<uint8_t> makePackageHeader(const std::vector<uint8_t>& block);

} // namespace setup
