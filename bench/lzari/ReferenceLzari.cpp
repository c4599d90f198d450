// The greedy yardstick encoder: brute-force match search and a textbook arithmetic coder.
#include "ReferenceLzari.h"

#include <algorithm>

namespace lzari_reference {

namespace {

class Encoder {
public:
    explicit Encoder(std::vector<uint8_t>& out) : mOut(out) {}

    void encodeChar(uint32_t c)
    {
        const uint32_t s = m.charToSym[c];
        narrow(m.cum[s - 1], m.cum[s], m.cum[0]);
        m.update(s);
    }

    void encodePosition(uint32_t p) { narrow(m.posCum[p], m.posCum[p + 1], m.posCum[0]); }

    // Selects a quarter inside the last interval; what follows may read as anything, 1-bits
    // included, so the padding is 1s and trailing 0xFF bytes are left out.
    void finish()
    {
        ++pending;
        emit(low < 0x8000 ? 0 : 1);
        while (bitCount != 0) {
            put(1);
        }
        while (mOut.size() > 4 && mOut.back() == 0xFF) {
            mOut.pop_back();
        }
    }

private:
    void narrow(uint32_t cumHigh, uint32_t cumLow, uint32_t total)
    {
        const uint32_t range = high - low;
        high = low + range * cumHigh / total;
        low = low + range * cumLow / total;
        for (;;) {
            if (low >= 0x10000) {
                emit(1);
                low -= 0x10000;
                high -= 0x10000;
            } else if (low >= 0x8000 && high <= 0x18000) {
                ++pending;
                low -= 0x8000;
                high -= 0x8000;
            } else if (high > 0x10000) {
                break;
            } else {
                emit(0);
            }
            low += low;
            high += high;
        }
    }

    void emit(uint32_t bit)
    {
        put(bit);
        for (; pending > 0; --pending) {
            put(!bit);
        }
    }

    void put(uint32_t bit)
    {
        byte = uint8_t(byte << 1 | bit);
        if (++bitCount == 8) {
            mOut.push_back(byte);
            bitCount = 0;
        }
    }

    std::vector<uint8_t>& mOut;
    Model m;
    uint32_t low = 0, high = 0x20000, pending = 0, bitCount = 0;
    uint8_t byte = 0;
};

} // namespace

std::vector<uint8_t> encodeTokens(uint32_t textSize, const std::vector<Token>& tokens)
{
    std::vector<uint8_t> out{uint8_t(textSize), uint8_t(textSize >> 8), uint8_t(textSize >> 16),
                             uint8_t(textSize >> 24)};
    Encoder encoder(out);
    for (const Token& token : tokens) {
        encoder.encodeChar(token.code);
        if (token.code >= 256) {
            encoder.encodePosition(token.position);
        }
    }
    encoder.finish();
    return out;
}

std::vector<uint8_t> greedyEncode(const std::vector<uint8_t>& input)
{
    if (input.empty()) {
        return {0, 0, 0, 0};
    }
    std::vector<Token> tokens;
    // The text as the decoder's ring sees it: 4036 spaces, then the input.
    std::vector<uint8_t> text(4036 + input.size(), ' ');
    for (size_t i = 0; i < input.size(); ++i) {
        text[4036 + i] = input[i];
    }
    size_t j = 4036;
    while (j < text.size()) {
        const size_t limit = std::min<size_t>(60, text.size() - j);
        size_t best = 0, bestDistance = 0;
        for (size_t d = 1; d <= std::min<size_t>(4096, j) && best < limit; ++d) {
            size_t len = 0;
            while (len < limit && text[j - d + len] == text[j + len]) {
                ++len;
            }
            if (len > best) {
                best = len;
                bestDistance = d;
            }
        }
        if (best >= 3) {
            tokens.push_back({uint32_t(253 + best), uint32_t(bestDistance - 1)});
            j += best;
        } else {
            tokens.push_back({text[j]});
            ++j;
        }
    }
    return encodeTokens(uint32_t(input.size()), tokens);
}

} // namespace lzari_reference
