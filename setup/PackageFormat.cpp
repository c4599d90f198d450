// Image end, package search and header checks of the setup program's own file.
#include "setup/PackageFormat.h"

#include "platform/Bytes.h"
#include "setup/Crc16.h"
#include "setup/Dpx.h"

#include <algorithm>
#include <array>
#include <new>

namespace setup {

namespace {

// A read that "fails or yields 0 bytes" stops the arithmetic; a short one goes on with the rest
// of the buffer zero, where the setup program would see stale bytes.
template <size_t N> bool readSome(ByteReader& file, std::array<uint8_t, N>& buffer)
{
    buffer.fill(0);
    return file.read(buffer.data(), N) > 0;
}

} // namespace

uint32_t packageMagic()
{
    // volatile keeps the compiler from folding the rotation back into the plain constant.
    static volatile uint32_t rotated = (kPackageMagic << 8) | (kPackageMagic >> 24);
    const uint32_t value = rotated;
    return (value >> 8) | (value << 24);
}

// The headers as the arithmetic reads them (offsets within each read):
//
//   DOS header, 64 bytes          file header, 20 bytes        optional header, 224 bytes
//   +60 e_lfanew (u32)            +2  NumberOfSections (u16)   +36 FileAlignment (u32)
//                                 +16 SizeOfOptionalHeader
//   section header, 40 bytes
//   +16 SizeOfRawData (u32)
//
// The file header is read at e_lfanew + 4, behind the "PE\0\0" signature; neither signature is
// checked.
ImageEnd computeImageEnd(ByteReader& file)
{
    ImageEnd result;
    std::array<uint8_t, 64> dos;
    if (!file.seek(0) || !readSome(file, dos))
        return result;

    const uint32_t lfanew = platform::load32(&dos[60]);
    std::array<uint8_t, 20> fileHeader;
    result.stop = ImageEndStop::NotPe32;
    result.offset = lfanew + 4;
    if (!file.seek(result.offset) || !readSome(file, fileHeader) || platform::load16(&fileHeader[16]) != 224)
        return result;
    result.numberOfSections = platform::load16(&fileHeader[2]);

    std::array<uint8_t, 224> optionalHeader;
    result.stop = ImageEndStop::NoOptionalHeader;
    result.offset = lfanew + 24;
    if (!readSome(file, optionalHeader))
        return result;
    result.fileAlignment = platform::load32(&optionalHeader[36]);

    uint32_t end = lfanew + 4 + 20 + 224;
    std::array<uint8_t, 40> section;
    for (uint16_t i = 0; i < result.numberOfSections; ++i) {
        if (!readSome(file, section)) {
            result.stop = ImageEndStop::SectionTableCut;
            result.offset = end;
            return result;
        }
        end += 40 + platform::load32(&section[16]);
    }
    if (result.fileAlignment == 0) {
        result.stop = ImageEndStop::ZeroAlignment;
        result.offset = end;
        return result;
    }
    // One whole alignment more even when `end` is already aligned: the package stands there.
    result.stop = ImageEndStop::Complete;
    result.offset = (end / result.fileAlignment + 1) * result.fileAlignment;
    return result;
}

bool LocatePackage(ByteReader& file, uint32_t start)
{
    const uint32_t magic = packageMagic();
    std::array<uint8_t, 4> head{};
    if (file.seek(start) && file.read(head.data(), head.size()) == head.size() &&
        platform::load32(head.data()) == magic)
        return true;

    constexpr size_t kBlock = 512;
    std::array<uint8_t, kBlock> block;
    uint64_t position = file.position();
    size_t lastRead = kBlock;
    const uint64_t fileSize = file.size() & 0xFFFFFFFF;
    while (position < fileSize && lastRead == kBlock) {
        block.fill(0);
        if (!file.seek(position))
            return false;
        lastRead = file.read(block.data(), kBlock);
        for (size_t i = 0; i + 4 <= kBlock; ++i) {
            if (platform::load32(&block[i]) == magic)
                return file.seek(position + i + 4);
        }
        // Back by 3 so that a magic split across two blocks is whole in the next one. A short
        // read ends the loop, so the position can never fall behind the first block's start.
        position = position + lastRead - 3;
    }
    return false;
}

const char* packageCheckMessage(PackageCheck check)
{
    switch (check) {
    case PackageCheck::Ok:
        return "";
    case PackageCheck::InvalidPackage:
        return "InstallKavariAddOn>>invalid package.";
    case PackageCheck::Corrupted1:
        return "InstallKavariAddOn>>file corrupted.1";
    case PackageCheck::Corrupted2:
        return "InstallKavariAddOn>>file corrupted.2";
    case PackageCheck::OutOfMemory:
        return "InstallKavariAddOn>>out of memory.";
    case PackageCheck::CrcMismatch:
        return "InstallKavariAddOn>>crc verification failed.";
    }
    return "";
}

namespace {

// Reads the block at `block.dataOffset` piece by piece, each handed to `take` (which may stop the
// read by returning false), and returns their CRC. After a short read the rest is zeros, as the
// setup program's zero-filled buffer has always had it.
template <class Take> uint32_t readBlock(ByteReader& file, const PackageBlock& block, Take take)
{
    std::vector<uint8_t> piece(std::min<size_t>(block.dwLength, kBlockPiece));
    uint32_t crc = 0xFFFF;
    bool ended = !file.seek(block.dataOffset);
    for (uint32_t done = 0; done < block.dwLength;) {
        const size_t size = std::min<size_t>(block.dwLength - done, piece.size());
        size_t got = 0;
        while (!ended && got < size) {
            const size_t n = file.read(piece.data() + got, size - got);
            ended = n == 0;
            got += n;
        }
        std::fill(piece.begin() + got, piece.begin() + size, 0);
        crc = continueCrc16(crc, piece.data(), size);
        if (!take(piece.data(), size))
            break;
        done += static_cast<uint32_t>(size);
    }
    return crc;
}

} // namespace

PackageBlock checkPackage(ByteReader& file, uint32_t imageEnd)
{
    PackageBlock result;
    const auto fail = [&result](PackageCheck check) {
        result.check = check;
        dpx(check == PackageCheck::OutOfMemory ? 3 : 1, packageCheckMessage(check));
        return result;
    };
    if (!LocatePackage(file, imageEnd))
        return fail(PackageCheck::InvalidPackage);
    const uint64_t position = file.position();
    result.magicOffset = position - 4;
    const uint32_t fileSize = static_cast<uint32_t>(file.size());
    if (position >= fileSize || fileSize - position <= 16)
        return fail(PackageCheck::Corrupted1);
    std::array<uint8_t, 4> word{};
    if (file.read(word.data(), 4) != 4 || platform::load32(word.data()) >= fileSize)
        return fail(PackageCheck::Corrupted2);
    result.dwLength = platform::load32(word.data());
    word.fill(0);
    file.read(word.data(), 4); // not checked: a short read shows as a CRC difference
    result.uiCrc = platform::load32(word.data());
    result.dataOffset = result.magicOffset + kPackageHeaderSize;

    std::array<uint8_t, 4> head{};
    uint32_t headDone = 0;
    result.ncrc = readBlock(file, result, [&](const uint8_t* piece, size_t size) {
        while (headDone < head.size() && size > 0) {
            head[headDone++] = *piece++;
            --size;
        }
        return true;
    });
    if (result.dwLength >= head.size())
        result.textSize = platform::load32(head.data());
    dpx(1, "InstallKavariAddOn>>data-size", uintItem("dwLength", result.dwLength),
        uintItem("uiCrc", result.uiCrc), uintItem("ncrc", result.ncrc));
    if (result.uiCrc != result.ncrc)
        return fail(PackageCheck::CrcMismatch);
    result.check = PackageCheck::Ok;
    return result;
}

PackageBlock readPackage(ByteReader& file, uint32_t imageEnd)
{
    PackageBlock result = checkPackage(file, imageEnd);
    if (result.check != PackageCheck::Ok)
        return result;
    // More than this process can address is out of memory by another name. Asked before reserve(),
    // as the vector's length error is no std::length_error in the setup program
    // (setup/win32/LeanThrow.cpp).
    if (result.dwLength > result.data.max_size()) {
        result.check = PackageCheck::OutOfMemory;
    } else {
        try {
            result.data.reserve(result.dwLength);
        } catch (const std::bad_alloc&) {
            result.check = PackageCheck::OutOfMemory;
        }
    }
    if (result.check == PackageCheck::OutOfMemory) {
        dpx(3, packageCheckMessage(result.check));
        return result;
    }
    if (copyPackageBlock(file, result, [&result](const uint8_t* piece, size_t size) {
            result.data.insert(result.data.end(), piece, piece + size);
            return true;
        }) != BlockCopy::Ok) {
        result.check = PackageCheck::CrcMismatch;
        dpx(1, packageCheckMessage(result.check));
    }
    return result;
}

BlockCopy copyPackageBlock(ByteReader& file, const PackageBlock& block,
                           const std::function<bool(const uint8_t*, size_t)>& write)
{
    bool written = true;
    const uint32_t crc = readBlock(file, block, [&](const uint8_t* piece, size_t size) {
        written = write(piece, size);
        return written;
    });
    if (!written)
        return BlockCopy::WriteFailed;
    return crc == block.ncrc ? BlockCopy::Ok : BlockCopy::Changed;
}

std::vector<uint8_t> makePackageHeader(const std::vector<uint8_t>& block)
{
    std::vector<uint8_t> header;
    header.reserve(kPackageHeaderSize);
    platform::append32(header, packageMagic());
    platform::append32(header, static_cast<uint32_t>(block.size()));
    platform::append32(header, Crc16(block.data(), block.size()));
    return header;
}

} // namespace setup
