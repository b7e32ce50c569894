#include "outlook/mailbox/MailDate.h"

#include "SrcLib/DateTime.h"

#include <cstdlib>
#include <vector>

namespace quillmark::outlook::mailbox {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!IsDigit(c)) return false;
    return true;
}

// Full names and their usual short forms ("Sept", "Tues", "Thurs") are accepted as well as
// the three letters of the RFC.
bool MatchesName(const std::string& token, const char* full) {
    const std::string f(full);
    return token.size() >= 3 && token.size() <= f.size() && f.compare(0, token.size(), token) == 0;
}

int MonthOf(const std::string& lower) {
    static const char* const months[] = {"january", "february", "march",     "april",   "may",      "june",
                                         "july",    "august",   "september", "october", "november", "december"};
    for (int i = 0; i < 12; ++i)
        if (MatchesName(lower, months[i])) return i + 1;
    return 0;
}

bool IsDayName(const std::string& lower) {
    static const char* const days[] = {"monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"};
    for (const char* d : days)
        if (MatchesName(lower, d)) return true;
    return false;
}

// Zone names in minutes east of UTC: those of RFC 5322 and the ones mailers commonly write
// instead of a number. Names that stand for several zones (IST, CST outside the US sense
// the RFC gives it) are read the RFC's way or not at all.
bool NamedZone(const std::string& lower, int& minutes) {
    struct Zone {
        const char* name;
        int minutes;
    };
    static const Zone zones[] = {
        {"ut", 0},        {"utc", 0},       {"gmt", 0},      {"z", 0},         {"est", -300},   {"edt", -240},
        {"cst", -360},    {"cdt", -300},    {"mst", -420},   {"mdt", -360},    {"pst", -480},   {"pdt", -420},
        {"ast", -240},    {"adt", -180},    {"akst", -540},  {"akdt", -480},   {"hst", -600},   {"nst", -210},
        {"ndt", -150},    {"wet", 0},       {"west", 60},    {"bst", 60},      {"cet", 60},     {"cest", 120},
        {"met", 60},      {"mest", 120},    {"mez", 60},     {"mesz", 120},    {"eet", 120},    {"eest", 180},
        {"msk", 180},     {"jst", 540},     {"kst", 540},    {"hkt", 480},     {"sgt", 480},    {"awst", 480},
        {"acst", 570},    {"acdt", 630},    {"aest", 600},   {"aedt", 660},    {"nzst", 720},   {"nzdt", 780},
    };
    for (const auto& z : zones)
        if (lower == z.name) {
            minutes = z.minutes;
            return true;
        }
    return false;
}

// "+hhmm", "-hhmm", "+hh:mm", "+hh".
bool NumericZone(std::string_view t, int& minutes) {
    if (t.size() < 3 || (t[0] != '+' && t[0] != '-')) return false;
    std::string digits;
    for (std::size_t i = 1; i < t.size(); ++i) {
        if (t[i] == ':' && i == 3) continue;
        if (!IsDigit(t[i])) return false;
        digits += t[i];
    }
    if (digits.size() == 2) digits += "00";
    if (digits.size() != 4) return false;
    const int h = std::atoi(digits.substr(0, 2).c_str()), m = std::atoi(digits.substr(2).c_str());
    if (h > 23 || m > 59) return false;
    minutes = (h * 60 + m) * (t[0] == '-' ? -1 : 1);
    return true;
}

bool Clock(std::string_view t, int& h, int& n, int& s) {
    std::vector<std::string_view> parts;
    std::size_t pos = 0;
    while (pos <= t.size()) {
        std::size_t colon = t.find(':', pos);
        if (colon == std::string_view::npos) colon = t.size();
        parts.push_back(t.substr(pos, colon - pos));
        pos = colon + 1;
    }
    if (parts.size() < 2 || parts.size() > 3) return false;
    // Fractions of a second (rare, but some gateways write them) are dropped.
    if (parts.size() == 3) {
        const auto dot = parts[2].find('.');
        if (dot != std::string_view::npos && dot > 0 && (dot + 1 == parts[2].size() || AllDigits(parts[2].substr(dot + 1))))
            parts[2] = parts[2].substr(0, dot);
    }
    for (const auto& p : parts)
        if (!AllDigits(p) || p.size() > 2) return false;
    h = std::atoi(std::string(parts[0]).c_str());
    n = std::atoi(std::string(parts[1]).c_str());
    s = parts.size() == 3 ? std::atoi(std::string(parts[2]).c_str()) : 0;
    if (s == 60) s = 59; // a leap second is no reason to lose the date
    return h <= 23 && n <= 59 && s <= 59;
}

