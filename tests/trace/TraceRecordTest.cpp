// Record and header bytes must be exactly what the product's other programs read and write.
#include "TraceTestFile.h"
#include "platform/Bytes.h"
#include "trace/DirectTrace.h"
#include "trace/ViewBlock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

using namespace trace;
using trace_test::readAll;
using trace_test::TestFile;

TEST(TraceHeader, NewHeaderAndViewBlockBytesAreExactAndForeignOrUnfinishedHeadersAreNeverWritten)
{
    std::vector<uint8_t> bytes(1 << 20, 0xCC);
    ASSERT_TRUE(createTraceHeader(bytes.data(), 1 << 20, 0xA1B2C3D4));
    const std::vector<uint8_t> expected = {
        'K', 'V', 'R', 'T', 0xFF, 0xFE, 3,    1,    48,   0,    0,    0,    0x00, 0x00, 0x10, 0x00,
        0,   0,   0,   0,   0xD0, 0xFF, 0x0F, 0x00, 0x00, 0x00, 0x10, 0x00, 48,   0,    0,    0,
        48,  0,   0,   0,   0,    0,    0,    0,    0xD4, 0xC3, 0xB2, 0xA1, 0,    0,    0,    0};
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 48), expected);
    EXPECT_EQ(bytes[48], 0xCC) << "header creation must not touch the record area";
    EXPECT_EQ(checkTraceHeader(bytes.data(), bytes.size()), HeaderCheck::Valid);
    EXPECT_FALSE(createTraceHeader(bytes.data(), 47, 0));

    // Version 0 is a header whose making never finished; "XVRT" another program's file; the
    // last a header claiming more bytes than the mapping holds.
    const std::pair<size_t, uint8_t> changes[] = {
        {header_offset::kVersion, 0}, {header_offset::kMagic, 'X'}, {header_offset::kFileSize + 1, 0x20}};
    for (const auto& [offset, value] : changes) {
        TestFile file(4096);
        file.bytes[offset] = value;
        const std::vector<uint8_t> before = file.bytes;
        EXPECT_EQ(file.write("x"), TraceWriteResult::NotUsable) << offset;
        EXPECT_EQ(file.bytes, before);
    }

    // The per-process view block holds the same bytes whichever width wrote it, and its first 8
    // bytes stay the two 32-bit values (address, users) that 32-bit modules read.
    struct Case {
        ViewBlock value;
        std::array<uint8_t, 12> bytes;
    } const cases[] = {
        {{0x12345678u, 2}, {0x78, 0x56, 0x34, 0x12, 2, 0, 0, 0, 0, 0, 0, 0}},
        {{0x00007FF612345678u, 1}, {0x78, 0x56, 0x34, 0x12, 1, 0, 0, 0, 0xF6, 0x7F, 0, 0}},
        {{0, 0}, {}},
    };
    for (const Case& c : cases) {
        std::array<uint8_t, 16> block;
        block.fill(0xEE);
        storeViewBlock(block.data(), c.value);
        EXPECT_TRUE(std::equal(c.bytes.begin(), c.bytes.end(), block.begin())) << std::hex << c.value.address;
        EXPECT_EQ(block[12], 0xEE) << "the block's field after the address must stay untouched";
        const ViewBlock back = loadViewBlock(block.data());
        EXPECT_EQ(back.address, c.value.address);
        EXPECT_EQ(back.users, c.value.users);
    }
}

TEST(TraceRecord, EightBitRecordBytesAreExactAndSequenceSkipsZeroOnOverflow)
{
    TestFile file(4096);
    file.info = {2, 0x1234, 0x5678, 1796461623, 999, false, 0};
    ASSERT_EQ(file.write("abc"), TraceWriteResult::Written);
    const std::vector<uint8_t> expected = {
        60, 0, 3, 0, 0,    0,    1,    0,    2,    0, 0,  0, 0x34, 0x12, 0,   0, 0x78, 0x56, 0,   0,
        1,  0, 0, 0, 0x37, 0xD4, 0x13, 0x6B, 0xE7, 3, 52, 0, 55,   0,    56,  0, 0,    0,    0,   0,
        0,  0, 0, 0, 0,    0,    0,    0,    59,   0, 0,  0, 'D',  'P',  'X', 0, 'a',  'b',  'c', 0};
    EXPECT_EQ(std::vector<uint8_t>(file.bytes.begin() + 48, file.bytes.begin() + 108), expected);

    TestFile overflowing(4096);
    platform::store32(overflowing.bytes.data() + header_offset::kLastSequence, 4294967294u);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(overflowing.write("x"), TraceWriteResult::Written);
    const auto c = readAll(overflowing.bytes);
    EXPECT_TRUE(c.result.problems.empty()) << c.result.problems[0];
    std::vector<uint32_t> sequences;
    for (const auto& r : c.records)
        sequences.push_back(r.sequence);
    EXPECT_EQ(sequences, (std::vector<uint32_t>{4294967295u, 1, 2}));
}

