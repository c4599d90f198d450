// One trace record: its byte layout, how its strings are measured and how it is filled in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace trace {

// TraceRecord; integers are little-endian, string offsets count from the record's start.
//
//   off  size  field
//    0    2    record size, header and strings, a multiple of 4
//    2    1    3 once the record is complete (written last)
//    3    1    0
//    4    2    flags: bit 0 = high-resolution time present
//    6    1    character type: 1 = 8-bit strings, 2 = UTF-16LE strings
//    7    1    0
//    8    4    trace level (1, 2, 4, 8 or whatever a caller passed)
//   12    4    process id
//   16    4    thread id
//   20    4    sequence number
//   24    4    seconds since 1970-01-01 UTC, low 32 bits
//   28    2    milliseconds within that second
//   30    2    offset of the module string (always 52)
//   32    2    offset of the category string
//   34    2    offset of the text
//   36    8    high-resolution time in microseconds, when flag bit 0 is set
//   44    4    0
//   48    2    offset of the record name string
//   50    2    0
//   52   ...   module, category, text, record name, each ending in a zero character;
//              then 0 to 3 bytes up to a multiple of 4
namespace record_offset {
constexpr size_t kSize = 0;
constexpr size_t kState = 2;
constexpr size_t kFlags = 4;
constexpr size_t kCharType = 6;
constexpr size_t kLevel = 8;
constexpr size_t kProcessId = 12;
constexpr size_t kThreadId = 16;
constexpr size_t kSequence = 20;
constexpr size_t kSeconds = 24;
constexpr size_t kMilliseconds = 28;
constexpr size_t kModule = 30;
constexpr size_t kCategory = 32;
constexpr size_t kText = 34;
constexpr size_t kHighResTime = 36;
constexpr size_t kName = 48;
} // namespace record_offset

constexpr uint32_t kRecordHeaderSize = 52;
constexpr uint8_t kRecordComplete = 3;
constexpr uint16_t kFlagHighResTime = 1;
constexpr uint8_t kChar8 = 1;
constexpr uint8_t kChar16 = 2;

// Longest strings, in characters with their terminating zero.
constexpr size_t kMaxModuleChars = 128;
constexpr size_t kMaxCategoryChars = 128;
constexpr size_t kMaxTextChars = 2048;
constexpr size_t kMaxNameChars = 128;

// Everything of a record but its strings, sequence number and size.
struct TraceRecordInfo {
    uint32_t level = 0;
    uint32_t processId = 0;
    uint32_t threadId = 0;
    uint32_t seconds = 0;
    uint16_t milliseconds = 0;
    bool hasHighResTime = false;
    uint64_t highResTimeUs = 0;
};

// The strings of one record. Each ends at its first zero character, if it has one. An empty
// category or record name means none: it takes no space and its offset points at a zero
// that is already there. With a record name, the module string becomes "module@name".
template <class Char> struct TraceRecordStrings {
    std::basic_string_view<Char> module;
    std::basic_string_view<Char> category;
    std::basic_string_view<Char> text;
    std::basic_string_view<Char> name;
};
using TraceStrings8 = TraceRecordStrings<char>;
using TraceStrings16 = TraceRecordStrings<char16_t>;

// String lengths in characters (terminating zeros included; 0 for an absent string) and the
// record size they give. Measuring is separate from filling so that the size is known before
// the space is taken from the ring.
struct TraceRecordLayout {
    uint8_t charType = kChar8;
    uint16_t moduleChars = 0;
    uint16_t categoryChars = 0;
    uint16_t textChars = 0;
    uint16_t nameChars = 0;
    uint16_t size = 0;
};

TraceRecordLayout layoutTraceRecord(const TraceStrings8& strings);
TraceRecordLayout layoutTraceRecord(const TraceStrings16& strings);

// Fills a record whose size and sequence number allocRecord has already stored, and marks it
// complete as the very last store. `record` must hold layout.size bytes.
void fillTraceRecord(uint8_t* record, const TraceRecordLayout& layout, const TraceRecordInfo& info,
                     const TraceStrings8& strings);
void fillTraceRecord(uint8_t* record, const TraceRecordLayout& layout, const TraceRecordInfo& info,
                     const TraceStrings16& strings);

} // namespace trace
