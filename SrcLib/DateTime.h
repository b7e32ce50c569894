// Date values: a double counting days since 1899-12-30 00:00, the time of day as the
// fraction (Outlook's date type). Formatting and parsing use the process-wide short date
// format "yyyy-MM-dd" with "-" as the separator, and the user's regional settings
// (platform/Regional.h) for the long time format and the month and day names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillmark {

struct DateParts {
    int Year = 1899, Month = 12, Day = 30;
    int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
    int DayOfWeek = 6; // 0 = Sunday
};

// Calendar date and time to a date value; nullopt when a field is out of range.
std::optional<double> TryEncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                                        int millisecond = 0);
double EncodeDate(int year, int month, int day); // throws Exception on a bad date
// A date value to its parts, rounded to the millisecond.
DateParts DecodeDateTime(double value);

// Formats value by a pattern: yyyy yy mmmm mmm mm m dddd ddd dd d hh h nn n ss s zzz, am/pm
// and "..." literal text; "mm" right after "hh" / "h" is minutes. Letters that are no
// pattern are copied.
std::string FormatDateTime(std::string_view pattern, double value);

// The plain text form: yyyy-MM-dd, then a blank and the long time format; the time is
// left out when it is exactly 00:00:00.
std::string DateTimeToText(double value);

// Parses the plain text form back: year, month and day separated by "-", optionally a
// blank and a time h[:n[:s]] with an optional AM/PM marker. Leading and trailing blanks
// are allowed. nullopt on anything else.
std::optional<double> TryParseDateTime(std::string_view text);

// The integer reading rule of the filter inputs: leading blanks, an optional sign, then
// decimal digits, or hexadecimal digits after "$" or "0x"; nothing may follow; the value
// must fit 32 bits. nullopt otherwise.
std::optional<std::int32_t> TryParseInt(std::string_view text);

} // namespace quillmark
