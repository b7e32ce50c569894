#include "archive/IndexPages.h"

#include "SrcLib/DateTime.h"
#include "SrcLib/uLib.h"
#include "archive/ArchiveAssets.h"
#include "archive/Threading.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "text/HtmlSanitizer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <exception>
#include <map>
#include <set>
#include <string_view>
#include <thread>
#include <unordered_map>

namespace quillmark {

namespace {

// Rows per list page: a page of this many rows opens at once on a phone and prints in a
// few sheets.
constexpr std::size_t kRowsPerPage = 500;
// A year with more mails than this is listed month by month.
constexpr std::size_t kYearByMonths = 1500;
// Threads per data file of the conversation trees.
constexpr int kThreadsPerFile = 1000;
// Mails per data file of a year: a search loads only the files that hold the rows it shows.
constexpr std::size_t kMailsPerFile = 1000;
// A year's word list is spread over as many files as keeps each near this size (at most
// kMaxWordShards), every word in the file of its first two letters: a search then reads one
// file per year and word instead of the whole list, which a rare word used to cost.
constexpr std::size_t kWordBytesPerShard = 64 * 1024;
constexpr std::size_t kMaxWordShards = 64;
constexpr std::size_t kLatest = 20;

// Marks the pages as the archive's own: a start page without it is the user's, and stays.
const std::string kGeneratorMeta = "<meta name=\"generator\" content=\"quillmark archive index\">";

const char* const kMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};

// ---- text ----

std::uint32_t NextCodePoint(std::string_view s, std::size_t& i) {
    const auto b = static_cast<unsigned char>(s[i]);
    auto cont = [&](std::size_t k) { return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80; };
    if (b < 0x80) {
        ++i;
        return b;
    }
    if (b >= 0xC2 && b < 0xE0 && cont(1)) {
        const std::uint32_t cp = ((b & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
        i += 2;
        return cp;
    }
    if (b >= 0xE0 && b < 0xF0 && cont(1) && cont(2)) {
        const std::uint32_t cp = ((b & 0x0Fu) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6) |
                                 (static_cast<unsigned char>(s[i + 2]) & 0x3Fu);
        i += 3;
        return cp;
    }
    if (b >= 0xF0 && b < 0xF5 && cont(1) && cont(2) && cont(3)) {
        const std::uint32_t cp = ((b & 0x07u) << 18) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 12) |
                                 ((static_cast<unsigned char>(s[i + 2]) & 0x3Fu) << 6) |
                                 (static_cast<unsigned char>(s[i + 3]) & 0x3Fu);
        i += 4;
        return cp;
    }
    ++i;
    return 0xFFFD; // a stray byte
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The same folding as foldChar in archive.js: keep both in step.
std::uint32_t Fold(std::uint32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c < 0xC0) return c;
    if (c <= 0xDE && c != 0xD7) return c + 32;
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return c % 2 == 0 ? c + 1 : c;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return c % 2 == 1 ? c + 1 : c;
    if (c == 0x178) return 0xFF;
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    return c;
}

// The same test as isWordChar in archive.js.
bool IsWordChar(std::uint32_t c) {
    if (c < 0x80) return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (c <= 0xBF || c == 0xD7 || c == 0xF7 || c == 0xFFFD) return false;
    if ((c >= 0x2000 && c <= 0x2BFF) || (c >= 0x3000 && c <= 0x303F) || (c >= 0xFE30 && c <= 0xFE4F) ||
        (c >= 0xFF00 && c <= 0xFF0F) || (c >= 0xFF1A && c <= 0xFF20))
        return false;
    return c < 0xD800 || c > 0xDFFF;
}

constexpr std::size_t kMinWord = 2, kMaxWord = 40;

// The word-list file of a word: from its first two code points (every word has two), the
// same sum as wordShard in archive.js. A prefix of two letters or more falls in the file of
// every word it starts.
std::size_t WordShard(std::string_view word, std::size_t shards) {
    std::size_t i = 0;
    const std::uint32_t a = NextCodePoint(word, i);
    const std::uint32_t b = i < word.size() ? NextCodePoint(word, i) : 0;
    return (static_cast<std::size_t>(a) * 31 + b) % shards;
}

// Calls f with each search word of a UTF-8 text, folded, as a view of a buffer that the next
// word overwrites. Letters and digits of ASCII, the bulk of most mail, take a short way.
template <class F>
void ForEachSearchWord(const std::string& utf8, std::string& word, F&& f) {
    word.clear();
    std::size_t length = 0;
    auto flush = [&] {
        if (length >= kMinWord && length <= kMaxWord) f(std::string_view(word));
        word.clear();
        length = 0;
    };
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x80) {
            ++i;
            if ((b >= 'a' && b <= 'z') || (b >= '0' && b <= '9')) {
                word += static_cast<char>(b);
                ++length;
            } else if (b >= 'A' && b <= 'Z') {
                word += static_cast<char>(b + 32);
                ++length;
            } else if (length) {
                flush();
            }
            continue;
        }
        const std::uint32_t c = NextCodePoint(utf8, i);
        if (IsWordChar(c)) {
            AppendUtf8(word, Fold(c));
            ++length;
        } else if (length) {
            flush();
        }
    }
    flush();
}

