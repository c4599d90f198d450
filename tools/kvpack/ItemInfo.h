// Which packaged items are executable images and which versions they carry, as the setup
// program's replacement decision will read them.
#pragma once

#include "tools/kvpack/Installer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kvpack {

struct ImageInfo {
    bool image = false; // the image reader opens it
    uint16_t machine = 0;
    std::string fileVersion; // empty when it has no version resource
    std::string productVersion;
};

ImageInfo describeImage(const uint8_t* data, size_t size);

// "PE32 i386, file version 1.2.3.4, product version 1.2.3.4", or "" for an item that is no image.
std::string imageSummary(const ImageInfo& info);

// For list: "  [summary]" behind an item that is an image, else "".
std::string itemImageNote(const InstallerReport& report, uint32_t entry);

// For verify: one line per image item in processing order, or one line saying there is none.
std::vector<std::string> imageLines(const InstallerReport& report);

} // namespace kvpack
