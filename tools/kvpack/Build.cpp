// The build command's core: stub checks, payload layout, compression, and the proof read.
#include "tools/kvpack/Build.h"

#include "lzari/Codec.h"
#include "platform/Bytes.h"

#include <algorithm>
#include <stdexcept>

namespace kvpack {

namespace {

// The first place at or behind `from` where the package magic stands; the size when nowhere.
size_t findMagic(const std::vector<uint8_t>& bytes, size_t from)
{
    static const uint8_t kMagic[] = {'M', 'I', 'P', '!'};
    if (from >= bytes.size())
        return bytes.size();
    const auto at = std::search(bytes.begin() + from, bytes.end(), std::begin(kMagic), std::end(kMagic));
    return static_cast<size_t>(at - bytes.begin());
}

} // namespace

std::string stubProblem(const std::vector<uint8_t>& stub, const BuildOptions& options, uint32_t& packageAt)
{
    setup::MemoryReader reader(stub.data(), stub.size());
    const setup::ImageEnd end = setup::computeImageEnd(reader);
    packageAt = end.offset;
    if (end.stop != setup::ImageEndStop::Complete && options.testStub) {
        if (stub.size() >= 0xFFFFFFFF)
            return "larger than an installer can be";
        if (findMagic(stub, end.offset) != stub.size())
            return "holds the package magic behind offset " + std::to_string(end.offset) +
                   ", where the setup program's search starts for this image";
        packageAt = static_cast<uint32_t>(stub.size());
        return "";
    }
    if (end.stop != setup::ImageEndStop::Complete)
        return "not a 32-bit (PE32) image with readable headers: the setup program would look for its "
               "package inside the image, from offset " +
               std::to_string(end.offset) + " (--test-stub accepts it for tests)";
    if (end.offset > stub.size())
        return "its image ends at " + std::to_string(end.offset) + ", beyond its " +
               std::to_string(stub.size()) + " bytes";
    if (end.offset == stub.size())
        return "";
    const bool carriesPackage =
        stub.size() - end.offset >= 4 && platform::load32(&stub[end.offset]) == setup::kPackageMagic;
    if (carriesPackage && options.replace)
        return "";
    const std::string what = carriesPackage ? "an earlier package; --replace replaces it"
                                            : "a symbol table or other data; strip the stub";
    return std::to_string(stub.size() - end.offset) + " bytes behind its image end at " +
           std::to_string(end.offset) + " (" + what + ")";
}

BuildResult buildInstaller(const std::vector<uint8_t>& stub, const std::vector<setup::PackageItem>& items,
                           const BuildOptions& options, const Progress& progress)
{
    BuildResult result;
    for (const auto& item : items) {
        const std::string problem = setup::itemNameProblem(item.name, !item.body.empty());
        if (!problem.empty()) {
            result.problem = "item \"" + item.name + "\": " + problem;
            return result;
        }
    }
    std::vector<std::string> names;
    for (const auto& item : items)
        if (!item.body.empty())
            names.push_back(item.name);
    const auto clashes = duplicateNames(names);
    if (!clashes.empty()) {
        result.problem = clashes.front() + ": the setup program would install both onto one file";
        return result;
    }
    uint32_t imageEnd = 0;
    const std::string stubIssue = stubProblem(stub, options, imageEnd);
    if (!stubIssue.empty()) {
        result.problem = "stub: " + stubIssue;
        return result;
    }

    // The payload's size as the layout counts it: bodies, then 12 bytes and the name per entry, 8 more.
    uint64_t payloadSize = 8;
    for (const auto& item : items)
        payloadSize += item.body.size() + 12 + item.name.size();
    if (payloadSize > 0xFFFFFFFF) {
        result.problem = "the payload would exceed 4 GiB";
        return result;
    }
    // One that fits the format but not this system's memory throws, for the caller to report.
    const std::vector<uint8_t> payload = setup::buildPayload(items);
    const auto stream =
        lzari::encode(payload.data(), payload.size(),
                      options.fast ? lzari::EncodeLevel::greedy : lzari::EncodeLevel::best, progress);
    // The stream must stay below the installer's own size, and the whole file below 4 GiB.
    if (uint64_t(imageEnd) + setup::kPackageHeaderSize + stream.size() > 0xFFFFFFFF) {
        result.problem = "the installer would exceed 4 GiB";
        return result;
    }
    result.payloadSize = payload.size();
    result.streamSize = stream.size();

    const auto header = setup::makePackageHeader(stream);
    result.installer.reserve(imageEnd + header.size() + stream.size());
    result.installer.assign(stub.begin(), stub.begin() + imageEnd);
    result.installer.insert(result.installer.end(), header.begin(), header.end());
    result.installer.insert(result.installer.end(), stream.begin(), stream.end());

    // The read-back also gives the warnings (item order, image end), judged as verify judges them.
    const InstallerReport check = inspectInstaller(result.installer, true);
    result.warnings = check.warnings;
    if (!check.ok() || check.payload != payload) {
        result.problem = "internal error: the built installer does not read back (" +
                         (check.ok() ? std::string("payload differs") : check.problem) + ")";
        result.installer.clear();
    }
    return result;
}

} // namespace kvpack