// The words of one year and the places of the mails that hold them. Tens of millions of
// words pass through here for a big archive, so it is an open-addressing table over one
// buffer of characters: a word is copied once, when first met; after that, finding it costs
// a hash, a probe or two and a compare.
class YearWords {
public:
    YearWords() : slots_(1U << 12) {}
    void Add(std::string_view word, int place) {
        std::uint64_t h = 14695981039346656037ULL; // FNV-1a
        for (char c : word) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
        const auto hash = static_cast<std::uint32_t>(h >> 32);
        std::size_t mask = slots_.size() - 1, at = hash & mask;
        for (;; at = (at + 1) & mask) {
            Slot& slot = slots_[at];
            if (!slot.Id) break;
            if (slot.Hash == hash && Word(slot.Id - 1) == word) {
                auto& p = places_[slot.Id - 1];
                if (p.back() != place) p.push_back(place);
                return;
            }
        }
        starts_.push_back(static_cast<std::uint32_t>(chars_.size()));
        chars_.append(word);
        places_.push_back({place});
        slots_[at] = Slot{hash, static_cast<std::uint32_t>(places_.size())};
        if (places_.size() * 2 > slots_.size()) Grow();
    }
    std::size_t Size() const { return places_.size(); }
    std::string_view Word(std::size_t id) const {
        const std::size_t end = id + 1 < starts_.size() ? starts_[id + 1] : chars_.size();
        return std::string_view(chars_).substr(starts_[id], end - starts_[id]);
    }
    const std::vector<int>& Places(std::size_t id) const { return places_[id]; }

private:
    struct Slot {
        std::uint32_t Hash = 0;
        std::uint32_t Id = 0; // the word's number + 1; 0: empty
    };
    void Grow() {
        std::vector<Slot> bigger(slots_.size() * 2);
        const std::size_t mask = bigger.size() - 1;
        for (const Slot& slot : slots_) {
            if (!slot.Id) continue;
            std::size_t at = slot.Hash & mask;
            while (bigger[at].Id) at = (at + 1) & mask;
            bigger[at] = slot;
        }
        slots_.swap(bigger);
    }
    std::vector<Slot> slots_;
    std::string chars_;                // every word once, one after the other
    std::vector<std::uint32_t> starts_; // where each word begins in chars_
    std::vector<std::vector<int>> places_;
};

// ---- writing ----

struct Writer {
    std::string Root;  // with a trailing delimiter
    std::string Dir;   // Root + "_archive" + delimiter
    std::set<std::string> Written; // paths relative to Dir, "/" between names
    IndexBuildStats Stats;

    void Put(const std::string& relative, const std::string& text, bool search = false) {
        std::string native = relative;
        for (char& c : native)
            if (c == '/') c = platform::PathDelim;
        Save(Dir + native, text, search);
        Written.insert(relative);
    }
    void PutRoot(const std::string& name, const std::string& text) {
        const std::string path = Root + name;
        if (platform::FileExists(path) && platform::ReadWholeFile(path).find(kGeneratorMeta) == std::string::npos) {
            Stats.StartPageKept = true;
            return;
        }
        Save(path, text, false);
    }
    void Save(const std::string& path, const std::string& text, bool search) {
        // Unchanged files are left alone: a rebuild after a small run rewrites little.
        if (platform::FileExists(path) && platform::FileSize(path) == static_cast<std::int64_t>(text.size()) &&
            platform::ReadWholeFile(path) == text) {
        } else {
            platform::WriteFileAtomic(path, text);
        }
        ++Stats.Files;
        Stats.Bytes += static_cast<std::int64_t>(text.size());
        if (search) Stats.SearchBytes += static_cast<std::int64_t>(text.size());
    }
};

// A number in base 32 without separators: the last digit from one set of 32 characters,
// the ones before it from another, so that most differences between neighbouring mails
// take one character. Both sets avoid the characters the word lists are made of ("|", ":",
// "=") and anything a script string would need to escape.
constexpr const char* kLastDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef";
constexpr const char* kMoreDigits = "ghijklmnopqrstuvwxyz0123456789+/";

void AppendDelta(std::string& out, std::uint32_t v) {
    char digits[8];
    int n = 0;
    digits[n++] = kLastDigits[v % 32];
    for (v /= 32; v; v /= 32) digits[n++] = kMoreDigits[v % 32];
    while (n) out += digits[--n];
}

