// Regional settings from the user's locale (the "Region" settings of the control panel).
#include "platform/Regional.h"

#include "platform/CodePage.h"
#include "platform/win32/Win32Regional.h"

#include <windows.h>


namespace quillmark::platform {
namespace {
// One locale entry of the user's locale as ANSI text; empty when the system has none.
std::string LocaleText(LCTYPE type) {
    wchar_t buf[128] = {};
    int n = GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buf, static_cast<int>(sizeof buf / sizeof buf[0]));
    if (n <= 1) return {};
    return Utf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(buf), static_cast<std::size_t>(n - 1)));
}

} // namespace

// A Windows time format ("h:mm:ss tt", "HH.mm.ss", "HH' h 'mm") in the pattern letters of
// our formatter: hours h/hh (H/HH alike: the formatter makes hours 12-hour exactly when the
// pattern holds an AM/PM marker), minutes n/nn, seconds s/ss, the AM/PM designator "ampm".
// Quoted text stays quoted; other letters are quoted so that they print as themselves.
std::string TimePatternFromWindows(const std::string& fmt) {
    std::string out;
    for (std::size_t i = 0; i < fmt.size();) {
        char c = fmt[i];
        std::size_t run = 1;
        while (i + run < fmt.size() && fmt[i + run] == c) ++run;
        switch (c) {
        case '\'': {
            std::size_t end = fmt.find('\'', i + 1);
            if (end == std::string::npos) end = fmt.size();
            out += '"';
            if (end > i + 1)
                out.append(fmt, i + 1, end - i - 1);
            else
                out += '\''; // '' is a literal apostrophe
            out += '"';
            i = end + 1;
            continue;
        }
        case 'h':
        case 'H':
            out += run == 1 ? "h" : "hh";
            break;
        case 'm':
            out += run == 1 ? "n" : "nn";
            break;
        case 's':
            out += run == 1 ? "s" : "ss";
            break;
        case 't':
            out += "ampm";
            break;
        default:
            if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
                out += '"';
                out.append(run, c);
                out += '"';
            } else {
                out.append(run, c);
            }
            break;
        }
        i += run;
    }
    return out.empty() ? "hh:nn:ss" : out;
}

RegionalSettings ReadRegionalFromLocale() {
    RegionalSettings s;
    auto set = [](std::string& field, LCTYPE type) {
        std::string v = LocaleText(type);
        if (!v.empty()) field = v; // keep the default rather than print nothing
    };
    for (int i = 0; i < 12; ++i) {
        set(s.ShortMonthNames[i], static_cast<LCTYPE>(LOCALE_SABBREVMONTHNAME1 + i));
        set(s.LongMonthNames[i], static_cast<LCTYPE>(LOCALE_SMONTHNAME1 + i));
    }
    // Windows counts days from Monday (SDAYNAME1) to Sunday (SDAYNAME7); ours start on Sunday.
    for (int i = 0; i < 7; ++i) {
        const int windowsDay = (i + 6) % 7; // Sunday -> 6, Monday -> 0, ...
        set(s.ShortDayNames[i], static_cast<LCTYPE>(LOCALE_SABBREVDAYNAME1 + windowsDay));
        set(s.LongDayNames[i], static_cast<LCTYPE>(LOCALE_SDAYNAME1 + windowsDay));
    }
    std::string timeFormat = LocaleText(LOCALE_STIMEFORMAT);
    if (!timeFormat.empty()) s.LongTimeFormat = TimePatternFromWindows(timeFormat);
    set(s.TimeAMString, LOCALE_S1159);
    set(s.TimePMString, LOCALE_S2359);
    std::string decimal = LocaleText(LOCALE_SDECIMAL);
    if (decimal.size() == 1) s.DecimalSeparator = decimal[0];
    return s;
}

} // namespace quillmark::platform
