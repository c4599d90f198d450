// Installers laid out straight from the format, past every check kvpack's build makes.
#pragma once

#include "lzari/Codec.h"
#include "setup/PackageDirectory.h"
#include "setup/PackageFormat.h"
#include "tests/setup/TestImages.h"

#include <optional>

namespace kvpack_test {

// The test stub, the package header, the stream, and 32 bytes a tiny stream needs behind it to
// pass the header checks.
inline std::vector<uint8_t> installerOfStream(const std::vector<uint8_t>& stream)
{
    auto file = testimages::makeImage({});
    const auto header = setup::makePackageHeader(stream);
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), stream.begin(), stream.end());
    file.insert(file.end(), 32, 0);
    return file;
}

// The same over a payload; `textSize` replaces the stream's length field when given.
inline std::vector<uint8_t> installerOfPayload(const std::vector<uint8_t>& payload,
                                               std::optional<uint32_t> textSize = {})
{
    auto stream = lzari::encode(payload.data(), payload.size());
    if (textSize)
        testimages::put32(stream, 0, *textSize);
    return installerOfStream(stream);
}

inline std::vector<uint8_t> installerOf(const std::vector<setup::PackageItem>& items,
                                        std::optional<uint32_t> textSize = {})
{
    return installerOfPayload(setup::buildPayload(items), textSize);
}

} // namespace kvpack_test
