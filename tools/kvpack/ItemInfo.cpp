// Reading packaged items with the image reader, over the payload bytes in place.
#include "tools/kvpack/ItemInfo.h"

#include "peimage/FileMapping.h"
#include "peimage/Win6432PE.h"
#include "platform/TextConvert.h"

#include <cstdio>

namespace kvpack {

ImageInfo describeImage(const uint8_t* data, size_t size)
{
    ImageInfo info;
    peimage::CWin6432PE reader(peimage::BufferMapping::maker(data, size));
    if (!reader.open(L"item"))
        return info;
    info.image = true;
    info.machine = reader.getMachineType();
    info.fileVersion = platform::wideToUtf8(reader.getFileVersion());
    info.productVersion = platform::wideToUtf8(reader.getProductVersion());
    return info;
}

std::string imageSummary(const ImageInfo& info)
{
    if (!info.image)
        return {};
    std::string text;
    if (info.machine == peimage::kMachineI386) {
        text = "PE32 i386";
    } else if (info.machine == peimage::kMachineAmd64) {
        text = "PE32+ x64";
    } else {
        char machine[32];
        std::snprintf(machine, sizeof machine, "PE machine 0x%04X", info.machine);
        text = machine;
    }
    if (info.fileVersion.empty())
        return text + ", no file version";
    return text + ", file version " + info.fileVersion + ", product version " + info.productVersion;
}

namespace {

ImageInfo describeEntry(const InstallerReport& report, uint32_t entry)
{
    const auto& e = report.directory.pFile[entry];
    if (e.Size == 0 || uint64_t(e.Offset) + e.Size > report.payload.size())
        return {};
    return describeImage(report.payload.data() + e.Offset, e.Size);
}

} // namespace

std::string itemImageNote(const InstallerReport& report, uint32_t entry)
{
    const std::string summary = imageSummary(describeEntry(report, entry));
    return summary.empty() ? summary : "  [" + summary + "]";
}

std::vector<std::string> imageLines(const InstallerReport& report)
{
    std::vector<std::string> lines;
    for (uint32_t i : processingOrder(report.directory)) {
        const std::string summary = imageSummary(describeEntry(report, i));
        if (!summary.empty())
            lines.push_back("image " + report.directory.pFile[i].szFileName + ": " + summary);
    }
    if (lines.empty())
        lines.push_back("no item is an executable image");
    return lines;
}

} // namespace kvpack
