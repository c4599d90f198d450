// A positioned byte source with the semantics of a Win32 file handle (seek past the end works,
// reads there yield nothing), so the package readers run the same over files and memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace setup {

class ByteReader {
public:
    virtual ~ByteReader() = default;
    // Moves to an absolute position; a position past the end is allowed.
    virtual bool seek(uint64_t position) = 0;
    virtual uint64_t position() const = 0;
    virtual uint64_t size() const = 0;
    // Reads up to `count` bytes at the position and advances past them; 0 on failure or at the end.
    virtual size_t read(uint8_t* destination, size_t count) = 0;
};

class MemoryReader final : public ByteReader {
public:
    MemoryReader(const uint8_t* data, size_t size) : mData(data), mSize(size) {}

    bool seek(uint64_t position) override
    {
        mPosition = position;
        return true;
    }
    uint64_t position() const override { return mPosition; }
    uint64_t size() const override { return mSize; }
    size_t read(uint8_t* destination, size_t count) override;

private:
    const uint8_t* mData;
    size_t mSize;
    uint64_t mPosition = 0;
};

} // namespace setup
