// Masking of sensitive values in log text: four passes over the text, each matching its input
// without regard to ASCII case and changing only bytes that no later search of the pass looks at.
#include "logging/Masking.h"

#include "logging/Logger.h"
#include "platform/Decimal.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

namespace rlxutil {

namespace {

constexpr size_t npos = std::string::npos;

// Table order matters: where a step takes "the first entry that occurs", an entry that occurs
// anywhere further on wins over a later one that occurs sooner. Entries are in lower case.
constexpr std::string_view kKeywords[] = {
    "/meeting=", "bearer",        "username",      "user_name",   "c:*users*",    "c:\\\\users\\\\",
    "\"topic\"", "telemetryinfo", "metricsticket", "displayname", "personalroom", "recentphonenumberlist",
    "token",
};
constexpr std::string_view kValueDelimiters[] = {"\\\\", ",", "&", "*", "\\"};
constexpr std::string_view kProfileFolder = "\\users\\";
constexpr std::string_view kCredentialWords[] = {"password", "email", "username", "ticket"};

constexpr size_t kKeptBytes = 3;
constexpr size_t kLongestInPlaceRange = 128;

unsigned char lowerByte(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return static_cast<unsigned>(byte - 'A') < 26u ? static_cast<unsigned char>(byte | 0x20) : byte;
}

// Whether a lower-case needle starts at pos, ignoring ASCII case. pos must not exceed the size.
bool matchesAt(std::string_view text, size_t pos, std::string_view needle)
{
    if (text.size() - pos < needle.size()) {
        return false;
    }
    for (size_t j = 0; j < needle.size(); ++j) {
        if (lowerByte(text[pos + j]) != static_cast<unsigned char>(needle[j])) {
            return false;
        }
    }
    return true;
}

// Candidates are found with memchr on both cases of the first byte, which skips far faster than
// looking at every byte.
size_t findNoCase(std::string_view text, std::string_view needle, size_t from)
{
    if (needle.size() > text.size() || from > text.size() - needle.size()) {
        return npos;
    }
    const char lower = needle[0];
    const char upper = lower >= 'a' && lower <= 'z' ? static_cast<char>(lower - 'a' + 'A') : lower;
    const size_t end = text.size() - needle.size() + 1;
    size_t nextLower = text.substr(0, end).find(lower, from);
    size_t nextUpper = upper != lower ? text.substr(0, end).find(upper, from) : npos;
    while (nextLower != npos || nextUpper != npos) {
        const size_t candidate = std::min(nextLower, nextUpper);
        if (matchesAt(text, candidate, needle)) {
            return candidate;
        }
        if (candidate == nextLower) {
            nextLower = text.substr(0, end).find(lower, candidate + 1);
        } else {
            nextUpper = text.substr(0, end).find(upper, candidate + 1);
        }
    }
    return npos;
}

// The unchecked core of addMask: the caller guarantees begin <= end <= text.size().
void maskRange(std::string& text, size_t begin, size_t end)
{
    const size_t n = end - begin;
    if (n == 0) {
        return;
    }
    if (n <= kKeptBytes) {
        std::fill(text.begin() + begin, text.begin() + end, '*');
    } else if (n <= kLongestInPlaceRange) {
        std::fill(text.begin() + begin + kKeptBytes, text.begin() + end, '*');
    } else {
        text.resize(begin + kKeptBytes);
        text += "***(" + platform::decimal(static_cast<uint64_t>(n - kKeptBytes)) + ")***";
    }
}

// The first occurrence at or after a position, for callers whose positions only grow: an answer
// stays valid until the position passes it, so a needle missing from the rest is searched once.
class ForwardFinder {
public:
    ForwardFinder(std::string_view text, std::string_view needle) : mText(text), mNeedle(needle) {}

