// kvtrace's commands on files written by the ring code, good, cut and damaged, run in-process
// with their exact output, error lines and exit status.
#include "tools/kvtrace/Commands.h"
#include "trace/TraceBytes.h"
#include "trace/TraceFormat.h"
#include "trace/TraceRing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace trace;
namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome runKvtrace(std::vector<std::string> args)
{
    std::ostringstream out;
    testing::internal::CaptureStderr();
    const int status = kvtrace::run(args, out);
    return {status, out.str(), testing::internal::GetCapturedStderr()};
}

class TempDir {
public:
    TempDir()
    {
        mPath =
            fs::temp_directory_path() / ("kvtrace_test_" + std::to_string(reinterpret_cast<uintptr_t>(this)) +
                                         "_" + testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(mPath);
    }
    ~TempDir()
    {
        std::error_code ignored;
        fs::remove_all(mPath, ignored);
    }
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        const fs::path path = mPath / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path.string();
    }

private:
    fs::path mPath;
};

struct Ring {
    explicit Ring(uint32_t size) : bytes(size) { createTraceHeader(bytes.data(), size, 99); }

    void add(uint32_t level, uint32_t pid, const std::string& module, const std::string& text,
             bool wide = false, const std::string& name = {})
    {
        TraceRing ring(bytes.data(), bytes.size());
        TraceRecordInfo info;
        info.level = level;
        info.processId = pid;
        info.threadId = 7;
        info.seconds = 1796461623 + seconds++;
        info.milliseconds = 5;
        info.hasHighResTime = pid == 2;
        info.highResTimeUs = 123456789;
        if (wide) {
            const std::u16string m(module.begin(), module.end()), t(text.begin(), text.end()),
                n(name.begin(), name.end());
            ASSERT_EQ(writeTraceRecord(ring, info, TraceStrings16{m, {}, t, n}), TraceWriteResult::Written);
        } else {
            ASSERT_EQ(writeTraceRecord(ring, info, TraceStrings8{module, {}, text, name}),
                      TraceWriteResult::Written);
        }
    }

    std::vector<uint8_t> bytes;
    uint32_t seconds = 0;
};

// Four records of two processes, one of them UTF-16 with a record name.
Ring sampleRing()
{
    Ring r(4096);
    r.add(2, 1, "DPX", "InstallKavariAddOn>>begin\r\n");
    r.add(8, 2, "setup.exe", "tab\there \"quoted\" back\\slash", true, "rec");
    r.add(1, 1, "DPXUtil", "caf\xE9 in Latin-1");
    r.add(4, 2, "DPX", "done");
    return r;
}

} // namespace

TEST(Kvtrace, DumpPrintsOneLinePerRecordOldestFirst)
{
    TempDir dir;
    const std::string path = dir.write("a.kvl", sampleRing().bytes);
    const Outcome run = runKvtrace({"dump", path});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out,
              "2026-12-05 09:07:03.005 L2 pid=1 tid=7 #1 DPX: InstallKavariAddOn>>begin\n"
              "2026-12-05 09:07:04.005 L8 pid=2 tid=7 #2 setup.exe@rec: tab\\there \"quoted\" back\\slash\n"
              "2026-12-05 09:07:05.005 L1 pid=1 tid=7 #3 DPXUtil: caf\xC3\xA9 in Latin-1\n"
              "2026-12-05 09:07:06.005 L4 pid=2 tid=7 #4 DPX: done\n");
}

TEST(Kvtrace, JsonIsOneEscapedUtf8ObjectPerLine)
{
    TempDir dir;
    const std::string path = dir.write("a.kvl", sampleRing().bytes);
    const Outcome run = runKvtrace({"dump", "--json", path});
    EXPECT_EQ(run.status, 0);
    std::istringstream lines(run.out);
    std::string line;
    std::vector<std::string> all;
    while (std::getline(lines, line))
        all.push_back(line);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(
        all[0],
        "{\"seq\":1,\"time\":\"2026-12-05T09:07:03.005Z\",\"pid\":1,\"tid\":7,\"level\":2,"
        "\"module\":\"DPX\",\"category\":\"\",\"text\":\"InstallKavariAddOn>>begin\\r\\n\",\"name\":\"\"}");
    EXPECT_EQ(all[1], "{\"seq\":2,\"time\":\"2026-12-05T09:07:04.005Z\",\"pid\":2,\"tid\":7,\"level\":8,"
                      "\"module\":\"setup.exe@rec\",\"category\":\"\",\"text\":\"tab\\there \\\"quoted\\\" "
                      "back\\\\slash\",\"name\":\"rec\",\"hr_time_us\":123456789}");
    EXPECT_NE(all[2].find("\"text\":\"caf\xC3\xA9 in Latin-1\""), std::string::npos);
}

