#include "SrcLib/DateTime.h"

#include "platform/Exceptions.h"
#include "platform/Calendar.h"
#include "platform/Regional.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace quillmark {
namespace {

constexpr long long kMsPerDay = 86400000LL;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

using platform::calendar::DaysFromCivil;

const long long kEpochOffset = DaysFromCivil(1899, 12, 30); // date value 0 in days since 1970

// value in at least width digits, zeros in front. Every page name and date on a page passes
// here several times, so the usual case is written out rather than formatted.
std::string Pad(int value, int width) {
    char buf[16];
    if (value < 0 || width > 10) {
        std::snprintf(buf, sizeof buf, "%0*d", width, value);
        return buf;
    }
    char* end = buf + sizeof buf;
    char* q = end;
    unsigned v = static_cast<unsigned>(value);
    do {
        *--q = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (end - q < width) *--q = '0';
    return std::string(q, end);
}

bool HasAmPm(std::string_view pattern) {
    for (std::size_t i = 0; i + 1 < pattern.size(); ++i) {
        char a = static_cast<char>(std::tolower(static_cast<unsigned char>(pattern[i])));
        char b = static_cast<char>(std::tolower(static_cast<unsigned char>(pattern[i + 1])));
        if (a == 'a' && (b == 'm' || b == '/')) return true;
    }
    return false;
}

bool StartsWithNoCase(std::string_view s, std::size_t at, std::string_view what) {
    if (at + what.size() > s.size()) return false;
    for (std::size_t k = 0; k < what.size(); ++k)
        if (std::tolower(static_cast<unsigned char>(s[at + k])) != what[k]) return false;
    return true;
}

void FormatInto(std::string& out, std::string_view pattern, const DateParts& p, int depth);

} // namespace

std::optional<double> TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                                        int millisecond) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || millisecond < 0 ||
        millisecond > 999)
        return std::nullopt;
    double days = static_cast<double>(DaysFromCivil(year, month, day) - kEpochOffset);
    double frac = ((hour * 3600.0 + minute * 60.0 + second) * 1000.0 + millisecond) / kMsPerDay;
    // Before 1899-12-30 the time of day still counts forward from the date's midnight,
    // but the value's sign covers both parts.
    return days < 0 ? days - frac : days + frac;
}

double EncodeDate(int year, int month, int day) {
    auto v = TryEncodeDateTime(year, month, day);
    if (!v) throw Exception("Invalid argument to date encode");
    return *v;
}

DateParts DecodeDateTime(double value) {
    DateParts p;
    if (!std::isfinite(value) || std::fabs(value) > 2958466.0) return p; // beyond 9999-12-31
    double whole = std::trunc(value);
    long long ms = std::llround(std::fabs(value - whole) * kMsPerDay);
    long long days = static_cast<long long>(whole);
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        days += value < 0 ? -1 : 1;
    }
    const auto civil = platform::calendar::CivilFromDays(days + kEpochOffset);
    p.Year = civil.Year;
    p.Month = static_cast<int>(civil.Month);
    p.Day = static_cast<int>(civil.Day);
    p.Hour = static_cast<int>(ms / 3600000);
    p.Minute = static_cast<int>(ms / 60000 % 60);
    p.Second = static_cast<int>(ms / 1000 % 60);
    p.Millisecond = static_cast<int>(ms % 1000);
    p.DayOfWeek = static_cast<int>(((days % 7) + 7 + 6) % 7); // 1899-12-30 was a Saturday
    return p;
}

