// Deterministic inputs for the codec's tests and benchmarks: noise, text and executable-like bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lzari_testdata {

// splitmix64: the same sequence on every platform and compiler.
class Random {
public:
    explicit Random(uint64_t seed) : mState(seed) {}
    uint64_t next()
    {
        uint64_t z = (mState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t bound) { return uint32_t(next() % bound); }

private:
    uint64_t mState;
};

inline std::vector<uint8_t> noise(size_t size, uint64_t seed)
{
    Random random(seed);
    std::vector<uint8_t> out(size);
    for (auto& byte : out) {
        byte = uint8_t(random.next());
    }
    return out;
}

inline std::vector<uint8_t> text(size_t size, uint64_t seed)
{
    static const char* const kWords[] = {"the ",     "installer ", "copies ",  "each ",    "item ",  "into ",
                                         "folder ",  "and ",       "starts ",  "plug-in ", "of ",    "a ",
                                         "browser ", "meeting ",   "client\n", "trace ",   "file, ", "log. "};
    Random random(seed);
    std::string out;
    while (out.size() < size) {
        out += kWords[random.below(sizeof(kWords) / sizeof(kWords[0]))];
    }
    out.resize(size);
    return std::vector<uint8_t>(out.begin(), out.end());
}

// Machine code made of a few instruction shapes with varying operands, zero padding between
// functions, tables of 32-bit addresses and runs of import names: what compresses like a program.
inline std::vector<uint8_t> executableLike(size_t size, uint64_t seed)
{
    Random random(seed);
    std::vector<uint8_t> out;
    out.reserve(size + 256);
    static const char* const kNames[] = {"CreateFileW",  "ReadFile",      "WriteFile",      "CloseHandle",
                                         "GetLastError", "RegOpenKeyExW", "CreateProcessW", "MapViewOfFile"};
    while (out.size() < size) {
        const uint32_t kind = random.below(16);
        if (kind < 11) {
            // A function: prologue, instruction soup over a few registers and frame offsets, epilogue.
            const uint8_t prologue[] = {0x55, 0x8B, 0xEC, 0x83, 0xEC, uint8_t(random.below(8) * 4)};
            out.insert(out.end(), prologue, prologue + sizeof prologue);
            for (uint32_t n = 8 + random.below(40); n > 0; --n) {
                switch (random.below(6)) {
                case 0:
                    out.insert(out.end(), {0x8B, 0x45, uint8_t(0x08 + 4 * random.below(4))});
                    break;
                case 1:
                    out.insert(out.end(), {0x89, 0x45, uint8_t(0xF0 + 4 * random.below(4))});
                    break;
                case 2: {
                    const uint32_t target = 0x401000 + random.below(0x4000) * 4;
                    out.insert(out.end(), {0xE8, uint8_t(target), uint8_t(target >> 8), 0x00, 0x00});
                    break;
                }
                case 3:
                    out.insert(out.end(), {0x85, 0xC0, 0x74, uint8_t(random.below(64))});
                    break;
                case 4:
                    out.insert(out.end(), {0x6A, uint8_t(random.below(4))});
                    break;
                default:
                    out.push_back(uint8_t(0x50 + random.below(8)));
                    break;
                }
            }
            out.insert(out.end(), {0x8B, 0xE5, 0x5D, 0xC3});
            out.insert(out.end(), random.below(12), 0xCC);
        } else if (kind < 13) {
            out.insert(out.end(), 16 + random.below(200), 0x00);
        } else if (kind < 15) {
            for (uint32_t n = 4 + random.below(24); n > 0; --n) {
                const uint32_t address = 0x00401000 + random.below(0x8000) * 16;
                out.insert(out.end(),
                           {uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16), 0x00});
            }
        } else {
            for (uint32_t n = 2 + random.below(6); n > 0; --n) {
                const std::string name = kNames[random.below(8)];
                out.insert(out.end(), {uint8_t(random.below(256)), 0x00});
                out.insert(out.end(), name.begin(), name.end());
                out.push_back(0x00);
            }
        }
    }
    out.resize(size);
    return out;
}

} // namespace lzari_testdata
