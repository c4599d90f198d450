// kvtrace's commands on files written by the ring code, good, cut and damaged, run in-process
// with their exact output, error lines and exit status.
#include "platform/Bytes.h"
#include "tests/support/TempFolder.h"
#include "tests/trace/TraceTestFile.h"
#include "tools/common/Cli.h"
#include "tools/kvtrace/Commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

using namespace trace;
using test_support::TempFolder;
using testing::HasSubstr;
using trace_test::TestFile;

namespace {

struct Outcome {
    int status;
    std::string out, err;
};

Outcome runKvtrace(const std::vector<std::string>& args)
{
    std::ostringstream out;
    testing::internal::CaptureStderr();
    const int status = kvtrace::run(args, out);
    return {status, out.str(), testing::internal::GetCapturedStderr()};
}

// Four records of two processes, one of them UTF-16 with a record name and a high-resolution time.
TestFile sampleRing()
{
    TestFile f(4096);
    f.info.processId = 1;
    f.write("InstallKavariAddOn>>begin\r\n");
    f.info = {8, 2, 7, f.info.seconds, 5, true, 123456789};
    f.write(TraceStrings16{u"setup.exe", {}, u"tab\there \"quoted\" back\\slash", u"rec"});
    f.info = {1, 1, 7, f.info.seconds, 5, false, 0};
    f.write(TraceStrings8{"DPXUtil", {}, "caf\xE9 in Latin-1", {}});
    f.info = {4, 2, 7, f.info.seconds, 5, false, 0};
    f.write("done");
    return f;
}

} // namespace