    size_t find(size_t from)
    {
        if (!mSearched || from < mFrom || (mFound != npos && mFound < from)) {
            mFound = mText.find(mNeedle, from);
            mFrom = from;
            mSearched = true;
        }
        return mFound;
    }

private:
    std::string_view mText;
    std::string_view mNeedle;
    size_t mFrom = 0;
    size_t mFound = npos;
    bool mSearched = false;
};

// Cuts the text at the query of a web address when a credential word occurs anywhere.
void cutCredentialQuery(std::string& text)
{
    // Where "https" occurs "http" does too, so the first "https" lies at or after the first "http".
    const size_t http = findNoCase(text, "http", 0);
    if (http == npos) {
        return;
    }
    const size_t https = findNoCase(text, "https", http);
    const size_t marker = https != npos ? https : http;
    const bool credential =
        std::any_of(std::begin(kCredentialWords), std::end(kCredentialWords),
                    [&](std::string_view word) { return findNoCase(text, word, 0) != npos; });
    if (!credential) {
        return;
    }
    size_t query = text.find('?', marker);
    if (query == npos) {
        query = text.find(',', marker);
    }
    if (query != npos) {
        text.resize(query);
    }
}

bool isLocalPartByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '\'' ||
           c == '.';
}

// Each range masked lies before its marker and the search goes on behind it, so the pass can
// search the text it is changing. The markers hold no letters: case plays no part here.
void maskMailLocalParts(std::string& text)
{
    ForwardFinder at(text, "@");
    ForwardFinder percent(text, "%40");
    // A range longer than 128 bytes shortens the text to before the next search position, which
    // ends the loop before the finders could look at the dropped part.
    for (size_t s = 0; s < text.size();) {
        size_t a = at.find(s);
        if (a == npos) {
            a = percent.find(s);
        }
        if (a == npos || a > text.size()) {
            break;
        }
        // The byte at position 0 joins the range whatever it is: the walk never looks at it.
        size_t begin = 0;
        if (a > 0) {
            size_t i = a - 1;
            while (i > 0 && isLocalPartByte(text[i])) {
                --i;
            }
            begin = i == 0 ? 0 : i + 1;
        }
        maskRange(text, begin, a);
        s = a + 2;
    }
}

// A folder name holds no backslash and the next search looks for one, so the masked bytes are
// never searched again. Unlike the other passes, every byte of the name is hidden.
void maskProfileFolders(std::string& text)
{
    for (size_t s = 0;;) {
        size_t p = text.find('\\', s);
        while (p != npos && !matchesAt(text, p, kProfileFolder)) {
            p = text.find('\\', p + 1);
        }
        if (p == npos) {
            break;
        }
        const size_t b = p + kProfileFolder.size();
        const size_t e = text.find('\\', b);
        if (e != npos) {
            std::fill(text.begin() + b, text.begin() + e, '*');
        }
        s = b + kProfileFolder.size();
    }
}

// Where each keyword occurs, found in one walk over the text: thirteen separate searches would
// stop at every common letter the keywords start with. Three small byte tables rule out nearly
// every position before a keyword is compared in full. Positions are kept as narrow as the text
// allows: on large texts these lists are most of the memory the masking takes.
template <typename Position> class KeywordIndex {
public:
    explicit KeywordIndex(std::string_view text)
    {
        static const Tables tables;
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        for (size_t i = 0; i + kShortestKeyword <= text.size(); ++i) {
            unsigned candidates =
                tables.bytes[0][bytes[i]] & tables.bytes[1][bytes[i + 1]] & tables.bytes[2][bytes[i + 2]];
            for (; candidates != 0; candidates &= candidates - 1) {
                const auto k = static_cast<size_t>(__builtin_ctz(candidates));
                if (matchesAt(text, i, kKeywords[k])) {
                    mPositions[k].push_back(static_cast<Position>(i));
                    ++mCount;
                }
            }
        }
    }

    const std::vector<Position>& positions(size_t k) const { return mPositions[k]; }
    bool empty() const { return mCount == 0; }

private:
    static constexpr size_t kShortestKeyword = 5;
    static_assert(std::size(kKeywords) <= 16, "keyword sets are 16-bit masks");

    // For each of the first three bytes of a position, the keywords that could start there.
    struct Tables {
        uint16_t bytes[3][256] = {};
        Tables()
        {
            for (size_t k = 0; k < std::size(kKeywords); ++k) {
                for (size_t j = 0; j < 3; ++j) {
                    const auto c = static_cast<unsigned char>(kKeywords[k][j]);
                    bytes[j][c] = static_cast<uint16_t>(bytes[j][c] | (1u << k));
                    if (c >= 'a' && c <= 'z') {
                        bytes[j][c - 'a' + 'A'] = static_cast<uint16_t>(bytes[j][c - 'a' + 'A'] | (1u << k));
                    }
                }
            }
        }
    };

    std::array<std::vector<Position>, std::size(kKeywords)> mPositions;
    size_t mCount = 0;
};

// Finds the first value delimiter in table order from a position. A delimiter wins if it occurs
// anywhere further on, which its last position answers; where exactly only matters up to `limit`,
// since nothing is masked beyond it, so each search stops there. A search thus costs about the
// length of the range it masks, never a walk to the end of the text per keyword value.
class DelimiterFinder {
public:
    explicit DelimiterFinder(std::string_view text) : mText(text)
    {
        // One walk back from the end that skips 8 bytes at a time where no missing delimiter can
        // be, and stops as soon as every delimiter has been seen.
        mLast.fill(npos);
        size_t missing = std::size(kValueDelimiters);
        for (size_t i = text.size(); i > 0 && missing > 0;) {
            if (i >= 8 && !mayHoldMissingDelimiter(text.data() + i - 8)) {
                i -= 8;
                continue;
            }
            for (const size_t stop = i >= 8 ? i - 8 : 0; i > stop;) {
                --i;
                for (size_t k = 0; k < std::size(kValueDelimiters); ++k) {
                    if (mLast[k] == npos && matchesAt(text, i, kValueDelimiters[k])) {
                        mLast[k] = i;
                        --missing;
                    }
                }
            }
        }
    }

