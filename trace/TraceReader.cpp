// The ring walk of a trace file held in memory, and the UTF-8 form of record strings.
#include "trace/TraceReader.h"

#include "platform/Bytes.h"
#include "platform/TextConvert.h"
#include "trace/SharedByte.h"

#include <algorithm>
#include <cstring>

namespace trace {

namespace {

constexpr uint32_t H = kHeaderSize;

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isUtf8(const uint8_t* p, size_t n)
{
    size_t i = 0;
    while (i < n) {
        const uint8_t b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        uint8_t low = 0x80, high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            if (b == 0xE0)
                low = 0xA0;
            else if (b == 0xED)
                high = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            if (b == 0xF0)
                low = 0x90;
            else if (b == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (n - i < length || p[i + 1] < low || p[i + 1] > high)
            return false;
        for (size_t k = 2; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
        }
        i += length;
    }
    return true;
}

class Walker {
public:
    Walker(const uint8_t* data, TraceReadResult& result, TraceVisitor* visitor)
        : mData(data), mResult(result), mVisitor(visitor)
    {
    }

    void problem(std::string text)
    {
        if (mResult.problems.size() < TraceReadResult::kMaxProblems)
            mResult.problems.push_back(std::move(text));
    }

    // Walks [begin, end), both already inside the bytes.
    void lap(uint32_t begin, uint32_t end)
    {
        uint32_t position = begin;
        while (position < end) {
            if (end - position < kRecordHeaderSize) {
                problem("record at offset " + std::to_string(position) + " runs past the end of its lap");
                return;
            }
            const uint8_t* r = mData + position;
            const uint16_t size = platform::load16(r);
            if (size < kRecordHeaderSize || size % 4 != 0 || size > end - position) {
                problem("record at offset " + std::to_string(position) + " has an impossible size " +
                        std::to_string(size));
                return;
            }
            visit(position, r, size);
            position += size;
        }
    }

    bool sawRecord() const { return mSawRecord; }
    uint32_t lastSequence() const { return mLastSequence; }

private:
    void noteSequence(uint32_t position, uint32_t sequence)
    {
        if (mSawRecord) {
            uint32_t expected = mLastSequence + 1;
            if (expected == 0)
                expected = 1;
            if (sequence != expected)
                problem("sequence jumps from " + std::to_string(mLastSequence) + " to " +
                        std::to_string(sequence) + " at offset " + std::to_string(position));
        }
        mSawRecord = true;
        mLastSequence = sequence;
    }

    void visit(uint32_t position, const uint8_t* r, uint16_t size)
    {
        namespace o = record_offset;
        const uint32_t sequence = platform::load32(r + o::kSequence);
        noteSequence(position, sequence);
        if (loadAcquire(r + o::kState) != kRecordComplete) {
            ++mResult.incomplete;
            if (mVisitor != nullptr)
                mVisitor->incomplete({position, sequence});
            return;
        }
        ++mResult.records;
        TraceRecordView v;
        v.offset = position;
        v.size = size;
        v.charType = r[o::kCharType];
        if (v.charType != kChar8 && v.charType != kChar16) {
            problem("record at offset " + std::to_string(position) + " has an unknown character type " +
                    std::to_string(v.charType));
            return;
        }
        v.flags = platform::load16(r + o::kFlags);
        v.level = platform::load32(r + o::kLevel);
        v.processId = platform::load32(r + o::kProcessId);
        v.threadId = platform::load32(r + o::kThreadId);
        v.sequence = sequence;
        v.seconds = platform::load32(r + o::kSeconds);
        v.milliseconds = platform::load16(r + o::kMilliseconds);
        v.hasHighResTime = (v.flags & kFlagHighResTime) != 0;
        v.highResTimeUs = v.hasHighResTime ? platform::load64(r + o::kHighResTime) : 0;
        if (!string(r, size, platform::load16(r + o::kModule), v.charType, v.module) ||
            !string(r, size, platform::load16(r + o::kCategory), v.charType, v.category) ||
            !string(r, size, platform::load16(r + o::kText), v.charType, v.text) ||
            !string(r, size, platform::load16(r + o::kName), v.charType, v.name)) {
            problem("record at offset " + std::to_string(position) + " has a string outside it");
            return;
        }
        if (mVisitor != nullptr)
            mVisitor->record(v);
    }

    // A string runs from its offset to its zero; one without a zero inside the record is
    // taken up to the record's end, which also bounds it.
    bool string(const uint8_t* r, uint16_t size, uint16_t offset, uint8_t charType, TraceText& out)
    {
        const size_t charSize = charType;
        if (offset < kRecordHeaderSize || offset + charSize > size)
            return false;
        out.bytes = r + offset;
        out.charType = charType;
        const size_t room = (size - offset) / charSize;
        if (charType == kChar8) {
            const void* zero = std::memchr(out.bytes, 0, room);
            out.units =
                zero != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - out.bytes) : room;
        } else {
            size_t n = 0;
            while (n < room && (out.bytes[2 * n] | out.bytes[2 * n + 1]) != 0)
                ++n;
            out.units = n;
        }
        return true;
    }

    const uint8_t* mData;
    TraceReadResult& mResult;
    TraceVisitor* mVisitor;
    bool mSawRecord = false;
    uint32_t mLastSequence = 0;
};

} // namespace

void appendTraceText(std::string& out, const TraceText& text)
{
    if (text.units == 0)
        return;
    if (text.charType == kChar16) {
        std::u16string units(text.units, u'\0');
        for (size_t i = 0; i < text.units; ++i)
            units[i] = static_cast<char16_t>(platform::load16(text.bytes + 2 * i));
        out += platform::utf16ToUtf8(units);
        return;
    }
    if (isUtf8(text.bytes, text.units)) {
        out.append(reinterpret_cast<const char*>(text.bytes), text.units);
        return;
    }
    for (size_t i = 0; i < text.units; ++i)
        platform::appendUtf8(out, text.bytes[i]);
}

std::string traceTextToUtf8(const TraceText& text)
{
    std::string out;
    appendTraceText(out, text);
    return out;
}

TraceReadResult readTraceFile(const uint8_t* data, size_t size, TraceVisitor* visitor, uint64_t fileSize)
{
    TraceReadResult result;
    const uint64_t whole = fileSize == kWholeFile ? size : fileSize;
    result.actualSize = whole;
    result.header = checkTraceHeader(data, size);
    if (auto fields = readTraceHeader(data, size))
        result.fields = *fields;
    if (result.header != HeaderCheck::Valid)
        return result;

    const TraceFileHeader& h = result.fields;
    const uint32_t limit = static_cast<uint32_t>(std::min<uint64_t>(size, h.fileSize));
    Walker walker(data, result, visitor);
    result.wrapped = h.oldestRecord != H;
    // Writers make the file exactly as large as its header says; only the last process's cut
    // of a ring that never wrapped leaves it shorter.
    if (whole != h.fileSize) {
        if (whole < h.fileSize && !result.wrapped && h.writeOffset <= whole)
            result.cut = true;
        else
            walker.problem("file is " + std::to_string(whole) + " bytes, its header says " +
                           std::to_string(h.fileSize));
    }

    auto bounded = [&](uint32_t offset, const char* what) {
        if (offset < H || offset > h.fileSize) {
            walker.problem(std::string(what) + " " + std::to_string(offset) + " is outside the record area");
            return offset < H ? H : limit;
        }
        return std::min(offset, limit);
    };
    const uint32_t write = bounded(h.writeOffset, "write offset");
    uint32_t newerEnd = write;
    uint32_t expectedFree = h.fileSize - std::max(H, std::min(h.writeOffset, h.fileSize));
    if (result.wrapped) {
        const uint32_t oldest = bounded(h.oldestRecord, "oldest record offset");
        const uint32_t end = bounded(h.endOfValidData, "end of valid data");
        if (oldest > end)
            walker.problem("oldest record lies beyond the end of valid data");
        if (write > oldest) {
            walker.problem("write offset runs into the older lap");
            newerEnd = oldest;
        }
        if (oldest < end)
            walker.lap(oldest, end);
        expectedFree = h.oldestRecord >= h.writeOffset ? h.oldestRecord - h.writeOffset : 0;
    }
    walker.lap(H, newerEnd);

    if (h.freeBytes != expectedFree)
        walker.problem("header gives " + std::to_string(h.freeBytes) + " free bytes, the ring has " +
                       std::to_string(expectedFree));
    const uint32_t walked = result.records + result.incomplete;
    if (h.recordCount != walked)
        walker.problem("header counts " + std::to_string(h.recordCount) + " records, the ring holds " +
                       std::to_string(walked));
    if (walker.sawRecord() && walker.lastSequence() != h.lastSequence)
        walker.problem("newest record has sequence " + std::to_string(walker.lastSequence()) +
                       ", the header's last is " + std::to_string(h.lastSequence));
    return result;
}

} // namespace trace