TEST(Kvtrace, DumpShowsRecordsOldestFirstAsTextOrJsonNeverRawFiltersCombineAndUsageErrorsAreNamed)
{
    TestFile ring = sampleRing();
    TempFolder dir;
    const std::string path = dir.write("a.kvl", ring.bytes);
    Outcome run = runKvtrace({"dump", path});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out,
              "2026-12-05 09:07:03.005 L2 pid=1 tid=7 #1 DPX: InstallKavariAddOn>>begin\n"
              "2026-12-05 09:07:04.005 L8 pid=2 tid=7 #2 setup.exe@rec: tab\\there \"quoted\" back\\slash\n"
              "2026-12-05 09:07:05.005 L1 pid=1 tid=7 #3 DPXUtil: caf\xC3\xA9 in Latin-1\n"
              "2026-12-05 09:07:06.005 L4 pid=2 tid=7 #4 DPX: done\n");

    run = runKvtrace({"dump", "--json", path});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(
        run.out.substr(0, run.out.find('\n', run.out.find('\n') + 1) + 1),
        "{\"seq\":1,\"time\":\"2026-12-05T09:07:03.005Z\",\"pid\":1,\"tid\":7,\"level\":2,\"module\":\"DPX\","
        "\"category\":\"\",\"text\":\"InstallKavariAddOn>>begin\\r\\n\",\"name\":\"\"}\n"
        "{\"seq\":2,\"time\":\"2026-12-05T09:07:04.005Z\",\"pid\":2,\"tid\":7,\"level\":8,"
        "\"module\":\"setup.exe@rec\",\"category\":\"\",\"text\":\"tab\\there \\\"quoted\\\" "
        "back\\\\slash\",\"name\":\"rec\",\"hr_time_us\":123456789}\n");
    EXPECT_NE(run.out.find("\"text\":\"caf\xC3\xA9 in Latin-1\""), std::string::npos);

    const auto sequences = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "dump");
        args.push_back(path);
        const std::string out = runKvtrace(args).out;
        std::string seqs;
        for (size_t at = out.find(" #"); at != std::string::npos; at = out.find(" #", at + 1))
            seqs += out.substr(at + 2, 1);
        return seqs;
    };
    EXPECT_EQ(sequences({"--level", "4"}), "24");
    EXPECT_EQ(sequences({"--level=2", "--pid", "1"}), "1");
    EXPECT_EQ(sequences({"--module", "dpx"}), "14");
    EXPECT_EQ(sequences({"--module", "SETUP.EXE"}), "2") << "the module matches without its record name";
    EXPECT_EQ(sequences({"--grep", "Latin"}), "3");
    EXPECT_EQ(sequences({"--grep", "latin"}), "");
    EXPECT_EQ(sequences({"--pid", "2", "--grep", "o"}), "24");

    // An unfinished record is marked as such, and only when nothing is filtered.
    ring.bytes[kHeaderSize + record_offset::kState] = 0;
    const std::string unfinished = dir.write("b.kvl", ring.bytes);
    run = runKvtrace({"dump", unfinished});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "-- record #1 at offset 48 is not complete");
    EXPECT_NE(run.out.find("#2 setup.exe@rec"), std::string::npos) << "the records after it are shown";
    EXPECT_NE(run.out.find("#4 DPX: done"), std::string::npos);
    run = runKvtrace({"dump", "--json", unfinished});
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "{\"seq\":1,\"incomplete\":true,\"offset\":48}");
    EXPECT_EQ(runKvtrace({"dump", "--level", "1", unfinished}).out.find("#1 "), std::string::npos);

    // Each command line split at its blanks.
    for (const std::string line : {"", "frobnicate", "dump", "dump a b", "dump --level high a", "dump --pid",
                                   "dump --colour a", "info -x a", "--help", "dump --help", "info --help"}) {
        std::istringstream words(line);
        run = runKvtrace({std::istream_iterator<std::string>(words), {}});
        if (line.find("--help") != std::string::npos) {
            EXPECT_EQ(run.status, 0) << line;
            EXPECT_EQ(run.out.rfind("Usage: kvtrace", 0), 0u) << run.out;
        } else {
            EXPECT_EQ(run.status, 2) << line;
            EXPECT_NE(run.err.find("Try 'kvtrace --help'."), std::string::npos) << line;
        }
    }

    // A module that would clear the screen and forge a line, an OSC title in the text, and a C1
    // control (NEL, U+0085, from the Latin-1 byte 0x85).
    TestFile f(4096);
    f.write(TraceStrings8{"A\x1b[2J\nB", "cat\x7f", "x\x1b]0;pwned\x07 y\x85z\n", "n\r"});
    const std::string hostile = dir.write("hostile.kvl", f.bytes);
    run = runKvtrace({"dump", hostile});
    EXPECT_EQ(run.out, "2026-12-05 09:07:03.005 L2 pid=100 tid=7 #1 A\\x1b[2J\\nB@n\\r: "
                       "x\\x1b]0;pwned\\x07 y\\u0085z\n");
    run = runKvtrace({"dump", "--json", hostile});
    EXPECT_EQ(run.out,
              "{\"seq\":1,\"time\":\"2026-12-05T09:07:03.005Z\",\"pid\":100,\"tid\":7,\"level\":2,"
              "\"module\":\"A\\u001b[2J\\nB@n\\r\",\"category\":\"cat\\u007f\",\"text\":\"x\\u001b]0;"
              "pwned\\u0007 y\\u0085z\\n\",\"name\":\"n\\r\"}\n");

    // The same escaping over the lines made from file contents, case by case.
    struct Case {
        std::string in, text, json;
    } const cases[] = {
        {"caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80",
         "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80"},
        {"a\nb\rc\td", "a\\nb\\rc\\td", "a\\nb\\rc\\td"},
        {std::string("nul\0cut", 7), "nul\\x00cut", "nul\\u0000cut"},
        {"esc\x1b[2J del\x7f", "esc\\x1b[2J del\\x7f", "esc\\u001b[2J del\\u007f"},
        {"c1 \xC2\x80 \xC2\x9B \xC2\x9F \xC2\xA0", "c1 \\u0080 \\u009b \\u009f \xC2\xA0",
         "c1 \\u0080 \\u009b \\u009f \xC2\xA0"},
        {"raw \x9B \xE9t\xE9 \xC0\xAF \xED\xA0\x80 cut\xE4\xB8",
         "raw \\x9b \\xe9t\\xe9 \\xc0\\xaf \\xed\\xa0\\x80 cut\\xe4\\xb8",
         "raw \\ufffd \\ufffdt\\ufffd \\ufffd\\ufffd \\ufffd\\ufffd\\ufffd cut\\ufffd\\ufffd"},
        {"quote\" back\\", "quote\" back\\", "quote\\\" back\\\\"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cli::printable(c.in), c.text);
        std::string json;
        cli::appendJsonEscaped(json, c.in);
        EXPECT_EQ(json, c.json);
    }
}

