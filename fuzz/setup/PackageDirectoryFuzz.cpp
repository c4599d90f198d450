// Fuzz target: the directory parser never reads outside the block, and what it yields fits in it.
#include "setup/PackageDirectory.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0xFFFFFFFF)
        return 0;
    setup::PackageHeader header;
    bool malformed = false;
    setup::CopyToHeaderStruct(data, static_cast<uint32_t>(size), header, &malformed);
    uint64_t used = 8;
    for (const auto& entry : header.pFile) {
        used += 12 + entry.szFileName.size();
        if (entry.szFileName.size() != entry.Length)
            std::abort();
    }
    if (header.pFile.size() != header.Count || (header.Count != 0 && used > size) ||
        (malformed && header.Count != 0))
        std::abort();
    return 0;
}
