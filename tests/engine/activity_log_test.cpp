#include "engine/activity_log.h"

#include "runtime/date_time.h"
#include "tests/support/fake_form.h"
#include "tests/support/scoped_hook.h"

#include <gtest/gtest.h>

using namespace runtime;
using namespace engine;

namespace {

TDateTime clockValue = 0;
TDateTime TestClock() { return clockValue; }

class ActivityLogTest : public ::testing::Test {
protected:
    ScopedHook clock{SetClockForTesting, TestClock};
    FakeForm form;
};

TEST_F(ActivityLogTest, WritesStampElapsedAndMessage) {
    form.log = {"Добро пожаловать"};
    form.lastLogTime = EncodeDateTime(2015, 1, 5, 14, 3, 26, 0);
    clockValue = EncodeDateTime(2015, 1, 5, 14, 3, 27, 250);

    LogMessage(form, "Скачиваем файлы...");

    ASSERT_EQ(form.log.size(), 2u);
    EXPECT_EQ(form.log[1], "2015-01-05 14\xB7" "03\xB7" "27 (1250) - Скачиваем файлы...");
    EXPECT_EQ(form.lastLogTime, clockValue);
}

TEST_F(ActivityLogTest, MessageIsCopiedUnchanged) {
    form.lastLogTime = clockValue = EncodeDateTime(2015, 1, 5, 14, 3, 27, 0);
    LogMessage(form, " %s %d ) - \\x ");
    LogMessage(form, "");
    ASSERT_EQ(form.log.size(), 2u);
    EXPECT_EQ(form.log[0], "2015-01-05 14\xB7" "03\xB7" "27 (0) -  %s %d ) - \\x ");
    EXPECT_EQ(form.log[1], "2015-01-05 14\xB7" "03\xB7" "27 (0) - ");
}

TEST_F(ActivityLogTest, ElapsedIsTheWholeMillisecondCountSinceTheLastLine) {
    const TDateTime start = EncodeDateTime(2015, 1, 5, 14, 0, 0, 0);
    const double ms = 1.0 / 86400000;
    const struct {
        TDateTime now;
        const char* figure;
    } cases[] = {
        {start, "(0)"},
        {start + 0.3 * ms, "(0)"},          // within the same millisecond
        {start + 1 * ms, "(1)"},
        {EncodeDateTime(2015, 1, 5, 15, 0, 0, 17), "(3600017)"},
        {start - 1.0 / 24, "(3600000)"},    // the clock moved back
        {start + 24.8, "(2142720000)"},
        {start + 25, "(2160000000)"},       // beyond the 32-bit range
        {start + 50, "(4320000000)"},       // beyond 2^32
    };
    for (const auto& c : cases) {
        form.log.clear();
        form.lastLogTime = start;
        clockValue = c.now;
        LogMessage(form, "x");
        ASSERT_EQ(form.log.size(), 1u);
        EXPECT_NE(form.log[0].find(std::string(" ") + c.figure + " - x"), std::string::npos) << form.log[0];
        EXPECT_EQ(form.lastLogTime, c.now);
    }
}

TEST_F(ActivityLogTest, ConsecutiveLinesMeasureFromTheLineBefore) {
    form.lastLogTime = EncodeDateTime(2015, 1, 5, 13, 0, 0, 0);
    clockValue = EncodeDateTime(2015, 1, 5, 14, 0, 0, 0);
    LogMessage(form, "first");
    LogMessage(form, "same millisecond");
    clockValue = EncodeDateTime(2015, 1, 5, 14, 0, 0, 40);
    LogMessage(form, "later");
    ASSERT_EQ(form.log.size(), 3u);
    EXPECT_NE(form.log[0].find(" (3600000) - first"), std::string::npos) << form.log[0];
    EXPECT_NE(form.log[1].find(" (0) - same millisecond"), std::string::npos) << form.log[1];
    EXPECT_NE(form.log[2].find(" (40) - later"), std::string::npos) << form.log[2];
}

TEST_F(ActivityLogTest, PanelOverTheLimitIsEmptiedFirst) {
    form.lastLogTime = clockValue = EncodeDateTime(2015, 1, 5, 14, 0, 0, 0);
    form.log.assign(kLogLineLimit, "old");
    ASSERT_EQ(kLogLineLimit, 21600);

    LogMessage(form, "21601st");
    ASSERT_EQ(form.log.size(), 21601u);
    EXPECT_EQ(form.log.front(), "old");
    EXPECT_EQ(form.Message(21600), "21601st");

    LogMessage(form, "after the clear");
    ASSERT_EQ(form.log.size(), 1u);
    EXPECT_EQ(form.Message(0), "after the clear");
}

}  // namespace
