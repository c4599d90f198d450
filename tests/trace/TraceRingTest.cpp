// The ring over many random runs: what the reader walks is always exactly the records not yet
// dropped, and room is made the way other writers of the same file expect.
#include "TraceTestFile.h"
#include "platform/Bytes.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>

using namespace trace;
using trace_test::readAll;
using trace_test::TestFile;

namespace {

std::string textFor(uint32_t sequence, size_t length)
{
    std::string text = "#" + std::to_string(sequence) + " ";
    while (text.size() < length)
        text += static_cast<char>('a' + text.size() % 26);
    return text;
}

} // namespace

TEST(TraceRing, RandomRunsKeepExactlyTheUndroppedRecordsAndOneLargerThanTheRingDropsNothing)
{
    std::mt19937 rng(20261205);
    for (int run = 0; run < 60; ++run) {
        const uint32_t fileSize = std::uniform_int_distribution<uint32_t>(256, 24 * 1024)(rng) & ~3u;
        const size_t maxText = std::uniform_int_distribution<size_t>(8, run % 3 == 0 ? 2100 : 300)(rng);
        TestFile file(fileSize);
        std::deque<std::pair<uint32_t, std::string>> held; // sequence, text
        uint32_t nextSequence = 1;
        SCOPED_TRACE("file size " + std::to_string(fileSize));

        for (int step = 0; step < 400; ++step) {
            const size_t length = std::uniform_int_distribution<size_t>(0, maxText)(rng);
            const bool wide = rng() % 2 == 0;
            const std::string text = textFor(nextSequence, length);
            const TraceStrings8 narrow{"N", {}, text, {}};
            const std::u16string wideText(text.begin(), text.end());
            const TraceStrings16 utf16{u"W", {}, wideText, {}};
            const TraceFileHeader before = file.header();
            const TraceRecordLayout layout = wide ? layoutTraceRecord(utf16) : layoutTraceRecord(narrow);
            const TraceWriteResult result = wide ? file.write(utf16) : file.write(narrow);
            const TraceFileHeader after = file.header();

            if (result == TraceWriteResult::Written) {
                held.push_back({nextSequence++, text.substr(0, kMaxTextChars - 1)});
                // Back to the start only when the record does not fit before the end.
                const bool fits = before.writeOffset + layout.size <= fileSize;
                EXPECT_EQ(after.writeOffset - layout.size, fits ? before.writeOffset : kHeaderSize);
                if (before.freeBytes < layout.size) {
                    // Room was made: at least a sixteenth of the file, or the whole older lap.
                    const uint32_t freed = after.freeBytes + layout.size;
                    EXPECT_TRUE(freed >= fileSize / 16 || after.oldestRecord == kHeaderSize)
                        << "freed " << freed << " at step " << step;
                } else {
                    EXPECT_EQ(after.recordCount, before.recordCount + 1) << "dropped without need";
                }
            } else {
                ASSERT_EQ(result, TraceWriteResult::NoSpace);
                // Two passes of at least a sixteenth each always fit a record no larger than that.
                EXPECT_GT(layout.size, fileSize / 16) << "at step " << step;
            }

            // The reader checks the header's count, free bytes, oldest record, end of valid data and
            // write offset against what it walked.
            const auto c = readAll(file.bytes);
            ASSERT_TRUE(c.result.problems.empty()) << c.result.problems[0] << " at step " << step;
            EXPECT_TRUE(c.incompletes.empty());
            while (!held.empty() && (c.records.empty() || held.front().first < c.records.front().sequence))
                held.pop_front();
            ASSERT_EQ(c.records.size(), held.size()) << "at step " << step;
            for (size_t i = 0; i < held.size(); ++i) {
                ASSERT_EQ(c.records[i].sequence, held[i].first);
                ASSERT_EQ(c.records[i].text, held[i].second);
            }
            EXPECT_EQ(c.records.empty() ? 0 : c.records.back().sequence, held.empty() ? 0 : nextSequence - 1)
                << "the newest record was lost";
        }
    }

    // A record larger than the ring fails without dropping anything.
    TestFile file(1024);
    ASSERT_EQ(file.write("keep me"), TraceWriteResult::Written);
    const std::vector<uint8_t> before = file.bytes;
    EXPECT_EQ(file.write(std::string(1000, 'x')), TraceWriteResult::NoSpace);
    EXPECT_EQ(file.bytes, before);
    // An empty ring asked for too much must not get stuck with no free bytes either.
    TestFile empty(1024);
    EXPECT_EQ(empty.write(std::string(1000, 'x')), TraceWriteResult::NoSpace);
    EXPECT_EQ(empty.write("fits"), TraceWriteResult::Written);
}

