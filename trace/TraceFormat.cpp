// The trace file header: creation of a new one and the checks every reader and writer applies.
#include "trace/TraceFormat.h"

#include "platform/Bytes.h"
#include "trace/SharedByte.h"

#include <cstring>

namespace trace {

namespace {
constexpr uint8_t kMagic[4] = {'K', 'V', 'R', 'T'};
} // namespace

const char* describe(HeaderCheck check)
{
    switch (check) {
    case HeaderCheck::Valid:
        return "valid header";
    case HeaderCheck::TooShort:
        return "file too short for a trace header";
    case HeaderCheck::BadMagic:
        return "not a trace file";
    case HeaderCheck::BadVersion:
        return "unsupported trace format version";
    case HeaderCheck::BadHeaderSize:
        return "unsupported trace header size";
    case HeaderCheck::BadFileSize:
        return "trace header gives an impossible file size";
    }
    return "unknown header problem";
}

std::optional<TraceFileHeader> readTraceHeader(const uint8_t* data, size_t size)
{
    if (data == nullptr || size < kHeaderSize)
        return std::nullopt;
    namespace o = header_offset;
    TraceFileHeader h;
    h.byteOrderMark = platform::load16(data + o::kByteOrderMark);
    h.version = loadAcquire(data + o::kVersion);
    h.headerSize = platform::load16(data + o::kHeaderSize);
    h.fileSize = platform::load32(data + o::kFileSize);
    h.recordCount = platform::load32(data + o::kRecordCount);
    h.freeBytes = platform::load32(data + o::kFreeBytes);
    h.endOfValidData = platform::load32(data + o::kEndOfValidData);
    h.oldestRecord = platform::load32(data + o::kOldestRecord);
    h.writeOffset = platform::load32(data + o::kWriteOffset);
    h.lastSequence = platform::load32(data + o::kLastSequence);
    h.creationTick = platform::load32(data + o::kCreationTick);
    return h;
}

HeaderCheck checkTraceHeader(const uint8_t* data, size_t size)
{
    if (data == nullptr || size < kHeaderSize)
        return HeaderCheck::TooShort;
    if (std::memcmp(data + header_offset::kMagic, kMagic, sizeof kMagic) != 0)
        return HeaderCheck::BadMagic;
    if (loadAcquire(data + header_offset::kVersion) != kFormatVersion)
        return HeaderCheck::BadVersion;
    if (platform::load16(data + header_offset::kHeaderSize) != kHeaderSize)
        return HeaderCheck::BadHeaderSize;
    if (platform::load32(data + header_offset::kFileSize) < kHeaderSize)
        return HeaderCheck::BadFileSize;
    return HeaderCheck::Valid;
}

bool createTraceHeader(uint8_t* data, uint32_t fileSize, uint32_t tickCount)
{
    if (fileSize < kHeaderSize)
        return false;
    namespace o = header_offset;
    std::memset(data, 0, kHeaderSize);
    std::memcpy(data + o::kMagic, kMagic, sizeof kMagic);
    platform::store16(data + o::kByteOrderMark, kByteOrderMark);
    data[o::kOne] = 1;
    platform::store16(data + o::kHeaderSize, kHeaderSize);
    platform::store32(data + o::kFileSize, fileSize);
    platform::store32(data + o::kFreeBytes, fileSize - kHeaderSize);
    platform::store32(data + o::kEndOfValidData, fileSize);
    platform::store32(data + o::kOldestRecord, kHeaderSize);
    platform::store32(data + o::kWriteOffset, kHeaderSize);
    platform::store32(data + o::kCreationTick, tickCount);
    // Readers in other processes look at the version byte without the trace mutex.
    storeRelease(data + o::kVersion, kFormatVersion);
    return true;
}

} // namespace trace
