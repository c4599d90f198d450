// The kvpack program as people use it: exit codes, the one-line errors, and files round trip.
#include "setup/Crc16.h"
#include "tests/kvpack/Installers.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status;
    std::string out, err;
};

// Runs kvpack in a folder of the test's own, so that commands name files as people type them.
class KvpackCli : public ::testing::Test {
protected:
    // stub.exe, item.txt holding "hello", and setup.exe built from them.
    void buildSample() const
    {
        mFolder.write("stub.exe", testimages::makeImage({}));
        mFolder.write("item.txt", testimages::bytesOf("hello"));
        ASSERT_EQ(kvpack("build --stub stub.exe -o setup.exe item.txt").status, 0);
    }
    bool exists(const std::string& name) const { return fs::exists(fs::symlink_status(mDir / name)); }
    std::vector<std::string> leftovers() const
    {
        std::vector<std::string> parts;
        for (const auto& entry : fs::recursive_directory_iterator(mDir))
            if (entry.path().filename().string().find(".kvpack-part") != std::string::npos)
                parts.push_back(entry.path().filename().string());
        return parts;
    }

    // Each argument passed as its bytes, whatever they are.
    Outcome kvpackArgs(const std::vector<std::string>& args) const
    {
        std::string line;
        for (const auto& a : args) {
            line += " '";
            for (const char c : a)
                line += c == '\'' ? std::string("'\\''") : std::string(1, c);
            line += "'";
        }
        return kvpack(line);
    }

    Outcome kvpack(const std::string& args) const
    {
        // A read that blocks (a FIFO opened without O_NONBLOCK) ends the run instead of the test.
        const std::string command =
            "cd '" + mDir.string() + "' && timeout 60 " KVPACK_PATH " " + args + " 2>stderr.txt";
        Outcome run{};
        FILE* pipe = popen(command.c_str(), "r");
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            run.out.append(buffer, n);
        run.status = WEXITSTATUS(pclose(pipe));
        const auto err = mFolder.read("stderr.txt");
        run.err.assign(err.begin(), err.end());
        return run;
    }

    test_support::TempFolder mFolder; // names pass to the system as their bytes, UTF-8 or not
    const fs::path& mDir = mFolder.path();
};

std::string crcText(const std::vector<uint8_t>& bytes)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X\n", setup::Crc16(bytes.data(), bytes.size()));
    return text;
}

} // namespace

