// Opening the two files of LZARI::DecodeFile and pumping them through the decoding core.
#include "lzari/win32/LZARI.h"

#include "lzari/Codec.h"
#include "lzari/Decoder.h"
#include "platform/Decimal.h"
#include "platform/Host.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr size_t kBufferSize = 64 * 1024;

class FileSource : public lzari::ByteSource {
public:
    explicit FileSource(std::FILE* file) : mFile(file), mBuffer(kBufferSize) {}
    Piece next() override
    {
        // A read error ends the stream like the end of the file does.
        const size_t got = std::fread(mBuffer.data(), 1, mBuffer.size(), mFile);
        return {mBuffer.data(), got};
    }

private:
    std::FILE* mFile;
    std::vector<uint8_t> mBuffer;
};

// The count as "%12lu" writes it, then the end character, to the standard output stream.
void printCount(uint64_t count, char end)
{
    std::string line = platform::decimal(count, 12);
    line += end;
    std::fwrite(line.data(), 1, line.size(), stdout);
}

} // namespace

void LZARI::DecodeFile(const std::wstring& in, const std::wstring& out)
{
    // The output is only created once the input is known to open, so a missing input leaves an
    // existing output untouched.
    // _wfopen itself, not platform::openFile: that would link the tools' file host, and with it
    // the C++ runtime's file-system and locale code, into the setup program.
    platform::UniqueStream input(_wfopen(in.c_str(), L"rb"));
    if (!input) {
        return;
    }
    platform::UniqueStream output(_wfopen(out.c_str(), L"wb"));
    if (!output) {
        return;
    }
    FileSource source(input.get());
    std::unique_ptr<lzari::Decoder> decoder;
    try {
        decoder = std::make_unique<lzari::Decoder>(source);
    } catch (const lzari::ReadError&) {
        std::fputs("\nRead Error\n", stdout);
        throw;
    }
    if (decoder->textSize() == 0) {
        return;
    }
    std::vector<uint8_t> buffer(kBufferSize);
    while (!decoder->finished()) {
        const size_t written = decoder->decodeSome(buffer.data(), buffer.size());
        // Write errors go unchecked: the caller judges the output by what it can read back.
        std::fwrite(buffer.data(), 1, written, output.get());
        if (decoder->takeProgressMark()) {
            printCount(decoder->count(), '\r');
        }
    }
    printCount(decoder->count(), '\n');
}
