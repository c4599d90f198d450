// Opening the two files of LZARI::DecodeFile and pumping them through the decoding core.
#include "lzari/win32/LZARI.h"

#include "lzari/Codec.h"
#include "lzari/Decoder.h"
#include "lzari/Model.h"
#include "platform/Decimal.h"
#include "platform/Host.h"

#include <algorithm>
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

// Reads through a handle; a failed read ends the stream and keeps its error for the caller.
class HandleSource : public lzari::ByteSource {
public:
    explicit HandleSource(HANDLE file) : mFile(file), mBuffer(kBufferSize) {}
    Piece next() override
    {
        DWORD got = 0;
        if (mError == 0 && !ReadFile(mFile, mBuffer.data(), static_cast<DWORD>(mBuffer.size()), &got, nullptr)) {
            mError = GetLastError();
            got = 0;
        }
        return {mBuffer.data(), mError == 0 ? got : 0};
    }
    uint32_t error() const { return mError; }

private:
    HANDLE mFile;
    std::vector<uint8_t> mBuffer;
    uint32_t mError = 0;
};

// The count as "%12lu" writes it, then the end character, to the standard output stream.
void printCount(uint64_t count, char end)
{
    std::string line = platform::decimal(count, 12);
    line += end;
    std::fwrite(line.data(), 1, line.size(), stdout);
}

// The decode both entries share: the length field (its read error printed and let out), then the
// bytes handed to `write` in pieces with the progress lines between; stops when `write` refuses.
template <class Write> void pump(lzari::ByteSource& source, Write write)
{
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
    // The progress marks come every KiB; the output goes out a full buffer at a time, as each
    // write is a system call (and under Wine more than one). The ring's bytes stay in front of
    // the buffer, so that the decoder writes into it directly.
    std::vector<uint8_t> buffer(lzari::kRingSize + kBufferSize);
    uint8_t* const data = buffer.data() + lzari::kRingSize;
    size_t filled = 0;
    while (!decoder->finished()) {
        if (kBufferSize - filled < lzari::Decoder::kInPlaceRoom) {
            if (!write(data, filled)) {
                return;
            }
            std::copy(data + filled - lzari::kRingSize, data + filled, buffer.data());
            filled = 0;
        }
        filled += decoder->decodeAfter(data + filled, kBufferSize - filled);
        if (decoder->takeProgressMark()) {
            printCount(decoder->count(), '\r');
        }
    }
    if (filled > 0 && !write(data, filled)) {
        return;
    }
    printCount(decoder->count(), '\n');
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
    pump(source, [&output](const uint8_t* data, size_t size) {
        // Write errors go unchecked here: the caller judges the output by what it can read back.
        std::fwrite(data, 1, size, output.get());
        return true;
    });
}

namespace lzari::win32 {

FileDecode decodeFile(HANDLE in, HANDLE out)
{
    FileDecode result;
    HandleSource source(in);
    try {
        pump(source, [&](const uint8_t* data, size_t size) {
            if (writeWhole(out, data, size, result.error))
                return true;
            result.status = FileDecode::Status::WriteFailed;
            return false;
        });
    } catch (const lzari::ReadError&) {
        result.status = FileDecode::Status::ShortHead;
    }
    // A read that failed ended the stream early: whatever was decoded from the 1-bits behind it is
    // not the payload.
    if (source.error() != 0 && result.status != FileDecode::Status::WriteFailed) {
        result.status = FileDecode::Status::ReadFailed;
        result.error = source.error();
    }
    return result;
}

bool writeWhole(HANDLE file, const uint8_t* data, size_t size, uint32_t& error)
{
    while (size > 0) {
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, data, piece, &written, nullptr)) {
            error = GetLastError();
            return false;
        }
        if (written == 0) {
            // Nothing taken and nothing said: a full disk by another name.
            error = ERROR_DISK_FULL;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

} // namespace lzari::win32