namespace {

void FormatInto(std::string& out, std::string_view pattern, const DateParts& p, int depth) {
    const auto& rs = platform::Regional();
    const bool twelveHour = HasAmPm(pattern);
    bool lastWasHour = false;
    std::size_t i = 0;
    while (i < pattern.size()) {
        char c = pattern[i];
        char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::size_t run = 1;
        while (i + run < pattern.size() &&
               std::tolower(static_cast<unsigned char>(pattern[i + run])) == static_cast<unsigned char>(lc))
            ++run;
        switch (lc) {
        case '"':
        case '\'': {
            std::size_t end = pattern.find(c, i + 1);
            if (end == std::string_view::npos) end = pattern.size();
            out.append(pattern.substr(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        case 'y':
            out += run <= 2 ? Pad(p.Year % 100, 2) : Pad(p.Year, 4);
            break;
        case 'm':
            if (lastWasHour && run <= 2) {
                out += run == 1 ? std::to_string(p.Minute) : Pad(p.Minute, 2);
            } else if (run == 1) {
                out += std::to_string(p.Month);
            } else if (run == 2) {
                out += Pad(p.Month, 2);
            } else if (run == 3) {
                out += rs.ShortMonthNames[p.Month - 1];
            } else {
                out += rs.LongMonthNames[p.Month - 1];
            }
            break;
        case 'd':
            if (run == 1) out += std::to_string(p.Day);
            else if (run == 2) out += Pad(p.Day, 2);
            else if (run == 3) out += rs.ShortDayNames[p.DayOfWeek];
            else if (run == 4) out += rs.LongDayNames[p.DayOfWeek];
            else out += Pad(p.Year, 4) + "-" + Pad(p.Month, 2) + "-" + Pad(p.Day, 2); // the short date
            break;
        case 'h': {
            int h = p.Hour;
            if (twelveHour) {
                h %= 12;
                if (h == 0) h = 12;
            }
            out += run == 1 ? std::to_string(h) : Pad(h, 2);
            break;
        }
        case 'n':
            out += run == 1 ? std::to_string(p.Minute) : Pad(p.Minute, 2);
            break;
        case 's':
            out += run == 1 ? std::to_string(p.Second) : Pad(p.Second, 2);
            break;
        case 'z':
            out += run >= 3 ? Pad(p.Millisecond, 3) : std::to_string(p.Millisecond);
            break;
        case 't':
            if (depth < 2) FormatInto(out, run >= 2 ? rs.LongTimeFormat : "hh:nn", p, depth + 1);
            break;
        case '/':
            out += std::string(run, '-');
            break;
        case 'a':
            if (StartsWithNoCase(pattern, i, "ampm")) {
                out += p.Hour < 12 ? rs.TimeAMString : rs.TimePMString;
                i += 4;
                continue;
            }
            if (StartsWithNoCase(pattern, i, "am/pm")) {
                std::string marker(pattern.substr(p.Hour < 12 ? i : i + 3, 2));
                out += marker;
                i += 5;
                continue;
            }
            if (StartsWithNoCase(pattern, i, "a/p")) {
                out += pattern[p.Hour < 12 ? i : i + 2];
                i += 3;
                continue;
            }
            out.append(run, c);
            break;
        default:
            out.append(pattern.substr(i, run));
            break;
        }
        if (lc == 'h') lastWasHour = true;
        else if (std::isalpha(static_cast<unsigned char>(lc))) lastWasHour = false;
        i += run;
    }
}

} // namespace

std::string FormatDateTime(std::string_view pattern, double value) {
    std::string out;
    FormatInto(out, pattern, DecodeDateTime(value), 0);
    return out;
}

std::string DateTimeToText(double value) {
    DateParts p = DecodeDateTime(value);
    std::string out = Pad(p.Year, 4) + "-" + Pad(p.Month, 2) + "-" + Pad(p.Day, 2);
    if (p.Hour || p.Minute || p.Second || p.Millisecond) {
        out += ' ';
        FormatInto(out, platform::Regional().LongTimeFormat, p, 0);
    }
    return out;
}

namespace {

bool ReadNumber(std::string_view s, std::size_t& i, int maxDigits, int& value) {
    std::size_t start = i;
    value = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && static_cast<int>(i - start) < maxDigits)
        value = value * 10 + (s[i++] - '0');
    return i > start && !(i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])));
}

} // namespace

std::optional<double> TryParseDateTime(std::string_view text) {
    std::size_t i = 0, n = text.size();
    while (i < n && text[i] == ' ') ++i;
    while (n > i && text[n - 1] == ' ') --n;
    std::string_view s = text.substr(0, n);
    int year, month, day;
    std::size_t yearStart = i;
    if (!ReadNumber(s, i, 4, year)) return std::nullopt;
    if (i - yearStart <= 2) year += year < 50 ? 2000 : 1900; // two-digit years: 1950-2049
    if (i >= n || s[i] != '-') return std::nullopt;
    ++i;
    if (!ReadNumber(s, i, 2, month)) return std::nullopt;
    if (i >= n || s[i] != '-') return std::nullopt;
    ++i;
    if (!ReadNumber(s, i, 2, day)) return std::nullopt;
    int hour = 0, minute = 0, second = 0, ms = 0;
    if (i < n) {
        if (s[i] != ' ' && s[i] != 'T') return std::nullopt;
        while (i < n && (s[i] == ' ' || s[i] == 'T')) ++i;
        if (!ReadNumber(s, i, 2, hour)) return std::nullopt;
        if (i < n && s[i] == ':') {
            ++i;
            if (!ReadNumber(s, i, 2, minute)) return std::nullopt;
            if (i < n && s[i] == ':') {
                ++i;
                if (!ReadNumber(s, i, 2, second)) return std::nullopt;
                if (i < n && s[i] == '.') {
                    ++i;
                    std::size_t start = i;
                    if (!ReadNumber(s, i, 3, ms)) return std::nullopt;
                    for (std::size_t k = i - start; k < 3; ++k) ms *= 10;
                }
            }
        }
        while (i < n && s[i] == ' ') ++i;
        if (i < n) {
            const auto& rs = platform::Regional();
            auto marker = [&](const std::string& m) {
                if (m.empty() || n - i != m.size()) return false;
                for (std::size_t k = 0; k < m.size(); ++k)
                    if (std::tolower(static_cast<unsigned char>(s[i + k])) != std::tolower(static_cast<unsigned char>(m[k])))
                        return false;
                return true;
            };
            bool pm = marker(rs.TimePMString) || marker("PM");
            bool am = !pm && (marker(rs.TimeAMString) || marker("AM"));
            if (!am && !pm) return std::nullopt;
            if (hour < 1 || hour > 12) return std::nullopt;
            hour = (hour % 12) + (pm ? 12 : 0);
            i = n;
        }
    }
    return TryEncodeDateTime(year, month, day, hour, minute, second, ms);
}

std::optional<std::int32_t> TryParseInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    bool hex = false;
    if (i < text.size() && text[i] == '$') {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= text.size()) return std::nullopt;
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        int digit;
        if (std::isdigit(c)) digit = c - '0';
        else if (hex && std::isxdigit(c)) digit = std::tolower(c) - 'a' + 10;
        else return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    if (hex) {
        // Hexadecimal text names the 32 bits themselves: $FFFFFFFF is -1.
        auto bits = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
        return negative ? static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(bits)) : bits;
    }
    if (negative ? value > 2147483648ull : value > 2147483647ull) return std::nullopt;
    return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(value)) : static_cast<std::int32_t>(value);
}

} // namespace quillmark
