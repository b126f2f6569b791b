// Date-time values: days since 1899-12-30 00:00, the time of day as the
// fraction, local time, millisecond resolution.
#pragma once

#include <cstdint>
#include <string>

namespace runtime {

using TDateTime = double;

// The current local time from the wall clock.
TDateTime Now();
// Lets tests set the clock; nullptr restores the wall clock.
void SetClockForTesting(TDateTime (*clock)());

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond);
// Both rounded to whole milliseconds; the absolute difference.
int64_t MilliSecondsBetween(TDateTime a, TDateTime b);

// "yyyy-mm-dd hh·mm·ss", the separator being the byte 0xB7 whatever the locale.
std::string DateTimeStamp(TDateTime value);

}  // namespace runtime
