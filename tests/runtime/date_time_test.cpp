#include "runtime/date_time.h"

#include "tests/support/scoped_hook.h"

#include <windows.h>

#include <gtest/gtest.h>

using namespace runtime;

namespace {

TEST(EncodeDateTimeTest, CountsDaysFromTheEpoch) {
    EXPECT_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0, 0), 0.0);
    EXPECT_EQ(EncodeDateTime(1900, 1, 1, 0, 0, 0, 0), 2.0);
    EXPECT_EQ(EncodeDateTime(2015, 1, 5, 12, 0, 0, 0), 42009.5);
    EXPECT_EQ(EncodeDateTime(2000, 3, 1, 0, 0, 0, 0) - EncodeDateTime(2000, 2, 28, 0, 0, 0, 0), 2.0);
}

TEST(DateTimeStampTest, UsesTheMiddleDotByteWhateverTheLocale) {
    const struct {
        TDateTime value;
        const char* expected;
    } cases[] = {
        {EncodeDateTime(2015, 1, 5, 14, 3, 27, 250), "2015-01-05 14\xB7" "03\xB7" "27"},
        // Month after the year, minutes after the hour.
        {EncodeDateTime(2015, 11, 5, 7, 42, 9, 0), "2015-11-05 07\xB7" "42\xB7" "09"},
        {EncodeDateTime(2000, 1, 1, 0, 0, 0, 0), "2000-01-01 00\xB7" "00\xB7" "00"},
        // Milliseconds never carry into the seconds shown.
        {EncodeDateTime(1999, 12, 31, 23, 59, 59, 999), "1999-12-31 23\xB7" "59\xB7" "59"},
        {EncodeDateTime(2024, 2, 29, 12, 0, 0, 0), "2024-02-29 12\xB7" "00\xB7" "00"},
        {EncodeDateTime(2000, 2, 29, 18, 30, 0, 0), "2000-02-29 18\xB7" "30\xB7" "00"},
        {0.5, "1899-12-30 12\xB7" "00\xB7" "00"},
        // Years keep four digits at least, and never lose one.
        {EncodeDateTime(987, 6, 5, 4, 3, 2, 0), "0987-06-05 04\xB7" "03\xB7" "02"},
        {EncodeDateTime(12345, 1, 1, 0, 0, 0, 0), "12345-01-01 00\xB7" "00\xB7" "00"},
        // A value a hair below a whole second still shows that second.
        {42009.0 + (14 * 3600 + 3 * 60 + 27) / 86400.0 - 1e-10, "2015-01-05 14\xB7" "03\xB7" "27"},
    };
    for (const auto& c : cases) {
        const std::string stamp = DateTimeStamp(c.value);
        EXPECT_EQ(stamp, c.expected);
        EXPECT_EQ(stamp.find(':'), std::string::npos) << stamp;
    }
}

TEST(MilliSecondsBetweenTest, RoundsBothToWholeMillisecondsAndIgnoresOrder) {
    const TDateTime t = EncodeDateTime(2015, 1, 5, 12, 0, 0, 0);
    const double ms = 1.0 / 86400000;
    EXPECT_EQ(MilliSecondsBetween(t, t), 0);
    EXPECT_EQ(MilliSecondsBetween(t, t + 0.4 * ms), 0);
    EXPECT_EQ(MilliSecondsBetween(t, t + 0.6 * ms), 1);
    EXPECT_EQ(MilliSecondsBetween(t, EncodeDateTime(2015, 1, 5, 12, 0, 1, 250)), 1250);
    EXPECT_EQ(MilliSecondsBetween(EncodeDateTime(2015, 1, 5, 12, 0, 1, 250), t), 1250);
    EXPECT_EQ(MilliSecondsBetween(t, EncodeDateTime(2015, 1, 5, 13, 0, 0, 0)), 3600000);
    // Fifty days do not fit in 32 bits.
    EXPECT_EQ(MilliSecondsBetween(t, t + 50), 4320000000LL);
}

TDateTime FixedClock() { return 42009.5; }

TEST(NowTest, ReadsTheLocalClockOrTheTestClock) {
    SYSTEMTIME before;
    GetLocalTime(&before);
    const TDateTime now = Now();
    const TDateTime expected = EncodeDateTime(before.wYear, before.wMonth, before.wDay, before.wHour, before.wMinute,
                                              before.wSecond, before.wMilliseconds);
    EXPECT_LT(MilliSecondsBetween(now, expected), 5000);

    {
        ScopedHook clock(SetClockForTesting, FixedClock);
        EXPECT_EQ(Now(), 42009.5);
    }
    EXPECT_NE(Now(), 42009.5);
}

}  // namespace