TEST(Kvtrace, AnyFileNameAndCutFilesAreGoodDamagedAndOtherFilesFailAfterWhatCanBeRead)
{
    TempFolder dir(u8" tr\u00e0ce \u4e2d\u6587");
    const TestFile ring = sampleRing();
    const uint32_t write = ring.header().writeOffset;
    Outcome run =
        runKvtrace({"info", dir.write("cut.kvl", {ring.bytes.begin(), ring.bytes.begin() + write})});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("file size:          " + std::to_string(write) +
                                   " bytes, header says 4096\nrecords:            4\n"));
    EXPECT_THAT(run.out, HasSubstr("ring:               not wrapped, cut to its write offset\n"));

    // A ring that wrapped, then lost its tail.
    TestFile wrapped(1024);
    for (int i = 0; i < 30; ++i)
        wrapped.write("record " + std::to_string(i));
    ASSERT_NE(wrapped.header().oldestRecord, kHeaderSize);
    wrapped.bytes.resize(900);
    std::string path = dir.write("short.kvl", wrapped.bytes);
    run = runKvtrace({"dump", path});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kvtrace: " + path + ": damaged: file is 900 bytes, its header says 1024\n");
    EXPECT_NE(run.out.find("record 29"), std::string::npos) << "the newest records are still shown";
    run = runKvtrace({"info", path});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("state:              damaged\nproblem:            file is 900 bytes"));

    std::vector<uint8_t> bad = ring.bytes;
    platform::store16(bad.data() + kHeaderSize, 3);
    path = dir.write("badsize.kvl", bad);
    EXPECT_EQ(runKvtrace({"dump", "--json", path}).err,
              "kvtrace: " + path + ": damaged: record at offset 48 has an impossible size 3\n");

    for (const char* name :
         {u8"tr\u00e0ce.kvl", u8"\u0438\u043c\u044f \u0444\u0430\u0439\u043b\u0430.kvl", "-dash.kvl"}) {
        path = dir.write(name, ring.bytes);
        run = runKvtrace({"info", "--", path});
        EXPECT_EQ(run.status, 0) << name << ": " << run.err;
        EXPECT_EQ(run.out.rfind("file:               " + path + "\n", 0), 0u) << run.out;
    }
    EXPECT_EQ(runKvtrace({"dump", "--", dir.utf8("-dash.kvl")}).status, 0);

    // A large sparse file is judged by its header alone, without being read, and one beyond the
    // format's 32-bit sizes is refused before that. (Folders and missing files: the host test.)
    dir.sparse("big.kvl", uint64_t{2} << 30);
    dir.sparse("huge.kvl", uint64_t{5} << 30);
    std::vector<uint8_t> v2 = ring.bytes;
    v2[header_offset::kVersion] = 2;
    dir.write("v2.kvl", v2);
    dir.write("zeros.kvl", std::vector<uint8_t>(100, 0));
    dir.write("tiny.kvl", {'K', 'V'});
    struct Case {
        const char* name;
        const char* problem;
    } const cases[] = {
        {"big.kvl", "not a trace file"},
        {"zeros.kvl", "not a trace file"},
        {"v2.kvl", "unsupported trace format version 2"},
        {"tiny.kvl", "file too short for a trace header"},
        {"huge.kvl", "too large for a trace file"},
    };
    for (const Case& c : cases)
        for (const char* command : {"dump", "info"}) {
            run = runKvtrace({command, dir.utf8(c.name)});
            EXPECT_EQ(run.status, 1) << c.name;
            EXPECT_EQ(run.err, "kvtrace: " + dir.utf8(c.name) + ": " + c.problem + "\n");
        }
}
