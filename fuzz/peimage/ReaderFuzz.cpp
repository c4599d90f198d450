// Fuzz target: the image reader over any bytes stays inside them, its walk ends, and its version
// answers are four dotted numbers or nothing; the same bytes also go to the version block parser.
#include "peimage/FileMapping.h"
#include "peimage/VersionResource.h"
#include "peimage/Win6432PE.h"

#include <cstdlib>
#include <string>

namespace {

void checkDotted(const std::wstring& version)
{
    int dots = 0;
    for (wchar_t c : version) {
        if (c == L'.')
            ++dots;
        else if (c < L'0' || c > L'9')
            std::abort();
    }
    if (!version.empty() && dots != 3)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    peimage::CWin6432PE reader(peimage::BufferMapping::maker(data, size));
    if (reader.open(L"fuzz.exe")) {
        checkDotted(reader.getFileVersion());
        checkDotted(reader.getProductVersion());
        reader.getVersionString(L"CompanyName");
        reader.enumResources([data, size](peimage::ResourceItem* item) {
            if (item->dataSize > 0 && (item->data < data || item->data + item->dataSize > data + size))
                std::abort();
            return 1;
        });
    }
    const auto blockSize = static_cast<uint32_t>(size > 0xFFFF ? 0xFFFF : size);
    checkDotted(peimage::fixedFileVersion(data, blockSize));
    peimage::versionString(data, blockSize, L"FileDescription");
    return 0;
}
