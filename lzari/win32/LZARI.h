// The setup program's LZARI decoder: one compressed file in, one decompressed file out.
#pragma once

#include "platform/win32/Windows.h"

#include <cstdint>
#include <string>

namespace lzari {
class Decoder;
}

// Decodes with the core of lzari/Decoder.h, so the output is byte for byte what lzari::decode()
// returns, overshoot of a damaged stream's last match included. Progress goes to standard output as
// "%12lu\r" lines every 1024 bytes and a final "%12lu\n" line.
class LZARI {
public:
    LZARI() = default;
    virtual ~LZARI() = default;
    LZARI(const LZARI&) = delete;
    LZARI& operator=(const LZARI&) = delete;

    // Streams the input file into the output file through 64 KiB buffers. If either file cannot be
    // opened nothing is decoded and nothing is reported (an input that does not open leaves the output
    // uncreated); the caller learns of success by opening the output. An input shorter than 4 bytes prints
    // "\nRead Error\n", leaves the output empty and throws lzari::ReadError (code() == 1). Every call decodes
    // from a fresh state, so one object may decode several files.
    void DecodeFile(const std::wstring& in, const std::wstring& out);
};

namespace lzari::win32 {

// What became of decoding one open file into another.
struct FileDecode {
    enum class Status {
        Decoded,
        ShortHead,   // fewer than 4 bytes: no length field ("\nRead Error\n" was printed)
        ReadFailed,  // the input could not be read to its end
        WriteFailed, // the output did not take every byte
    };
    Status status = Status::Decoded;
    uint32_t error = 0; // the system's error number of the failed read or write
};

// DecodeFile over two open handles, from their current positions, with the same bytes and console
// lines; a failed read or write ends the decode and is reported with the error the call gave, so
// a full disk is never mistaken for a whole payload. The handles stay open.
FileDecode decodeFile(HANDLE in, HANDLE out);

// Writes all `size` bytes, going on after a short write; false with the system's error number in
// `error` when the file takes no more. A short write reports no error of its own (the next one
// does), so the error is never a stale one of an earlier call.
bool writeWhole(HANDLE file, const uint8_t* data, size_t size, uint32_t& error);

} // namespace lzari::win32
