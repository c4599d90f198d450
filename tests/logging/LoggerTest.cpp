// Loggers: line composition and cutting, holding lines until a sink comes, lookup, value makers,
// threads, and silence after the process registry is gone.
#include "logging/Logger.h"

#include "logging/CaptureSink.h"
#include "logging/StringUtil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <thread>

using namespace rlxutil;

namespace {

struct LocalRegistry : ::testing::Test {
    LoggerRegistry registry;
    std::shared_ptr<CaptureSink> sink = std::make_shared<CaptureSink>();
    LoggerUtil& dpx = *registry.getLogger("DPX");
};

} // namespace

TEST_F(LocalRegistry, ComposesMessageAndNamedValues)
{
    registry.setLogger(sink);
    dpx.log(1, LogItem(textValue("InstallKavariAddOn>>begin")));
    dpx.log(3, LogItem(textValue("filesystem>>DeleteFile failed")), LogItem(uintValue(5), "uError"));
    dpx.log(1, LogItem(textValue("m")), LogItem("", "targetFolder"), LogItem(""), LogItem("v", "b"));
    dpx.log(2, LogItem(""), LogItem("v", "a"));
    dpx.log(1, LogItem("a"), LogItem("b"), LogItem("c"), LogItem("d"), LogItem("e"), LogItem("f", "n"));
    dpx.log(1, LogItem(""), LogItem("")); // nothing at all to say: no line
    EXPECT_EQ(sink->lines(), (std::vector<CapturedLine>{
                                 {1, "DPX", "InstallKavariAddOn>>begin"},
                                 {3, "DPX", "filesystem>>DeleteFile failed, uError=5"},
                                 {1, "DPX", "m, targetFolder=, , b=v"},
                                 {2, "DPX", "a=v"},
                                 {1, "DPX", "a, b, c, d, e, n=f"},
                             }));
}

TEST_F(LocalRegistry, CutsLongLinesInto2046BytePieces)
{
    registry.setLogger(sink);
    dpx.log(1, LogItem(std::string(2046, 'a')));
    dpx.log(1, LogItem(std::string(2047, 'b')));
    dpx.log(1, LogItem(std::string(4093, 'c')));
    // A cut may split a character; the pieces keep the bytes as they were.
    dpx.log(1, LogItem(std::string(2045, 'd') + "\xC3\xA9"));
    dpx.logRaw(1, std::string(5000, 'r'));
    const std::vector<std::string> expected = {std::string(2046, 'a'),
                                               std::string(2046, 'b'),
                                               "b",
                                               std::string(2046, 'c'),
                                               std::string(2046, 'c'),
                                               "c",
                                               std::string(2045, 'd') + "\xC3",
                                               "\xA9",
                                               std::string(5000, 'r')};
    EXPECT_EQ(sink->texts(), expected);
}

TEST_F(LocalRegistry, HoldsTwoHundredLinesUntilASinkComes)
{
    for (int i = 0; i < 201; ++i) {
        dpx.log(1, LogItem(intValue(i)));
    }
    dpx.logRaw(1, "");
    EXPECT_EQ(registry.pendingCount(), 200u);
    dpx.setLogger(sink);
    EXPECT_EQ(registry.pendingCount(), 0u);
    dpx.log(2, LogItem(textValue("after")));
    const std::vector<CapturedLine> lines = sink->lines();
    ASSERT_EQ(lines.size(), 201u);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(lines[i], (CapturedLine{1, "DPX", std::to_string(i)}));
    }
    EXPECT_EQ(lines[200], (CapturedLine{2, "DPX", "after"}));

    dpx.setLogger(nullptr);
    dpx.log(1, LogItem(textValue("removed")));
    EXPECT_EQ(registry.pendingCount(), 1u);
    EXPECT_EQ(sink->lines().size(), 201u);
}

TEST_F(LocalRegistry, LooksLoggersUpByExactName)
{
    registry.setLogger(sink);
    EXPECT_EQ(registry.getLogger(""), registry.getLogger("UNKNOWN"));
    EXPECT_EQ(registry.getLogger("")->name(), "UNKNOWN");
    EXPECT_EQ(registry.getLogger("DPX"), &dpx);
    EXPECT_EQ(registry.getLogger("ZTM")->name(), "ZTM");
    LoggerUtil* util = registry.getLogger("DPXUtil");
    EXPECT_EQ(registry.getLogger("DPXUtil"), util);
    EXPECT_NE(registry.getLogger("dpx"), &dpx);

    util->setName("");
    registry.getLogger("DPXUtil")->log(1, LogItem(textValue("filesystem>>ForceCopyFile")));
    registry.getLogger("RLXUtility")->log(3, LogItem(textValue("x")), LogItem(textValue("y")));
    EXPECT_EQ(sink->lines(),
              (std::vector<CapturedLine>{{1, "", "filesystem>>ForceCopyFile"}, {3, "RLXUtility", "x, y"}}));
}