// The text without comments, commas as blanks, split at blanks; a clock glued to what
// follows it ("00:01+0000", "10:52:37GMT") is split there.
std::vector<std::string> Tokens(std::string_view text) {
    std::string flat;
    int depth = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' && depth > 0) {
            ++i;
            continue;
        }
        if (c == '(') {
            ++depth;
            flat += ' ';
        } else if (c == ')' && depth > 0) {
            --depth;
        } else if (depth == 0) {
            flat += (c == ',' || c == '\t' || c == '\r' || c == '\n') ? ' ' : c;
        }
    }
    std::vector<std::string> tokens;
    std::size_t i = 0;
    while (i < flat.size()) {
        while (i < flat.size() && flat[i] == ' ') ++i;
        const std::size_t start = i;
        while (i < flat.size() && flat[i] != ' ') ++i;
        if (i == start) continue;
        std::string t = flat.substr(start, i - start);
        const auto colon = t.find(':');
        if (colon != std::string::npos && colon > 0 && IsDigit(t[0])) {
            std::size_t end = colon;
            while (end < t.size() && (IsDigit(t[end]) || t[end] == ':' || t[end] == '.')) ++end;
            if (end < t.size() && (t[end] == '+' || t[end] == '-' || IsAlpha(t[end]))) {
                tokens.push_back(t.substr(0, end));
                t.erase(0, end);
            }
        }
        tokens.push_back(std::move(t));
    }
    return tokens;
}

} // namespace

std::optional<MailDate> ParseMailDate(std::string_view text) {
    int day = 0, month = 0, year = -1, yearDigits = 0;
    int h = 0, n = 0, s = 0;
    bool haveTime = false, haveZone = false, zoneKnown = false, pm = false, am = false;
    int zoneMinutes = 0;
    std::string zoneText;
    for (const std::string& t : Tokens(text)) {
        const std::string lower = Lower(t);
        if (AllDigits(t)) {
            if (t.size() > 4) return std::nullopt;
            const int v = std::atoi(t.c_str());
            if (day == 0 && t.size() <= 2 && year < 0) day = v;
            else if (year < 0 && month != 0 && day != 0) {
                year = v;
                yearDigits = static_cast<int>(t.size());
            } else return std::nullopt;
            if (day == 0) return std::nullopt;
            continue;
        }
        if (!haveTime && t.find(':') != std::string::npos) {
            if (!Clock(t, h, n, s)) return std::nullopt;
            haveTime = true;
            continue;
        }
        if (haveTime && (lower == "am" || lower == "pm")) {
            (lower == "pm" ? pm : am) = true;
            continue;
        }
        if (month == 0 && !haveTime) {
            if (const int m = MonthOf(lower)) {
                month = m;
                continue;
            }
        }
        if (!haveTime && month == 0 && day == 0 && IsDayName(lower)) continue;
        if (haveTime && !haveZone) {
            int minutes = 0;
            if (NumericZone(t, minutes) || NamedZone(lower, minutes)) {
                haveZone = zoneKnown = true;
                zoneMinutes = minutes;
                continue;
            }
            if (lower.size() == 1 && IsAlpha(lower[0]) && lower != "j") {
                // RFC 5322: the military letters were defined wrongly; all but Z mean -0000.
                haveZone = true;
                zoneText = t;
                continue;
            }
            if (t[0] == '+' || t[0] == '-' || IsAlpha(t[0])) {
                haveZone = true;
                zoneText = t;
                continue;
            }
            return std::nullopt;
        }
        // A second zone after the first ("+0000 GMT" without parentheses) says nothing new.
        if (haveZone && (IsAlpha(t[0]) || t[0] == '+' || t[0] == '-')) continue;
        return std::nullopt;
    }
    if (day == 0 || month == 0 || year < 0) return std::nullopt;
    if (yearDigits <= 2) year += year < 50 ? 2000 : 1900;
    else if (yearDigits == 3) year += 1900;
    if (pm || am) {
        if (h == 0 || h > 12) return std::nullopt;
        if (pm && h < 12) h += 12;
        if (am && h == 12) h = 0;
    }
    const auto local = TryEncodeDateTime(year, month, day, h, n, s);
    if (!local) return std::nullopt;
    MailDate out;
    out.Utc = *local - static_cast<double>(zoneMinutes) / 1440.0;
    out.ZoneKnown = zoneKnown;
    out.Zone = zoneKnown ? std::string() : zoneText;
    return out;
}

} // namespace quillmark::outlook::mailbox