    // Returns npos when no delimiter follows, and `limit` or more when the first one lies beyond it.
    size_t find(size_t from, size_t limit) const
    {
        for (size_t k = 0; k < std::size(kValueDelimiters); ++k) {
            if (mLast[k] == npos || mLast[k] < from) {
                continue;
            }
            const std::string_view delimiter = kValueDelimiters[k];
            const size_t windowEnd = std::min(mText.size(), std::max(limit, from) + delimiter.size() - 1);
            const std::string_view window = mText.substr(0, windowEnd);
            const size_t found =
                delimiter.size() == 1 ? window.find(delimiter[0], from) : window.find(delimiter, from);
            return found != npos ? found : std::max(limit, from);
        }
        return npos;
    }

private:
    // 0x80 in each byte of the word that equals c, and nothing else.
    static uint64_t bytesEqual(uint64_t word, unsigned char c)
    {
        constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
        const uint64_t x = word ^ (0x0101010101010101ull * c);
        return ~(((x & kLow7) + kLow7) | x | kLow7);
    }

    // The double backslash counts when it lies inside the word or starts at its last byte.
    bool mayHoldMissingDelimiter(const char* bytes) const
    {
        uint64_t word;
        std::memcpy(&word, bytes, sizeof word);
        if (!littleEndian()) {
            return true;
        }
        const uint64_t backslashes = bytesEqual(word, '\\');
        uint64_t found = 0;
        if (mLast[0] == npos) {
            found |= (backslashes & (backslashes >> 8)) | (backslashes & 0x8000000000000000ull);
        }
        found |= mLast[1] == npos ? bytesEqual(word, ',') : 0;
        found |= mLast[2] == npos ? bytesEqual(word, '&') : 0;
        found |= mLast[3] == npos ? bytesEqual(word, '*') : 0;
        found |= mLast[4] == npos ? backslashes : 0;
        return found != 0;
    }

    static bool littleEndian()
    {
        const uint16_t probe = 1;
        unsigned char first;
        std::memcpy(&first, &probe, 1);
        return first == 1;
    }

    std::string_view mText;
    std::array<size_t, std::size(kValueDelimiters)> mLast{};
};

// The delimiters include "*", which masking writes, so all searches run on the unchanged text
// first and the ranges are applied afterwards, in the order they were found.
//
// Below `limit` a position still names the same byte after the ranges so far; a range longer
// than 128 bytes drops everything behind it, so limit shrinks to its kept bytes and later ranges
// are cut there. (Shifting positions by the length lost would aim them at the wrong bytes and
// leave values before the long one in clear.)
template <typename Position> void maskKeywordValuesAs(std::string& text)
{
    struct Range {
        Position begin;
        Position end;
    };
    std::vector<Range> ranges;
    const KeywordIndex<Position> keywords(text);
    if (keywords.empty()) {
        return;
    }
    const DelimiterFinder delimiters(text);
    size_t limit = text.size();
    const auto maskValue = [&](size_t begin, size_t end) {
        end = std::min(end, limit);
        if (begin >= end) {
            return;
        }
        ranges.push_back(Range{static_cast<Position>(begin), static_cast<Position>(end)});
        if (end - begin > kLongestInPlaceRange) {
            limit = begin + kKeptBytes;
        }
    };
    for (size_t k = 0; k < std::size(kKeywords); ++k) {
        const std::vector<Position>& found = keywords.positions(k);
        for (size_t next = 0; next < found.size() && found[next] < limit;) {
            // The byte right after the keyword is its separator, whatever it is.
            const size_t v = found[next] + kKeywords[k].size() + 1;
            const size_t q = delimiters.find(v, limit);
            if (q == npos) {
                maskValue(v, limit);
                break;
            }
            maskValue(v, q);
            while (next < found.size() && found[next] < q) {
                ++next;
            }
        }
    }
    for (const Range& range : ranges) {
        maskRange(text, range.begin, range.end);
    }
}

void maskKeywordValues(std::string& text)
{
    if (text.size() <= UINT32_MAX) {
        maskKeywordValuesAs<uint32_t>(text);
    } else {
        maskKeywordValuesAs<size_t>(text);
    }
}

} // namespace

std::string addMask(const std::string& text, uint32_t begin, uint32_t end)
{
    if (end > text.size()) {
        // Printed as signed numbers on purpose: the line has always shown them that way.
        getLogger("")->logRaw(3, "rlxutil::addMask wrong parameter, text.length = " +
                                     platform::decimal(static_cast<int32_t>(text.size())) +
                                     ", begin = " + platform::decimal(static_cast<int32_t>(begin)) +
                                     ", end = " + platform::decimal(static_cast<int32_t>(end)));
        return text;
    }
    if (begin > end) {
        return text;
    }
    std::string result = text;
    maskRange(result, begin, end);
    return result;
}

std::string maskSensitiveInfo(const std::string& text) noexcept
{
    try {
        std::string result = text;
        cutCredentialQuery(result);
        maskMailLocalParts(result);
        maskProfileFolders(result);
        maskKeywordValues(result);
        return result;
    } catch (...) {
        return {};
    }
}

} // namespace rlxutil