TEST_F(LocalRegistry, ASinkThatThrowsDoesNotReachTheCaller)
{
    struct ThrowingSink : ILogger {
        void log(int32_t, const std::string&, const std::string&) override
        {
            throw std::runtime_error("full");
        }
    };
    dpx.log(1, LogItem(textValue("held")));
    registry.setLogger(std::make_shared<ThrowingSink>());
    dpx.log(1, LogItem(textValue("direct")));
    registry.setLogger(sink);
    dpx.log(1, LogItem(textValue("kept")));
    EXPECT_EQ(sink->texts(), std::vector<std::string>{"kept"});
}

TEST_F(LocalRegistry, ASinkMayLogWhileItReceivesHeldLines)
{
    struct EchoSink : ILogger {
        LoggerUtil* logger = nullptr;
        std::vector<std::string> seen;
        void log(int32_t, const std::string&, const std::string& line) override
        {
            seen.push_back(line);
            if (line == "first") {
                logger->log(1, LogItem(textValue("echo")));
            }
        }
    };
    auto echo = std::make_shared<EchoSink>();
    echo->logger = &dpx;
    dpx.log(1, LogItem(textValue("first")));
    dpx.log(1, LogItem(textValue("second")));
    registry.setLogger(echo);
    EXPECT_EQ(echo->seen, (std::vector<std::string>{"first", "echo", "second"}));
}

namespace {

constexpr int kThreads = 4;
constexpr int kLinesPerThread = 2000;
constexpr int kLinesAfterSetUp = 100;

struct ThreadCounts {
    std::vector<int> logged = std::vector<int>(kThreads, 0);
};

// Each thread's lines must arrive once each and in the order that thread logged them, its last
// line included; with allArrived, none may be missing either.
void expectEachThreadInOrder(const std::vector<std::string>& lines, const ThreadCounts& counts,
                             bool allArrived)
{
    std::vector<int> next(kThreads, 0);
    for (const std::string& line : lines) {
        int thread = -1;
        int sequence = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "t, thread=%d, n=%d", &thread, &sequence), 2) << line;
        ASSERT_TRUE(thread >= 0 && thread < kThreads) << line;
        ASSERT_GE(sequence, next[thread]) << line;
        if (allArrived) {
            ASSERT_EQ(sequence, next[thread]) << line;
        }
        next[thread] = sequence + 1;
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(next[t], counts.logged[t]) << "thread " << t;
    }
}

// Threads log while setUp runs, and go on for a while after it has finished.
ThreadCounts logFromThreads(LoggerRegistry& registry, const std::function<void()>& setUp)
{
    ThreadCounts counts;
    std::atomic<bool> setUpDone{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&registry, &counts, &setUpDone, t] {
            int after = 0;
            int n = 0;
            while (n < kLinesPerThread || after < kLinesAfterSetUp) {
                registry.getLogger("T" + std::to_string(t))
                    ->log(1, LogItem(textValue("t")), LogItem(intValue(t), "thread"),
                          LogItem(intValue(n), "n"));
                ++n;
                after += setUpDone.load() ? 1 : 0;
            }
            counts.logged[t] = n;
        });
    }
    setUp();
    setUpDone.store(true);
    for (std::thread& thread : threads) {
        thread.join();
    }
    return counts;
}

} // namespace

TEST_F(LocalRegistry, ThreadsLoggingIntoAnInstalledSinkLoseNothing)
{
    registry.setLogger(sink);
    const ThreadCounts counts = logFromThreads(registry, [] {});
    expectEachThreadInOrder(sink->texts(), counts, true);
}

TEST_F(LocalRegistry, InstallingWhileThreadsLogNeitherDoublesNorReorders)
{
    const ThreadCounts counts = logFromThreads(registry, [&] {
        while (registry.pendingCount() < 20) {
            std::this_thread::yield();
        }
        registry.setLogger(sink);
    });
    // Lines beyond the 200 held before the installation may be dropped; nothing else may differ.
    expectEachThreadInOrder(sink->texts(), counts, false);
}

