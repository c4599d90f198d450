// The ring of records inside a trace file: taking space for a record, dropping the oldest
// records to make room, and numbering records.
#pragma once

#include "trace/TraceRecord.h"

#include <cstddef>
#include <cstdint>

namespace trace {

// Asked by allocRecord just before the ring drops records, so that a copy of the whole ring
// can be saved first (the log collector's request). Implemented on Windows.
class TraceSaveHook {
public:
    virtual bool checkIfNeedSaveLogFile(uint32_t recordSize) = 0;
    virtual void SaveLogFile() = 0;

protected:
    ~TraceSaveHook() = default;
};

// The ring over the bytes of one whole trace file (a mapped view, or any buffer). It keeps no
// state: the header in the file is the state, shared by every process that writes, so every
// call must be made with the trace mutex held.
//
// Ring states, with H = 48 and F = the header's file size:
//   not wrapped: oldest == H, records from H to the write offset, free = F - write offset.
//   wrapped:     the older lap runs from the oldest record to the end of valid data, the
//                newer lap from H to the write offset; H <= write <= oldest < end <= F and
//                free = oldest - write.
// Contract: whatever the header and records hold, no call reads or writes outside the bytes
// given. A file whose header fails checkTraceHeader, or claims more bytes than given, is never
// written. Counters that break the states above, or a record whose size cannot be right, reset
// the ring to empty (keeping the sequence numbers), since the records they describe cannot be
// read any more anyway.
class TraceRing {
public:
    TraceRing(uint8_t* file, size_t size) : mFile(file), mSize(size) {}

    // Whether this ring may be written to at all.
    bool isUsable() const;

    // Takes `size` bytes (a multiple of 4, at least 52) at the write offset, making room if
    // needed, zeroes the record header and stores the size and the next sequence number.
    // Returns the record, or nullptr when it does not fit or the file is not usable.
    uint8_t* allocRecord(uint32_t size, TraceSaveHook* saveHook = nullptr);

    // Drops the oldest records until `size` bytes are free at the write offset, a sixteenth of
    // the file at a time, moving the write offset back to the record area's start only when
    // the record does not fit before the end. May leave less free space than asked.
    void makeRoom(uint32_t size);

private:
    // The header's file size when the header is valid and the size fits the bytes given, else 0.
    // Each public call reads it once and bounds everything by that one value.
    uint32_t usableFileSize() const;
    void makeRoom(uint32_t size, uint32_t fileSize);
    void makeRoomPass(uint32_t fileSize);
    void reset(uint32_t fileSize);
    bool countersConsistent(uint32_t fileSize) const;

    uint8_t* mFile;
    size_t mSize;
};

enum class TraceWriteResult { Written, NoSpace, NotUsable };

// Measures, allocates and fills one record: everything a writer does under the trace mutex.
TraceWriteResult writeTraceRecord(TraceRing& ring, const TraceRecordInfo& info, const TraceStrings8& strings,
                                  TraceSaveHook* saveHook = nullptr);
TraceWriteResult writeTraceRecord(TraceRing& ring, const TraceRecordInfo& info, const TraceStrings16& strings,
                                  TraceSaveHook* saveHook = nullptr);

} // namespace trace
