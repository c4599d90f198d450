// Plain searches from the start of every step, new strings for every change: slow and obvious.
#include "tests/logging/MaskingReference.h"

#include "logging/Masking.h"

#include <algorithm>
#include <initializer_list>

namespace testref {

namespace {

constexpr size_t npos = std::string::npos;

std::string lowered(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

size_t firstOf(const std::string& text, std::initializer_list<const char*> table, size_t from)
{
    for (const char* entry : table) {
        const size_t p = text.find(entry, from);
        if (p != npos) {
            return p;
        }
    }
    return npos;
}

bool isLocalPartByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '\'' ||
           c == '.';
}

} // namespace

std::string maskSensitiveInfo(const std::string& text)
{
    std::string result = text;

    std::string copy = lowered(result);
    const size_t marker = firstOf(copy, {"https", "http"}, 0);
    if (marker != npos && firstOf(copy, {"password", "email", "username", "ticket"}, 0) != npos) {
        const size_t q = firstOf(copy, {"?", ","}, marker);
        if (q != npos) {
            result = result.substr(0, q);
        }
    }

    copy = lowered(result);
    for (size_t s = 0; s < result.size();) {
        const size_t a = firstOf(copy, {"@", "%40"}, s);
        if (a == npos) {
            break;
        }
        size_t begin = a;
        for (size_t i = a; i > 0;) {
            --i;
            if (i == 0) {
                begin = 0;
                break;
            }
            if (!isLocalPartByte(result.at(i))) {
                begin = i + 1;
                break;
            }
        }
        result = rlxutil::addMask(result, static_cast<uint32_t>(begin), static_cast<uint32_t>(a));
        s = a + 2;
    }

    copy = lowered(result);
    for (size_t s = 0;;) {
        const size_t p = copy.find("\\users\\", s);
        if (p == npos) {
            break;
        }
        const size_t b = p + 7;
        const size_t e = copy.find('\\', b);
        if (e != npos) {
            for (size_t k = b; k < e; ++k) {
                result.at(k) = '*';
            }
        }
        s = b + 7;
    }

    copy = lowered(result);
    size_t limit = result.size();
    const auto maskValue = [&](size_t begin, size_t end) {
        end = std::min(end, limit);
        if (begin < end) {
            result = rlxutil::addMask(result, static_cast<uint32_t>(begin), static_cast<uint32_t>(end));
            if (end - begin > 128) {
                limit = begin + 3;
            }
        }
    };
    for (const char* keyword : {"/meeting=", "bearer", "username", "user_name", "c:*users*",
                                "c:\\\\users\\\\", "\"topic\"", "telemetryinfo", "metricsticket",
                                "displayname", "personalroom", "recentphonenumberlist", "token"}) {
        const size_t length = std::string(keyword).size();
        for (size_t p = copy.find(keyword); p < limit;) {
            const size_t v = p + length + 1;
            const size_t q = firstOf(copy, {"\\\\", ",", "&", "*", "\\"}, v);
            if (q == npos) {
                maskValue(v, limit);
                break;
            }
            maskValue(v, q);
            p = copy.find(keyword, q);
        }
    }
    return result;
}

} // namespace testref
