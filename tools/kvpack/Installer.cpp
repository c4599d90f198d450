// Installer inspection: every check the setup program makes, then the decode and the directory.
#include "tools/kvpack/Installer.h"

#include "lzari/Codec.h"
#include "platform/Bytes.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace kvpack {

namespace {

std::string lowercase(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::string describe(setup::PackageCheck check)
{
    using setup::PackageCheck;
    std::string what;
    switch (check) {
    case PackageCheck::InvalidPackage:
        what = "no package at the image end nor behind it";
        break;
    case PackageCheck::Corrupted1:
        what = "16 bytes or fewer behind the package magic";
        break;
    case PackageCheck::Corrupted2:
        what = "package length missing or not below the file size";
        break;
    case PackageCheck::OutOfMemory:
        what = "package data block too large to hold in memory";
        break;
    case PackageCheck::CrcMismatch:
        what = "package CRC does not match its data";
        break;
    case PackageCheck::Ok:
        return "";
    }
    return what + " (the setup program logs \"" + setup::packageCheckMessage(check) + "\")";
}

void checkDirectory(InstallerReport& r)
{
    const size_t n = r.payload.size();
    if (n < 4) {
        r.problem = "payload of " + std::to_string(n) + " bytes has no directory size";
        return;
    }
    r.directorySize = platform::load32(&r.payload[n - 4]);
    if (r.directorySize == 0 || r.directorySize == 0xFFFFFFFF || r.directorySize > n) {
        r.problem = "directory size " + std::to_string(r.directorySize) + " does not fit a payload of " +
                    std::to_string(n) + " bytes";
        return;
    }
    bool malformed = false;
    setup::CopyToHeaderStruct(&r.payload[n - r.directorySize], r.directorySize, r.directory, &malformed);
    if (malformed) {
        r.problem = "directory is malformed: its counters or name lengths reach outside its " +
                    std::to_string(r.directorySize) + " bytes";
        return;
    }
    if (r.directory.cbSize != r.directorySize)
        r.warnings.push_back("directory records its size as " + std::to_string(r.directory.cbSize));

    bool sawItem = false;
    for (uint32_t i : processingOrder(r.directory)) {
        const auto& entry = r.directory.pFile[i];
        const std::string problem = setup::itemNameProblem(entry.szFileName, entry.Size != 0);
        if (!problem.empty()) {
            r.problem = "item " + std::to_string(i) + " \"" + entry.szFileName + "\": " + problem;
            return;
        }
        if (entry.Size != 0 && uint64_t(entry.Offset) + entry.Size > n) {
            r.problem = "item \"" + entry.szFileName + "\": body at " + std::to_string(entry.Offset) +
                        " of " + std::to_string(entry.Size) + " bytes lies outside the payload";
            return;
        }
        if (lowercase(entry.szFileName) == "extaction.bin" && sawItem)
            r.warnings.push_back("\"extaction.bin\" is not the first item: items before it install without "
                                 "the install configuration");
        if (entry.Size != 0)
            sawItem = true;
    }
    std::vector<std::string> names;
    for (uint32_t i : processingOrder(r.directory))
        if (r.directory.pFile[i].Size != 0)
            names.push_back(r.directory.pFile[i].szFileName);
    for (const std::string& clash : duplicateNames(names))
        r.warnings.push_back(clash + ": the setup program installs both onto one file");
}

} // namespace

std::vector<std::string> duplicateNames(const std::vector<std::string>& names)
{
    std::vector<std::string> clashes;
    std::map<std::string, std::string> seen; // lowercase name -> the first name given
    for (const std::string& name : names) {
        const auto [at, fresh] = seen.emplace(lowercase(name), name);
        if (fresh)
            continue;
        clashes.push_back(at->second == name
                              ? "item \"" + name + "\" appears twice"
                              : "items \"" + at->second + "\" and \"" + name + "\" differ only in case");
    }
    return clashes;
}

std::vector<uint32_t> processingOrder(const setup::PackageHeader& directory)
{
    std::vector<uint32_t> order;
    for (uint32_t i = directory.Count; i-- > 0;)
        order.push_back(i);
    return order;
}

InstallerReport inspectInstaller(const uint8_t* data, size_t size, bool decode, const Progress& progress)
{
    InstallerReport r;
    setup::MemoryReader reader(data, size);
    r.imageEnd = setup::computeImageEnd(reader);
    r.package = setup::readPackage(reader, r.imageEnd.offset);
    if (r.package.check != setup::PackageCheck::Ok) {
        r.problem = describe(r.package.check);
        return r;
    }
    if (r.imageEnd.stop != setup::ImageEndStop::Complete)
        r.warnings.push_back(
            "the image is not a complete PE32 image; the package was searched for from offset " +
            std::to_string(r.imageEnd.offset));
    else if (r.package.magicOffset != r.imageEnd.offset)
        r.warnings.push_back("package found " + std::to_string(r.package.magicOffset - r.imageEnd.offset) +
                             " bytes behind the image end");
    if (!decode)
        return r;

    const auto& stream = r.package.data;
    if (stream.size() < 4) {
        r.problem = "package stream of " + std::to_string(stream.size()) +
                    " bytes has no length head (the decoder raises its read error)";
        return r;
    }
    r.textSize = platform::load32(stream.data());
    const uint64_t plausible = lzari::plausibleTextSize(stream.size());
    if (r.textSize > plausible) {
        r.problem = "stream announces " + std::to_string(r.textSize) + " bytes, implausible for " +
                    std::to_string(stream.size()) + " compressed bytes (at most " +
                    std::to_string(plausible) + ")";
        return r;
    }
    r.payload = lzari::decode(stream.data(), stream.size(), r.textSize, progress);
    if (r.payload.size() != r.textSize) {
        r.problem = "the last match of the stream runs " + std::to_string(r.payload.size() - r.textSize) +
                    " bytes past its length, which moves the directory";
        return r;
    }
    checkDirectory(r);
    return r;
}

} // namespace kvpack
