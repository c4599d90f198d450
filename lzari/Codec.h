// LZARI streams decoded from and encoded into memory: the interface the packer and the tests use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <vector>

namespace lzari {

// Stream layout:
//
//   offset  size  field
//   0       4     uncompressed length, unsigned little-endian
//   4       ...   arithmetic-coded bits, most significant bit of each byte first; no terminator
//
// Bits asked for after the last byte read as 1, which lets an encoder drop trailing 1-bits.

// Called now and then with the bytes produced or consumed so far and the total expected.
using Progress = std::function<void(uint64_t done, uint64_t total)>;

// The stream is shorter than its 4-byte length field. code() is 1, the value the setup program's
// decoder has always raised for it.
class ReadError : public std::runtime_error {
public:
    ReadError() : std::runtime_error("Read Error") {}
    int code() const noexcept { return 1; }
};

// decode() refused a stream whose length field is above the caller's limit.
class OutputLimitError : public std::length_error {
public:
    OutputLimitError(uint64_t declared, uint64_t limit);
    uint64_t declared() const noexcept { return mDeclared; }

private:
    uint64_t mDeclared;
};

// Decoder contract: never reads outside [data, data + size) and never writes outside the returned
// vector. Every byte string decodes to something: a damaged stream gives length-field bytes of
// whatever its bits say, reading 1-bits once the data is used up, and a last match that runs past
// the length field is returned whole (up to kMaxMatch - 1 bytes more than the field says). These are
// exactly the bytes LZARI::DecodeFile writes.
// Throws ReadError when size < 4 and OutputLimitError when the length field exceeds maxOutput (the
// result can then be at most maxOutput + 59 bytes long).
std::vector<uint8_t> decode(const uint8_t* data, size_t size, uint64_t maxOutput,
                            const Progress& progress = {});

enum class EncodeLevel {
    greedy, // the longest (then nearest) match at every step: fast, the yardstick
    best,   // a parse priced with the adaptive model, never larger than greedy
};

// The stream decodes to exactly the input: the last match never runs past the end, and matches
// reference only bytes already written or the initial spaces. Throws std::length_error for an
// input longer than the 32-bit length field can state.
std::vector<uint8_t> encode(const uint8_t* data, size_t size, EncodeLevel level = EncodeLevel::best,
                            const Progress& progress = {});

} // namespace lzari
