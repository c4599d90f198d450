// Measuring and filling trace records, for 8-bit and UTF-16 strings alike.
#include "trace/TraceRecord.h"

#include "platform/Bytes.h"
#include "trace/SharedByte.h"

#include <algorithm>
#include <cstring>

namespace trace {

namespace {

template <class Char> size_t untilZero(std::basic_string_view<Char> s)
{
    const size_t zero = s.find(Char(0));
    return zero == std::basic_string_view<Char>::npos ? s.size() : zero;
}

// Characters a string takes with its zero, or 0 when it is absent.
template <class Char> uint16_t optionalChars(std::basic_string_view<Char> s, size_t maxChars)
{
    const size_t length = untilZero(s);
    return static_cast<uint16_t>(length == 0 ? 0 : std::min(length, maxChars - 1) + 1);
}

template <class Char> TraceRecordLayout layoutOf(const TraceRecordStrings<Char>& s)
{
    TraceRecordLayout layout;
    layout.charType = sizeof(Char) == 1 ? kChar8 : kChar16;
    layout.nameChars = optionalChars(s.name, kMaxNameChars);
    // With a record name the module string is "module@name" cut to the module limit; the
    // whole of it, not module and name counted apart, so that its zero is where the
    // category offset of a record without category points.
    size_t module = untilZero(s.module);
    if (layout.nameChars != 0)
        module += 1 + untilZero(s.name);
    layout.moduleChars = static_cast<uint16_t>(std::min(module, kMaxModuleChars - 1) + 1);
    layout.categoryChars = optionalChars(s.category, kMaxCategoryChars);
    layout.textChars = static_cast<uint16_t>(std::min(untilZero(s.text), kMaxTextChars - 1) + 1);
    const size_t stringBytes =
        (size_t{layout.moduleChars} + layout.categoryChars + layout.textChars + layout.nameChars) *
        sizeof(Char);
    layout.size = static_cast<uint16_t>(kRecordHeaderSize + ((stringBytes + 3) & ~size_t{3}));
    return layout;
}

// Writes characters one after another, never more than a field's room, then its zero.
template <class Char> class FieldWriter {
public:
    FieldWriter(uint8_t* at, size_t room) : mAt(at), mRoom(room) {}

    void put(std::basic_string_view<Char> s)
    {
        const size_t n = std::min(untilZero(s), mRoom);
        if constexpr (sizeof(Char) == 1) {
            std::memcpy(mAt, s.data(), n);
        } else {
            for (size_t i = 0; i < n; ++i)
                platform::store16(mAt + 2 * i, static_cast<uint16_t>(s[i]));
        }
        mAt += n * sizeof(Char);
        mRoom -= n;
    }

    // Ends the field; returns where the next one starts.
    uint8_t* finish()
    {
        std::memset(mAt, 0, sizeof(Char));
        return mAt + sizeof(Char);
    }

private:
    uint8_t* mAt;
    size_t mRoom;
};

template <class Char>
void fillOf(uint8_t* record, const TraceRecordLayout& layout, const TraceRecordInfo& info,
            const TraceRecordStrings<Char>& s)
{
    namespace o = record_offset;
    constexpr size_t cs = sizeof(Char);
    const size_t module = kRecordHeaderSize;
    const size_t category = layout.categoryChars != 0 ? module + size_t{layout.moduleChars} * cs
                                                      : module + size_t{layout.moduleChars - 1u} * cs;
    const size_t text = module + (size_t{layout.moduleChars} + layout.categoryChars) * cs;
    const size_t name = layout.nameChars != 0 ? text + size_t{layout.textChars} * cs
                                              : text + size_t{layout.textChars - 1u} * cs;

    FieldWriter<Char> moduleField(record + module, layout.moduleChars - 1u);
    moduleField.put(s.module);
    if (layout.nameChars != 0) {
        const Char at[1] = {Char('@')};
        moduleField.put(std::basic_string_view<Char>(at, 1));
        moduleField.put(s.name);
    }
    uint8_t* next = moduleField.finish();
    if (layout.categoryChars != 0) {
        FieldWriter<Char> field(next, layout.categoryChars - 1u);
        field.put(s.category);
        next = field.finish();
    }
    FieldWriter<Char> textField(next, layout.textChars - 1u);
    textField.put(s.text);
    next = textField.finish();
    if (layout.nameChars != 0) {
        FieldWriter<Char> field(next, layout.nameChars - 1u);
        field.put(s.name);
        next = field.finish();
    }
    // Cleared so that no bytes of an overwritten record of another process linger in this one.
    std::memset(next, 0, static_cast<size_t>(record + layout.size - next));

    platform::store16(record + o::kFlags, info.hasHighResTime ? kFlagHighResTime : 0);
    record[o::kCharType] = layout.charType;
    platform::store32(record + o::kLevel, info.level);
    platform::store32(record + o::kProcessId, info.processId);
    platform::store32(record + o::kThreadId, info.threadId);
    platform::store32(record + o::kSeconds, info.seconds);
    platform::store16(record + o::kMilliseconds, info.milliseconds);
    platform::store16(record + o::kModule, static_cast<uint16_t>(module));
    platform::store16(record + o::kCategory, static_cast<uint16_t>(category));
    platform::store16(record + o::kText, static_cast<uint16_t>(text));
    platform::store64(record + o::kHighResTime, info.hasHighResTime ? info.highResTimeUs : 0);
    platform::store16(record + o::kName, static_cast<uint16_t>(name));
    // A live viewer may read without the trace mutex; it must see every byte above first.
    storeRelease(record + o::kState, kRecordComplete);
}

} // namespace

TraceRecordLayout layoutTraceRecord(const TraceStrings8& strings)
{
    return layoutOf(strings);
}

TraceRecordLayout layoutTraceRecord(const TraceStrings16& strings)
{
    return layoutOf(strings);
}

void fillTraceRecord(uint8_t* record, const TraceRecordLayout& layout, const TraceRecordInfo& info,
                     const TraceStrings8& strings)
{
    fillOf(record, layout, info, strings);
}

void fillTraceRecord(uint8_t* record, const TraceRecordLayout& layout, const TraceRecordInfo& info,
                     const TraceStrings16& strings)
{
    fillOf(record, layout, info, strings);
}

} // namespace trace
