// Reading an installer as the setup program does, check by check, for list, verify and extract.
#pragma once

#include "setup/PackageDirectory.h"
#include "setup/PackageFormat.h"

#include <functional>
#include <string>
#include <vector>

namespace kvpack {

using Progress = std::function<void(uint64_t done, uint64_t total)>;

struct InstallerReport {
    setup::ImageEnd imageEnd;
    setup::PackageBlock package;
    uint32_t textSize = 0;        // the length the stream head announces
    std::vector<uint8_t> payload; // the decoded stream, as the setup program's decoder writes it
    uint32_t directorySize = 0;   // the payload's last 4 bytes
    setup::PackageHeader directory;
    std::string problem; // the first check that failed; empty when the installer is sound
    std::vector<std::string> warnings;

    bool ok() const { return problem.empty(); }
};

// Checks the header and CRC; with `decode`, also decodes the stream and checks the directory and
// every item in it. Stops at the first failed check, which `problem` names.
// The length field must lie within what the stream's bits can plausibly yield
// (lzari::plausibleTextSize), so a hostile one never makes the decoder run on its own 1-bits.
// Reads only [data, data + size).
InstallerReport inspectInstaller(const uint8_t* data, size_t size, bool decode,
                                 const Progress& progress = {});
inline InstallerReport inspectInstaller(const std::vector<uint8_t>& file, bool decode,
                                        const Progress& progress = {})
{
    return inspectInstaller(file.data(), file.size(), decode, progress);
}

// Names that the setup program would install onto one file: the same name, or names that differ
// only in case. One text per clash, naming both entries.
std::vector<std::string> duplicateNames(const std::vector<std::string>& names);

// Entry numbers in the order the setup program processes them: Count-1 down to 0.
std::vector<uint32_t> processingOrder(const setup::PackageHeader& directory);

} // namespace kvpack
