// Version resource parsing over a bounded byte span.
#include "peimage/VersionResource.h"

#include "platform/Bytes.h"
#include "platform/Decimal.h"
#include "platform/TextConvert.h"

#include <algorithm>

namespace peimage {

namespace {

// VS_VERSIONINFO as the queries read it (offsets in bytes from the block's start):
//
//   +0   wLength         u16
//   +2   wValueLength    u16
//   +4   wType           u16
//   +6   szKey           "VS_VERSION_INFO" and its terminator, 32 bytes
//   +38  padding         u16
//   +40  VS_FIXEDFILEINFO, 52 bytes:
//          +40 dwSignature  +44 dwStrucVersion
//          +48 dwFileVersionMS     +52 dwFileVersionLS
//          +56 dwProductVersionMS  +60 dwProductVersionLS   ...
//   +92  children: StringFileInfo { header, key, string tables { header, key, strings } },
//        VarFileInfo
constexpr uint32_t kFixedFileVersion = 48;
constexpr uint32_t kFixedProductVersion = 56;
constexpr uint32_t kFixedEnd = 64;
constexpr uint32_t kHeaderSize = 6;
constexpr uint32_t kFixedAt = 40;

std::wstring fixedVersion(const uint8_t* data, uint32_t size, uint32_t at)
{
    if (!data || size < kFixedEnd)
        return {};
    // Each 32-bit half holds the higher-order number in its upper 16 bits.
    const uint32_t ms = platform::load32(data + at);
    const uint32_t ls = platform::load32(data + at + 4);
    using platform::decimal;
    return platform::utf8ToWide(decimal(ms >> 16) + "." + decimal(ms & 0xFFFF) + "." + decimal(ls >> 16) + "." +
                                decimal(ls & 0xFFFF));
}
// The longest key or value measured, as StringCchLengthW's limit has it.
constexpr uint32_t kMaxTextUnits = 1024;

// The blocks below the fixed part each begin with the same header; lengths are in bytes and
// every block starts on a 4-byte boundary from the block's start:
//
//   +0 wLength  +2 wValueLength  +4 wType  +6 szKey (UTF-16, terminated), padding, value
//
// The walk follows wLength from block to block rather than skipping zero words: an empty value
// is a lone terminator that such skipping takes for padding, after which the next string's header
// is read as the value and every later key is missed.
class Blocks {
public:
    Blocks(const uint8_t* data, uint32_t size) : mData(data), mSize(size) {}

    bool fits(uint64_t at, uint64_t bytes) const { return at <= mSize && bytes <= mSize - at; }
    uint16_t word(uint64_t at) const { return platform::load16(mData + at); }
    static uint64_t align(uint64_t at) { return (at + 3) & ~uint64_t(3); }

    // The block at `at` that ends no later than `limit`: its end, or 0 when it does not fit or
    // is too short to hold its header (a length below that would never move the walk on).
    uint64_t end(uint64_t at, uint64_t limit) const
    {
        if (!fits(at, kHeaderSize) || word(at) < kHeaderSize)
            return 0;
        return std::min(at + word(at), limit);
    }

    // The terminated text at `at` before `limit`; a text with no terminator within the limit of
    // units, or before `limit`, counts as empty. `next` gets where its terminator ends.
    std::u16string text(uint64_t at, uint64_t limit, uint64_t& next) const
    {
        std::u16string units;
        for (uint64_t p = at; units.size() < kMaxTextUnits && p + 2 <= limit && fits(p, 2); p += 2) {
            const char16_t unit = word(p);
            if (unit == 0) {
                next = p + 2;
                return units;
            }
            units.push_back(unit);
        }
        next = at;
        return {};
    }

private:
    const uint8_t* mData;
    uint32_t mSize;
};

char16_t lowerAscii(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}

bool sameKey(const std::u16string& a, const std::u16string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

} // namespace

std::wstring fixedFileVersion(const uint8_t* data, uint32_t size)
{
    return fixedVersion(data, size, kFixedFileVersion);
}

std::wstring fixedProductVersion(const uint8_t* data, uint32_t size)
{
    return fixedVersion(data, size, kFixedProductVersion);
}

std::wstring versionString(const uint8_t* data, uint32_t size, const std::wstring& key)
{
    if (!data)
        return {};
    const std::u16string wanted = platform::wideToUtf16(key);
    const Blocks blocks(data, size);
    const uint64_t rootEnd = blocks.end(0, size);
    if (rootEnd == 0)
        return {};
    uint64_t next = 0;
    // The children follow the fixed part, whose length the root's wValueLength gives.
    for (uint64_t child = Blocks::align(kFixedAt + blocks.word(2)); child < rootEnd;) {
        const uint64_t childEnd = blocks.end(child, rootEnd);
        if (childEnd == 0)
            return {};
        if (blocks.text(child + kHeaderSize, childEnd, next) == u"StringFileInfo") {
            // Only the first string table is searched.
            const uint64_t table = Blocks::align(next);
            const uint64_t tableEnd = blocks.end(table, childEnd);
            if (tableEnd == 0)
                return {};
            blocks.text(table + kHeaderSize, tableEnd, next);
            for (uint64_t string = Blocks::align(next); string < tableEnd;) {
                const uint64_t stringEnd = blocks.end(string, tableEnd);
                if (stringEnd == 0)
                    return {};
                const std::u16string stringKey = blocks.text(string + kHeaderSize, stringEnd, next);
                if (sameKey(stringKey, wanted)) {
                    if (blocks.word(string + 2) == 0)
                        return {};
                    uint64_t after = 0;
                    return platform::utf16ToWide(blocks.text(Blocks::align(next), stringEnd, after));
                }
                string = Blocks::align(stringEnd);
            }
            return {};
        }
        child = Blocks::align(childEnd);
    }
    return {};
}

} // namespace peimage
