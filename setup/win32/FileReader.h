// The package readers' byte source over an open Win32 file handle.
#pragma once

#include "platform/win32/Windows.h"
#include "setup/ByteReader.h"

namespace setup::win32 {

// Borrows the handle; reads past the end yield nothing, as ReadFile does.
class FileReader final : public ByteReader {
public:
    explicit FileReader(HANDLE file) : mFile(file) {}

    bool seek(uint64_t position) override;
    uint64_t position() const override;
    uint64_t size() const override;
    size_t read(uint8_t* destination, size_t count) override;

private:
    HANDLE mFile;
};

} // namespace setup::win32
