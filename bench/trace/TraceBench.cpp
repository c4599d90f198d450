// Times the trace ring (100-byte 8-bit records through a wrapping ring) and the viewer
// (`kvtrace dump --json` over a 200 MiB file). Prints figures; never fails a build.
#include "tools/kvtrace/Commands.h"
#include "trace/TraceFormat.h"
#include "trace/TraceRing.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Fills `file` with records until `count` are written; returns how often the ring wrapped.
uint64_t fillRing(std::vector<uint8_t>& file, uint64_t count)
{
    trace::TraceRing ring(file.data(), file.size());
    // "DPX" and its zero plus 43 characters and a zero: 48 bytes of strings, a 100-byte record.
    const std::string text(43, 'x');
    const trace::TraceStrings8 strings{"DPX", {}, text, {}};
    trace::TraceRecordInfo info;
    info.level = 2;
    info.processId = 1234;
    info.threadId = 5678;
    uint64_t wraps = 0;
    uint32_t lastWrite = trace::kHeaderSize;
    for (uint64_t i = 0; i < count; ++i) {
        info.seconds = static_cast<uint32_t>(1796461623 + i / 1000);
        info.milliseconds = static_cast<uint16_t>(i % 1000);
        trace::writeTraceRecord(ring, info, strings);
        const uint32_t write = trace::readTraceHeader(file.data(), file.size())->writeOffset;
        wraps += write < lastWrite;
        lastWrite = write;
    }
    return wraps;
}

struct NullBuffer : std::streambuf {
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
    int overflow(int c) override { return c; }
};

} // namespace

int main()
{
    {
        // 4 MiB: the ring wraps every 40 000 records or so.
        std::vector<uint8_t> file(4 << 20);
        trace::createTraceHeader(file.data(), static_cast<uint32_t>(file.size()), 0);
        const uint64_t count = 20000000;
        fillRing(file, 100000); // warm up
        const auto start = Clock::now();
        const uint64_t wraps = fillRing(file, count);
        const double s = secondsSince(start);
        std::printf("ring: %llu records of 100 bytes in %.3f s, %.2f million records/s, %llu wraps\n",
                    static_cast<unsigned long long>(count), s, count / s / 1e6,
                    static_cast<unsigned long long>(wraps));
    }
    {
        const uint32_t size = 200u << 20;
        std::vector<uint8_t> file(size);
        trace::createTraceHeader(file.data(), size, 0);
        fillRing(file, size / 100 + size / 300); // wrapped, nearly full
        const uint32_t records = trace::readTraceHeader(file.data(), file.size())->recordCount;
        const std::filesystem::path path =
            std::filesystem::temp_directory_path() / "kvtrace_bench_200mib.kvl";
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
        file = {};
        NullBuffer nothing;
        std::ostream out(&nothing);
        for (const bool json : {true, false}) {
            std::vector<std::string> args = {"dump", path.string()};
            if (json)
                args.insert(args.begin() + 1, "--json");
            const auto start = Clock::now();
            const int status = kvtrace::run(args, out);
            const double s = secondsSince(start);
            std::printf("kvtrace dump%s: %u records (200 MiB) in %.3f s, %.2f million records/s, status %d\n",
                        json ? " --json" : "", records, s, records / s / 1e6, status);
        }
        std::filesystem::remove(path);
    }
    return 0;
}
