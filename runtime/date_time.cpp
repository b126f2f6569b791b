#include "runtime/date_time.h"

#include <windows.h>

#include <cmath>
#include <cstdlib>

namespace runtime {

namespace {

constexpr int64_t kMsPerDay = 86400000;
// Days from 1899-12-30, the date-time epoch, to 1970-01-01.
constexpr int64_t kEpochTo1970 = 25569;

TDateTime (*testClock)() = nullptr;

// Appends value in decimal, zero-padded to width characters with the sign
// counted, as printf's "%0*lld" does; by hand, so that the program carries no
// printf engine.
void AppendPadded(std::string& text, int64_t value, int width) {
    char digits[20];
    int count = 0;
    // Digit by digit from a negative value too, so that the smallest needs no negation.
    for (int64_t rest = value; count == 0 || rest != 0; rest /= 10) {
        const int digit = static_cast<int>(rest % 10);
        digits[count++] = static_cast<char>('0' + (digit < 0 ? -digit : digit));
    }
    if (value < 0) {
        text += '-';
        --width;
    }
    text.append(width > count ? width - count : 0, '0');
    while (count > 0) text += digits[--count];
}

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

    std::string text;
    AppendPadded(text, year, 4);
    AppendPadded(text += '-', month, 2);
    AppendPadded(text += '-', day, 2);
    AppendPadded(text += ' ', hour, 2);
    AppendPadded(text += '\xB7', minute, 2);
    AppendPadded(text += '\xB7', second, 2);
    return text;
}

}  // namespace runtime
