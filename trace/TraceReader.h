// Reading a trace file: the ring walked from the oldest record to the newest, with what is
// damaged named rather than trusted.
#pragma once

#include "trace/TraceFormat.h"
#include "trace/TraceRecord.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace trace {

// One string of a record as stored: `units` characters of the record's type, no zero.
struct TraceText {
    const uint8_t* bytes = nullptr;
    size_t units = 0;
    uint8_t charType = kChar8;
};

// Appends the text as UTF-8: UTF-16 with unpaired surrogates as U+FFFD, 8-bit text as UTF-8
// when it is valid UTF-8 and as Latin-1 otherwise.
void appendTraceText(std::string& out, const TraceText& text);
std::string traceTextToUtf8(const TraceText& text);

// A complete record; its strings point into the bytes given to the reader.
struct TraceRecordView {
    uint32_t offset = 0;
    uint16_t size = 0;
    uint16_t flags = 0;
    uint8_t charType = kChar8;
    uint32_t level = 0;
    uint32_t processId = 0;
    uint32_t threadId = 0;
    uint32_t sequence = 0;
    uint32_t seconds = 0;
    uint16_t milliseconds = 0;
    bool hasHighResTime = false;
    uint64_t highResTimeUs = 0;
    TraceText module;
    TraceText category;
    TraceText text;
    TraceText name;
};

// A record whose writer had not finished it (byte 2 not yet 3): only its place and number
// can be trusted.
struct IncompleteRecord {
    uint32_t offset = 0;
    uint32_t sequence = 0;
};

class TraceVisitor {
public:
    virtual void record(const TraceRecordView& record) = 0;
    virtual void incomplete(const IncompleteRecord&) {}

protected:
    ~TraceVisitor() = default;
};

struct TraceReadResult {
    HeaderCheck header = HeaderCheck::TooShort;
    TraceFileHeader fields;
    uint64_t actualSize = 0;
    bool wrapped = false;
    // Shorter than the header says but ending at or after the write offset of a ring that
    // never wrapped: what the last process leaves on disk, and a good file.
    bool cut = false;
    uint32_t records = 0;
    uint32_t incomplete = 0;
    // Empty for a good file. The first entries, at most kMaxProblems of them.
    std::vector<std::string> problems;

    static constexpr size_t kMaxProblems = 16;
    bool damaged() const { return header != HeaderCheck::Valid || !problems.empty(); }
};

// Walks the ring of the file held in `data`: the older lap from the oldest record to the end
// of valid data, then the newer lap from the record area's start to the write offset.
// Contract: never reads outside [data, data + size), whatever the header and records say;
// bounds the header gives beyond the bytes are cut to them; a lap stops at the first record
// whose size cannot be right; a record with impossible string offsets is skipped. Every such
// finding lands in `problems`. The visitor may be null (checking only).
// `fileSize`: the whole file's size when `data` holds only its first bytes; every byte the
// reader uses lies in the first min(fileSize, the header's file size) bytes.
constexpr uint64_t kWholeFile = UINT64_MAX;
TraceReadResult readTraceFile(const uint8_t* data, size_t size, TraceVisitor* visitor,
                              uint64_t fileSize = kWholeFile);

} // namespace trace
