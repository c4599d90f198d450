// The decimal formatter against the C library's printf, which it replaces on the setup path.
#include "platform/Decimal.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <limits>

TEST(Decimal, WritesWhatPrintfWrites)
{
    const int64_t signedCases[] = {0, 1, -1, 9, 10, -10, 2147483647, -2147483647 - 1, 4294967296,
                                   std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min()};
    for (const int64_t value : signedCases) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "%" PRId64, value);
        EXPECT_EQ(platform::decimal(value), expected);
        std::snprintf(expected, sizeof expected, "%" PRIu64, static_cast<uint64_t>(value));
        EXPECT_EQ(platform::decimal(static_cast<uint64_t>(value)), expected);
        std::snprintf(expected, sizeof expected, "%12" PRIu64, static_cast<uint64_t>(value));
        EXPECT_EQ(platform::decimal(static_cast<uint64_t>(value), 12), expected);
    }
    EXPECT_EQ(platform::decimal(static_cast<int32_t>(-5)), "-5");
    EXPECT_EQ(platform::decimal(static_cast<uint32_t>(4294967295u)), "4294967295");
}
