// Space management of the record ring, working on the header fields in the file itself.
#include "trace/TraceRing.h"

#include "platform/Bytes.h"
#include "trace/TraceFormat.h"

#include <cstring>

namespace trace {

namespace {

namespace o = header_offset;
constexpr uint32_t H = kHeaderSize;

struct Counters {
    uint32_t count;
    uint32_t freeBytes;
    uint32_t end;
    uint32_t oldest;
    uint32_t write;
};

Counters loadCounters(const uint8_t* f)
{
    return {platform::load32(f + o::kRecordCount), platform::load32(f + o::kFreeBytes),
            platform::load32(f + o::kEndOfValidData), platform::load32(f + o::kOldestRecord),
            platform::load32(f + o::kWriteOffset)};
}

void storeCounters(uint8_t* f, const Counters& c)
{
    platform::store32(f + o::kRecordCount, c.count);
    platform::store32(f + o::kFreeBytes, c.freeBytes);
    platform::store32(f + o::kEndOfValidData, c.end);
    platform::store32(f + o::kOldestRecord, c.oldest);
    platform::store32(f + o::kWriteOffset, c.write);
}

} // namespace

bool TraceRing::isUsable() const
{
    return usableFileSize() != 0;
}

uint32_t TraceRing::usableFileSize() const
{
    if (checkTraceHeader(mFile, mSize) != HeaderCheck::Valid)
        return 0;
    // Read once: another process may scribble on the header, and every bound below must be the
    // one checked against the mapping here.
    const uint32_t fileSize = platform::load32(mFile + o::kFileSize);
    return fileSize <= mSize ? fileSize : 0;
}

namespace {

bool consistent(const Counters& c, uint32_t fileSize)
{
    if (c.write < H || c.write > fileSize)
        return false;
    if (c.oldest == H)
        return c.freeBytes == fileSize - c.write;
    return c.write <= c.oldest && c.oldest < c.end && c.end <= fileSize && c.freeBytes == c.oldest - c.write;
}

} // namespace

bool TraceRing::countersConsistent(uint32_t fileSize) const
{
    return consistent(loadCounters(mFile), fileSize);
}

void TraceRing::reset(uint32_t fileSize)
{
    storeCounters(mFile, {0, fileSize - H, fileSize, H, H});
}

uint8_t* TraceRing::allocRecord(uint32_t size, TraceSaveHook* saveHook)
{
    const uint32_t fileSize = usableFileSize();
    if (fileSize == 0)
        return nullptr;
    if (!countersConsistent(fileSize))
        reset(fileSize);
    // A record that could never fit must not cost the ring its records on the way to failing.
    if (size < kRecordHeaderSize || size > fileSize - H)
        return nullptr;
    if (size > platform::load32(mFile + o::kFreeBytes)) {
        if (saveHook != nullptr && saveHook->checkIfNeedSaveLogFile(size))
            saveHook->SaveLogFile();
        makeRoom(size, fileSize);
    }
    Counters c = loadCounters(mFile);
    // Checked again after making room, against the one file size of this call: the record
    // must lie inside the file whatever the header says now.
    if (!consistent(c, fileSize) || size > c.freeBytes || size > fileSize - c.write)
        return nullptr;
    uint8_t* record = mFile + c.write;
    std::memset(record, 0, kRecordHeaderSize);
    platform::store16(record, static_cast<uint16_t>(size));
    uint32_t sequence = platform::load32(mFile + o::kLastSequence) + 1;
    if (sequence == 0)
        sequence = 1;
    platform::store32(record + record_offset::kSequence, sequence);
    platform::store32(mFile + o::kLastSequence, sequence);
    c.count += 1;
    c.freeBytes -= size;
    c.write += size;
    storeCounters(mFile, c);
    return record;
}

void TraceRing::makeRoom(uint32_t size)
{
    const uint32_t fileSize = usableFileSize();
    if (fileSize != 0)
        makeRoom(size, fileSize);
}

void TraceRing::makeRoom(uint32_t size, uint32_t fileSize)
{
    if (!countersConsistent(fileSize))
        reset(fileSize);
    makeRoomPass(fileSize);
    if (platform::load32(mFile + o::kFreeBytes) < size)
        makeRoomPass(fileSize);
}

void TraceRing::makeRoomPass(uint32_t fileSize)
{
    const uint32_t sixteenth = fileSize / 16;
    // The walk below trusts only this copy, checked here, never the shared bytes again.
    Counters c = loadCounters(mFile);
    if (!consistent(c, fileSize)) {
        reset(fileSize);
        return;
    }
    if (c.oldest == H) {
        c.end = c.write;
        c.write = H;
        c.freeBytes = 0;
    }
    uint32_t position = c.oldest;
    uint32_t dropped = 0;
    for (;;) {
        // An older lap with nothing left in it (an empty ring, say) is gone as a whole.
        if (position >= c.end)
            break;
        const uint32_t recordSize = c.end - position >= 2 ? platform::load16(mFile + position) : 0;
        if (c.count == 0 || recordSize < kRecordHeaderSize || recordSize % 4 != 0 ||
            recordSize > c.end - position) {
            reset(fileSize);
            return;
        }
        c.count -= 1;
        position += recordSize;
        dropped += recordSize;
        if (position == c.end)
            break;
        if (c.freeBytes + dropped >= sixteenth) {
            c.oldest = position;
            c.freeBytes += dropped;
            storeCounters(mFile, c);
            return;
        }
    }
    // The whole older lap is gone. With nothing in the newer lap either, the ring is empty
    // whatever the count said.
    c.freeBytes += fileSize - c.oldest;
    c.oldest = H;
    c.end = fileSize;
    if (c.write == H)
        c.count = 0;
    storeCounters(mFile, c);
}

namespace {

template <class Char>
TraceWriteResult writeOf(TraceRing& ring, const TraceRecordInfo& info,
                         const TraceRecordStrings<Char>& strings, TraceSaveHook* saveHook)
{
    if (!ring.isUsable())
        return TraceWriteResult::NotUsable;
    const TraceRecordLayout layout = layoutTraceRecord(strings);
    uint8_t* record = ring.allocRecord(layout.size, saveHook);
    if (record == nullptr)
        return TraceWriteResult::NoSpace;
    fillTraceRecord(record, layout, info, strings);
    return TraceWriteResult::Written;
}

} // namespace

TraceWriteResult writeTraceRecord(TraceRing& ring, const TraceRecordInfo& info, const TraceStrings8& strings,
                                  TraceSaveHook* saveHook)
{
    return writeOf(ring, info, strings, saveHook);
}

TraceWriteResult writeTraceRecord(TraceRing& ring, const TraceRecordInfo& info, const TraceStrings16& strings,
                                  TraceSaveHook* saveHook)
{
    return writeOf(ring, info, strings, saveHook);
}

} // namespace trace
