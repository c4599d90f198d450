// Loggers: line composition and cutting, holding lines until a sink comes, lookup, value makers,
// threads, and silence after the process registry is gone.
#include "logging/Logger.h"

#include "tests/support/CaptureSink.h"
#include "logging/StringUtil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace rlxutil;

namespace {

struct LocalRegistry : ::testing::Test {
    LoggerRegistry registry;
    std::shared_ptr<CaptureSink> sink = std::make_shared<CaptureSink>();
    LoggerUtil& dpx = *registry.getLogger("DPX");
};

// Threads log while setUp runs and 100 lines more after it. Each thread's lines must then arrive
// once each, in order, its last line included; with allArrived none may be missing.
template <class SetUp>
void expectThreadLinesInOrder(LoggerRegistry& registry, CaptureSink& sink, bool allArrived, SetUp setUp)
{
    constexpr int kThreads = 4;
    std::vector<int> logged(kThreads, 0), next(kThreads, 0);
    std::atomic<bool> setUpDone{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int after = 0; logged[t] < 2000 || after < 100; ++logged[t]) {
                registry.getLogger("T" + std::to_string(t))
                    ->log(1, LogItem(intValue(t), "thread"), LogItem(intValue(logged[t]), "n"));
                after += setUpDone.load() ? 1 : 0;
            }
        });
    }
    setUp();
    setUpDone.store(true);
    for (std::thread& thread : threads)
        thread.join();
    for (const std::string& line : sink.texts()) {
        int t = -1, n = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "thread=%d, n=%d", &t, &n), 2) << line;
        ASSERT_TRUE(t >= 0 && t < kThreads && n >= next[t] && (!allArrived || n == next[t])) << line;
        next[t] = n + 1;
    }
    EXPECT_EQ(next, logged);
}

// Built before the process registry, so destroyed after it: checks that logging then does nothing.
struct AfterShutdownCheck {
    std::shared_ptr<CaptureSink> sink; // set only where the test below ran
    ~AfterShutdownCheck()
    {
        LoggerUtil* logger = getLogger("DPX");
        logger->log(1, LogItem(textValue("too late")));
        logger->logRaw(1, "too late");
        if (sink && (!loggingShutDown() || logger != getLogger("other") || !logger->name().empty() ||
                     sink->lines().size() != 1)) {
            std::fputs("logging went on after shutdown\n", stderr);
            std::_Exit(1);
        }
    }
} gAfterShutdown;

} // namespace

TEST_F(LocalRegistry, ComposesAndCutsLinesAndLooksLoggersUpByExactName)
{
    registry.setLogger(sink);
    dpx.log(3, LogItem(textValue("filesystem>>DeleteFile failed")), LogItem(uintValue(5), "uError"));
    dpx.log(1, LogItem(textValue("m")), LogItem("", "targetFolder"), LogItem(""), LogItem("v", "b"));
    dpx.log(2, LogItem(""), LogItem("v", "a"));
    dpx.log(1, LogItem(""), LogItem("")); // nothing to say: no line
    dpx.log(1, LogItem(std::string(2046, 'a')));
    dpx.log(1, LogItem(std::string(4093, 'c')));
    dpx.log(1, LogItem(std::string(2045, 'd') + "\xC3\xA9")); // the cut splits the character
    dpx.logRaw(1, std::string(5000, 'r'));                    // raw lines are never cut
    std::string joined;
    for (const std::string& text : sink->texts())
        joined += text + "|"; // which no line holds
    const std::string a(2046, 'a'), c(2046, 'c'), d(2045, 'd'), r(5000, 'r');
    EXPECT_EQ(joined, "filesystem>>DeleteFile failed, uError=5|m, targetFolder=, , b=v|a=v|" + a + "|" + c +
                          "|" + c + "|c|" + d + "\xC3|\xA9|" + r + "|");
    EXPECT_EQ(sink->lines()[0], (CapturedLine{3, "DPX", "filesystem>>DeleteFile failed, uError=5"}));

    sink->clear();
    EXPECT_EQ(registry.getLogger(""), registry.getLogger("UNKNOWN"));
    EXPECT_EQ(registry.getLogger("")->name(), "UNKNOWN");
    EXPECT_NE(registry.getLogger("dpx"), &dpx);
    LoggerUtil* util = registry.getLogger("DPXUtil");
    EXPECT_EQ(registry.getLogger("DPXUtil"), util);
    util->setName("");
    util->log(1, LogItem(textValue("filesystem>>ForceCopyFile")));
    EXPECT_EQ(sink->lines(), (std::vector<CapturedLine>{{1, "", "filesystem>>ForceCopyFile"}}));
}

