#include "runtime/date_time.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace runtime {

namespace {

constexpr int64_t kMsPerDay = 86400000;
// Days from 1899-12-30, the date-time epoch, to 1970-01-01.
constexpr int64_t kEpochTo1970 = 25569;

TDateTime (*testClock)() = nullptr;

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t days, int64_t& year, int& month, int& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = yearOfEra + era * 400 + (month <= 2);
}

}  // namespace

TDateTime Now() {
    if (testClock != nullptr) return testClock();
    SYSTEMTIME t;
    GetLocalTime(&t);
    return EncodeDateTime(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
}

void SetClockForTesting(TDateTime (*clock)()) { testClock = clock; }

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond) {
    const int64_t days = DaysFromCivil(year, month, day) + kEpochTo1970;
    const int64_t ms = ((static_cast<int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
    const double fraction = static_cast<double>(ms) / kMsPerDay;
    // Before the epoch the time of day still counts forward from midnight.
    return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

int64_t MilliSecondsBetween(TDateTime a, TDateTime b) {
    return std::llabs(std::llround(a * kMsPerDay) - std::llround(b * kMsPerDay));
}

std::string DateTimeStamp(TDateTime value) {
    // Whole milliseconds first, so that 14:03:26.9999 shows as 14:03:27 and
    // never as a second of 60.
    const int64_t ms = std::llround(std::fabs(value) * kMsPerDay);
    const int64_t dayNumber = ms / kMsPerDay;
    const int64_t msOfDay = ms % kMsPerDay;
    const int64_t days = value < 0 ? -dayNumber : dayNumber;

    int64_t year = 0;
    int month = 0;
    int day = 0;
    CivilFromDays(days - kEpochTo1970, year, month, day);
    const int hour = static_cast<int>(msOfDay / 3600000);
    const int minute = static_cast<int>(msOfDay / 60000 % 60);
    const int second = static_cast<int>(msOfDay / 1000 % 60);

    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d\xB7%02d\xB7%02d", static_cast<long long>(year), month,
                  day, hour, minute, second);
    return text;
}

}  // namespace runtime
