// kvtrace's commands on files written by the ring code, good, cut and damaged, run in-process
// with their exact output, error lines and exit status.
#include "platform/Bytes.h"
#include "tests/support/TempFolder.h"
#include "tests/trace/TraceTestFile.h"
#include "tools/kvtrace/Commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <sstream>

using namespace trace;
using test_support::TempFolder;
using trace_test::TestFile;
namespace fs = std::filesystem;

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

TEST(Kvtrace, DumpShowsRecordsOldestFirstAsTextOrJson)
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

    // An unfinished record is marked as such, and only when nothing is filtered.
    ring.bytes[kHeaderSize + record_offset::kState] = 0;
    const std::string unfinished = dir.write("b.kvl", ring.bytes);
    run = runKvtrace({"dump", unfinished});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "-- record #1 at offset 48 is not complete");
    run = runKvtrace({"dump", "--json", unfinished});
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "{\"seq\":1,\"incomplete\":true,\"offset\":48}");
    EXPECT_EQ(runKvtrace({"dump", "--level", "1", unfinished}).out.find("#1 "), std::string::npos);
}

TEST(Kvtrace, FiltersCombine)
{
    TempFolder dir;
    const std::string path = dir.write("a.kvl", sampleRing().bytes);
    const auto sequences = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "dump");
        args.push_back(path);
        const Outcome run = runKvtrace(args);
        std::string seqs;
        for (size_t at = run.out.find(" #"); at != std::string::npos; at = run.out.find(" #", at + 1))
            seqs += run.out.substr(at + 2, 1);
        return seqs;
    };
    EXPECT_EQ(sequences({"--level", "4"}), "24");
    EXPECT_EQ(sequences({"--level=2", "--pid", "1"}), "1");
    EXPECT_EQ(sequences({"--module", "dpx"}), "14");
    EXPECT_EQ(sequences({"--module", "SETUP.EXE"}), "2") << "the module matches without its record name";
    EXPECT_EQ(sequences({"--grep", "Latin"}), "3");
    EXPECT_EQ(sequences({"--grep", "latin"}), "");
    EXPECT_EQ(sequences({"--pid", "2", "--grep", "o"}), "24");
}

TEST(Kvtrace, CutFilesAreGoodDamagedOnesFailAfterWhatCanBeRead)
{
    TempFolder dir;
    TestFile ring = sampleRing();
    const uint32_t write = ring.header().writeOffset;
    ring.bytes.resize(write);
    Outcome run = runKvtrace({"info", dir.write("cut.kvl", ring.bytes)});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("file size:          " + std::to_string(write) +
                           " bytes, header says 4096\n"
                           "records:            4\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("ring:               not wrapped, cut to its write offset\n"), std::string::npos);

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
    EXPECT_NE(run.out.find("state:              damaged\nproblem:            file is 900 bytes"),
              std::string::npos);

    TestFile bad = sampleRing();
    platform::store16(bad.bytes.data() + kHeaderSize, 3);
    path = dir.write("badsize.kvl", bad.bytes);
    EXPECT_EQ(runKvtrace({"dump", "--json", path}).err,
              "kvtrace: " + path + ": damaged: record at offset 48 has an impossible size 3\n");
}

TEST(Kvtrace, ForeignMissingFilesAndUsage)
{
    TempFolder dir;
    std::vector<uint8_t> v2 = sampleRing().bytes;
    v2[header_offset::kVersion] = 2;
    const std::string zeros = dir.write("zeros.kvl", std::vector<uint8_t>(100, 0));
    const std::string old = dir.write("v2.kvl", v2);
    const std::string tiny = dir.write("tiny.kvl", {'K', 'V'});
    EXPECT_EQ(runKvtrace({"dump", zeros}).err, "kvtrace: " + zeros + ": not a trace file\n");
    EXPECT_EQ(runKvtrace({"info", old}).err, "kvtrace: " + old + ": unsupported trace format version 2\n");
    EXPECT_EQ(runKvtrace({"dump", tiny}).err, "kvtrace: " + tiny + ": file too short for a trace header\n");
    const Outcome missing = runKvtrace({"dump", "/nonexistent/x.kvl"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "kvtrace: /nonexistent/x.kvl: no such file\n");

    // Each command line split at its blanks.
    for (const std::string line : {"", "frobnicate", "dump", "dump a b", "dump --level high a", "dump --pid",
                                   "dump --colour a", "info -x a", "--help", "dump --help", "info --help"}) {
        std::istringstream words(line);
        const Outcome run = runKvtrace({std::istream_iterator<std::string>(words), {}});
        if (line.find("--help") != std::string::npos) {
            EXPECT_EQ(run.status, 0) << line;
            EXPECT_EQ(run.out.rfind("Usage: kvtrace", 0), 0u) << run.out;
        } else {
            EXPECT_EQ(run.status, 2) << line;
            EXPECT_NE(run.err.find("Try 'kvtrace --help'."), std::string::npos) << line;
        }
    }
}
