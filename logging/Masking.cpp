// Masking of sensitive values in log text: four passes over a lower-cased copy, changes in the result.
#include "logging/Masking.h"

#include "logging/Logger.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>
#include <vector>

namespace rlxutil {

namespace {

constexpr size_t npos = std::string::npos;

// Table order matters: where a step takes "the first entry that occurs", an entry that occurs
// anywhere wins over a later one that occurs earlier in the text.
constexpr std::string_view kKeywords[] = {
    "/meeting=", "bearer",        "username",      "user_name",   "c:*users*",    "c:\\\\users\\\\",
    "\"topic\"", "telemetryinfo", "metricsticket", "displayname", "personalroom", "recentphonenumberlist",
    "token",
};
constexpr std::string_view kValueDelimiters[] = {"\\\\", ",", "&", "*", "\\"};
constexpr std::string_view kProfileFolder = "\\users\\";
constexpr std::string_view kWebMarkers[] = {"https", "http"};
constexpr std::string_view kCredentialWords[] = {"password", "email", "username", "ticket"};
constexpr std::string_view kQueryDelimiters[] = {"?", ","};
constexpr std::string_view kMailMarkers[] = {"@", "%40"};

constexpr size_t kKeptBytes = 3;
constexpr size_t kLongestInPlaceRange = 128;

void toLower(const std::string& text, std::string& lower)
{
    lower.resize(text.size());
    const char* in = text.data();
    char* out = lower.data();
    for (size_t i = 0, n = text.size(); i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        out[i] = static_cast<char>(static_cast<unsigned>(c - 'A') < 26u ? c | 0x20 : c);
    }
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
        char count[32];
        std::snprintf(count, sizeof count, "***(%zu)***", n - kKeptBytes);
        text.resize(begin + kKeptBytes);
        text += count;
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

// Where each value delimiter occurs, listed on first need: every keyword restarts its search from
// the text's start, so plain searches would rescan the whole text once per keyword value.
class DelimiterIndex {
public:
    explicit DelimiterIndex(std::string_view text) : mText(text) {}

    size_t first(size_t from)
    {
        for (size_t k = 0; k < std::size(kValueDelimiters); ++k) {
            const std::vector<size_t>& list = positions(k);
            auto it = std::lower_bound(list.begin(), list.end(), from);
            if (it != list.end()) {
                return *it;
            }
        }
        return npos;
    }

private:
    const std::vector<size_t>& positions(size_t k)
    {
        if (!mListed[k]) {
            for (size_t p = mText.find(kValueDelimiters[k]); p != npos;
                 p = mText.find(kValueDelimiters[k], p + 1)) {
                mPositions[k].push_back(p);
            }
            mListed[k] = true;
        }
        return mPositions[k];
    }

    std::string_view mText;
    std::array<std::vector<size_t>, std::size(kValueDelimiters)> mPositions;
    std::array<bool, std::size(kValueDelimiters)> mListed{};
};

template <size_t N>
size_t findFirstEntry(std::string_view lower, const std::string_view (&table)[N], size_t from)
{
    for (std::string_view entry : table) {
        const size_t p = lower.find(entry, from);
        if (p != npos) {
            return p;
        }
    }
    return npos;
}

// Returns whether the text changed.
bool cutCredentialQuery(std::string& text, std::string_view lower)
{
    const size_t marker = findFirstEntry(lower, kWebMarkers, 0);
    if (marker == npos || findFirstEntry(lower, kCredentialWords, 0) == npos) {
        return false;
    }
    const size_t query = findFirstEntry(lower, kQueryDelimiters, marker);
    if (query == npos) {
        return false;
    }
    text.resize(query);
    return true;
}

bool isLocalPartByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '\'' ||
           c == '.';
}

bool maskMailLocalParts(std::string& text, std::string_view lower)
{
    ForwardFinder at(lower, kMailMarkers[0]);
    ForwardFinder percent(lower, kMailMarkers[1]);
    bool changed = false;
    // A range longer than 128 bytes shortens the text behind the next marker, which ends the loop.
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
        changed |= begin < a;
        maskRange(text, begin, a);
        s = a + 2;
    }
    return changed;
}

bool maskProfileFolders(std::string& text, std::string_view lower)
{
    bool changed = false;
    for (size_t s = 0;;) {
        const size_t p = lower.find(kProfileFolder, s);
        if (p == npos) {
            break;
        }
        const size_t b = p + kProfileFolder.size();
        const size_t e = lower.find('\\', b);
        if (e != npos && e > b) {
            std::fill(text.begin() + b, text.begin() + e, '*');
            changed = true;
        }
        s = b + kProfileFolder.size();
    }
    return changed;
}

// Positions are those of the lower-cased copy. Below `limit` they still name the same bytes in
// the text; a range longer than 128 bytes drops everything behind it, so limit shrinks to its
// kept bytes and later ranges are cut there. (Shifting positions by the length lost would aim
// them at the wrong bytes and leave values before the long one in clear.)
void maskKeywordValues(std::string& text, std::string_view lower)
{
    DelimiterIndex delimiters(lower);
    size_t limit = text.size();
    const auto maskValue = [&](size_t begin, size_t end) {
        end = std::min(end, limit);
        if (begin >= end) {
            return;
        }
        maskRange(text, begin, end);
        if (end - begin > kLongestInPlaceRange) {
            limit = begin + kKeptBytes;
        }
    };
    for (std::string_view keyword : kKeywords) {
        for (size_t p = lower.find(keyword); p < limit;) {
            // The byte right after the keyword is its separator, whatever it is.
            const size_t v = p + keyword.size() + 1;
            const size_t q = delimiters.first(v);
            if (q == npos) {
                maskValue(v, limit);
                break;
            }
            maskValue(v, q);
            p = lower.find(keyword, q);
        }
    }
}

} // namespace

std::string addMask(const std::string& text, uint32_t begin, uint32_t end)
{
    if (end > text.size()) {
        // Printed as signed numbers on purpose: the line has always shown them that way.
        char numbers[96];
        std::snprintf(numbers, sizeof numbers, "text.length = %d, begin = %d, end = %d",
                      static_cast<int>(text.size()), static_cast<int32_t>(begin), static_cast<int32_t>(end));
        getLogger("")->logRaw(3, std::string("rlxutil::addMask wrong parameter, ") + numbers);
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
        std::string lower;
        toLower(result, lower);
        if (cutCredentialQuery(result, lower)) {
            lower.resize(result.size());
        }
        if (maskMailLocalParts(result, lower)) {
            toLower(result, lower);
        }
        if (maskProfileFolders(result, lower)) {
            toLower(result, lower);
        }
        maskKeywordValues(result, lower);
        return result;
    } catch (...) {
        return {};
    }
}

} // namespace rlxutil
