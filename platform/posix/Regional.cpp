#include "platform/Regional.h"

#include "platform/CodePage.h"

#include <clocale>
#include <iconv.h>
#include <cstring>
#include <langinfo.h>
#include <locale.h>

namespace quillmark::platform {
namespace {

// strftime directives of the locale's time format to the pattern letters of our formatter.
std::string PatternFromStrftime(const std::string& fmt) {
    std::string out;
    for (std::size_t i = 0; i < fmt.size(); ++i) {
        char c = fmt[i];
        if (c != '%' || i + 1 >= fmt.size()) {
            if (c == '"' || c == '\'') continue;
            // Letters would be read as pattern letters: quote them.
            if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
                out += '"';
                out += c;
                out += '"';
            } else {
                out += c;
            }
            continue;
        }
        char d = fmt[++i];
        if (d == 'E' || d == 'O') {
            if (i + 1 >= fmt.size()) break;
            d = fmt[++i];
        }
        switch (d) {
        case 'H': case 'I': out += "hh"; break;
        case 'k': case 'l': out += "h"; break;
        case 'M': out += "nn"; break;
        case 'S': out += "ss"; break;
        case 'p': case 'P': out += "ampm"; break;
        case 'T': out += "hh:nn:ss"; break;
        case 'R': out += "hh:nn"; break;
        case 'r': out += "hh:nn:ss ampm"; break;
        case '%': out += '%'; break;
        default: break; // zones and the like have no place in the archive's times
        }
    }
    return out.empty() ? "hh:nn:ss" : out;
}

// A name of a locale whose character set is not UTF-8, in UTF-8 (the program's text).
// ASCII goes as it is; a name that cannot be converted is dropped to its ASCII part rather
// than put into pages as bytes of another character set.
std::string Utf8FromLocaleText(const std::string& text, const char* codeset) {
    bool ascii = true;
    for (unsigned char c : text) ascii = ascii && c < 0x80;
    if (ascii) return text;
    iconv_t cd = iconv_open("UTF-8", codeset);
    if (cd != reinterpret_cast<iconv_t>(-1)) {
        std::string out(text.size() * 4 + 4, '\0');
        char* in = const_cast<char*>(text.data());
        std::size_t inLeft = text.size(), outLeft = out.size();
        char* o = out.data();
        const bool ok = iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<std::size_t>(-1);
        iconv_close(cd);
        if (ok) {
            out.resize(out.size() - outLeft);
            return out;
        }
    }
    std::string kept;
    for (unsigned char c : text)
        if (c < 0x80) kept += static_cast<char>(c);
    return kept;
}

} // namespace

RegionalSettings ReadRegionalFromLocale() {
    RegionalSettings s;
    locale_t loc = newlocale(LC_TIME_MASK | LC_NUMERIC_MASK | LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) return s; // unusable locale settings: keep the defaults
    bool utf8 = std::strcmp(nl_langinfo_l(CODESET, loc), "UTF-8") == 0;
    auto text = [&](nl_item item) {
        std::string v = nl_langinfo_l(item, loc);
        return utf8 ? v : Utf8FromLocaleText(v, nl_langinfo_l(CODESET, loc));
    };
    static constexpr nl_item kAbMon[12] = {ABMON_1, ABMON_2, ABMON_3, ABMON_4,  ABMON_5,  ABMON_6,
                                           ABMON_7, ABMON_8, ABMON_9, ABMON_10, ABMON_11, ABMON_12};
    static constexpr nl_item kMon[12] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                         MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
    static constexpr nl_item kAbDay[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4, ABDAY_5, ABDAY_6, ABDAY_7};
    static constexpr nl_item kDay[7] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
    for (int i = 0; i < 12; ++i) {
        s.ShortMonthNames[i] = text(kAbMon[i]);
        s.LongMonthNames[i] = text(kMon[i]);
    }
    for (int i = 0; i < 7; ++i) {
        s.ShortDayNames[i] = text(kAbDay[i]);
        s.LongDayNames[i] = text(kDay[i]);
    }
    s.LongTimeFormat = PatternFromStrftime(nl_langinfo_l(T_FMT, loc));
    std::string am = text(AM_STR), pm = text(PM_STR);
    if (!am.empty()) s.TimeAMString = am;
    if (!pm.empty()) s.TimePMString = pm;
    const char* radix = nl_langinfo_l(RADIXCHAR, loc);
    if (radix && radix[0] && !radix[1]) s.DecimalSeparator = radix[0];
    freelocale(loc);
    return s;
}

} // namespace quillmark::platform