std::string Pad2(int v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02d", v);
    return b;
}

std::string SizeText(std::int64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " B";
    if (bytes < 1024 * 1024) return std::to_string((bytes + 1023) / 1024) + " KB";
    char b[32];
    std::snprintf(b, sizeof b, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return b;
}

// A mail as the lists need it.
struct Entry {
    const ManifestMail* Mail = nullptr;
    int Year = 0, Month = 0;
    std::string When; // "2005-03-01 14:02"
    int YearIndex = 0; // its place in its year's data, oldest first
    int Thread = -1;
    bool Attached = false; // has a file that is not a picture shown inline
};

// The head of a page and its bar of links. toArchive leads from the page to _archive/,
// toRoot to the root.
std::string PageHead(const std::string& title, const std::string& toArchive, const std::string& toRoot) {
    const std::string home = toRoot + "index.htm";
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">" + kGeneratorMeta +
           "<title>" + HtmlText(title) + "</title>"
           "<link rel=\"stylesheet\" href=\"" + toArchive + "assets/archive.css\"></head>\n<body>\n"
           "<header class=\"bar\"><a class=\"home\" href=\"" + home + "\">Mail archive</a><nav>"
           "<a href=\"" + toArchive + "dates.htm\">By date</a><a href=\"" + toArchive + "threads.htm\">Threads</a>"
           "<a href=\"" + toArchive + "senders.htm\">Senders</a></nav>"
           "<form class=\"find\" action=\"" + home + "\"><input type=\"search\" name=\"q\" placeholder=\"Search\" "
           "aria-label=\"Search the archive\"></form></header>\n<main>\n";
}

std::string PageFoot(const std::string& scripts = {}) {
    return "</main>\n" + scripts + "</body></html>\n";
}

// Links "1 2 3" to the pages of a list split into several.
std::string Pager(const std::vector<std::string>& pageNames, std::size_t current) {
    if (pageNames.size() < 2) return {};
    std::string s = "<p class=\"pager\">Pages:";
    for (std::size_t i = 0; i < pageNames.size(); ++i) {
        if (i == current)
            s += " <b>" + std::to_string(i + 1) + "</b>";
        else
            s += " <a href=\"" + UrlPath(pageNames[i]) + "\">" + std::to_string(i + 1) + "</a>";
    }
    return s + "</p>\n";
}

// The name of page i of a list whose first page is base + ".htm".
std::string PageName(const std::string& base, std::size_t i) {
    return i == 0 ? base + ".htm" : base + "-p" + std::to_string(i + 1) + ".htm";
}

std::string MailLink(const Entry& e, const std::string& up) {
    const std::string subject = e.Mail->Subject.empty() ? "(no subject)" : e.Mail->Subject;
    return "<a href=\"" + up + UrlPath(e.Mail->Page) + "\">" + HtmlText(subject) + "</a>";
}

// One row of a date list: date, sender, subject, size, attachment mark.
void AppendRow(std::string& s, const Entry& e, const std::string& up) {
    s += "<tr><td>" + e.When + "<td>" + HtmlText(e.Mail->Sender) + "<td>" + MailLink(e, up) + "<td>" +
         SizeText(e.Mail->Size) + "<td>" + (e.Attached ? "\xE2\x9C\x93" : "") + "\n";
}

const char* const kTableHead =
    "<table class=\"mails\"><thead><tr><th>Date<th>From<th>Subject<th>Size<th><abbr title=\"attachments\">Att.</abbr></thead><tbody>\n";

// A list of mails (newest first) split into pages named base.htm, base-p2.htm, ...
void WriteList(Writer& w, const std::string& base, const std::string& title, const std::string& intro,
               const std::vector<const Entry*>& rows) {
    std::vector<std::string> names;
    const std::size_t pages = std::max<std::size_t>(1, (rows.size() + kRowsPerPage - 1) / kRowsPerPage);
    for (std::size_t p = 0; p < pages; ++p) names.push_back(PageName(base, p));
    // Pages in the folder of the list (the sender pages sit one folder deeper).
    const int depth = static_cast<int>(std::count(base.begin(), base.end(), '/')) + 1;
    std::string up;
    for (int i = 0; i < depth; ++i) up += "../";
    std::vector<std::string> localNames;
    for (const auto& n : names) localNames.push_back(n.substr(n.rfind('/') == std::string::npos ? 0 : n.rfind('/') + 1));
    const std::string toArchive = up.substr(3);
    for (std::size_t p = 0; p < pages; ++p) {
        std::string s = PageHead(title + (pages > 1 ? " (" + std::to_string(p + 1) + ")" : ""), toArchive, up);
        s += "<h1>" + HtmlText(title) + "</h1>\n" + intro + Pager(localNames, p) + kTableHead;
        const std::size_t end = std::min(rows.size(), (p + 1) * kRowsPerPage);
        int month = -1;
        for (std::size_t i = p * kRowsPerPage; i < end; ++i) {
            const Entry& e = *rows[i];
            // Month anchors, so that the start page can link into a year's list.
            const int m = e.Year * 100 + e.Month;
            if (m != month) {
                s += "<tr class=\"month\" id=\"m" + std::to_string(e.Year) + "-" + Pad2(e.Month) + "\"><th colspan=5>" +
                     kMonthNames[e.Month - 1] + " " + std::to_string(e.Year) + "\n";
                month = m;
            }
            AppendRow(s, e, up);
        }
        s += "</tbody></table>\n" + Pager(localNames, p) + PageFoot();
        w.Put(names[p], s);
    }
}

using DataFiles = std::vector<std::pair<std::string, std::string>>; // name below _archive/, text

// The mails of a year, kMailsPerFile to a file "m<year>-<part>.js".
DataFiles MakeYearMails(int year, const std::vector<Entry*>& list) {
    DataFiles out;
    const std::string ys = std::to_string(year);
    for (std::size_t part = 0; part * kMailsPerFile < list.size(); ++part) {
        std::string m = "QM.mails(" + ys + "," + std::to_string(part) + ",[\n";
        for (std::size_t k = part * kMailsPerFile; k < std::min(list.size(), (part + 1) * kMailsPerFile); ++k) {
            const Entry* e = list[k];
            const ManifestMail& mail = *e->Mail;
            // A page in its year's folder is named without it (the script adds it back), any
            // other with a leading "/".
            const bool inYear = mail.Page.size() > ys.size() + 1 && mail.Page.compare(0, ys.size(), ys) == 0 &&
                                mail.Page[ys.size()] == '/' && mail.Page.find('/', ys.size() + 1) == std::string::npos;
            m += "[" + JsString(inYear ? mail.Page.substr(ys.size() + 1) : "/" + mail.Page) + "," + JsString(e->When) +
                 "," + JsString(mail.Sender) + "," + JsString(mail.Subject) + "," + std::to_string(e->Thread) +
                 (e->Attached ? ",1" : "") + "],\n";
        }
        m += "]);\n";
        out.emplace_back("data/m" + ys + "-" + std::to_string(part) + ".js", std::move(m));
    }
    return out;
}

// The word lists of a year, from the subject, sender, recipients and text of its mails.
DataFiles MakeYearWords(int year, const std::vector<Entry*>& list) {
    DataFiles out;
    const std::string ys = std::to_string(year);
    YearWords words;
    std::string buffer;
    for (const Entry* e : list) {
        const ManifestMail& mail = *e->Mail;
        for (const std::string* field : {&mail.Subject, &mail.Sender, &mail.Recipients, &mail.Text})
            ForEachSearchWord(*field, buffer, [&](std::string_view word) { words.Add(word, e->YearIndex); });
    }
    // The words of a year as strings "|word:ids|word=bits|" in word order, one per file
    // "w<year>-<shard>.js". ":" lists the mails' places in the year, each as the difference
    // to the one before (see AppendDelta); "=" marks a word in so many mails that a bitmap
    // is shorter (six mails a character, base 64). The script finds a word with one indexOf
    // and parses nothing else: loading a file costs no more than reading it.
    std::vector<std::uint32_t> sorted(words.Size());
    for (std::size_t n = 0; n < sorted.size(); ++n) sorted[n] = static_cast<std::uint32_t>(n);
    std::sort(sorted.begin(), sorted.end(), [&](auto a, auto b) { return words.Word(a) < words.Word(b); });
    static const char* const b64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::size_t bitmapLength = (list.size() + 5) / 6;
    std::vector<std::string> entries(sorted.size());
    std::size_t total = 0;
    std::string deltas, bits;
    for (std::size_t n = 0; n < sorted.size(); ++n) {
        const auto& ids = words.Places(sorted[n]);
        deltas.clear();
        int last = 0;
        for (std::size_t k = 0; k < ids.size(); ++k) {
            AppendDelta(deltas, static_cast<std::uint32_t>(ids[k] - last));
            last = ids[k];
            if (deltas.size() > bitmapLength) break;
        }
        std::string& entry = entries[n];
        entry.assign(words.Word(sorted[n]));
        if (deltas.size() > bitmapLength) {
            bits.assign(bitmapLength, 0);
            for (int id : ids) bits[static_cast<std::size_t>(id) / 6] |= static_cast<char>(1 << (id % 6));
            for (char& c : bits) c = b64[static_cast<unsigned char>(c)];
            entry += '=';
            entry += bits;
        } else {
            entry += ':';
            entry += deltas;
        }
        entry += '|';
        total += entry.size();
    }
    const std::size_t shards =
        std::clamp<std::size_t>((total + kWordBytesPerShard - 1) / kWordBytesPerShard, 1, kMaxWordShards);
    std::vector<std::string> lists(shards);
    for (std::size_t n = 0; n < sorted.size(); ++n) lists[WordShard(words.Word(sorted[n]), shards)] += entries[n];
    for (std::size_t k = 0; k < shards; ++k)
        // The words are letters and digits only (IsWordChar leaves out quotes, backslashes and
        // the line and paragraph separators, U+2028 and U+2029, that a script reads as line
        // ends), so the string needs no escapes.
        out.emplace_back("data/w" + ys + "-" + std::to_string(k) + ".js",
                         "QM.words(" + ys + "," + std::to_string(k) + ",\"|" + lists[k] + "\");\n");
    return out;
}

} // namespace