TEST_F(KvpackCli, BuildListVerifyExtractAndCodecRoundTripUnderAnyFileNameByTheRulesAReleaseEngineerExpects)
{
    // Several scripts, spaces, and bytes that are not UTF-8: each is the name of the file opened.
    const char* const names[] = {"plain", "caf\xC3\xA9", "\xE4\xB8\xAD\xE6\x96\x87 \xE5\x90\x8D",
                                 "two  spaces", "\xE9t\xE9"};
    mFolder.write("extaction.bin", testimages::bytesOf("Path=#currentappdata#\\Kavari\n"));
    std::vector<uint8_t> program(300000);
    for (size_t i = 0; i < program.size(); ++i)
        program[i] = uint8_t((i * 7) ^ (i >> 9));
    for (const std::string name : names) {
        SCOPED_TRACE(name);
        // One body large enough to pass through the buffers more than once; small ones elsewhere.
        const auto body = name == names[0] ? program : testimages::bytesOf("body of " + name);
        mFolder.write(name + ".stub", testimages::makeImage({}));
        mFolder.write(name + ".txt", body);
        Outcome run = kvpackArgs({"build", "--stub", name + ".stub", "-o", name + ".exe", "extaction.bin",
                                  "OrvaneKavariStart.exe=" + name + ".txt", ".="});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");

        run = kvpackArgs({"list", name + ".exe"});
        ASSERT_EQ(run.status, 0) << run.err;
        const size_t configuration = run.out.find("extaction.bin");
        ASSERT_NE(configuration, std::string::npos) << run.out;
        EXPECT_LT(configuration, run.out.find("OrvaneKavariStart.exe")); // processing order
        EXPECT_NE(run.out.find(std::to_string(body.size())), std::string::npos);
        EXPECT_EQ(kvpackArgs({"verify", name + ".exe"}).status, 0);

        const std::string dir = name + " dir";
        run = kvpackArgs({"extract", name + ".exe", dir});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(mFolder.read(dir + "/OrvaneKavariStart.exe"), body);
        EXPECT_EQ(mFolder.read(dir + "/extaction.bin"), mFolder.read("extaction.bin"));
        EXPECT_EQ(std::distance(fs::directory_iterator(mDir / dir), fs::directory_iterator()), 2);

        // The package stream alone, through the codec commands, and its CRC.
        EXPECT_EQ(kvpackArgs({"crc", name + ".txt"}).out, crcText(body));
        ASSERT_EQ(kvpackArgs({"lzari", "encode", name + ".txt", name + ".lza"}).status, 0);
        ASSERT_EQ(kvpackArgs({"lzari", "decode", name + ".lza", name + ".out"}).status, 0);
        EXPECT_EQ(mFolder.read(name + ".out"), body);
    }
    // The name with U+FFFD where the bytes were not UTF-8 is another file, never read instead.
    mFolder.write("\xEF\xBF\xBDt\xEF\xBF\xBD.txt", testimages::bytesOf("a different file"));
    EXPECT_EQ(kvpackArgs({"crc", "\xE9t\xE9.txt"}).out, crcText(mFolder.read("\xE9t\xE9.txt")));
    EXPECT_EQ(kvpackArgs({"crc", "\xE9t\xE9-missing.txt"}).err,
              "kvpack: \\xe9t\\xe9-missing.txt: no such file\n");
    EXPECT_TRUE(leftovers().empty());

    mFolder.write("stub.exe", testimages::makeImage({}));
    mFolder.write("item.txt", testimages::bytesOf("item"));
    mFolder.write("-dash.txt", testimages::bytesOf("dash"));
    mFolder.write("a=b.txt", testimages::bytesOf("equals"));
    mFolder.write("empty.txt", {});

    struct Case {
        const char* items;
        int status;
        const char* err; // a part of stderr; empty: none at all
        const char* listed;
    } const cases[] = {
        {"-- -dash.txt", 0, "", "-dash.txt"},
        {"./a=b.txt", 0, "", "a=b.txt"},
        {"c.txt=a=b.txt", 0, "", "c.txt"},
        {"item.txt empty.txt", 0, "warning: item \"empty.txt\": empty.txt is empty", "empty.txt"},
        {"a:b=item.txt", 1, "plain file name", ""},
        {"CONOUT$=item.txt", 1, "reserved device name", ""},
        {"-dash.txt", 2, "unknown option or missing value: -dash.txt", ""},
    };
    for (const Case& c : cases) {
        fs::remove(mDir / "out.exe");
        const Outcome run = kvpack(std::string("build --stub stub.exe -o out.exe ") + c.items);
        EXPECT_EQ(run.status, c.status) << c.items << ": " << run.err;
        if (*c.err == 0)
            EXPECT_EQ(run.err, "") << c.items;
        else
            EXPECT_NE(run.err.find(c.err), std::string::npos) << c.items << ": " << run.err;
        if (c.status == 0)
            EXPECT_NE(kvpack("list out.exe").out.find(c.listed), std::string::npos) << c.items;
        else
            EXPECT_FALSE(exists("out.exe")) << c.items;
    }
    for (const char* usage : {"", "frobnicate", "build -o x", "list", "lzari squeeze a b"})
        EXPECT_EQ(kvpack(usage).status, 2) << usage;
    for (const char* help : {"--help", "build --help", "verify -h"}) {
        const Outcome run = kvpack(help);
        EXPECT_EQ(run.status, 0) << help;
        EXPECT_EQ(run.out.rfind("Usage: kvpack", 0), 0u) << help;
        EXPECT_NE(run.out.find("./a=b.txt"), std::string::npos) << help;
        EXPECT_NE(run.out.find("'--' ends the options"), std::string::npos) << help;
    }
}

