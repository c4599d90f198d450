// Where the package stands in the setup program's file, and its 12-byte header with the CRC check.
#pragma once

#include "setup/ByteReader.h"

#include <cstdint>
#include <functional>
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
    uint64_t dataOffset = 0;  // where the data block starts, behind the header
    uint32_t dwLength = 0;
    uint32_t uiCrc = 0;
    uint32_t ncrc = 0;
    uint32_t textSize = 0;     // the LZARI length field, the block's first 4 bytes (0 when shorter)
    std::vector<uint8_t> data; // readPackage only: the block, zero-filled where the file was short
};

// The most of the data block held in memory at once by checkPackage and copyPackageBlock.
constexpr size_t kBlockPiece = size_t{1} << 20;

// Finds the package behind `imageEnd` and checks its header and CRC, logging the setup program's
// lines. The block is read in pieces and none of it is kept, so a block of any length costs one
// piece; bytes the file lacks count as zeros. The file's size is taken as 32 bits, as the setup
// program takes it.
PackageBlock checkPackage(ByteReader& file, uint32_t imageEnd);

// checkPackage, then the block read whole into `data` (OutOfMemory when it cannot be held): for
// the packer, which inspects installers it already holds in memory.
PackageBlock readPackage(ByteReader& file, uint32_t imageEnd);

enum class BlockCopy {
    Ok,
    WriteFailed, // `write` refused a piece; nothing more was handed to it
    Changed,     // the file no longer holds the bytes that were checked: what was written is void
};

// Hands a block that checkPackage passed to `write` in pieces of at most kBlockPiece bytes, as the
// check read them, and checks their CRC once more on the way, since the file can change between
// the two reads.
BlockCopy copyPackageBlock(ByteReader& file, const PackageBlock& block,
                           const std::function<bool(const uint8_t*, size_t)>& write);

// The 12-byte header for a package data block: magic, length, CRC.
std::vector<uint8_t> makePackageHeader(const std::vector<uint8_t>& block);

} // namespace setup