// ---- public pieces ----

std::vector<std::string> SearchWords(const std::string& utf8) {
    std::vector<std::string> words;
    std::string buffer;
    ForEachSearchWord(utf8, buffer, [&](std::string_view w) { words.emplace_back(w); });
    return words;
}

std::string JsString(const std::string& utf8) {
    std::string s = "\"";
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t start = i;
        const std::uint32_t c = NextCodePoint(utf8, i);
        switch (c) {
        case '"': s += "\\\""; break;
        case '\\': s += "\\\\"; break;
        case '\n': s += "\\n"; break;
        case '\r': s += "\\r"; break;
        case '\t': s += "\\t"; break;
        case '<': s += "\\u003c"; break;
        case '>': s += "\\u003e"; break;
        case '&': s += "\\u0026"; break;
        case 0x2028: s += "\\u2028"; break;
        case 0x2029: s += "\\u2029"; break;
        default:
            if (c < 0x20) {
                char b[8];
                std::snprintf(b, sizeof b, "\\u%04x", static_cast<unsigned>(c));
                s += b;
            } else if (c == 0xFFFD && !(i - start == 3 && utf8.compare(start, 3, "\xEF\xBF\xBD") == 0)) {
                s += "\\ufffd"; // a byte that was no UTF-8
            } else {
                s.append(utf8, start, i - start);
            }
        }
    }
    return s + "\"";
}