TEST_F(KvpackCli, OutputNeverGoesWhereItMustNot)
{
    buildSample();
    fs::create_symlink("setup.exe", mDir / "link.exe");

    struct Case {
        const char* out;
        const char* problem;
    } const cases[] = {
        {"/dev/null", "is not a regular file"},
        {"link.exe", "is a symbolic link, not a regular file"},
    };
    for (const Case& c : cases) {
        const Outcome run = kvpack(std::string("build --stub stub.exe -o ") + c.out + " item.txt");
        EXPECT_EQ(run.status, 1) << c.out;
        EXPECT_EQ(run.err, std::string("kvpack: ") + c.out + ": " + c.problem + "\n");
    }
    // A refused build leaves an existing output untouched.
    const auto before = mFolder.read("setup.exe");
    Outcome run = kvpack("build --stub setup.exe -o setup.exe item.txt");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("--replace"), std::string::npos);
    EXPECT_EQ(mFolder.read("setup.exe"), before);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_TRUE(fs::is_symlink(mDir / "link.exe"));

    // Links planted under the names temporaries take lead nowhere: the old fixed name, and one
    // of the unique form, which a later run takes for a stale temporary and removes.
    fs::create_directory(mDir / "out");
    fs::create_symlink("../outside", mDir / "out/item.txt.kvpack-part");
    fs::create_symlink("../outside", mDir / "out/item.txt.0123456789abcdef.kvpack-part");
    ASSERT_EQ(kvpack("extract setup.exe out").status, 0);
    EXPECT_EQ(mFolder.read("out/item.txt"), testimages::bytesOf("hello"));
    EXPECT_FALSE(exists("outside"));
    EXPECT_FALSE(exists("out/item.txt.0123456789abcdef.kvpack-part"));
    fs::remove(mDir / "out/item.txt.kvpack-part");

    // extract replaces nothing unless told to, and refuses before it writes anything.
    mFolder.write("out/item.txt", testimages::bytesOf("edited"));
    run = kvpack("extract setup.exe out");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kvpack: out/item.txt: already exists (--force replaces it)\n");
    EXPECT_EQ(mFolder.read("out/item.txt"), testimages::bytesOf("edited"));
    ASSERT_EQ(kvpack("extract --force setup.exe out").status, 0);
    EXPECT_EQ(mFolder.read("out/item.txt"), testimages::bytesOf("hello"));
}

// Each refusal is one exact line naming the file, with nothing written and nothing read whole first.
TEST_F(KvpackCli, RefusedInputsGetOneExactLineAndNoOutput)
{
    buildSample();
    auto damaged = mFolder.read("setup.exe");
    damaged.back() ^= 0xFF;
    mFolder.write("damaged.exe", damaged);
    const std::string crcFailed = "kvpack: damaged.exe: package CRC does not match its data (the setup "
                                  "program logs \"InstallKavariAddOn>>crc verification failed.\")\n";
    ASSERT_EQ(mkfifo((mDir / "fifo").c_str(), 0600), 0);
    fs::create_directory(mDir / "folder");
    mFolder.sparse("huge", (uint64_t{5} << 30) + 1);
    const std::string huge = "5368709121 bytes, larger than ";
    mFolder.write("nine.lza", {0, 0, 0, 0x10, 1, 2, 3, 4, 5}); // 256 MiB from nine bytes
    // A good CRC over a name that would clear the screen and forge a line.
    const std::string forged = std::string("a\nb\x1b[2J") + '\0' + "c\xC2\x9B";
    mFolder.write("names.exe", kvpack_test::installerOf({{forged, {1}}}));

    struct Case {
        const char* args;
        std::string err;
    } const cases[] = {
        {"verify damaged.exe", crcFailed},
        {"extract damaged.exe out", crcFailed},
        {"verify fifo", "kvpack: fifo: is not a regular file\n"},
        {"list folder", "kvpack: folder: is a folder, not a file\n"},
        {"crc /dev/zero", "kvpack: /dev/zero: is not a regular file\n"},
        {"lzari decode fifo x", "kvpack: fifo: is not a regular file\n"},
        {"build --stub folder -o x.exe folder", "kvpack: folder: is a folder, not a file\n"},
        {"verify huge", "kvpack: huge: " + huge + "an installer can be (4 GiB)\n"},
        {"extract huge out", "kvpack: huge: " + huge + "an installer can be (4 GiB)\n"},
        {"lzari encode huge x", "kvpack: huge: " + huge + "an LZARI stream's content can be (4 GiB)\n"},
        {"build --stub huge -o x.exe folder", "kvpack: huge: " + huge + "an installer can be (4 GiB)\n"},
        {"lzari decode nine.lza x",
         "kvpack: nine.lza: stream announces 268435456 bytes, implausible for its 9 bytes (at most 693)\n"},
        {"verify names.exe",
         "kvpack: names.exe: item 0 \"a\\nb\\x1b[2J\\x00c\\u009b\": item names must be printable ASCII\n"},
    };
    for (const Case& c : cases) {
        const Outcome run = kvpack(c.args);
        EXPECT_EQ(run.status, 1) << c.args;
        EXPECT_EQ(run.err, c.err) << c.args;
    }
    for (const char* output : {"x", "x.exe", "out"})
        EXPECT_FALSE(exists(output)) << output;
    EXPECT_TRUE(leftovers().empty());
}
