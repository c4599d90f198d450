// A trace file in memory, written by the ring code, and a visitor that keeps what the reader
// walked; shared by the trace and kvtrace tests.
#pragma once

#include "trace/TraceFormat.h"
#include "trace/TraceReader.h"
#include "trace/TraceRing.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace trace_test {

struct TestFile {
    explicit TestFile(uint32_t size) : bytes(size) { trace::createTraceHeader(bytes.data(), size, 0); }

    trace::TraceFileHeader header() const { return *trace::readTraceHeader(bytes.data(), bytes.size()); }

    // Each record one second after the one before, from 2026-12-05 09:07:03.005 UTC.
    template <class Char>
    trace::TraceWriteResult write(const trace::TraceRecordStrings<Char>& strings,
                                  trace::TraceSaveHook* hook = nullptr)
    {
        trace::TraceRing ring(bytes.data(), bytes.size());
        const trace::TraceWriteResult result = trace::writeTraceRecord(ring, info, strings, hook);
        ++info.seconds;
        return result;
    }
    trace::TraceWriteResult write(std::string_view text, trace::TraceSaveHook* hook = nullptr)
    {
        return write(trace::TraceStrings8{"DPX", {}, text, {}}, hook);
    }

    std::vector<uint8_t> bytes;
    trace::TraceRecordInfo info{2, 100, 7, 1796461623, 5, false, 0};
};

struct Walked {
    uint32_t sequence;
    uint32_t offset;
    std::string module, category, text, name;
};

struct Collector : trace::TraceVisitor {
    void record(const trace::TraceRecordView& r) override
    {
        records.push_back({r.sequence, r.offset, trace::traceTextToUtf8(r.module),
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

inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

} // namespace trace_test
