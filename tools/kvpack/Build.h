// Building an installer: a stub's image with a package of items behind it.
#pragma once

#include "setup/PackageDirectory.h"
#include "tools/kvpack/Installer.h"

#include <string>
#include <vector>

namespace kvpack {

struct BuildOptions {
    bool replace = false; // cut off a package the stub already carries
    bool fast = false;    // greedy matching instead of the best the encoder does
    // Accept a stub whose image end the setup program cannot compute (a 64-bit build for tests
    // under 64-bit Wine): its search then starts inside the image and takes the first magic it
    // meets, so the package goes at the stub's very end and the stub must not hold the magic.
    bool testStub = false;
};

struct BuildResult {
    std::vector<uint8_t> installer; // empty when `problem` is set
    std::string problem;
    std::vector<std::string> warnings;
    uint64_t payloadSize = 0;
    uint64_t streamSize = 0;
};

// Checks the items' names and order and the stub, lays out and compresses the payload, and
// decodes the result once more to prove that the setup program will read exactly these items.
BuildResult buildInstaller(const std::vector<uint8_t>& stub, const std::vector<setup::PackageItem>& items,
                           const BuildOptions& options, const Progress& progress = {});

// Where the package goes in the stub (`packageAt`), or why the stub cannot carry one.
std::string stubProblem(const std::vector<uint8_t>& stub, const BuildOptions& options, uint32_t& packageAt);

} // namespace kvpack
