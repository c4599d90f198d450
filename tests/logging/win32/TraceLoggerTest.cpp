// The trace-backed logger under Wine: log lines and direct records of a program land in the trace
// file with the right level, module, character type and masked text, from initLogging to
// shutdownLogging and not beyond.
#include "logging/win32/TraceLogger.h"

#include "logging/LogItem.h"
#include "tests/trace/win32/TraceWin32Support.h"
#include "trace/DirectTrace.h"

#include <gtest/gtest.h>

using namespace rlxutil;
using namespace trace_test;

TEST(TraceLogger, ProgramLinesBecomeTraceRecords)
{
    TraceSandbox box;
    trace::win32::TraceOptions options = box.options(trace::win32::kMiB);
    options.diagnostics = nullptr; // the store outlives this program's static objects
    trace::win32::setProcessTraceOptions(options);
    LoggerRegistry::instance().discardPending();

    // Held until the sink arrives, then written first.
    getLogger("DPX")->log(1, LogItem("InstallKavariAddOn>>begin"));
    initLogging("");
    getLogger("DPX")->log(1, LogItem("InstallKavariAddOn>>copy"),
                          LogItem(maskedValue(L"C:\\Users\\Someone\\AppData"), "strInstallPath"));
    getLogger("DPXUtil")->log(3, LogItem("filesystem>>DeleteFile failed"), LogItem(uintValue(5), "uError"));
    getLogger("DPX")->log(2, LogItem("gr\xC3\xBC\xC3\x9F"));
    getLogger("DPX")->log(0, LogItem("level 0 is written only while a viewer listens"));
    getLogger("DPX")->logRaw(4, "no such level");
    getLogger("DPX")->logRaw(-1, "no such level");
    trace::traceFormatted("%s", "peimage>>read failed 100%");
    trace::traceFormattedDpx("%s", "Launch>>\xC3\xBC");
    shutdownLogging();
    getLogger("DPX")->log(1, LogItem("after the end"));
    trace::traceFormatted("%s", "after the end");

    const trace::win32::TraceStore* store = trace::win32::processTraceStore();
    ASSERT_NE(store->view(), nullptr);
    Collect records;
    const auto read = trace::readTraceFile(store->view(), store->viewSize(), &records);
    EXPECT_FALSE(read.damaged());
    EXPECT_EQ(records.lines,
              (std::vector<std::string>{
                  "L2 DPX||InstallKavariAddOn>>begin|",
                  "L2 DPX||InstallKavariAddOn>>copy, strInstallPath=C:\\Users\\*******\\AppData|",
                  "L8 ||filesystem>>DeleteFile failed, uError=5|",
                  "L4 DPX||gr\xC3\xBC\xC3\x9F|",
                  "L8 logging_win32_tests.exe||peimage>>read failed 100%|",
                  "L2 DPX||Launch>>\xC3\xBC|",
              }));
    ASSERT_EQ(records.records.size(), 6u);
    // Pure ASCII lines are 8-bit records, others UTF-16.
    EXPECT_EQ(records.records[0].charType, trace::kChar8);
    EXPECT_EQ(records.records[3].charType, trace::kChar16);
    EXPECT_EQ(records.records[3].text.units, 4u);
}
