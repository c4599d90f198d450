// The kvpack program as people use it: exit codes, the one-line errors, and files round trip.
#include "tests/setup/TestImages.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Runs kvpack in a folder of the test's own, so that commands name files as people type them.
class KvpackCli : public ::testing::Test {
protected:
    void write(const std::string& name, const std::vector<uint8_t>& bytes) const { mFolder.write(name, bytes); }
    std::vector<uint8_t> read(const std::string& name) const { return mFolder.read(name); }

    Outcome kvpack(const std::string& args) const
    {
        const std::string command = "cd '" + mDir.string() + "' && " KVPACK_PATH " " + args + " 2>stderr.txt";
        Outcome run{};
        FILE* pipe = popen(command.c_str(), "r");
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            run.out.append(buffer, n);
        run.status = WEXITSTATUS(pclose(pipe));
        const auto err = read("stderr.txt");
        run.err.assign(err.begin(), err.end());
        return run;
    }

    test_support::TempFolder mFolder;
    const fs::path& mDir = mFolder.path();
};

} // namespace

TEST_F(KvpackCli, BuildListVerifyExtractRoundTrip)
{
    write("stub.exe", testimages::makeImage({}));
    write("extaction.bin", testimages::bytesOf("Path=#currentappdata#\\Kavari\n"));
    std::vector<uint8_t> program(300000);
    for (size_t i = 0; i < program.size(); ++i)
        program[i] = uint8_t((i * 7) ^ (i >> 9));
    write("start.exe", program);

    Outcome run =
        kvpack("build --stub stub.exe -o setup.exe extaction.bin OrvaneKavariStart.exe=start.exe .=");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    run = kvpack("list setup.exe");
    ASSERT_EQ(run.status, 0) << run.err;
    const size_t configuration = run.out.find("extaction.bin");
    ASSERT_NE(configuration, std::string::npos) << run.out;
    EXPECT_LT(configuration, run.out.find("OrvaneKavariStart.exe")); // processing order
    EXPECT_NE(run.out.find("300000"), std::string::npos);
    EXPECT_EQ(kvpack("verify setup.exe").status, 0);

    ASSERT_EQ(kvpack("extract setup.exe out").status, 0);
    EXPECT_EQ(read("out/OrvaneKavariStart.exe"), program);
    EXPECT_EQ(read("out/extaction.bin"), read("extaction.bin"));
    EXPECT_EQ(std::distance(fs::directory_iterator(mDir / "out"), fs::directory_iterator()), 2);

    // The package stream alone, through the codec commands, and its CRC.
    ASSERT_EQ(kvpack("lzari encode start.exe start.lza").status, 0);
    ASSERT_EQ(kvpack("lzari decode start.lza start.out").status, 0);
    EXPECT_EQ(read("start.out"), program);
    write("check.txt", testimages::bytesOf("123456789"));
    EXPECT_EQ(kvpack("crc check.txt").out, "0x374B\n");
}

TEST_F(KvpackCli, FailuresNameTheFileAndTheProblemOnOneLine)
{
    write("stub.exe", testimages::makeImage({}));
    write("item.txt", testimages::bytesOf("hello"));
    ASSERT_EQ(kvpack("build --stub stub.exe -o setup.exe item.txt").status, 0);
    auto bytes = read("setup.exe");
    bytes.back() ^= 0xFF;
    write("damaged.exe", bytes);

    Outcome run = kvpack("verify damaged.exe");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("kvpack: damaged.exe: package CRC does not match", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
    EXPECT_EQ(kvpack("extract damaged.exe out").status, 1);
    EXPECT_FALSE(fs::exists(mDir / "out"));
    EXPECT_EQ(kvpack("verify missing.exe").err, "kvpack: missing.exe: no such file\n");

    // A refused build leaves an existing output untouched.
    const auto before = read("setup.exe");
    run = kvpack("build --stub setup.exe -o setup.exe item.txt");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("--replace"), std::string::npos);
    EXPECT_EQ(read("setup.exe"), before);
    run = kvpack("build --stub stub.exe -o x.exe a:b=item.txt");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("plain file name"), std::string::npos);
}

TEST_F(KvpackCli, UsageErrorsAndHelp)
{
    for (const char* usage : {"", "frobnicate", "build -o x", "list", "lzari squeeze a b"})
        EXPECT_EQ(kvpack(usage).status, 2) << usage;
    for (const char* help : {"--help", "build --help", "verify -h"}) {
        const Outcome run = kvpack(help);
        EXPECT_EQ(run.status, 0) << help;
        EXPECT_NE(run.out.find("Usage: kvpack"), std::string::npos);
    }
}
