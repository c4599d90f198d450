// Record and header bytes must be exactly what the product's other programs read and write.
#include "TraceTestFile.h"
#include "trace/TraceBytes.h"

#include <gtest/gtest.h>

using namespace trace;
using trace_test::readAll;
using trace_test::TestFile;

namespace {

// Writes one record into a fresh file and returns a pointer to it.
template <class Strings> const uint8_t* writeOne(TestFile& file, const Strings& strings)
{
    file.info = {2, 0x1234, 0x5678, 1796461623, 999, false, 0};
    EXPECT_EQ(file.write(strings), TraceWriteResult::Written);
    return file.bytes.data() + kHeaderSize;
}

} // namespace

TEST(TraceHeader, NewHeaderBytesAreExact)
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
}

TEST(TraceHeader, ForeignOrUnfinishedHeadersAreNeverWritten)
{
    // Version 0 is a header whose making never finished; "XVRT" another program's file; the
    // last a header claiming more bytes than the mapping holds.
    for (const size_t offset :
         {header_offset::kVersion, header_offset::kMagic, header_offset::kFileSize + 1}) {
        TestFile file(4096);
        file.bytes[offset] = offset == header_offset::kMagic     ? 'X'
                             : offset == header_offset::kVersion ? 0
                                                                 : 0x20;
        const std::vector<uint8_t> before = file.bytes;
        EXPECT_EQ(file.write("x"), TraceWriteResult::NotUsable) << offset;
        EXPECT_EQ(file.bytes, before);
    }
}

TEST(TraceRecord, EightBitRecordLayout)
{
    TestFile file(4096);
    const uint8_t* r = writeOne(file, TraceStrings8{"DPX", {}, "abc", {}});
    const std::vector<uint8_t> expected = {
        60, 0, 3, 0, 0,    0,    1,    0,    2,    0, 0,  0, 0x34, 0x12, 0,   0, 0x78, 0x56, 0,   0,
        1,  0, 0, 0, 0x37, 0xD4, 0x13, 0x6B, 0xE7, 3, 52, 0, 55,   0,    56,  0, 0,    0,    0,   0,
        0,  0, 0, 0, 0,    0,    0,    0,    59,   0, 0,  0, 'D',  'P',  'X', 0, 'a',  'b',  'c', 0};
    EXPECT_EQ(std::vector<uint8_t>(r, r + 60), expected);
    const TraceFileHeader h = file.header();
    EXPECT_EQ(h.writeOffset, 48u + 60u);
    EXPECT_EQ(h.freeBytes, 4096u - 48u - 60u);
    EXPECT_EQ(h.recordCount, 1u);
    EXPECT_EQ(h.lastSequence, 1u);
}

TEST(TraceRecord, Utf16RecordLayout)
{
    TestFile file(4096);
    const uint8_t* r = writeOne(file, TraceStrings16{u"DPX", {}, u"abc", {}});
    EXPECT_EQ(load16(r), 68);
    EXPECT_EQ(r[record_offset::kCharType], kChar16);
    EXPECT_EQ(load16(r + record_offset::kModule), 52);
    EXPECT_EQ(load16(r + record_offset::kCategory), 58);
    EXPECT_EQ(load16(r + record_offset::kText), 60);
    EXPECT_EQ(load16(r + record_offset::kName), 66);
    const std::vector<uint8_t> strings = {'D', 0, 'P', 0, 'X', 0, 0, 0, 'a', 0, 'b', 0, 'c', 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(r + 52, r + 68), strings);
}

TEST(TraceRecord, CategoryAndRecordNameTakeTheirPlaces)
{
    TestFile file(4096);
    const uint8_t* r = writeOne(file, TraceStrings8{"DPX", "cat", "hi", "rec"});
    // "DPX@rec" 8, "cat" 4, "hi" 3, "rec" 4: 19 bytes of strings, padded to 20.
    EXPECT_EQ(load16(r), 72);
    EXPECT_EQ(load16(r + record_offset::kCategory), 60);
    EXPECT_EQ(load16(r + record_offset::kText), 64);
    EXPECT_EQ(load16(r + record_offset::kName), 67);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r + 52), 20),
              std::string("DPX@rec\0cat\0hi\0rec\0\0", 20));

    const auto c = readAll(file.bytes);
    ASSERT_EQ(c.records.size(), 1u);
    EXPECT_EQ(c.records[0].module, "DPX@rec");
    EXPECT_EQ(c.records[0].category, "cat");
    EXPECT_EQ(c.records[0].name, "rec");
}

TEST(TraceRecord, LongStringsAreCutToTheirLimits)
{
    TestFile file(1 << 16);
    const std::string text(3000, 't');
    const std::u16string module(100, u'm');
    const std::u16string name(100, u'n');
    ASSERT_EQ(file.write(TraceStrings8{"DPX", {}, text, {}}), TraceWriteResult::Written);
    ASSERT_EQ(file.write(TraceStrings16{module, u"", u"x", name}), TraceWriteResult::Written);
    // The text may end in the middle of a record; what is cut is 2047 characters and a zero.
    const uint8_t* first = file.bytes.data() + kHeaderSize;
    EXPECT_EQ(load16(first), 52 + ((4 + 2048 + 3) & ~3));

    // "module@name" is 201 characters and is cut to 127; no category means the category offset
    // lands on the module string's own zero, which must really be there.
    const uint8_t* second = first + load16(first);
    const uint16_t category = load16(second + record_offset::kCategory);
    EXPECT_EQ(category, 52 + 127 * 2);
    EXPECT_EQ(load16(second + category), 0);
    EXPECT_EQ(load16(second + record_offset::kText), 52 + 128 * 2);
    EXPECT_EQ(load16(second), 52 + (128 + 2 + 101) * 2 + 2);

    const auto c = readAll(file.bytes);
    ASSERT_TRUE(c.result.problems.empty()) << c.result.problems[0];
    ASSERT_EQ(c.records.size(), 2u);
    EXPECT_EQ(c.records[0].text, std::string(2047, 't'));
    EXPECT_EQ(c.records[1].module, std::string(100, 'm') + "@" + std::string(26, 'n'));
    EXPECT_EQ(c.records[1].category, "");
    EXPECT_EQ(c.records[1].name, std::string(100, 'n'));
}

TEST(TraceRecord, SequenceSkipsZeroOnOverflow)
{
    TestFile file(4096);
    store32(file.bytes.data() + header_offset::kLastSequence, 4294967294u);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(file.write("x"), TraceWriteResult::Written);
    const auto c = readAll(file.bytes);
    EXPECT_TRUE(c.result.problems.empty());
    ASSERT_EQ(c.records.size(), 3u);
    EXPECT_EQ(c.records[0].sequence, 4294967295u);
    EXPECT_EQ(c.records[1].sequence, 1u);
    EXPECT_EQ(c.records[2].sequence, 2u);
    EXPECT_EQ(file.header().lastSequence, 2u);
}