TEST_F(LocalRegistry, RemovingAndInstallingWhileThreadsLog)
{
    const ThreadCounts counts = logFromThreads(registry, [&] {
        for (int i = 0; i < 200; ++i) {
            registry.setLogger(i % 2 == 0 ? std::make_shared<CaptureSink>() : nullptr);
        }
        registry.setLogger(sink);
    });
    expectEachThreadInOrder(sink->texts(), counts, false);
}

TEST(ValueMakers, TextAndNumbers)
{
    EXPECT_EQ(textValue(nullptr), "");
    EXPECT_EQ(textValue("C:\\Users\\Bob\\x"), "C:\\Users\\Bob\\x");
    EXPECT_EQ(intValue(-5), "-5");
    EXPECT_EQ(intValue(INT32_MIN), "-2147483648");
    EXPECT_EQ(uintValue(UINT32_MAX), "4294967295");
}

TEST(ValueMakers, WideTextIsConvertedAndMaskedOnlyWhereAsked)
{
    EXPECT_EQ(maskedValue(static_cast<const wchar_t*>(nullptr)), "");
    EXPECT_EQ(maskedValue(static_cast<const char*>(nullptr)), "");
    EXPECT_EQ(maskedValue(L"C:\\Users\\B\u00f6b\\AppData"), "C:\\Users\\****\\AppData");
    EXPECT_EQ(maskedValue(std::wstring(L"token=abcdef")), "token=abc***");
    EXPECT_EQ(maskedValue("token=abcdef"), "token=abc***");
    EXPECT_EQ(utf8Value(L"C:\\Users\\B\u00f6b"), "C:\\Users\\B\xC3\xB6"
                                                 "b");
    // A lone surrogate becomes U+FFFD, as the system converter makes it.
    EXPECT_EQ(StringUtil::unicodetoUtf8(std::wstring{wchar_t(0xD800), L'x'}), "\xEF\xBF\xBDx");
    EXPECT_EQ(StringUtil::unicodetoUtf8(L""), "");
}

TEST(ValueMakers, SensitiveItemsHideTheirWholeValue)
{
    EXPECT_EQ(LogItem("secret", "pw", 1).value(), "sec***");
    EXPECT_EQ(LogItem("secret", "pw", 2).value(), "secret");
    EXPECT_EQ(LogItem(std::string(130, 's'), "pw", 1).value(), "sss***(127)***");
}

TEST(ProcessRegistry, CaptureSinkSeesLinesOfEveryLogger)
{
    getLogger("DPX")->log(1, LogItem(textValue("before the capture")));
    ScopedCaptureSink capture;
    getLogger("DPX")->log(1, LogItem(textValue("Uncompress>>item")), LogItem(maskedValue(L"a@b.c"), "name"));
    getLogger("")->logRaw(2, "raw");
    EXPECT_EQ(capture.lines(),
              (std::vector<CapturedLine>{{1, "DPX", "Uncompress>>item, name=*@b.c"}, {2, "UNKNOWN", "raw"}}));
}

namespace {

// Built before the process registry, so destroyed after it: checks that logging then does nothing.
struct AfterShutdownCheck {
    std::shared_ptr<CaptureSink> sink;
    ~AfterShutdownCheck()
    {
        if (!sink) {
            return;
        }
        LoggerUtil* logger = getLogger("DPX");
        logger->log(1, LogItem(textValue("too late")));
        logger->logRaw(1, "too late");
        const bool silent = loggingShutDown() && logger == getLogger("other") && logger->name().empty() &&
                            sink->lines().size() == 1;
        if (!silent) {
            std::fputs("logging went on after shutdown\n", stderr);
            std::_Exit(1);
        }
    }
} gAfterShutdown;

} // namespace

TEST(ProcessRegistry, NothingIsLoggedAfterShutdown)
{
    // Only arms the check that runs in static destruction, after the registry is gone.
    gAfterShutdown.sink = std::make_shared<CaptureSink>();
    getLogger("DPX")->setLogger(gAfterShutdown.sink);
    getLogger("DPX")->log(1, LogItem(textValue("in time")));
    EXPECT_FALSE(loggingShutDown());
    EXPECT_EQ(gAfterShutdown.sink->texts(), std::vector<std::string>{"in time"});
}
