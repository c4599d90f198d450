// Times LZARI decoding against the plain reference decoder, and each encode level against greedy.
#include "ReferenceLzari.h"
#include "TestData.h"
#include "lzari/Codec.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double mbPerSecond(size_t bytes, double secs)
{
    return double(bytes) / 1e6 / secs;
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
    const auto start = Clock::now();
    lzari_reference::StdioIn source{in};
    lzari_reference::StdioOut sink{out};
    auto decoder =
        std::make_unique<lzari_reference::Decoder<lzari_reference::StdioIn, lzari_reference::StdioOut>>(
            source, sink);
    decoder->run();
    std::fflush(out);
    secs = seconds(start);
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

int main(int argc, char** argv)
{
    const size_t size = argc > 1 ? size_t(std::atoi(argv[1])) << 20 : size_t(6) << 20;
    const std::vector<uint8_t> input = lzari_testdata::executableLike(size, 2024);
    std::printf("payload: %zu bytes executable-like\n", input.size());

    struct Level {
        const char* name;
        lzari::EncodeLevel level;
    };
    std::vector<uint8_t> stream;
    for (const Level& level :
         {Level{"greedy", lzari::EncodeLevel::greedy}, Level{"best", lzari::EncodeLevel::best}}) {
        const auto start = Clock::now();
        std::vector<uint8_t> encoded = lzari::encode(input.data(), input.size(), level.level);
        const double secs = seconds(start);
        std::printf("encode %-6s  %8.2f MB/s  %9zu bytes (%.2f%%)\n", level.name,
                    mbPerSecond(input.size(), secs), encoded.size(),
                    100.0 * double(encoded.size()) / double(input.size()));
        stream = std::move(encoded);
    }

    // Best of three runs each: the figures should show the code, not the machine's other work.
    std::vector<uint8_t> fast, reference;
    double fastSecs = 1e9, referenceSecs = 1e9;
    for (int run = 0; run < 3; ++run) {
        const auto start = Clock::now();
        fast = lzari::decode(stream.data(), stream.size(), input.size());
        fastSecs = std::min(fastSecs, seconds(start));
        double secs = 0;
        reference = referenceDecodeThroughFiles(stream, secs);
        referenceSecs = std::min(referenceSecs, secs);
    }
    const bool same = fast == reference && fast == input;
    std::printf("decode fast       %8.2f MB/s\n", mbPerSecond(fast.size(), fastSecs));
    std::printf("decode reference  %8.2f MB/s\n", mbPerSecond(reference.size(), referenceSecs));
    std::printf("speed-up %.2fx, output %s\n", referenceSecs / fastSecs, same ? "identical" : "DIFFERENT");
    return same ? 0 : 1;
}
