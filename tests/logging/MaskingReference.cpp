// Plain searches from the start of every step, a new string for every change: slow and obvious.
#include "tests/logging/MaskingReference.h"

#include "logging/Masking.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>

namespace testref {

namespace {

constexpr size_t npos = std::string::npos;

std::string lowered(std::string text)
{
    for (char& c : text)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
}

size_t firstOf(const std::string& text, std::initializer_list<const char*> table, size_t from)
{
    for (const char* entry : table)
        if (text.find(entry, from) != npos)
            return text.find(entry, from);
    return npos;
}

std::string mask(const std::string& text, size_t begin, size_t end)
{
    return rlxutil::addMask(text, static_cast<uint32_t>(begin), static_cast<uint32_t>(end));
}

} // namespace

std::string maskSensitiveInfo(const std::string& text)
{
    std::string result = text;
    std::string copy = lowered(result);
    const size_t marker = firstOf(copy, {"https", "http"}, 0);
    if (marker != npos && firstOf(copy, {"password", "email", "username", "ticket"}, 0) != npos &&
        firstOf(copy, {"?", ","}, marker) != npos) {
        result = result.substr(0, firstOf(copy, {"?", ","}, marker));
    }

    copy = lowered(result);
    for (size_t s = 0, a; s < result.size() && (a = firstOf(copy, {"@", "%40"}, s)) != npos; s = a + 2) {
        size_t begin = a;
        while (begin > 0 && (begin - 1 == 0 || isalnum(static_cast<unsigned char>(result.at(begin - 1))) ||
                             result[begin - 1] == '\'' || result[begin - 1] == '.')) {
            --begin;
        }
        result = mask(result, begin, a);
    }

    copy = lowered(result);
    for (size_t p, s = 0; (p = copy.find("\\users\\", s)) != npos; s = p + 14) {
        const size_t e = copy.find('\\', p + 7);
        if (e != npos)
            std::fill(result.begin() + p + 7, result.begin() + e, '*');
    }

    copy = lowered(result);
    size_t limit = result.size(); // positions below it name the same bytes in result and copy
    for (const std::string keyword : {"/meeting=", "bearer", "username", "user_name", "c:*users*",
                                      "c:\\\\users\\\\", "\"topic\"", "telemetryinfo", "metricsticket",
                                      "displayname", "personalroom", "recentphonenumberlist", "token"}) {
        for (size_t p = copy.find(keyword), q; p < limit; p = copy.find(keyword, q)) {
            const size_t v = p + keyword.size() + 1;
            q = firstOf(copy, {"\\\\", ",", "&", "*", "\\"}, v);
            const size_t end = std::min(q, limit);
            if (v < end) {
                result = mask(result, v, end);
                limit = end - v > 128 ? v + 3 : limit;
            }
            if (q == npos)
                break;
        }
    }
    return result;
}

} // namespace testref