TEST_F(LocalRegistry, SinksThatLogBackOrThrowAreSafeAndTwoHundredLinesAreHeldUntilASinkComes)
{
    // Logs while it receives the held lines, which must not disturb the ones still held; throws
    // at the last one, which must not reach the code that logs.
    struct UnrulySink : CaptureSink {
        LoggerUtil* logger = nullptr;
        void log(int32_t level, const std::string& name, const std::string& line) override
        {
            CaptureSink::log(level, name, line);
            if (line == "first")
                logger->log(1, LogItem(textValue("echo")));
            else if (line != "echo")
                throw 0;
        }
    };
    auto unruly = std::make_shared<UnrulySink>();
    unruly->logger = &dpx;
    dpx.log(1, LogItem(textValue("first")));
    dpx.log(1, LogItem(textValue("second")));
    registry.setLogger(unruly);
    dpx.log(1, LogItem(textValue("third")));
    EXPECT_EQ(unruly->texts(), (std::vector<std::string>{"first", "echo", "second", "third"}));

    registry.setLogger(nullptr);
    std::vector<CapturedLine> expected;
    for (int i = 0; i < 201; ++i) {
        dpx.log(1, LogItem(intValue(i)));
        expected.push_back({1, "DPX", std::to_string(i)});
    }
    EXPECT_EQ(registry.pendingCount(), 200u);
    dpx.setLogger(sink);
    dpx.log(2, LogItem(textValue("after")));
    expected.back() = {2, "DPX", "after"};
    EXPECT_EQ(sink->lines(), expected);

    dpx.setLogger(nullptr);
    dpx.log(1, LogItem(textValue("removed")));
    EXPECT_EQ(registry.pendingCount(), 1u);
    EXPECT_EQ(sink->lines().size(), 201u);
}

TEST_F(LocalRegistry, ThreadsLoseNothingIntoASinkAndNothingDoublesOrReordersWhileItChanges)
{
    registry.setLogger(sink);
    expectThreadLinesInOrder(registry, *sink, true, [] {});

    // Lines beyond the 200 held while no sink is installed may be dropped; nothing else may differ.
    registry.setLogger(nullptr);
    sink->clear();
    expectThreadLinesInOrder(registry, *sink, false, [&] {
        while (registry.pendingCount() < 20)
            std::this_thread::yield();
        for (int i = 0; i < 200; ++i)
            registry.setLogger(i % 2 == 0 ? std::make_shared<CaptureSink>() : nullptr);
        registry.setLogger(sink);
    });
}

TEST(ValueMakers, ConvertMaskAndFormatAndNothingIsLoggedAfterShutdown)
{
    EXPECT_EQ(textValue(nullptr), "");
    EXPECT_EQ(intValue(INT32_MIN), "-2147483648");
    EXPECT_EQ(uintValue(UINT32_MAX), "4294967295");
    EXPECT_EQ(maskedValue(static_cast<const wchar_t*>(nullptr)), "");
    EXPECT_EQ(maskedValue(static_cast<const char*>(nullptr)), "");
    EXPECT_EQ(maskedValue(L"C:\\Users\\B\u00f6b\\AppData"), "C:\\Users\\****\\AppData");
    EXPECT_EQ(maskedValue("token=abcdef"), "token=abc***");
    EXPECT_EQ(utf8Value(L"C:\\Users\\B\u00f6b"), u8"C:\\Users\\B\u00f6b");
    // A lone surrogate becomes U+FFFD, as the system converter makes it.
    EXPECT_EQ(StringUtil::unicodetoUtf8(std::wstring{wchar_t(0xD800), L'x'}), "\xEF\xBF\xBDx");
    EXPECT_EQ(LogItem("secret", "pw", 1).value(), "sec***");
    EXPECT_EQ(LogItem(std::string(130, 's'), "pw", 1).value(), "sss***(127)***");

    gAfterShutdown.sink = std::make_shared<CaptureSink>();
    getLogger("DPX")->setLogger(gAfterShutdown.sink);
    getLogger("DPX")->log(1, LogItem(textValue("in time")));
    EXPECT_EQ(gAfterShutdown.sink->texts(), std::vector<std::string>{"in time"});
}
