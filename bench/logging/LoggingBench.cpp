// Figures for the logging front end: driver lines per second into a discarding sink, and masking
// throughput on a large text dense with keywords.
#include "logging/Logger.h"
#include "logging/Masking.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

using namespace rlxutil;

namespace {

// Processor time of this process: the machine is shared, and wall time would measure the others.
double cpuSeconds()
{
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

class DiscardSink : public ILogger {
public:
    void log(int32_t, const std::string&, const std::string& line) override { mBytes += line.size(); }
    size_t mBytes = 0;
};

double secondsSince(double start)
{
    return cpuSeconds() - start;
}

void benchDriverLines()
{
    auto sink = std::make_shared<DiscardSink>();
    getLogger("DPX")->setLogger(sink);
    const std::wstring source = L"C:\\Users\\Someone\\AppData\\Local\\Temp\\kv4F2A.tmp\\KavariStart.exe";
    const std::wstring target = L"C:\\Users\\Someone\\AppData\\Roaming\\Kavari\\bin\\KavariStart.exe";
    const std::wstring moved = L"C:\\Users\\Someone\\AppData\\Roaming\\Kavari\\bin\\KavariStart.exe.old";
    size_t lines = 0;
    const double start = cpuSeconds();
    double elapsed = 0;
    while (elapsed < 0.5) {
        for (int i = 0; i < 1000; ++i) {
            getLogger("DPX")->log(
                1, LogItem(textValue("filesystem>>ForceCopyFile")), LogItem(maskedValue(source), "strSource"),
                LogItem(maskedValue(target), "strTarget"), LogItem(maskedValue(moved), "strMoved"));
        }
        lines += 1000;
        elapsed = secondsSince(start);
    }
    getLogger("DPX")->setLogger(nullptr);
    std::printf("driver line (message + 3 masked paths): %.0f lines/s (%zu bytes per line)\n",
                lines / elapsed, sink->mBytes / lines);
}

// Log-like text: profile paths, e-mail addresses, JSON, command lines with keyword values. Values
// end at a comma well within 128 bytes, and there is no double backslash and no web address with a
// credential: either would make one range run far ahead and drop the rest of the text, and the
// figure would then measure nothing.
std::string denseText(size_t size)
{
    static const char* const kFragments[] = {
        "copy C:\\Users\\Someone\\AppData\\Roaming\\Kavari\\bin\\KavariStart.exe, to D:\\Users\\Other\\x.dll,\n",
        "join as john.doe@example.com, cc first_last%40example.org,\n",
        "{\"topic\":\"Weekly sync\",\"displayName\":\"Jane Roe\",\"size\":4}\n",
        "KavariStart.exe --token=eyJhbGciOiJIUzI1NiJ9.e30.abc,username=jroe&x,personalRoom=4711,next\n",
        "Authorization: Bearer abcdef0123456789,MetricsTicket=mt-99,TelemetryInfo=ti-1,end\n",
        "kavari://launch/meeting=123456789,user_name=Jane,recentPhoneNumberList=555,556\n",
        "InstallKavariAddOn>>item, name=KavariPlugin.dll, uSize=482304, uOffset=1024\n",
    };
    std::string text;
    for (size_t i = 0; text.size() < size; ++i) {
        text += kFragments[i % std::size(kFragments)];
    }
    text.resize(size);
    return text;
}

// Printed with the figure, so that a faster version can be seen to give the same bytes.
uint64_t fnv1a(const std::string& bytes)
{
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : bytes) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    }
    return hash;
}

void benchMasking()
{
    const std::string text = denseText(1 << 20);
    size_t rounds = 0;
    uint64_t check = 0;
    const double start = cpuSeconds();
    double elapsed = 0;
    while (elapsed < 0.5) {
        const std::string masked = maskSensitiveInfo(text);
        check = fnv1a(masked);
        ++rounds;
        elapsed = secondsSince(start);
    }
    std::printf("masking, 1 MiB dense with keywords: %.1f MB/s (output hash %016llx)\n",
                rounds * double(text.size()) / elapsed / 1e6, static_cast<unsigned long long>(check));
}

} // namespace

// With an argument, only the named figure: "lines" or "masking".
int main(int argc, char** argv)
{
    const std::string only = argc > 1 ? argv[1] : "";
    if (only.empty() || only == "lines") {
        benchDriverLines();
    }
    if (only.empty() || only == "masking") {
        benchMasking();
    }
    return 0;
}
