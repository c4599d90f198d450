// The trace file's header: its byte layout, how a new file's header is made, and how it is checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace trace {

// TraceFileHeader, at offset 0 of the file; integers are little-endian.
//
//   off  size  field
//    0    4    magic "KVRT"
//    4    2    0xFEFF
//    6    1    format version 3 (written last when the header is made)
//    7    1    1
//    8    2    header size 48, which is also where the record area starts
//   10    2    0
//   12    4    file size in bytes
//   16    4    number of records held
//   20    4    free bytes from the write offset onward
//   24    4    end of valid data in the older lap of the ring
//   28    4    offset of the oldest record
//   32    4    write offset: where the next record goes
//   36    4    last sequence number given to a record
//   40    4    tick count (ms since boot) when the file was made
//   44    4    0
namespace header_offset {
constexpr size_t kMagic = 0;
constexpr size_t kByteOrderMark = 4;
constexpr size_t kVersion = 6;
constexpr size_t kOne = 7;
constexpr size_t kHeaderSize = 8;
constexpr size_t kFileSize = 12;
constexpr size_t kRecordCount = 16;
constexpr size_t kFreeBytes = 20;
constexpr size_t kEndOfValidData = 24;
constexpr size_t kOldestRecord = 28;
constexpr size_t kWriteOffset = 32;
constexpr size_t kLastSequence = 36;
constexpr size_t kCreationTick = 40;
} // namespace header_offset

constexpr uint32_t kHeaderSize = 48;
constexpr uint8_t kFormatVersion = 3;
constexpr uint16_t kByteOrderMark = 0xFEFF;

struct TraceFileHeader {
    uint16_t byteOrderMark = 0;
    uint8_t version = 0;
    uint16_t headerSize = 0;
    uint32_t fileSize = 0;
    uint32_t recordCount = 0;
    uint32_t freeBytes = 0;
    uint32_t endOfValidData = 0;
    uint32_t oldestRecord = 0;
    uint32_t writeOffset = 0;
    uint32_t lastSequence = 0;
    uint32_t creationTick = 0;
};

enum class HeaderCheck {
    Valid,
    TooShort,      // fewer than 48 bytes
    BadMagic,      // not "KVRT": not a trace file
    BadVersion,    // another format version, or a header whose making never finished (0)
    BadHeaderSize, // the record area would not start at 48
    BadFileSize,   // the file size field is below the header size
};

// A short English phrase for error lines ("not a trace file", ...).
const char* describe(HeaderCheck check);

// The header's fields, unchecked; none when fewer than 48 bytes are given.
std::optional<TraceFileHeader> readTraceHeader(const uint8_t* data, size_t size);

// Whether the bytes start with a header this code understands. Writers and readers share this;
// a header that fails it is never modified.
HeaderCheck checkTraceHeader(const uint8_t* data, size_t size);

// Makes the header of a new, empty trace file of fileSize bytes. `data` must hold the 48
// header bytes; the version byte is stored last so that a reader never takes a half-made
// header for a valid one. Returns false (and writes nothing) when fileSize is below 48.
bool createTraceHeader(uint8_t* data, uint32_t fileSize, uint32_t tickCount);

} // namespace trace