TEST(TraceRecord, StringsTakeTheirPlacesAndAreCutToTheirLimitsAsDirectTracesAre)
{
    TestFile file(1 << 16);
    const std::u16string m100(100, u'm'), n100(100, u'n');
    ASSERT_EQ(file.write(TraceStrings16{u"DPX", {}, u"abc", {}}), TraceWriteResult::Written);
    ASSERT_EQ(file.write(TraceStrings8{"DPX", "cat", "hi", "rec"}), TraceWriteResult::Written);
    ASSERT_EQ(file.write(std::string(3000, 't')), TraceWriteResult::Written);
    ASSERT_EQ(file.write(TraceStrings16{m100, u"", u"x", n100}), TraceWriteResult::Written);
    using Layout = std::array<uint16_t, 5>; // size, then the offsets of module, category, text, name
    std::vector<Layout> layouts;
    for (size_t at = kHeaderSize; at < file.header().writeOffset; at += layouts.back()[0]) {
        const uint8_t* r = file.bytes.data() + at;
        layouts.push_back({platform::load16(r), platform::load16(r + 30), platform::load16(r + 32),
                           platform::load16(r + 34), platform::load16(r + 48)});
    }
    // An absent category points at the module's zero, an absent name at the text's zero. The
    // second: "DPX@rec" 8, "cat" 4, "hi" 3, "rec" 4, padded to 20 bytes. The text is cut to 2047
    // characters, "module@name" to 127.
    EXPECT_EQ(
        layouts,
        (std::vector<Layout>{
            {68, 52, 58, 60, 66}, {72, 52, 60, 64, 67}, {2104, 52, 55, 56, 2103}, {516, 52, 306, 308, 312}}));

    // Reading the strings back also shows their zeros are where the offsets point.
    const auto c = readAll(file.bytes);
    ASSERT_TRUE(c.result.problems.empty()) << c.result.problems[0];
    std::vector<std::vector<std::string>> strings;
    for (const auto& r : c.records)
        strings.push_back({r.module, r.category, r.text, r.name});
    EXPECT_EQ(strings,
              (std::vector<std::vector<std::string>>{
                  {"DPX", "", "abc", ""},
                  {"DPX@rec", "cat", "hi", "rec"},
                  {"DPX", "", std::string(2047, 't'), ""},
                  {std::string(100, 'm') + "@" + std::string(26, 'n'), "", "x", std::string(100, 'n')}}));

    // Direct traces go to the installed writer only and are cut at 2047 bytes.
    static std::vector<std::string> direct;
    const trace::DirectWriter capture = [](uint32_t level, std::string_view module, std::string_view text) {
        direct.push_back(std::to_string(level) + "|" + std::string(module) + "|" + std::string(text));
    };
    trace::traceFormatted("%s", "before any writer");
    EXPECT_EQ(trace::setDirectWriter(capture), nullptr);
    trace::traceFormatted("%s", "Invalid Signature");
    trace::traceFormattedDpx("%s", "Argument: /r 100%");
    trace::traceFormatted("%s", std::string(3000, 'x').c_str());
    // Only %s and %% are read; the cut also holds for the format's own text.
    trace::traceFormatted("100%% [%s]", "a%sb");
    trace::traceFormatted((std::string(2046, 'y') + "%s").c_str(), "zz");
    EXPECT_EQ(trace::setDirectWriter(nullptr), capture);
    trace::traceFormatted("%s", "after");
    EXPECT_EQ(direct, (std::vector<std::string>{"8||Invalid Signature", "2|DPX|Argument: /r 100%",
                                                "8||" + std::string(2047, 'x'), "8||100% [a%sb]",
                                                "8||" + std::string(2046, 'y') + "z"}));
}
