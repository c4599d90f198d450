// Fuzz target: image end, package search and header checks over any file stay inside it, and
// a package they accept really carries its CRC.
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
    }
    return 0;
}
