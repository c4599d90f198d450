// GetFileVersion of a large executable against reading the whole file once: the reader should
// touch only the headers and the resource tree, never the bulk of the file.
//   peimage_bench [FILE] [ROUNDS]
// FILE defaults to Wine's 64-bit comctl32.dll (about 6 MiB), else a 6 MiB copy of the 64-bit test
// image with its bulk behind the image. Both sides run on a file the page cache already holds.
#include "hostutil/Version.h"
#include "peimage/HostMapping.h"
#include "platform/Host.h"
#include "platform/TextConvert.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const char* const kDefaultImage = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/comctl32.dll";

// The best of several runs of `rounds` calls, in microseconds per call.
template <typename F> double microsecondsPerCall(F f, int rounds)
{
    double best = 1e300;
    for (int run = 0; run < 7; ++run) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < rounds; ++i)
            f();
        const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count() / rounds);
    }
    return best;
}

size_t readWhole(const std::string& path, std::vector<uint8_t>& buffer)
{
    const platform::UniqueStream file(platform::openFileUtf8(path, "rb"));
    if (!file)
        return 0;
    size_t total = 0;
    for (size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0;)
        total += got;
    return total;
}

} // namespace

int main(int argc, char** argv)
{
    std::string path = argc > 1 ? argv[1] : kDefaultImage;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 50;
    std::error_code ec;
    std::string made;
    if (!std::filesystem::is_regular_file(path, ec)) {
        std::ifstream in(std::string(KV_SOURCE_DIR) + "/tests/peimage/images/version64.dll",
                         std::ios::binary);
        std::vector<char> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        image.resize(6 << 20, 'x');
        made = (std::filesystem::temp_directory_path() / "peimage_bench.dll").string();
        std::ofstream(made, std::ios::binary).write(image.data(), std::streamsize(image.size()));
        path = made;
    }
    const std::wstring wide = platform::utf8ToWide(path);
    std::vector<uint8_t> buffer(6 << 20);
    const size_t size = readWhole(path, buffer);
    const std::wstring version = hostutil::GetFileVersion(wide, peimage::HostFileMapping::make);
    if (size == 0 || version.empty()) {
        std::fprintf(stderr, "peimage_bench: %s: unreadable or without a file version\n", path.c_str());
        return 1;
    }
    const double reader =
        microsecondsPerCall([&] { hostutil::GetFileVersion(wide, peimage::HostFileMapping::make); }, rounds);
    const double whole = microsecondsPerCall([&] { readWhole(path, buffer); }, rounds);
    std::printf("file            %s (%zu bytes), version %s\n", path.c_str(), size,
                platform::wideToUtf8(version).c_str());
    std::printf("GetFileVersion  %10.1f us\n", reader);
    std::printf("whole read      %10.1f us (%.0f MB/s, 6 MiB buffer)\n", whole, double(size) / whole);
    std::printf("ratio           %10.3f (aim: below 0.05)\n", reader / whole);
    if (!made.empty())
        std::filesystem::remove(made, ec);
    return 0;
}