TEST(TraceRing, DamagedCountersAreResetAndWritesStayInside)
{
    std::mt19937 rng(7);
    for (int i = 0; i < 3000; ++i) {
        TestFile file(2048);
        for (int k = 0; k < 40; ++k)
            file.write(textFor(k, rng() % 80));
        // Scribble over one counter or one record size with anything.
        const size_t field = header_offset::kRecordCount + 4 * (rng() % 5);
        if (rng() % 4 == 0) {
            const uint32_t oldest = file.header().oldestRecord;
            platform::store16(file.bytes.data() + oldest, static_cast<uint16_t>(rng()));
        } else {
            platform::store32(file.bytes.data() + field,
                              rng() % 3 == 0 ? static_cast<uint32_t>(rng()) : rng() % 2200);
        }
        // The vector has exactly the file's bytes: ASan catches any step outside.
        // Records below a sixteenth of the file, which always fit once room is made.
        for (int k = 0; k < 20; ++k)
            ASSERT_EQ(file.write(textFor(k, rng() % 60)), TraceWriteResult::Written);
        // A wrong count, or a record size that is wrong but plausible, breaks no bound; writers
        // do not walk the ring to find it out, so the count may stay off.
        const auto c = readAll(file.bytes);
        const bool onlyCount =
            c.result.problems.size() == 1 && c.result.problems[0].rfind("header counts", 0) == 0;
        ASSERT_TRUE(c.result.problems.empty() || onlyCount) << "case " << i << ": " << c.result.problems[0];
    }
}

TEST(TraceRing, SaveHookRunsBeforeRecordsAreDroppedAndAHeaderChangedMeanwhileKeepsWritesInside)
{
    // Scribbling plays another process changing the header while the hook runs: a file size past
    // the bytes given, with counters that agree with it and a write offset beyond the end.
    struct Hook : TraceSaveHook {
        bool checkIfNeedSaveLogFile(uint32_t size) override
        {
            asked.push_back(size);
            if (!scribble)
                return true;
            platform::store32(file->data() + header_offset::kFileSize, 1u << 30);
            platform::store32(file->data() + header_offset::kWriteOffset, 2000);
            platform::store32(file->data() + header_offset::kFreeBytes, (1u << 30) - 2000);
            return false;
        }
        void SaveLogFile() override { copies.push_back(*file); }
        std::vector<uint8_t>* file = nullptr;
        bool scribble = false;
        std::vector<uint32_t> asked;
        std::vector<std::vector<uint8_t>> copies;
    };
    for (const bool scribble : {false, true}) {
        TestFile file(1600); // 25 records of 60 bytes fit, the 26th wraps
        Hook hook;
        hook.file = &file.bytes;
        hook.scribble = scribble;
        for (int i = 0; i < 26; ++i)
            ASSERT_EQ(file.write("abc", &hook), TraceWriteResult::Written) << "record " << i;
        // The vector holds exactly the file's bytes, so ASan catches a write past them; the ring
        // goes on inside the size it read at the call's start.
        EXPECT_LE(file.header().writeOffset, 1600u);
        if (scribble)
            continue;
        ASSERT_EQ(hook.asked, std::vector<uint32_t>{60});
        ASSERT_EQ(hook.copies.size(), 1u);
        EXPECT_EQ(readAll(hook.copies[0]).records.size(), 25u)
            << "the copy holds the whole ring before the wrap";
    }
}