std::string HtmlText(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    text::AppendHtmlEscaped(out, text);
    return out;
}

std::string UrlPath(const std::string& path) {
    static const char* const hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~' || c == '!' || c == '/') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// ---- the build ----

IndexBuildStats WriteArchiveIndex(const std::string& rootIn, const std::vector<ManifestMail>& mails) {
    Writer w;
    w.Root = IncludeTrailingPathDelimiter(rootIn);
    w.Dir = w.Root + ArchiveDirName + platform::PathDelim;
    for (const char* sub : {"", "assets", "data"})
        if (!CreateDirectoryPath(w.Dir + sub)) throw EFCreateError("Cannot create directory " + w.Dir + sub);

    // Oldest first; the lists turn it round.
    std::vector<Entry> entries(mails.size());
    for (std::size_t i = 0; i < mails.size(); ++i) entries[i].Mail = &mails[i];
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.Mail->Received != b.Mail->Received) return a.Mail->Received < b.Mail->Received;
        return a.Mail->Page < b.Mail->Page;
    });
    std::map<int, std::vector<Entry*>> years; // oldest first within
    for (auto& e : entries) {
        const DateParts d = DecodeDateTime(e.Mail->Received);
        e.Year = d.Year;
        e.Month = d.Month;
        e.When = std::to_string(d.Year) + "-" + Pad2(d.Month) + "-" + Pad2(d.Day) + " " + Pad2(d.Hour) + ":" +
                 Pad2(d.Minute);
        for (const auto& f : e.Mail->Files)
            if (!f.Picture) e.Attached = true;
        auto& list = years[d.Year];
        e.YearIndex = static_cast<int>(list.size());
        list.push_back(&e);
    }
    w.Stats.Mails = static_cast<int>(entries.size());

    // The word lists are most of the index's work, and each year's are independent of the
    // rest: they are made on other cores (and on this one once its own part is done) while
    // this thread makes the conversations and the pages.
    std::vector<std::pair<int, const std::vector<Entry*>*>> yearList;
    for (const auto& [year, list] : years) yearList.emplace_back(year, &list);
    std::vector<DataFiles> wordFiles(yearList.size());
    std::atomic<std::size_t> nextYear{0};
    std::vector<std::exception_ptr> wordErrors(yearList.size());
    auto makeWords = [&] {
        for (std::size_t k; (k = nextYear++) < yearList.size();) {
            try {
                wordFiles[k] = MakeYearWords(yearList[k].first, *yearList[k].second);
            } catch (...) {
                wordErrors[k] = std::current_exception();
            }
        }
    };
    std::vector<std::thread> pool;
    {
        const std::size_t helpers = std::min<std::size_t>(
            std::max(2U, std::thread::hardware_concurrency()) - 1, yearList.size());
        for (std::size_t t = 0; t < helpers; ++t) pool.emplace_back(makeWords);
    }
    // Every way out waits for them: they read the entries of this frame.
    struct JoinAll {
        std::vector<std::thread>& Threads;
        ~JoinAll() {
            for (auto& t : Threads)
                if (t.joinable()) t.join();
        }
    } joinPool{pool};

    // Conversations.
    std::vector<ThreadInput> input(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ManifestMail& m = *entries[i].Mail;
        input[i] = ThreadInput{m.MessageId, m.InReplyTo, m.References, m.Subject, m.Received};
    }
    // Conversations: threads of two mails or more. A mail nobody answered is a thread of
    // its own; the date lists show it already, and listing it again would only make the
    // index bigger.
    std::vector<ThreadNode> threads;
    for (auto& t : BuildThreads(input))
        if (t.Mail < 0 || !t.Children.empty()) threads.push_back(std::move(t));
    w.Stats.Threads = static_cast<int>(threads.size());
    // Each thread flattened in reading order: (entry, depth).
    std::vector<std::vector<std::pair<int, int>>> flat(threads.size());
    for (std::size_t t = 0; t < threads.size(); ++t) {
        auto walk = [&](auto&& self, const ThreadNode& n, int depth) -> void {
            if (n.Mail >= 0) {
                flat[t].emplace_back(n.Mail, depth);
                entries[static_cast<std::size_t>(n.Mail)].Thread = static_cast<int>(t);
            }
            for (const auto& c : n.Children) self(self, c, n.Mail >= 0 ? depth + 1 : depth);
        };
        walk(walk, threads[t], 0);
    }

    // ---- data: years, the mails of each year, the conversations (the words at the end) ----
    for (const auto& [year, list] : years)
        for (const auto& [name, text] : MakeYearMails(year, list)) w.Put(name, text);
    for (std::size_t first = 0; first < threads.size(); first += kThreadsPerFile) {
        std::string t = "QM.threads(" + std::to_string(first / kThreadsPerFile) + ",[\n";
        for (std::size_t k = first; k < std::min(threads.size(), first + kThreadsPerFile); ++k) {
            // "year.index.depth" for each mail in reading order.
            t += "\"";
            bool sep = false;
            for (const auto& [mail, depth] : flat[k]) {
                const Entry& e = entries[static_cast<std::size_t>(mail)];
                if (sep) t += ' ';
                t += std::to_string(e.Year) + "." + std::to_string(e.YearIndex) + "." + std::to_string(depth);
                sep = true;
            }
            t += "\",\n";
        }
        t += "]);\n";
        w.Put("data/t" + std::to_string(first / kThreadsPerFile) + ".js", t);
    }

    // ---- assets ----
    w.Put("assets/archive.css", ArchiveCss());
    w.Put("assets/archive.js", ArchiveJs());

    // ---- by date ----
    // Where each month's first (newest) row sits, for the start page's links.
    std::map<int, std::string> monthLink; // year*100+month -> path relative to _archive
    std::string datesPage = PageHead("Mails by date", "", "../") + "<h1>Mails by date</h1>\n<ul class=\"years\">\n";
    for (auto it = years.rbegin(); it != years.rend(); ++it) {
        const int year = it->first;
        std::vector<const Entry*> newest(it->second.rbegin(), it->second.rend());
        const std::string ys = std::to_string(year);
        if (newest.size() <= kYearByMonths) {
            WriteList(w, ys, "Mails of " + ys, "", newest);
            for (std::size_t i = 0; i < newest.size(); ++i) {
                const int key = year * 100 + newest[i]->Month;
                if (!monthLink.count(key))
                    monthLink[key] = PageName(ys, i / kRowsPerPage) + "#m" + ys + "-" + Pad2(newest[i]->Month);
            }
        } else {
            std::map<int, std::vector<const Entry*>> months;
            for (const Entry* e : newest) months[e->Month].push_back(e);
            std::string intro = "<p class=\"months\">";
            for (auto m = months.rbegin(); m != months.rend(); ++m)
                intro += "<a href=\"" + ys + "-" + Pad2(m->first) + ".htm\">" + kMonthNames[m->first - 1] + "</a> (" +
                         std::to_string(m->second.size()) + ") ";
            intro += "</p>\n";
            std::string yearPage = PageHead("Mails of " + ys, "", "../") + "<h1>Mails of " + ys + "</h1>\n" + intro +
                                   PageFoot();
            w.Put(ys + ".htm", yearPage);
            for (auto& [month, list] : months) {
                const std::string base = ys + "-" + Pad2(month);
                WriteList(w, base, std::string(kMonthNames[month - 1]) + " " + ys, intro, list);
                monthLink[year * 100 + month] = base + ".htm";
            }
        }
        datesPage += "<li><a href=\"" + ys + ".htm\">" + ys + "</a> (" + std::to_string(it->second.size()) + ")\n";
    }
    datesPage += "</ul>\n" + PageFoot();
    w.Put("dates.htm", datesPage);

    // ---- threads ----
    {
        // Pages of about kRowsPerPage mails; a conversation is never split.
        std::vector<std::pair<std::size_t, std::size_t>> ranges;
        std::size_t start = 0, rows = 0;
        for (std::size_t t = 0; t < threads.size(); ++t) {
            rows += flat[t].size();
            if (rows >= kRowsPerPage) {
                ranges.emplace_back(start, t + 1);
                start = t + 1;
                rows = 0;
            }
        }
        if (start < threads.size() || ranges.empty()) ranges.emplace_back(start, threads.size());
        std::vector<std::string> names;
        for (std::size_t p = 0; p < ranges.size(); ++p) names.push_back(PageName("threads", p));
        for (std::size_t p = 0; p < ranges.size(); ++p) {
            std::string s = PageHead("Threads", "", "../") + "<h1>Threads</h1>\n" + Pager(names, p);
            for (std::size_t t = ranges[p].first; t < ranges[p].second; ++t) {
                s += "<ul class=\"thread\" id=\"t" + std::to_string(t) + "\">";
                auto walk = [&](auto&& self, const ThreadNode& n) -> void {
                    if (n.Mail >= 0) {
                        const Entry& e = entries[static_cast<std::size_t>(n.Mail)];
                        s += "<li>" + MailLink(e, "../") + " <small>" + HtmlText(e.Mail->Sender) + " " +
                             e.When.substr(0, 10) + "</small>";
                    } else {
                        s += "<li><small>(not in the archive)</small>";
                    }
                    if (!n.Children.empty()) {
                        s += "<ul>";
                        for (const auto& c : n.Children) self(self, c);
                        s += "</ul>";
                    }
                    s += "</li>";
                };
                walk(walk, threads[t]);
                s += "</ul>\n";
            }
            s += Pager(names, p) + PageFoot();
            w.Put(names[p], s);
        }
    }

    // ---- senders ----
    {
        // The senders with their counts. A sender's mails are listed by the script from
        // the year data it has anyway: lists of their own would repeat every mail's line
        // once more, and cost the archive more disk than the search data.
        std::map<std::string, std::size_t> bySender;
        for (const auto& e : entries) ++bySender[e.Mail->Sender];
        w.Stats.Senders = static_cast<int>(bySender.size());
        std::string list = PageHead("Senders", "", "../") +
                           "<h1>Senders</h1>\n<div id=\"sender-mails\" aria-live=\"polite\"></div>\n"
                           "<ul class=\"senders\">\n";
        for (const auto& [sender, count] : bySender)
            list += "<li><a href=\"#s=" + HtmlText(UrlPath(sender)) + "\">" +
                    HtmlText(sender.empty() ? "(no sender)" : sender) + "</a> (" + std::to_string(count) + ")\n";
        list += "</ul>\n" + PageFoot("<script src=\"assets/archive.js\"></script>\n");
        w.Put("senders.htm", list);
    }

    // ---- the start page ----
    {
        std::string s = PageHead("Mail archive", "_archive/", "");
        s += "<h1>Mail archive</h1>\n<section id=\"search\"><form class=\"search\" action=\"index.htm\">"
             "<input id=\"q\" type=\"search\" name=\"q\" placeholder=\"Search subject, sender, recipients, text\" "
             "autocomplete=\"off\" aria-label=\"Search\"></form><div id=\"results\" aria-live=\"polite\"></div>"
             "</section>\n";
        s += "<p>" + std::to_string(entries.size()) + (entries.size() == 1 ? " mail" : " mails") + ", " +
             std::to_string(threads.size()) + " conversations, " + std::to_string(w.Stats.Senders) + " senders. " +
             "<a href=\"_archive/dates.htm\">By date</a> \xC2\xB7 <a href=\"_archive/threads.htm\">Threads</a> \xC2\xB7 "
             "<a href=\"_archive/senders.htm\">Senders</a></p>\n";
        std::map<std::string, int> folders;
        for (const auto& e : entries) ++folders[e.Mail->Folder];
        s += "<h2>Folders</h2>\n<ul class=\"folders\">\n";
        for (const auto& [folder, count] : folders)
            s += "<li>" + HtmlText(folder.empty() ? "(folder)" : folder) + " (" + std::to_string(count) + ")\n";
        s += "</ul>\n<h2>Years</h2>\n<table class=\"calendar\">\n";
        for (auto it = years.rbegin(); it != years.rend(); ++it) {
            const std::string ys = std::to_string(it->first);
            int counts[13] = {};
            for (const Entry* e : it->second) ++counts[e->Month];
            s += "<tr><th><a href=\"_archive/" + ys + ".htm\">" + ys + "</a> <small>" +
                 std::to_string(it->second.size()) + "</small>";
            for (int m = 1; m <= 12; ++m) {
                s += "<td>";
                if (counts[m])
                    s += "<a href=\"_archive/" + monthLink[it->first * 100 + m] + "\">" +
                         std::string(kMonthNames[m - 1], 3) + "</a> <small>" + std::to_string(counts[m]) + "</small>";
            }
            s += "\n";
        }
        s += "</table>\n<h2>Latest mails</h2>\n";
        s += kTableHead;
        for (std::size_t i = 0; i < std::min(kLatest, entries.size()); ++i)
            AppendRow(s, entries[entries.size() - 1 - i], "");
        s += "</tbody></table>\n";
        s += PageFoot("<script src=\"_archive/assets/archive.js\"></script>\n");
        w.PutRoot("index.htm", s);
    }

    // ---- the word lists, and the list of years that names their files ----
    makeWords();
    for (auto& t : pool) t.join();
    for (auto& e : wordErrors)
        if (e) std::rethrow_exception(e);
    // "QM.years([[year, mails, word files], ...], mails per file)".
    std::string yearsJs = "QM.years([";
    for (std::size_t k = 0; k < yearList.size(); ++k) {
        for (const auto& [name, text] : wordFiles[k]) w.Put(name, text, true);
        yearsJs += (k ? ",[" : "[") + std::to_string(yearList[k].first) + "," +
                   std::to_string(yearList[k].second->size()) + "," + std::to_string(wordFiles[k].size()) + "]";
    }
    w.Put("data/years.js", yearsJs + "]," + std::to_string(kMailsPerFile) + ");\n");

    // ---- what an earlier build left and this one did not write ----
    for (const char* sub : {"", "data/", "assets/"}) {
        const std::string dir = w.Dir + sub;
        for (const auto& name : platform::ListDirectory(dir)) {
            const std::string rel = std::string(sub) + name;
            // A file half-written by a build that was killed (its process is gone).
            long pid = 0;
            if (platform::IsOwnTemporaryName(name, &pid) &&
                (pid == platform::CurrentProcessId() || !platform::ProcessIsRunning(pid))) {
                if (platform::DeleteFilePath(dir + name)) ++w.Stats.FilesRemoved;
                continue;
            }
            const bool ours = name.size() > 3 && (name.compare(name.size() - 4, 4, ".htm") == 0 ||
                                                  name.compare(name.size() - 3, 3, ".js") == 0);
            if (ours && !w.Written.count(rel) && platform::FileExists(dir + name) &&
                platform::DeleteFilePath(dir + name))
                ++w.Stats.FilesRemoved;
        }
    }
    return w.Stats;
}

