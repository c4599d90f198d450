// Synthetic executable images for package tests: just the header fields the image-end
// arithmetic reads, with the section bodies as zero bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace testimages {

struct ImageShape {
    uint32_t lfanew = 0x80;
    uint16_t sizeOfOptionalHeader = 224; // 240 for a 64-bit image
    uint32_t fileAlignment = 512;
    std::vector<uint32_t> rawSizes = {0x200, 0x400};
};

inline void put16(std::vector<uint8_t>& v, size_t at, uint16_t x)
{
    v[at] = uint8_t(x);
    v[at + 1] = uint8_t(x >> 8);
}

inline void put32(std::vector<uint8_t>& v, size_t at, uint32_t x)
{
    for (int i = 0; i < 4; ++i)
        v.at(at + i) = uint8_t(x >> (8 * i));
}

// The offset at which the arithmetic says this image ends.
inline uint32_t expectedEnd(const ImageShape& s)
{
    uint32_t end = s.lfanew + 248 + 40 * uint32_t(s.rawSizes.size());
    for (uint32_t r : s.rawSizes)
        end += r;
    return (end / s.fileAlignment + 1) * s.fileAlignment;
}

// Headers, then zeros up to the computed end, so that a package can follow at once.
inline std::vector<uint8_t> makeImage(const ImageShape& s)
{
    const size_t headers = s.lfanew + 4 + 20 + s.sizeOfOptionalHeader + 40 * s.rawSizes.size();
    std::vector<uint8_t> image(std::max<size_t>(
        headers, s.sizeOfOptionalHeader == 224 && s.fileAlignment ? expectedEnd(s) : headers));
    image[0] = 'M';
    image[1] = 'Z';
    put32(image, 60, s.lfanew);
    std::memcpy(&image[s.lfanew], "PE\0\0", 4);
    const size_t fileHeader = s.lfanew + 4;
    put16(image, fileHeader, s.sizeOfOptionalHeader == 224 ? 0x14C : 0x8664);
    put16(image, fileHeader + 2, uint16_t(s.rawSizes.size()));
    put16(image, fileHeader + 16, s.sizeOfOptionalHeader);
    const size_t optional = fileHeader + 20;
    put16(image, optional, s.sizeOfOptionalHeader == 224 ? 0x10B : 0x20B);
    put32(image, optional + 36, s.fileAlignment);
    size_t section = optional + s.sizeOfOptionalHeader;
    for (uint32_t raw : s.rawSizes) {
        put32(image, section + 16, raw);
        section += 40;
    }
    return image;
}

inline std::vector<uint8_t> bytesOf(const std::string& s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

} // namespace testimages
