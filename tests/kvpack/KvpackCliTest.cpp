// The kvpack program as people use it: exit codes, the one-line errors, and files round trip.
#include "tests/setup/TestImages.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class KvpackCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        mDir = fs::temp_directory_path() / ("kvpack-cli-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(mDir);
        fs::create_directories(mDir);
    }
    void TearDown() override { fs::remove_all(mDir); }

    std::string path(const std::string& name) const { return (mDir / name).string(); }

    void write(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        std::ofstream(path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

    std::vector<uint8_t> read(const std::string& name) const
    {
        std::ifstream in(path(name), std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    Outcome kvpack(const std::string& args) const
    {
        const std::string err = path("stderr.txt");
        const std::string command = std::string(KVPACK_PATH) + " " + args + " 2>" + err;
        Outcome run{};
        FILE* pipe = popen(command.c_str(), "r");
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            run.out.append(buffer, n);
        run.status = WEXITSTATUS(pclose(pipe));
        std::ifstream errIn(err);
        run.err.assign(std::istreambuf_iterator<char>(errIn), std::istreambuf_iterator<char>());
        return run;
    }

    fs::path mDir;
};

} // namespace

TEST_F(KvpackCli, BuildListVerifyExtractRoundTrip)
{
    write("stub.exe", testimages::makeImage({}));
    write("extaction.bin", testimages::bytesOf("installpath=%LOCALAPPDATA%\\Kavari\r\n"));
    std::vector<uint8_t> program(300000);
    for (size_t i = 0; i < program.size(); ++i)
        program[i] = uint8_t((i * 7) ^ (i >> 9));
    write("start.exe", program);

    Outcome run = kvpack("build --stub " + path("stub.exe") + " -o " + path("setup.exe") + " " +
                         path("extaction.bin") + " OrvaneKavariStart.exe=" + path("start.exe") + " .=");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    run = kvpack("list " + path("setup.exe"));
    ASSERT_EQ(run.status, 0) << run.err;
    const size_t configuration = run.out.find("extaction.bin");
    ASSERT_NE(configuration, std::string::npos) << run.out;
    EXPECT_LT(configuration, run.out.find("OrvaneKavariStart.exe")); // processing order
    EXPECT_NE(run.out.find("300000"), std::string::npos);

    run = kvpack("verify " + path("setup.exe"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("ok"), std::string::npos);

    run = kvpack("extract " + path("setup.exe") + " " + path("out"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read("out/OrvaneKavariStart.exe"), program);
    EXPECT_EQ(read("out/extaction.bin"), read("extaction.bin"));
    EXPECT_EQ(std::distance(fs::directory_iterator(mDir / "out"), fs::directory_iterator()), 2);

    // The package stream alone, through the codec commands, and its CRC.
    run = kvpack("lzari encode " + path("start.exe") + " " + path("start.lza"));
    ASSERT_EQ(run.status, 0) << run.err;
    run = kvpack("lzari decode " + path("start.lza") + " " + path("start.out"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read("start.out"), program);
    write("check.txt", testimages::bytesOf("123456789"));
    EXPECT_EQ(kvpack("crc " + path("check.txt")).out, "0x374B\n");
}

TEST_F(KvpackCli, FailuresNameTheFileAndTheProblemOnOneLine)
{
    write("stub.exe", testimages::makeImage({}));
    write("item.txt", testimages::bytesOf("hello"));
    ASSERT_EQ(kvpack("build --stub " + path("stub.exe") + " -o " + path("setup.exe") + " " + path("item.txt"))
                  .status,
              0);
    auto bytes = read("setup.exe");
    bytes[bytes.size() - 1] ^= 0xFF;
    write("damaged.exe", bytes);

    Outcome run = kvpack("verify " + path("damaged.exe"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("kvpack: " + path("damaged.exe") + ": package CRC does not match", 0), 0u)
        << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);

    run = kvpack("extract " + path("damaged.exe") + " " + path("out"));
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(fs::exists(mDir / "out"));

    run = kvpack("verify " + path("missing.exe"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kvpack: " + path("missing.exe") + ": cannot open for reading\n");

    // A refused build leaves an existing output untouched.
    const auto before = read("setup.exe");
    run = kvpack("build --stub " + path("setup.exe") + " -o " + path("setup.exe") + " " + path("item.txt"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("--replace"), std::string::npos);
    EXPECT_EQ(read("setup.exe"), before);
    run =
        kvpack("build --stub " + path("stub.exe") + " -o " + path("x.exe") + " " + "a/b=" + path("item.txt"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("plain file name"), std::string::npos);
}

TEST_F(KvpackCli, UsageErrorsAndHelp)
{
    EXPECT_EQ(kvpack("").status, 2);
    EXPECT_EQ(kvpack("frobnicate").status, 2);
    EXPECT_EQ(kvpack("build -o x").status, 2);
    EXPECT_EQ(kvpack("list").status, 2);
    EXPECT_EQ(kvpack("lzari squeeze a b").status, 2);
    for (const char* help : {"--help", "build --help", "verify -h"}) {
        const Outcome run = kvpack(help);
        EXPECT_EQ(run.status, 0) << help;
        EXPECT_NE(run.out.find("Usage: kvpack"), std::string::npos);
    }
}
