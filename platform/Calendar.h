// Proleptic Gregorian calendar arithmetic in days since 1970-01-01, shared by the date values
// and by every platform's file-time conversions.
#pragma once

namespace quillmark::platform::calendar {

constexpr double kUnixEpochDays = 25569.0; // 1970-01-01 as a date value (days since 1899-12-30)

constexpr long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

struct CivilDate {
    int Year;
    unsigned Month, Day;
};

constexpr CivilDate CivilFromDays(long long z) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<int>(static_cast<long long>(yoe) + era * 400 + (m <= 2)), m, d};
}

} // namespace quillmark::platform::calendar
