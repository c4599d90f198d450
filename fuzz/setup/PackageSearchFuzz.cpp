// Fuzz target: image end, package search and header checks over any file stay inside it, a
// package they accept really carries its CRC, and its copy in pieces gives the bytes checked.
#include "setup/Crc16.h"
#include "setup/PackageFormat.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    setup::MemoryReader reader(data, size);
    const setup::ImageEnd end = setup::computeImageEnd(reader);
    const setup::PackageBlock block = setup::readPackage(reader, end.offset);
    if (block.check == setup::PackageCheck::Ok) {
        if (block.data.size() != block.dwLength || block.dwLength >= size ||
            setup::Crc16(block.data.data(), block.data.size()) != block.uiCrc)
            std::abort();
        std::vector<uint8_t> copied;
        const setup::BlockCopy copy = setup::copyPackageBlock(reader, block, [&](const uint8_t* p, size_t n) {
            copied.insert(copied.end(), p, p + n);
            return true;
        });
        if (copy != setup::BlockCopy::Ok || copied != block.data)
            std::abort();
    }
    return 0;
}
