// A trace file in memory and a visitor that keeps what the reader walked, for the trace tests.
#pragma once

#include "trace/TraceFormat.h"
#include "trace/TraceReader.h"
#include "trace/TraceRing.h"

#include <cstdint>
#include <string>
#include <vector>

namespace trace_test {

struct TestFile {
    explicit TestFile(uint32_t size, uint32_t tick = 0) : bytes(size)
    {
        trace::createTraceHeader(bytes.data(), size, tick);
    }
    trace::TraceRing ring() { return trace::TraceRing(bytes.data(), bytes.size()); }
    trace::TraceFileHeader header() const { return *trace::readTraceHeader(bytes.data(), bytes.size()); }

    trace::TraceWriteResult write(std::string_view text, uint32_t level = 2, std::string_view module = "DPX")
    {
        trace::TraceRing r = ring();
        trace::TraceRecordInfo info;
        info.level = level;
        info.processId = 100;
        info.threadId = 200;
        info.seconds = 1796461623; // 2026-12-05 09:07:03 UTC
        info.milliseconds = 42;
        return trace::writeTraceRecord(r, info, trace::TraceStrings8{module, {}, text, {}});
    }

    std::vector<uint8_t> bytes;
};

struct Walked {
    uint32_t sequence;
    uint32_t offset;
    uint32_t level;
    std::string module, category, text, name;
};

struct Collector : trace::TraceVisitor {
    void record(const trace::TraceRecordView& r) override
    {
        records.push_back({r.sequence, r.offset, r.level, trace::traceTextToUtf8(r.module),
                           trace::traceTextToUtf8(r.category), trace::traceTextToUtf8(r.text),
                           trace::traceTextToUtf8(r.name)});
    }
    void incomplete(const trace::IncompleteRecord& r) override { incompletes.push_back(r); }

    std::vector<Walked> records;
    std::vector<trace::IncompleteRecord> incompletes;
    trace::TraceReadResult result;
};

inline Collector readAll(const std::vector<uint8_t>& bytes)
{
    Collector c;
    c.result = trace::readTraceFile(bytes.data(), bytes.size(), &c);
    return c;
}

} // namespace trace_test
