// Log lines to trace records, and the start and end of logging in a Windows program.
#include "logging/win32/TraceLogger.h"

#include "platform/TextConvert.h"
#include "platform/win32/Windows.h"
#include "trace/DirectTrace.h"
#include "trace/win32/Kvrtrace.h"

#include <memory>
#include <string_view>

namespace VDR {

namespace {

// Up to the first zero, as the system converter reads a zero-terminated text; empty on failure.
bool utf8ToWide(const std::string& text, std::wstring& wide)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0)
        return false;
    wide.assign(static_cast<size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), length) != length)
        return false;
    wide.resize(static_cast<size_t>(length - 1));
    return true;
}

} // namespace

void loggerForKavariTrace::log(int32_t level, const std::string& loggerName, const std::string& line)
{
    uint32_t traceLevel = 0;
    switch (level) {
    case 0:
        traceLevel = 1;
        break;
    case 1:
        traceLevel = 2;
        break;
    case 2:
        traceLevel = 4;
        break;
    case 3:
        traceLevel = 8;
        break;
    default:
        return;
    }
    bool ascii = true;
    for (const char c : line)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    std::wstring wideLine;
    std::wstring wideName;
    if (!ascii && utf8ToWide(line, wideLine) && utf8ToWide(loggerName, wideName)) {
        KVRTRACERAW(traceLevel, wideName.c_str(), nullptr, wideLine.c_str());
        return;
    }
    KVRTRACERAWA(traceLevel, loggerName.c_str(), nullptr, line.c_str());
}

} // namespace VDR

namespace {

void writeDirect(uint32_t level, std::string_view module, std::string_view text)
{
    // The text is finished (formatted and cut by the caller), so the raw entry point writes it as
    // it stands; without a module name both name this program's module.
    const std::wstring wide = platform::utf8ToWide(text);
    const std::wstring wideModule = platform::utf8ToWide(module);
    KVRTRACERAW(level, module.empty() ? nullptr : wideModule.c_str(), nullptr, wide.c_str());
}

} // namespace

void initLogging(const std::string& applicationName)
{
    rlxutil::getLogger("DPXUtil");
    rlxutil::getLogger("DPXUtil")->setLogger(std::make_shared<VDR::loggerForKavariTrace>());
    rlxutil::getLogger("DPXUtil")->setName(applicationName);
    trace::setDirectWriter(writeDirect);
}

void shutdownLogging()
{
    trace::setDirectWriter(nullptr);
    rlxutil::getLogger("DPXUtil")->setLogger(nullptr);
}
