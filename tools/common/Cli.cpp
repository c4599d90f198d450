// Error lines and the terminal progress bar of the command-line tools.
#include "tools/common/Cli.h"

#include "platform/Host.h"

#include <cstdio>
#include <new>

namespace cli {

namespace {

const char kHex[] = "0123456789abcdef";

// The length of the well-formed UTF-8 sequence at text[i] and its code point, or 0 when the byte
// there starts none (a stray continuation, an overlong form, a surrogate, a cut sequence).
size_t utf8Sequence(std::string_view text, size_t i, uint32_t& codePoint)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length = 0;
    uint32_t lowest = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, lowest = 0x80, codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, lowest = 0x800, codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, lowest = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - i < length)
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (byte(i + k) & 0x3F);
    }
    if (codePoint < lowest || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

bool isControl(uint32_t codePoint)
{
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
}

// The short escapes both forms share; false for a control character without one.
bool appendShortEscape(std::string& out, uint32_t c)
{
    switch (c) {
    case '\n':
        out += "\\n";
        return true;
    case '\r':
        out += "\\r";
        return true;
    case '\t':
        out += "\\t";
        return true;
    case '\b':
        out += "\\b";
        return true;
    case '\f':
        out += "\\f";
        return true;
    default:
        return false;
    }
}

void appendHexEscape(std::string& out, const char* prefix, uint32_t value)
{
    out += prefix;
    out += kHex[(value >> 4) & 15];
    out += kHex[value & 15];
}

} // namespace

std::string printable(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    appendPrintable(out, text);
    return out;
}

void appendPrintable(std::string& out, std::string_view text)
{
    // Runs that need no escape are appended whole: most text is one such run.
    size_t runStart = 0;
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            ++i;
            continue;
        }
        uint32_t codePoint = 0;
        const size_t length = utf8Sequence(text, i, codePoint);
        if (length != 0 && !isControl(codePoint)) {
            i += length;
            continue;
        }
        out.append(text, runStart, i - runStart);
        if (length == 0)
            appendHexEscape(out, "\\x", static_cast<unsigned char>(text[i]));
        else if (!appendShortEscape(out, codePoint))
            appendHexEscape(out, codePoint < 0x80 ? "\\x" : "\\u00", codePoint);
        i += length == 0 ? 1 : length;
        runStart = i;
    }
    out.append(text, runStart, text.size() - runStart);
}

void appendJsonEscaped(std::string& out, std::string_view text)
{
    size_t runStart = 0;
    for (size_t i = 0; i < text.size();) {
        uint32_t codePoint = 0;
        const size_t length = utf8Sequence(text, i, codePoint);
        if (length != 0 && !isControl(codePoint) && codePoint != '"' && codePoint != '\\') {
            i += length;
            continue;
        }
        out.append(text, runStart, i - runStart);
        if (length == 0)
            out += "\\ufffd";
        else if (codePoint == '"' || codePoint == '\\')
            (out += '\\') += static_cast<char>(codePoint);
        else if (!appendShortEscape(out, codePoint))
            appendHexEscape(out, "\\u00", codePoint);
        i += length == 0 ? 1 : length;
        runStart = i;
    }
    out.append(text, runStart, text.size() - runStart);
}

int fail(const std::string& tool, const std::string& file, const std::string& problem)
{
    if (file.empty())
        std::fprintf(stderr, "%s: %s\n", tool.c_str(), printable(problem).c_str());
    else
        std::fprintf(stderr, "%s: %s: %s\n", tool.c_str(), printable(file).c_str(),
                     printable(problem).c_str());
    return kExitFailure;
}

int usageError(const std::string& tool, const std::string& problem)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", tool.c_str(), printable(problem).c_str(),
                 tool.c_str());
    return kExitUsage;
}

int guarded(const std::string& tool, const std::function<int()>& command)
{
    try {
        return command();
    } catch (const Failure& failure) {
        return fail(tool, failure.file(), failure.what());
    } catch (const std::bad_alloc&) {
        return fail(tool, "", "out of memory");
    } catch (const std::length_error&) {
        // A container asked for more than this system can address: memory by another name.
        return fail(tool, "", "out of memory");
    } catch (const std::exception& e) {
        return fail(tool, "", std::string("internal error: ") + e.what());
    }
}

ProgressBar::ProgressBar(std::string label, uint64_t total)
    : mLabel(std::move(label)), mTotal(total), mTerminal(platform::isTerminal(stderr)),
      mStart(std::chrono::steady_clock::now()), mLastDraw(mStart)
{
}

ProgressBar::~ProgressBar()
{
    finish();
}

void ProgressBar::update(uint64_t done)
{
    if (!mTerminal || mTotal == 0)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - mStart < std::chrono::seconds(1))
        return;
    const int permille = static_cast<int>(done >= mTotal ? 1000 : done * 1000 / mTotal);
    if (permille == mLastPermille || (mDrawn && now - mLastDraw < std::chrono::milliseconds(100)))
        return;
    constexpr int kWidth = 40;
    const int filled = permille * kWidth / 1000;
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", mLabel.c_str(), filled,
                 "########################################", kWidth - filled, "", permille / 10);
    std::fflush(stderr);
    mDrawn = true;
    mLastPermille = permille;
    mLastDraw = now;
}

void ProgressBar::finish()
{
    if (!mDrawn)
        return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    mDrawn = false;
}

} // namespace cli
