// The reader on good, cut, unfinished and damaged files: it reads what can be trusted, names
// what cannot, and never steps outside the bytes.
#include "TraceTestFile.h"
#include "platform/Bytes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>

using namespace trace;
using trace_test::readAll;
using trace_test::TestFile;

namespace {

// A small file whose ring has wrapped, with every kind of string: the seed of the reader's
// fuzz corpus, kept as a golden file so the bytes of the format cannot drift.
std::vector<uint8_t> smallWrappedFile()
{
    TestFile file(1024);
    platform::store32(file.bytes.data() + header_offset::kCreationTick, 0x01020304);
    for (uint32_t i = 0; i < 14; ++i) {
        file.info = {1u << (i % 4), 4242,          77, 1796461623 + i, static_cast<uint16_t>(i * 71),
                     i % 3 == 0,    1000000ull * i};
        if (i % 2 == 0) {
            file.write(TraceStrings8{
                "DPX", i % 4 == 0 ? "cat" : "", "line " + std::to_string(i) + " caf\xC3\xA9", {}});
        } else {
            const std::u16string wide =
                u"wide " + std::u16string(1, char16_t(u'0' + i % 10)) + u" \u00fc\u20ac";
            file.write(TraceStrings16{u"setup.exe", {}, wide, i == 5 ? u"rec" : u""});
        }
    }
    return file.bytes;
}

void expectFirstProblem(const trace_test::Collector& c, const std::string& start)
{
    ASSERT_FALSE(c.result.problems.empty()) << "expected: " << start;
    EXPECT_EQ(c.result.problems[0].rfind(start, 0), 0u) << c.result.problems[0];
}

} // namespace

TEST(TraceReader, SmallWrappedFileMatchesTheCorpusSeedAndCutOrDamagedCopiesAreNamed)
{
    const std::vector<uint8_t> seed = smallWrappedFile();
    const auto walked = readAll(seed);
    ASSERT_TRUE(walked.result.problems.empty()) << walked.result.problems[0];
    EXPECT_TRUE(walked.result.wrapped);
    ASSERT_FALSE(walked.records.empty());
    EXPECT_EQ(walked.records.back().sequence, 14u);
    EXPECT_EQ(walked.records.back().text, "wide 3 \xC3\xBC\xE2\x82\xAC");

    const std::string path = std::string(KV_SOURCE_DIR) + "/fuzz/corpus/trace_reader/small_wrapped.kvl";
    if (std::getenv("KV_UPDATE_GOLDEN") != nullptr)
        trace_test::writeFile(path, seed);
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> golden((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(golden, seed) << "the trace format changed; set KV_UPDATE_GOLDEN=1 only if that is intended";

    // An impossible size ends its lap only: the newer lap is still read.
    std::vector<uint8_t> bytes = seed;
    const TraceFileHeader h = *readTraceHeader(bytes.data(), bytes.size());
    platform::store16(bytes.data() + h.oldestRecord, 7);
    auto c = readAll(bytes);
    expectFirstProblem(c, "record at offset " + std::to_string(h.oldestRecord) + " has an impossible size 7");
    ASSERT_FALSE(c.records.empty());
    EXPECT_EQ(c.records.back().sequence, h.lastSequence);

    // A string offset outside its record skips that record alone.
    TestFile file(4096);
    file.write("one");
    file.write("two");
    for (const uint16_t bad : {0, 51, 60, 0xFFFF}) {
        bytes = file.bytes;
        platform::store16(bytes.data() + kHeaderSize + record_offset::kText, bad);
        c = readAll(bytes);
        expectFirstProblem(c, "record at offset 48 has a string outside it");
        ASSERT_EQ(c.records.size(), 1u);
        EXPECT_EQ(c.records[0].text, "two");
    }
    // A string that lost its zero ends with its record.
    bytes = file.bytes;
    bytes[kHeaderSize + 59] = 'X';
    EXPECT_EQ(readAll(bytes).records[0].text, "oneX");

    // Header fields pointing anywhere are damage.
    for (const size_t field : {header_offset::kFileSize, header_offset::kEndOfValidData,
                               header_offset::kOldestRecord, header_offset::kWriteOffset})
        for (const uint32_t value : {0u, 3u, 49u, 1023u, 1025u, 0xFFFFFFFFu}) {
            bytes = seed;
            platform::store32(bytes.data() + field, value);
            EXPECT_TRUE(readAll(bytes).result.damaged()) << "field " << field << " = " << value;
        }

    // Cut inside the records: damaged, and what lies before the cut is still read. A file of
    // nothing but its header is what a process leaves that wrote no record. (kvtrace's tests read
    // a file cut at its write offset.)
    c = readAll(
        std::vector<uint8_t>(file.bytes.begin(), file.bytes.begin() + file.header().writeOffset - 30));
    EXPECT_TRUE(c.result.damaged());
    EXPECT_EQ(c.records.size(), 1u);
    const TestFile empty(4096);
    c = readAll(std::vector<uint8_t>(empty.bytes.begin(), empty.bytes.begin() + kHeaderSize));
    EXPECT_TRUE(c.result.cut);
    EXPECT_FALSE(c.result.damaged());
}

TEST(TraceReader, TextBecomesUtf8WhateverTheRecordHeld)
{
    const auto text8 = [](std::string_view s) {
        return traceTextToUtf8({reinterpret_cast<const uint8_t*>(s.data()), s.size(), kChar8});
    };
    EXPECT_EQ(text8("caf\xC3\xA9"), "caf\xC3\xA9");               // valid UTF-8 stays
    EXPECT_EQ(text8("caf\xE9"), "caf\xC3\xA9");                   // Latin-1 otherwise
    EXPECT_EQ(text8("\xC3\xA9\xE9"), "\xC3\x83\xC2\xA9\xC3\xA9"); // one bad byte: the whole text is Latin-1
    EXPECT_EQ(text8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80"); // an encoded surrogate is not UTF-8

    const uint8_t wide[] = {'a', 0, 0x00, 0xD8, 'b', 0, 0x3D, 0xD8, 0x00, 0xDE};
    EXPECT_EQ(traceTextToUtf8({wide, 5, kChar16}), "a\xEF\xBF\xBD"
                                                   "b\xF0\x9F\x98\x80");
}
