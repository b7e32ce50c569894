#include "outlook/pst/PstValues.h"

#include <algorithm>
#include <cstring>

namespace quillmark::outlook::pst {

namespace {

constexpr char16_t ReplacementChar = 0xFFFD;

// Windows-1252 0x80..0x9F; the five bytes the code page leaves undefined map to the C1
// control of the same value, like the system's own conversion does.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t Cp1252Char(unsigned char c) {
    if (c >= 0x80 && c < 0xA0)
        return Cp1252High[c - 0x80];
    return c;
}

void AppendCodePoint(WideString& out, std::uint32_t cp) {
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else if (cp < 0x10000 && !(cp >= 0xD800 && cp <= 0xDFFF)) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        out.push_back(ReplacementChar);
    }
}

// A tolerant UTF-8 decoder: every malformed sequence gives one U+FFFD and decoding goes on.
WideString DecodeUtf8(std::string_view bytes) {
    WideString out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        }
        int extra = 0;
        std::uint32_t cp = 0;
        std::uint32_t minimum = 0;
        if ((c & 0xE0) == 0xC0) {
            extra = 1, cp = c & 0x1F, minimum = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, cp = c & 0x0F, minimum = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, cp = c & 0x07, minimum = 0x10000;
        } else {
            out.push_back(ReplacementChar);
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool ok = true;
        for (int k = 0; k < extra; ++k, ++j) {
            if (j >= bytes.size() || (static_cast<unsigned char>(bytes[j]) & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (static_cast<unsigned char>(bytes[j]) & 0x3F);
        }
        if (!ok || cp < minimum) {
            out.push_back(ReplacementChar);
            i = ok ? j : std::max(j, i + 1);
            continue;
        }
        AppendCodePoint(out, cp);
        i = j;
    }
    return out;
}

char16_t LowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (LowerAscii(text[i]) != LowerAscii(prefix[i]))
            return false;
    return true;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

std::optional<std::uint32_t> ReadUInt32(std::string_view data) {
    if (data.size() < 4)
        return std::nullopt;
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(data[static_cast<std::size_t>(i)]);
    return v;
}

std::optional<std::uint64_t> ReadUInt64(std::string_view data) {
    if (data.size() < 8)
        return std::nullopt;
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(data[static_cast<std::size_t>(i)]);
    return v;
}

double UtcDateFromFileTime(std::uint64_t fileTime) {
    // 4501-01-01 00:00 UTC is Outlook's "none"; anything at or past it counts as absent, and
    // so does 0, which some writers store for "never".
    constexpr std::uint64_t NoneTicks = 0x0CB34557A3DD4000ULL;
    constexpr double TicksPerDay = 864000000000.0;
    constexpr double DaysFrom1601To1899 = 109205.0;
    if (fileTime == 0 || fileTime >= NoneTicks)
        return OutlookNoDate;
    return static_cast<double>(fileTime) / TicksPerDay - DaysFrom1601To1899;
}

WideString Utf16FromLittleEndian(std::string_view bytes) {
    WideString out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    while (!out.empty() && out.back() == 0)
        out.pop_back();
    return out;
}

WideString DecodeCodePage(std::string_view bytes, std::uint32_t codePage) {
    while (!bytes.empty() && bytes.back() == '\0')
        bytes.remove_suffix(1);
    switch (codePage) {
    case 65001:
        return DecodeUtf8(bytes);
    case 1200:
        return Utf16FromLittleEndian(bytes);
    case 0:
    case 1252:
    case 20127:
    case 28591: {
        WideString out;
        out.reserve(bytes.size());
        for (char c : bytes)
            out.push_back(Cp1252Char(static_cast<unsigned char>(c)));
        return out;
    }
    default: {
        WideString out;
        out.reserve(bytes.size());
        for (char c : bytes) {
            auto b = static_cast<unsigned char>(c);
            out.push_back(b < 0x80 ? b : ReplacementChar);
        }
        return out;
    }
    }
}

WideString StripSubjectPrefix(WideString subject) {
    if (subject.size() >= 2 && subject[0] == 0x0001)
        subject.erase(0, 2);
    return subject;
}

std::optional<std::vector<std::string_view>> SplitMultiValue(std::string_view data) {
    auto count = ReadUInt32(data);
    if (!count)
        return std::nullopt;
    // Each value needs at least its 4-byte offset, which bounds a forged count.
    if (*count > (data.size() - 4) / 4)
        return std::nullopt;
    std::vector<std::uint32_t> offsets;
    offsets.reserve(*count);
    for (std::uint32_t i = 0; i < *count; ++i)
        offsets.push_back(*ReadUInt32(data.substr(4 + 4 * static_cast<std::size_t>(i))));
    std::vector<std::string_view> values;
    values.reserve(*count);
    const std::size_t tableEnd = 4 + 4 * static_cast<std::size_t>(*count);
    for (std::uint32_t i = 0; i < *count; ++i) {
        std::size_t start = offsets[i];
        std::size_t end = (i + 1 < *count) ? offsets[i + 1] : data.size();
        if (start < tableEnd || start > end || end > data.size())
            return std::nullopt;
        values.push_back(data.substr(start, end - start));
    }
    return values;
}

std::optional<std::string> DecompressRtf(std::string_view data) {
    constexpr std::uint32_t TypeCompressed = 0x75465A4C; // "LZFu"
    constexpr std::uint32_t TypeStored = 0x414C454D;     // "MELA"
    if (data.size() < 16)
        return std::nullopt;
    const std::uint32_t rawSize = *ReadUInt32(data.substr(4));
    const std::uint32_t type = *ReadUInt32(data.substr(8));
    std::string_view body = data.substr(16);
    if (type == TypeStored) {
        // Stored bodies are RTF as is; a size field larger than the data is clipped.
        return std::string(body.substr(0, std::min<std::size_t>(rawSize, body.size())));
    }
    if (type != TypeCompressed)
        return std::nullopt;

    static constexpr char Prebuffer[] =
        "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss \\fmodern \\fscript "
        "\\fdecor MS Sans SerifSymbolArialTimes New RomanCourier{\\colortbl\\red0\\green0\\blue0\r\n\\par "
        "\\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
    constexpr std::size_t PrebufferSize = sizeof(Prebuffer) - 1;
    static_assert(PrebufferSize == 207, "the LZFu dictionary starts with 207 bytes");
    constexpr std::size_t DictSize = 4096;

    char dict[DictSize];
    std::memcpy(dict, Prebuffer, PrebufferSize);
    std::memset(dict + PrebufferSize, 0, DictSize - PrebufferSize);
    std::size_t writePos = PrebufferSize;

    std::string out;
    // A forged raw size must not make us reserve gigabytes; the output grows as needed.
    out.reserve(std::min<std::size_t>(rawSize, 1u << 20));
    std::size_t in = 0;
    auto put = [&](char c) {
        out.push_back(c);
        dict[writePos] = c;
        writePos = (writePos + 1) % DictSize;
    };
    while (in < body.size() && out.size() < rawSize) {
        auto control = static_cast<unsigned char>(body[in++]);
        for (int bit = 0; bit < 8 && out.size() < rawSize; ++bit) {
            if (in >= body.size())
                return out;
            if ((control & (1u << bit)) == 0) {
                put(body[in++]);
                continue;
            }
            if (in + 1 >= body.size())
                return std::nullopt;
            unsigned token = (static_cast<unsigned char>(body[in]) << 8) | static_cast<unsigned char>(body[in + 1]);
            in += 2;
            std::size_t offset = token >> 4;
            std::size_t length = (token & 0xF) + 2;
            if (offset == writePos)
                return out; // the end marker
            for (std::size_t k = 0; k < length && out.size() < rawSize; ++k)
                put(dict[(offset + k) % DictSize]);
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// HTML to text

namespace {

struct NamedEntity {
    const char* name;
    char16_t value;
};

// Latin-1 names in code order from 160 on, then the common ones beyond it.
constexpr const char* Latin1EntityNames[96] = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",
    "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",
    "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12",
    "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil",
    "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde",
    "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",
    "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",
    "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",
    "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
    "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

constexpr NamedEntity OtherEntities[] = {
    {"amp", u'&'},      {"lt", u'<'},       {"gt", u'>'},       {"quot", u'"'},     {"apos", u'\''},
    {"euro", 0x20AC},   {"hellip", 0x2026}, {"mdash", 0x2014},  {"ndash", 0x2013},  {"lsquo", 0x2018},
    {"rsquo", 0x2019},  {"ldquo", 0x201C},  {"rdquo", 0x201D},  {"sbquo", 0x201A},  {"bdquo", 0x201E},
    {"bull", 0x2022},   {"trade", 0x2122},  {"dagger", 0x2020}, {"Dagger", 0x2021}, {"permil", 0x2030},
    {"lsaquo", 0x2039}, {"rsaquo", 0x203A}, {"OElig", 0x0152},  {"oelig", 0x0153},  {"Scaron", 0x0160},
    {"scaron", 0x0161}, {"Yuml", 0x0178},   {"fnof", 0x0192},   {"circ", 0x02C6},   {"tilde", 0x02DC},
    {"ensp", 0x2002},   {"emsp", 0x2003},   {"thinsp", 0x2009}, {"zwnj", 0x200C},   {"zwj", 0x200D}};

// Decodes the entity starting at html[pos] == '&'. Returns the number of code units used
// (0 when it is no entity we know, and the '&' stands for itself).
std::size_t DecodeEntity(std::u16string_view html, std::size_t pos, WideString& out) {
    std::size_t i = pos + 1;
    if (i < html.size() && html[i] == u'#') {
        ++i;
        bool hex = i < html.size() && (html[i] == u'x' || html[i] == u'X');
        if (hex)
            ++i;
        std::uint32_t value = 0;
        std::size_t digits = 0;
        while (i < html.size() && digits < 8) {
            int d = HexValue(html[i]);
            if (d < 0 || (!hex && d > 9))
                break;
            value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
            ++i, ++digits;
        }
        if (digits == 0)
            return 0;
        if (i < html.size() && html[i] == u';')
            ++i;
        // Browsers read the C1 range as Windows-1252, as mail written on Windows expects.
        if (value >= 0x80 && value < 0xA0)
            value = Cp1252Char(static_cast<unsigned char>(value));
        AppendCodePoint(out, value == 0 ? ReplacementChar : value);
        return i - pos;
    }
    std::string name;
    while (i < html.size() && name.size() < 10 &&
           ((html[i] >= u'a' && html[i] <= u'z') || (html[i] >= u'A' && html[i] <= u'Z') ||
            (html[i] >= u'0' && html[i] <= u'9'))) {
        name.push_back(static_cast<char>(html[i]));
        ++i;
    }
    if (name.empty())
        return 0;
    std::optional<char16_t> value;
    for (std::size_t k = 0; k < 96 && !value; ++k)
        if (name == Latin1EntityNames[k])
            value = static_cast<char16_t>(160 + k);
    for (const auto& e : OtherEntities)
        if (!value && name == e.name)
            value = e.value;
    if (!value)
        return 0;
    if (i < html.size() && html[i] == u';')
        ++i;
    out.push_back(*value);
    return i - pos;
}

bool IsHtmlSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f'; }

class HtmlTextWriter {
public:
    void Text(char16_t c, bool preformatted) {
        if (!preformatted && IsHtmlSpace(c)) {
            pendingSpace_ = true;
            return;
        }
        if (preformatted && c == u'\r')
            return;
        if (preformatted && c == u'\n') {
            LineBreak();
            return;
        }
        if (pendingSpace_ && !AtLineStart())
            out_.push_back(u' ');
        pendingSpace_ = false;
        out_.push_back(c);
    }
    void LineBreak() {
        pendingSpace_ = false;
        out_ += u"\r\n";
    }
    void EnsureLineStart() {
        pendingSpace_ = false;
        if (!AtLineStart())
            LineBreak();
    }
    void EnsureBlankLine() {
        if (out_.empty())
            return;
        EnsureLineStart();
        if (!(out_.size() >= 4 && out_.compare(out_.size() - 4, 4, u"\r\n\r\n") == 0))
            LineBreak();
    }
    void Tab() {
        pendingSpace_ = false;
        if (!AtLineStart())
            out_.push_back(u'\t');
    }
    WideString Finish() {
        for (auto& c : out_)
            if (c == 0x00A0)
                c = u' ';
        while (!out_.empty() && IsHtmlSpace(out_.back()))
            out_.pop_back();
        return std::move(out_);
    }

private:
    bool AtLineStart() const { return out_.empty() || out_.back() == u'\n'; }
    WideString out_;
    bool pendingSpace_ = false;
};

std::u16string LowerName(std::u16string_view s) {
    std::u16string r(s);
    for (auto& c : r)
        c = LowerAscii(c);
    return r;
}

bool IsOneOf(const std::u16string& name, std::initializer_list<std::u16string_view> names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Position just after the '>' that ends the tag starting at pos, honouring quoted
// attribute values; npos when the document ends first.
std::size_t EndOfTag(std::u16string_view html, std::size_t pos) {
    char16_t quote = 0;
    for (std::size_t i = pos + 1; i < html.size(); ++i) {
        char16_t c = html[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'>') {
            return i + 1;
        }
    }
    return std::u16string_view::npos;
}

// Position of the closing tag "</name" (case-insensitive) at or after pos; npos if none.
std::size_t FindClosingTag(std::u16string_view html, std::size_t pos, const std::u16string& name) {
    std::u16string needle = u"</" + name;
    for (std::size_t i = html.find(u"</", pos); i != std::u16string_view::npos; i = html.find(u"</", i + 2))
        if (StartsWithNoCase(html.substr(i), needle))
            return i;
    return std::u16string_view::npos;
}

} // namespace

WideString TextFromHtml(std::u16string_view html) {
    HtmlTextWriter w;
    int preDepth = 0;
    std::size_t i = 0;
    while (i < html.size()) {
        char16_t c = html[i];
        if (c == u'&') {
            WideString decoded;
            std::size_t used = DecodeEntity(html, i, decoded);
            if (used == 0) {
                w.Text(c, preDepth > 0);
                ++i;
            } else {
                for (char16_t d : decoded)
                    w.Text(d, true);
                i += used;
            }
            continue;
        }
        if (c != u'<') {
            w.Text(c, preDepth > 0);
            ++i;
            continue;
        }
        if (html.substr(i, 4) == u"<!--") {
            std::size_t end = html.find(u"-->", i + 4);
            i = end == std::u16string_view::npos ? html.size() : end + 3;
            continue;
        }
        std::size_t j = i + 1;
        bool closing = j < html.size() && html[j] == u'/';
        if (closing)
            ++j;
        std::size_t nameStart = j;
        while (j < html.size() && ((html[j] >= u'a' && html[j] <= u'z') || (html[j] >= u'A' && html[j] <= u'Z') ||
                                   (html[j] >= u'0' && html[j] <= u'9') || html[j] == u':'))
            ++j;
        bool declaration = !closing && j < html.size() && (html[j] == u'!' || html[j] == u'?') && j == nameStart;
        if (j == nameStart && !declaration) {
            // A lone "<" is text, as a browser shows it.
            w.Text(c, preDepth > 0);
            ++i;
            continue;
        }
        std::size_t end = EndOfTag(html, i);
        if (end == std::u16string_view::npos)
            break; // an unfinished tag at the end shows nothing
        std::u16string name = LowerName(html.substr(nameStart, j - nameStart));
        i = end;
        if (declaration)
            continue;
        if (!closing && IsOneOf(name, {u"script", u"style", u"head", u"title", u"xml"})) {
            std::size_t close = FindClosingTag(html, i, name);
            if (close != std::u16string_view::npos) {
                std::size_t closeEnd = EndOfTag(html, close);
                i = closeEnd == std::u16string_view::npos ? html.size() : closeEnd;
            }
            continue;
        }
        if (name == u"br") {
            w.LineBreak();
        } else if (name == u"pre") {
            w.EnsureLineStart();
            preDepth += closing ? (preDepth > 0 ? -1 : 0) : 1;
        } else if (IsOneOf(name, {u"p", u"h1", u"h2", u"h3", u"h4", u"h5", u"h6", u"blockquote"})) {
            w.EnsureBlankLine();
        } else if (IsOneOf(name, {u"div", u"tr", u"li", u"table", u"ul", u"ol", u"hr", u"dt", u"dd", u"address"})) {
            w.EnsureLineStart();
        } else if (!closing && IsOneOf(name, {u"td", u"th"})) {
            w.Tab();
        }
    }
    return w.Finish();
}

// ---------------------------------------------------------------------------------------
// RTF to text

namespace {

struct RtfGroupState {
    bool skip = false;      // inside a destination whose text is not shown
    bool htmlTag = false;   // inside {\*\htmltag ...}: HTML source of a wrapped HTML body
    bool htmlRtf = false;   // between \htmlrtf and \htmlrtf0: RTF-only text of a wrapped body
    int unicodeSkip = 1;    // \ucN: characters that follow a \uN as its fallback
};

bool IsSkippedDestination(std::string_view word) {
    static constexpr std::string_view Names[] = {
        "fonttbl",  "colortbl", "stylesheet", "info",      "pict",        "object",  "header",  "headerl",
        "headerr",  "headerf",  "footer",     "footerl",   "footerr",     "footerf", "listtable",
        "listoverridetable",    "rsidtbl",    "generator", "themedata",   "colorschememapping",
        "datastore", "latentstyles", "xmlnstbl", "pgdsctbl", "filetbl",   "revtbl",  "fldinst",
        "mmathPr",  "footnote", "annotation", "atnid",     "atnauthor",   "private"};
    return std::find(std::begin(Names), std::end(Names), word) != std::end(Names);
}

} // namespace

WideString TextFromRtf(std::string_view rtf) {
    WideString out;
    std::vector<RtfGroupState> stack;
    RtfGroupState state;
    std::uint32_t codePage = 1252;
    bool fromHtml = false;
    int pendingSkip = 0; // fallback characters still to drop after a \uN
    bool destinationNext = false; // a "\*" was just read: the next word names a destination

    auto visible = [&] {
        if (state.skip)
            return false;
        if (fromHtml)
            return state.htmlTag || !state.htmlRtf;
        return true;
    };
    auto emit = [&](char16_t c) {
        if (pendingSkip > 0) {
            --pendingSkip;
            return;
        }
        if (visible())
            out.push_back(c);
    };
    auto emitByte = [&](unsigned char b) {
        if (b < 0x80)
            emit(b);
        else
            emit(DecodeCodePage(std::string_view(reinterpret_cast<const char*>(&b), 1), codePage)[0]);
    };

    std::size_t i = 0;
    // Guards the group stack against a hostile document of nothing but "{".
    constexpr std::size_t MaxDepth = 1000;
    while (i < rtf.size()) {
        char c = rtf[i];
        if (c == '{') {
            if (stack.size() < MaxDepth)
                stack.push_back(state);
            ++i;
            continue;
        }
        if (c == '}') {
            if (!stack.empty()) {
                state = stack.back();
                stack.pop_back();
            }
            pendingSkip = 0;
            ++i;
            continue;
        }
        // Line ends are no text in RTF; NULs pad decompressed bodies and are no text either.
        if (c == '\r' || c == '\n' || c == '\0') {
            ++i;
            continue;
        }
        if (c != '\\') {
            emitByte(static_cast<unsigned char>(c));
            ++i;
            continue;
        }
        // A control word or symbol.
        ++i;
        if (i >= rtf.size())
            break;
        char s = rtf[i];
        if (!IsAsciiLetter(s)) {
            ++i;
            switch (s) {
            case '*':
                destinationNext = true;
                break;
            case '\'': {
                int hi = i < rtf.size() ? HexValue(static_cast<unsigned char>(rtf[i])) : -1;
                int lo = i + 1 < rtf.size() ? HexValue(static_cast<unsigned char>(rtf[i + 1])) : -1;
                if (hi >= 0 && lo >= 0) {
                    emitByte(static_cast<unsigned char>(hi * 16 + lo));
                    i += 2;
                }
                break;
            }
            case '~':
                emit(0x00A0);
                break;
            case '_':
                emit(u'-');
                break;
            case '-':
                break;
            case '\r':
            case '\n':
                emit(u'\r');
                emit(u'\n');
                break;
            default:
                emit(static_cast<unsigned char>(s)); // \\ \{ \} and the like
                break;
            }
            continue;
        }
        std::size_t wordStart = i;
        while (i < rtf.size() && IsAsciiLetter(rtf[i]))
            ++i;
        std::string_view word = rtf.substr(wordStart, i - wordStart);
        bool hasParam = false;
        bool negative = false;
        long long param = 0;
        if (i < rtf.size() && rtf[i] == '-' && i + 1 < rtf.size() && IsAsciiDigit(rtf[i + 1])) {
            negative = true;
            ++i;
        }
        while (i < rtf.size() && IsAsciiDigit(rtf[i])) {
            if (param < 100000000)
                param = param * 10 + (rtf[i] - '0');
            hasParam = true;
            ++i;
        }
        if (negative)
            param = -param;
        if (i < rtf.size() && rtf[i] == ' ')
            ++i;

        if (destinationNext) {
            destinationNext = false;
            if (fromHtml && word == "htmltag") {
                state.htmlTag = true;
            } else {
                state.skip = true;
            }
            continue;
        }
        if (IsSkippedDestination(word)) {
            state.skip = true;
            continue;
        }
        if (word == "fromhtml") {
            fromHtml = true;
        } else if (word == "htmlrtf") {
            state.htmlRtf = !hasParam || param != 0;
        } else if (word == "ansicpg" && hasParam && param > 0) {
            codePage = static_cast<std::uint32_t>(param);
        } else if (word == "uc" && hasParam && param >= 0 && param < 10) {
            state.unicodeSkip = static_cast<int>(param);
        } else if (word == "u" && hasParam) {
            long long v = param < 0 ? param + 65536 : param;
            pendingSkip = 0;
            emit(static_cast<char16_t>(v & 0xFFFF));
            pendingSkip = state.unicodeSkip;
        } else if (word == "bin" && hasParam && param > 0) {
            i += std::min<std::size_t>(static_cast<std::size_t>(param), rtf.size() - i);
        } else if (word == "par" || word == "line") {
            emit(u'\r');
            emit(u'\n');
        } else if (word == "tab") {
            emit(u'\t');
        } else if (word == "emdash") {
            emit(0x2014);
        } else if (word == "endash") {
            emit(0x2013);
        } else if (word == "lquote") {
            emit(0x2018);
        } else if (word == "rquote") {
            emit(0x2019);
        } else if (word == "ldblquote") {
            emit(0x201C);
        } else if (word == "rdblquote") {
            emit(0x201D);
        } else if (word == "bullet") {
            emit(0x2022);
        }
    }
    if (fromHtml)
        return TextFromHtml(out);
    while (!out.empty() && (out.back() == u'\r' || out.back() == u'\n' || out.back() == u' '))
        out.pop_back();
    return out;
}

// ---------------------------------------------------------------------------------------

WideString FormatEntryID(const RecordKey& recordKey, std::uint32_t nodeId) {
    static constexpr char16_t Hex[] = u"0123456789ABCDEF";
    WideString out;
    out.reserve(48);
    auto putByte = [&](std::uint8_t b) {
        out.push_back(Hex[b >> 4]);
        out.push_back(Hex[b & 0xF]);
    };
    for (int k = 0; k < 4; ++k)
        putByte(0);
    for (auto b : recordKey)
        putByte(b);
    for (int k = 0; k < 4; ++k)
        putByte(static_cast<std::uint8_t>(nodeId >> (8 * k)));
    return out;
}

std::optional<ParsedEntryID> ParseEntryID(const WideString& entryId) {
    if (entryId.size() != 48)
        return std::nullopt;
    std::uint8_t bytes[24];
    for (std::size_t k = 0; k < 24; ++k) {
        int hi = HexValue(entryId[2 * k]);
        int lo = HexValue(entryId[2 * k + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        bytes[k] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    if (bytes[0] || bytes[1] || bytes[2] || bytes[3])
        return std::nullopt;
    ParsedEntryID parsed;
    std::copy(bytes + 4, bytes + 20, parsed.recordKey.begin());
    parsed.nodeId = static_cast<std::uint32_t>(bytes[20]) | (static_cast<std::uint32_t>(bytes[21]) << 8) |
                    (static_cast<std::uint32_t>(bytes[22]) << 16) | (static_cast<std::uint32_t>(bytes[23]) << 24);
    return parsed;
}

namespace {

constexpr GuidBytes PsMapi = {0x28, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                              0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr GuidBytes PsPublicStringsGuid = {0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                           0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

std::u16string LowerAsciiText(std::u16string_view s) {
    std::u16string r(s);
    for (auto& c : r)
        c = LowerAscii(c);
    return r;
}

} // namespace

void NamedPropertyMap::AddNumeric(const GuidBytes& set, std::uint32_t longId, std::uint32_t tag) {
    if (!Numeric(set, longId))
        numeric_.push_back({set, longId, tag});
}

void NamedPropertyMap::AddNamed(const GuidBytes& set, std::u16string_view name, std::uint32_t tag) {
    if (!Named(set, name))
        named_.push_back({set, LowerAsciiText(name), tag});
}

std::optional<std::uint32_t> NamedPropertyMap::Numeric(const GuidBytes& set, std::uint32_t longId) const {
    for (const auto& e : numeric_)
        if (e.longId == longId && e.set == set)
            return e.tag;
    return std::nullopt;
}

std::optional<std::uint32_t> NamedPropertyMap::Named(const GuidBytes& set, std::u16string_view name) const {
    std::u16string lower = LowerAsciiText(name);
    for (const auto& e : named_)
        if (e.name == lower && e.set == set)
            return e.tag;
    return std::nullopt;
}

std::optional<NamedPropertyMap> ParseNameToIdMap(std::string_view guids, std::string_view entries,
                                                 std::string_view strings) {
    if (entries.size() % 8 != 0)
        return std::nullopt;
    NamedPropertyMap map;
    for (std::size_t pos = 0; pos < entries.size(); pos += 8) {
        std::uint32_t id = *ReadUInt32(entries.substr(pos));
        unsigned guidField = static_cast<unsigned char>(entries[pos + 4]) |
                             (static_cast<unsigned char>(entries[pos + 5]) << 8);
        unsigned index = static_cast<unsigned char>(entries[pos + 6]) |
                         (static_cast<unsigned char>(entries[pos + 7]) << 8);
        const bool isString = (guidField & 1) != 0;
        const unsigned guidIndex = guidField >> 1;
        const std::uint32_t tag = 0x8000 + index;
        if (tag > 0xFFFE)
            continue;
        GuidBytes set{};
        if (guidIndex == 1) {
            set = PsMapi;
        } else if (guidIndex == 2) {
            set = PsPublicStringsGuid;
        } else if (guidIndex >= 3 && (guidIndex - 3) * std::size_t{16} + 16 <= guids.size()) {
            std::memcpy(set.data(), guids.data() + (guidIndex - 3) * std::size_t{16}, 16);
        } else {
            continue; // no property set, or one the GUID stream does not hold
        }
        if (!isString) {
            map.AddNumeric(set, id, tag);
            continue;
        }
        auto length = ReadUInt32(id < strings.size() ? strings.substr(id) : std::string_view());
        if (!length || *length > strings.size() - id - 4)
            continue;
        map.AddNamed(set, Utf16FromLittleEndian(strings.substr(id + 4, *length)), tag);
    }
    return map;
}

bool IsMailMessageClass(std::u16string_view messageClass) {
    for (std::u16string_view base : {std::u16string_view(u"IPM.Note"), std::u16string_view(u"REPORT.IPM.Note")}) {
        if (EqualsNoCase(messageClass, base))
            return true;
        if (messageClass.size() > base.size() && StartsWithNoCase(messageClass, base) &&
            messageClass[base.size()] == u'.')
            return true;
    }
    return false;
}

} // namespace quillmark::outlook::pst
