// Times LZARI decoding against the plain reference decoder, and each encode level against greedy.
//
// Times are CPU time of this thread, best of several runs: the machine is shared, and wall time
// there measures the neighbours as much as the code. Sizes and output hashes are printed so that
// runs on different commits can be compared line by line.
#include "ReferenceLzari.h"
#include "TestData.h"
#include "lzari/Codec.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

double mbPerSecond(size_t bytes, double secs)
{
    return double(bytes) / 1e6 / secs;
}

uint64_t fnv1a(const std::vector<uint8_t>& bytes)
{
    uint64_t hash = 0xcbf29ce484222325u;
    for (const uint8_t byte : bytes) {
        hash = (hash ^ byte) * 0x100000001b3u;
    }
    return hash;
}

// The reference decoder as the setup program runs it: a file in, a file out, one stdio call per byte.
std::vector<uint8_t> referenceDecodeThroughFiles(const std::vector<uint8_t>& stream, double& secs)
{
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    if (!in || !out) {
        std::fprintf(stderr, "no temporary files\n");
        std::exit(1);
    }
    std::fwrite(stream.data(), 1, stream.size(), in);
    std::rewind(in);
    const double start = cpuSeconds();
    lzari_reference::StdioIn source{in};
    lzari_reference::StdioOut sink{out};
    auto decoder =
        std::make_unique<lzari_reference::Decoder<lzari_reference::StdioIn, lzari_reference::StdioOut>>(
            source, sink);
    decoder->run();
    std::fflush(out);
    secs = cpuSeconds() - start;
    std::vector<uint8_t> result(size_t(std::ftell(out)));
    std::rewind(out);
    if (std::fread(result.data(), 1, result.size(), out) != result.size()) {
        result.clear();
    }
    std::fclose(in);
    std::fclose(out);
    return result;
}

} // namespace

// Usage: lzari_bench [MiB of payload, default 6] [runs, default 5]
int main(int argc, char** argv)
{
    const size_t size = argc > 1 ? size_t(std::atoi(argv[1])) << 20 : size_t(6) << 20;
    const int runs = std::max(1, argc > 2 ? std::atoi(argv[2]) : 5);
    const std::vector<uint8_t> input = lzari_testdata::executableLike(size, 2024);
    std::printf("payload: %zu bytes executable-like, CPU time of this thread, best of %d runs\n",
                input.size(), runs);

    struct Level {
        const char* name;
        lzari::EncodeLevel level;
    };
    std::vector<uint8_t> stream;
    for (const Level& level :
         {Level{"greedy", lzari::EncodeLevel::greedy}, Level{"best", lzari::EncodeLevel::best}}) {
        std::vector<uint8_t> encoded;
        double secs = 1e9;
        for (int run = 0; run < runs; ++run) {
            const double start = cpuSeconds();
            encoded = lzari::encode(input.data(), input.size(), level.level);
            secs = std::min(secs, cpuSeconds() - start);
        }
        std::printf("encode %-6s      %8.2f MB/s  %9zu bytes (%.2f%%)  hash %016llx\n", level.name,
                    mbPerSecond(input.size(), secs), encoded.size(),
                    100.0 * double(encoded.size()) / double(input.size()),
                    static_cast<unsigned long long>(fnv1a(encoded)));
        stream = std::move(encoded);
    }

    std::vector<uint8_t> fast, reference;
    double fastSecs = 1e9, referenceSecs = 1e9;
    for (int run = 0; run < runs; ++run) {
        const double start = cpuSeconds();
        fast = lzari::decode(stream.data(), stream.size(), input.size());
        fastSecs = std::min(fastSecs, cpuSeconds() - start);
        double secs = 0;
        reference = referenceDecodeThroughFiles(stream, secs);
        referenceSecs = std::min(referenceSecs, secs);
    }
    const bool same = fast == reference && fast == input;
    std::printf("decode fast           %8.2f MB/s\n", mbPerSecond(fast.size(), fastSecs));
    std::printf("decode reference      %8.2f MB/s\n", mbPerSecond(reference.size(), referenceSecs));
    std::printf("decode speed-up       %8.2fx, output %s\n", referenceSecs / fastSecs,
                same ? "identical" : "DIFFERENT");
    return same ? 0 : 1;
}
