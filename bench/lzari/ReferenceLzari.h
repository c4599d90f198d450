// A plain LZARI decoder and greedy encoder, written for clarity only: the yardsticks the fast
// codec is checked and timed against. LZARI is Haruhiko Okumura's LZARI.C (1989): LZSS codes with
// the adaptive arithmetic coder of Witten, Neal and Cleary (CACM 30(6), 1987).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace lzari_reference {

// The models, set up and updated exactly as described, with plain running-sum tables.
struct Model {
    uint32_t ceiling = 32767;
    bool roundUp = true;
    uint32_t charToSym[314] = {}, symToChar[315] = {}, freq[315] = {}, cum[315] = {}, posCum[4097] = {};

    Model()
    {
        for (uint32_t s = 314; s >= 1; --s) {
            charToSym[s - 1] = s;
            symToChar[s] = s - 1;
            freq[s] = 1;
            cum[s - 1] = cum[s] + 1;
        }
        for (uint32_t i = 4096; i >= 1; --i) {
            posCum[i - 1] = posCum[i] + 10000 / (i + 200);
        }
    }

    void update(uint32_t s)
    {
        if (cum[0] >= ceiling) {
            uint32_t t = 0;
            for (uint32_t i = 314; i >= 1; --i) {
                cum[i] = t;
                freq[i] = (freq[i] + (roundUp ? 1 : 0)) / 2;
                t += freq[i];
            }
            cum[0] = t;
        }
        uint32_t i = s;
        while (freq[i] == freq[i - 1]) {
            --i;
        }
        if (i < s) {
            const uint32_t ci = symToChar[i], cs = symToChar[s];
            symToChar[i] = cs;
            symToChar[s] = ci;
            charToSym[ci] = s;
            charToSym[cs] = i;
        }
        ++freq[i];
        while (i-- > 0) {
            ++cum[i];
        }
    }
};

// One bit at a time, one byte per call of In::get() (-1 at the end) and Out::put(), cumulative
// counts updated one by one. u32 arithmetic throughout.
template <class In, class Out> class Decoder {
public:
    Decoder(In& in, Out& out) : mIn(in), mOut(out) {}

    Model m;
    uint8_t ring[4096] = {};

    // False when the stream is shorter than its length field (the read error).
    bool run()
    {
        uint32_t textSize = 0;
        for (int i = 0; i < 4; ++i) {
            const int byte = mIn.get();
            if (byte < 0) {
                return false;
            }
            textSize |= uint32_t(byte) << (8 * i);
        }
        if (textSize == 0) {
            return true;
        }
        for (int i = 0; i < 17; ++i) {
            value = 2 * value + bit();
        }
        for (uint32_t i = 0; i < 4036; ++i) {
            ring[i] = ' ';
        }
        uint32_t r = 4036;
        uint32_t count = 0;
        while (count < textSize) {
            const uint32_t c = decodeChar();
            if (c < 256) {
                mOut.put(int(c));
                ring[r] = uint8_t(c);
                r = (r + 1) & 4095;
                ++count;
            } else {
                const uint32_t start = (r - decodePosition() - 1) & 4095;
                const uint32_t length = c - 253;
                count += length;
                for (uint32_t k = 0; k < length; ++k) {
                    const uint8_t b = ring[(start + k) & 4095];
                    mOut.put(b);
                    ring[r] = b;
                    r = (r + 1) & 4095;
                }
            }
        }
        return true;
    }

private:
    uint32_t bit()
    {
        if ((mask >>= 1) == 0) {
            buffer = uint32_t(mIn.get()); // -1 at the end: every bit set
            mask = 0x80;
        }
        return (buffer & mask) != 0;
    }

    void renormalise()
    {
        for (;;) {
            if (low >= 0x10000) {
                value -= 0x10000;
                low -= 0x10000;
                high -= 0x10000;
            } else if (low >= 0x8000 && high <= 0x18000) {
                value -= 0x8000;
                low -= 0x8000;
                high -= 0x8000;
            } else if (high > 0x10000) {
                break;
            }
            low += low;
            high += high;
            value = 2 * value + bit();
        }
    }

    uint32_t decodeChar()
    {
        const uint32_t range = high - low;
        const uint32_t target = ((value - low + 1) * m.cum[0] - 1) / range;
        uint32_t i = 1, j = 314;
        while (i < j) {
            const uint32_t k = (i + j) / 2;
            if (m.cum[k] > target) {
                i = k + 1;
            } else {
                j = k;
            }
        }
        high = low + range * m.cum[i - 1] / m.cum[0];
        low = low + range * m.cum[i] / m.cum[0];
        renormalise();
        const uint32_t c = m.symToChar[i];
        m.update(i);
        return c;
    }

    uint32_t decodePosition()
    {
        const uint32_t range = high - low;
        const uint32_t target = ((value - low + 1) * m.posCum[0] - 1) / range;
        uint32_t i = 1, j = 4096;
        while (i < j) {
            const uint32_t k = (i + j) / 2;
            if (m.posCum[k] > target) {
                i = k + 1;
            } else {
                j = k;
            }
        }
        const uint32_t p = i - 1;
        high = low + range * m.posCum[p] / m.posCum[0];
        low = low + range * m.posCum[p + 1] / m.posCum[0];
        renormalise();
        return p;
    }

    In& mIn;
    Out& mOut;
    uint32_t low = 0, high = 0x20000, value = 0, buffer = 0, mask = 0;
};

struct MemoryIn {
    const std::vector<uint8_t>& data;
    size_t at = 0;
    int get() { return at < data.size() ? data[at++] : -1; }
};

struct MemoryOut {
    std::vector<uint8_t> data;
    void put(int byte) { data.push_back(uint8_t(byte)); }
};

struct StdioIn {
    std::FILE* file;
    int get() { return std::getc(file); }
};

struct StdioOut {
    std::FILE* file;
    void put(int byte) { std::putc(byte, file); }
};

// Ways a decoder could differ, to show that tests notice them.
struct Variant {
    uint32_t ceiling = 32767;
    bool roundUp = true;
    uint8_t unwritten = 0; // what ring positions 4036..4095 hold before their first write
};

// The reference decode of a stream in memory; false for the read error.
inline bool decode(const std::vector<uint8_t>& stream, std::vector<uint8_t>& out, const Variant& variant = {})
{
    MemoryIn in{stream};
    MemoryOut sink;
    auto decoder = std::make_unique<Decoder<MemoryIn, MemoryOut>>(in, sink);
    decoder->m.ceiling = variant.ceiling;
    decoder->m.roundUp = variant.roundUp;
    for (uint32_t i = 4036; i < 4096; ++i) {
        decoder->ring[i] = variant.unwritten;
    }
    const bool ok = decoder->run();
    out = std::move(sink.data);
    return ok;
}

// One code: a byte (below 256) or a match length code, followed by its position.
struct Token {
    uint32_t code;
    uint32_t position = 0;
};

// Codes the tokens behind the given length field, whether or not they agree with it: the way to
// build damaged and unusual streams.
std::vector<uint8_t> encodeTokens(uint32_t textSize, const std::vector<Token>& tokens);

// The greedy yardstick: at every step the longest match over the whole window (the nearest of
// equally long ones), found by trying every distance, coded with the models above.
std::vector<uint8_t> greedyEncode(const std::vector<uint8_t>& input);

} // namespace lzari_reference