namespace {

// What an index is made of besides the rows: the shape of its files and pages, and its
// script and style sheet. Raise kIndexLayout with every change to what WriteArchiveIndex
// writes (the script and the style sheet count themselves), or an unchanged archive keeps
// the pages of the program before.
constexpr int kIndexLayout = 2;

std::string IndexMadeOf(Manifest& manifest) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "layout %d, assets %08x %08x, rows ", kIndexLayout,
                  static_cast<unsigned>(Crc32(ArchiveJs())), static_cast<unsigned>(Crc32(ArchiveCss())));
    return buf + manifest.Fingerprint();
}

} // namespace

IndexBuildStats WriteArchiveIndexFrom(const std::string& root, Manifest& manifest, bool force) {
    const std::string madeOf = IndexMadeOf(manifest);
    const std::string dir = IncludeTrailingPathDelimiter(root);
    // The start page may be the user's own (then never ours to write); the list of years is
    // always the archive's.
    const std::string years = dir + ArchiveDirName + platform::PathDelim + "data" + platform::PathDelim + "years.js";
    if (!force && manifest.Note("index") == madeOf && platform::FileExists(years) &&
        platform::FileExists(dir + "index.htm")) {
        IndexBuildStats unchanged;
        unchanged.Unchanged = true;
        return unchanged;
    }
    IndexBuildStats stats = WriteArchiveIndex(root, manifest.All());
    manifest.SetNote("index", madeOf);
    return stats;
}

IndexBuildStats RebuildArchiveIndex(const std::string& root) {
    Manifest manifest(root);
    return WriteArchiveIndexFrom(root, manifest, true);
}

} // namespace quillmark
