// LZARI streams decoded from and encoded into memory: the interface the packer and the tests use.
#pragma once

#include "lzari/Model.h"

#include <cstddef>
#include <cstdint>
#include <exception>
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
// decoder has always raised for it. A plain std::exception: the setup program throws it, and a
// std::runtime_error would link the runtime's string-holding exceptions into it (about 75 KB).
class ReadError : public std::exception {
public:
    const char* what() const noexcept override { return "Read Error"; }
    int code() const noexcept { return 1; }
};

// decode() refused a stream whose length field is above the caller's limit.
class OutputLimitError : public std::runtime_error {
public:
    OutputLimitError(uint64_t declared, uint64_t limit);
    uint64_t declared() const noexcept { return mDeclared; }

private:
    uint64_t mDeclared;
};

// The most bytes an honest stream of `streamSize` bytes (length field included) decodes to. Every
// match costs at least 9.16 bits for its position, even the likeliest one at the likeliest
// moment, and yields at most kMaxMatch (60) bytes; no encoder that codes repeats as matches gets
// more than about 52 bytes out of a byte. The bound allows 60 bytes for every 9 bits the stream
// holds, plus 64 bits for the coder's start and end. A larger length field can still decode (the
// bits past the end read as 1), but only to bytes no encoder wrote: callers refuse it.
// Defined here, so that the setup program, which asks it, does not link the in-memory codec.
constexpr uint64_t plausibleTextSize(uint64_t streamSize)
{
    constexpr uint64_t kBitsPerMatch = 9;
    constexpr uint64_t kSlackBits = 64;
    // No stream is near 2^48 bytes; the cap keeps both products below 2^64.
    constexpr uint64_t kCap = uint64_t{1} << 48;
    static_assert((kCap * 8 + kSlackBits) * kMaxMatch / kMaxMatch == kCap * 8 + kSlackBits, "no wrap");
    const uint64_t bytes = streamSize < kCap ? streamSize : kCap;
    if (bytes < kHeaderSize) {
        return 0;
    }
    return ((bytes - kHeaderSize) * 8 + kSlackBits) * kMaxMatch / kBitsPerMatch;
}

// The buffer decode() needs for a length field of `textSize`: the field and room for a last
// match running past it, computed in 64 bits so that it cannot wrap. `addressable` is the largest
// buffer this system can hold (a parameter so that a 64-bit build can test 32-bit limits). Throws
// std::bad_alloc when the buffer is larger, which every caller takes as out of memory.
size_t outputCapacity(uint32_t textSize, uint64_t addressable);

// Decoder contract: never reads outside [data, data + size) and never writes outside the returned
// vector. Every byte string decodes to something: a damaged stream gives length-field bytes of
// whatever its bits say, reading 1-bits once the data is used up, and a last match that runs past
// the length field is returned whole (up to kMaxMatch - 1 bytes more than the field says). These are
// exactly the bytes LZARI::DecodeFile writes.
// Throws ReadError when size < 4, OutputLimitError when the length field exceeds maxOutput (the
// result can then be at most maxOutput + 59 bytes long), and std::bad_alloc when the output
// cannot be held.
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