TEST(Kvtrace, FiltersCombine)
{
    TempDir dir;
    const std::string path = dir.write("a.kvl", sampleRing().bytes);
    const auto sequences = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "dump");
        args.push_back(path);
        const Outcome run = runKvtrace(args);
        EXPECT_EQ(run.status, 0) << run.err;
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

TEST(Kvtrace, UnfinishedRecordIsMarkedUnlessFiltering)
{
    Ring ring = sampleRing();
    ring.bytes[kHeaderSize + record_offset::kState] = 0;
    TempDir dir;
    const std::string path = dir.write("a.kvl", ring.bytes);
    Outcome run = runKvtrace({"dump", path});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "-- record #1 at offset 48 is not complete");
    run = runKvtrace({"dump", "--json", path});
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "{\"seq\":1,\"incomplete\":true,\"offset\":48}");
    run = runKvtrace({"dump", "--level", "1", path});
    EXPECT_EQ(run.out.find("incomplete"), std::string::npos);
    EXPECT_EQ(run.out.find("#1 "), std::string::npos);
}

TEST(Kvtrace, InfoOnGoodAndCutFiles)
{
    Ring ring = sampleRing();
    TempDir dir;
    Outcome run = runKvtrace({"info", dir.write("full.kvl", ring.bytes)});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("records:            4\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("ring:               not wrapped\n"), std::string::npos);
    EXPECT_NE(run.out.find("state:              good\n"), std::string::npos);

    const uint32_t write = load32(ring.bytes.data() + header_offset::kWriteOffset);
    ring.bytes.resize(write);
    run = runKvtrace({"info", dir.write("cut.kvl", ring.bytes)});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("file size:          " + std::to_string(write) + " bytes, header says 4096\n"),
              std::string::npos);
    EXPECT_NE(run.out.find("ring:               not wrapped, cut to its write offset\n"), std::string::npos);
    EXPECT_EQ(runKvtrace({"dump", dir.write("cut2.kvl", ring.bytes)}).status, 0);
}

TEST(Kvtrace, DamagedFilesFailWithOneLineAfterWhatCanBeRead)
{
    TempDir dir;
    // A ring that wrapped, then lost its tail.
    Ring ring(1024);
    for (int i = 0; i < 30; ++i)
        ring.add(2, 1, "DPX", "record " + std::to_string(i));
    ASSERT_NE(load32(ring.bytes.data() + header_offset::kOldestRecord), kHeaderSize);
    ring.bytes.resize(900);
    std::string path = dir.write("short.kvl", ring.bytes);
    Outcome run = runKvtrace({"dump", path});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kvtrace: " + path + ": damaged: file is 900 bytes, its header says 1024\n");
    EXPECT_NE(run.out.find("record 29"), std::string::npos) << "the newest records are still shown";

    run = runKvtrace({"info", path});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("state:              damaged\n"), std::string::npos);
    EXPECT_NE(run.out.find("problem:            file is 900 bytes"), std::string::npos);

    Ring bad = sampleRing();
    store16(bad.bytes.data() + kHeaderSize, 3);
    path = dir.write("badsize.kvl", bad.bytes);
    run = runKvtrace({"dump", "--json", path});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kvtrace: " + path + ": damaged: record at offset 48 has an impossible size 3\n");
}

TEST(Kvtrace, ForeignAndMissingFiles)
{
    TempDir dir;
    std::string path = dir.write("zeros.kvl", std::vector<uint8_t>(100, 0));
    EXPECT_EQ(runKvtrace({"dump", path}).err, "kvtrace: " + path + ": not a trace file\n");
    std::vector<uint8_t> old = sampleRing().bytes;
    old[header_offset::kVersion] = 2;
    path = dir.write("v2.kvl", old);
    Outcome run = runKvtrace({"info", path});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kvtrace: " + path + ": unsupported trace format version 2\n");
    EXPECT_EQ(run.out, "");
    path = dir.write("tiny.kvl", {'K', 'V'});
    EXPECT_EQ(runKvtrace({"dump", path}).err, "kvtrace: " + path + ": file too short for a trace header\n");
    run = runKvtrace({"dump", "/nonexistent/x.kvl"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kvtrace: /nonexistent/x.kvl: cannot open: No such file or directory\n");
}

TEST(Kvtrace, UsageErrorsAndHelp)
{
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"frobnicate"},
                                               {"dump"},
                                               {"dump", "a", "b"},
                                               {"dump", "--level", "high", "a"},
                                               {"dump", "--pid"},
                                               {"dump", "--colour", "a"},
                                               {"info", "-x", "a"}}) {
        const Outcome run = runKvtrace(args);
        EXPECT_EQ(run.status, 2) << testing::PrintToString(args);
        EXPECT_NE(run.err.find("Try 'kvtrace --help'."), std::string::npos);
    }
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--help"}, {"dump", "--help"}, {"info", "--help"}}) {
        const Outcome run = runKvtrace(args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out.rfind("Usage: kvtrace", 0), 0u) << run.out;
    }
}
