// The user's regional settings that the archive's texts depend on: the long time
// format, month and day names and the decimal separator. Read once from the user's
// locale at start; tests replace them with fixed values.
#pragma once

#include <array>
#include <string>

namespace quillmark::platform {

struct RegionalSettings {
    std::string LongTimeFormat = "hh:nn:ss"; // pattern letters of the date formatter
    std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 12> LongMonthNames{"January", "February", "March",     "April",   "May",      "June",
                                               "July",    "August",   "September", "October", "November", "December"};
    // Sunday first, as the calendar's day of week counts.
    std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::array<std::string, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
    std::string TimeAMString = "AM";
    std::string TimePMString = "PM";
    char DecimalSeparator = '.';
};

// The settings in force. The first call reads them from the user's locale.
const RegionalSettings& Regional();

// Replaces the settings in force (tests, and a front end that wants fixed English names).
void SetRegional(const RegionalSettings& settings);

// The settings read afresh from the user's locale (LC_TIME / LC_NUMERIC off Windows).
RegionalSettings ReadRegionalFromLocale();

} // namespace quillmark::platform
