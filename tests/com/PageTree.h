// Comparing an exported tree (year folders, pages, attachments) with golden files, for the
// two exports of the comparison folder: the mailbox backend's (SharedInboxTest.cpp) and
// quillmark-export.exe's through COM (ComOutlookTest.cpp). One copy of the rules, so that
// both sides are held to the same ones.
//
// Everything is compared byte for byte except what differs from run to run or from store
// to store by design, and only that:
//  - the page's first line, the marker comment: it carries the mail's identity in its store
//    (an mbox offset here, a fingerprint there);
//  - the value of the "EntryID=" line near the page's end: the store's identifier again;
//  - the export time in the generator META (the template's <#DateTime>);
//  - the date and time in the title of an attachment link: the saved file's last-write time,
//    which is when this run wrote it. The size beside it stays compared.
// No system headers beyond the standard library: the Windows and the Linux tests share it.
#pragma once

#include "export/ExportRun.h"
#include "platform/Regional.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace quillmark::test {

// What a masked run-dependent value reads as, in the golden and the produced page alike.
constexpr std::string_view MaskedText = "#masked#";

// The regional settings the golden pages were made with: English names and the 12-hour
// clock, as Windows sets them up for en-US (so in the Wine prefix of the Windows leg).
inline platform::RegionalSettings GoldenRegional() {
    platform::RegionalSettings s;
    s.LongTimeFormat = "h:nn:ss ampm";
    s.TimeAMString = "AM";
    s.TimePMString = "PM";
    s.DecimalSeparator = '.';
    return s;
}

inline bool SameRegional(const platform::RegionalSettings& a, const platform::RegionalSettings& b) {
    return a.LongTimeFormat == b.LongTimeFormat && a.ShortMonthNames == b.ShortMonthNames &&
           a.LongMonthNames == b.LongMonthNames && a.ShortDayNames == b.ShortDayNames &&
           a.LongDayNames == b.LongDayNames && a.TimeAMString == b.TimeAMString && a.TimePMString == b.TimePMString &&
           a.DecimalSeparator == b.DecimalSeparator;
}

namespace detail {

inline bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }
inline bool EndsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// One line of a page: its text and the line end that followed it ("\r\n", "\n" or none).
struct Line {
    std::string Text, End;
};

inline std::vector<Line> SplitLines(std::string_view page) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < page.size()) {
        std::size_t nl = page.find('\n', start);
        std::size_t end = nl == std::string_view::npos ? page.size() : nl;
        std::size_t textEnd = end;
        if (nl != std::string_view::npos && textEnd > start && page[textEnd - 1] == '\r') --textEnd;
        lines.push_back({std::string(page.substr(start, textEnd - start)),
                         std::string(page.substr(textEnd, (nl == std::string_view::npos ? end : end + 1) - textEnd))});
        start = nl == std::string_view::npos ? page.size() : nl + 1;
    }
    return lines;
}

inline std::string Utf8Name(const std::filesystem::path& p) {
    const auto u8 = p.generic_u8string();
    return std::string(u8.begin(), u8.end());
}

inline std::string ReadBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace detail

// The page with the run- and store-dependent values above replaced by MaskedText.
inline std::string MaskPage(std::string_view page) {
    using detail::EndsWith;
    using detail::StartsWith;
    std::vector<detail::Line> lines = detail::SplitLines(page);

    if (!lines.empty()) {
        std::string& first = lines.front().Text;
        const std::string_view prefix = PageMarkerPrefix, suffix = PageMarkerSuffix;
        if (StartsWith(first, prefix) && EndsWith(first, suffix) && first.size() >= prefix.size() + suffix.size())
            first = std::string(prefix) + std::string(MaskedText) + std::string(suffix);
    }

    const std::string_view generator = " <META name=\"generator\" content=\"";
    for (auto& line : lines) {
        if (!StartsWith(line.Text, generator)) continue;
        const std::size_t open = line.Text.rfind('(');
        if (EndsWith(line.Text, ")\">") && open != std::string::npos && open > generator.size())
            line.Text = line.Text.substr(0, open + 1) + std::string(MaskedText) + ")\">";
        break; // the first one only: the template's head
    }

    // The last "EntryID=" line: the template's footer comes after the mail's body, so a body
    // line that happens to start the same way is never the one masked.
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        if (StartsWith(it->Text, "EntryID=")) {
            it->Text = "EntryID=" + std::string(MaskedText);
            break;
        }
    }

    // Attachment links: <A href="..." title="<write time> (<size>)">name</A>, on the line the
    // template gives the attachments.
    for (auto& line : lines) {
        if (!StartsWith(line.Text, "<TT>")) continue;
        std::string& t = line.Text;
        std::size_t pos = 0;
        while ((pos = t.find("<A href=\"", pos)) != std::string::npos) {
            const std::size_t title = t.find("\" title=\"", pos);
            if (title == std::string::npos) break;
            const std::size_t valueStart = title + 9;
            const std::size_t valueEnd = t.find("\">", valueStart);
            if (valueEnd == std::string::npos) break;
            const std::size_t size = t.rfind(" (", valueEnd);
            if (size != std::string::npos && size >= valueStart && t[valueEnd - 1] == ')') {
                t.replace(valueStart, size - valueStart, MaskedText);
                pos = valueStart + MaskedText.size();
            } else {
                pos = valueEnd;
            }
        }
    }

    std::string out;
    out.reserve(page.size());
    for (const auto& line : lines) out += line.Text + line.End;
    return out;
}

// Every directory (with a trailing "/") and file below root, by its path relative to root
// in UTF-8 with "/" delimiters.
inline std::map<std::string, std::filesystem::path> TreeEntries(const std::filesystem::path& root) {
    std::map<std::string, std::filesystem::path> entries;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::string name = detail::Utf8Name(std::filesystem::relative(it->path(), root));
        // The lock file a run keeps in the root is bookkeeping, not part of the archive's pages.
        if (name == ".quillmark-lock") continue;
        // Nor is the archive's database (its bytes are SQLite's business).
        if (name == ".quillmark" || name.rfind(".quillmark/", 0) == 0) continue;
        if (it->is_directory()) name += "/";
        entries[name] = it->path();
    }
    return entries;
}

// The differences between an exported tree and the golden one, one line each; empty when
// they agree. Pages (".htm") are compared masked, every other file byte for byte.
inline std::vector<std::string> CompareTrees(const std::filesystem::path& produced, const std::filesystem::path& golden) {
    std::vector<std::string> differences;
    const auto got = TreeEntries(produced), want = TreeEntries(golden);
    if (want.empty()) differences.push_back("no golden files in " + detail::Utf8Name(golden));
    for (const auto& [name, path] : want)
        if (!got.count(name)) differences.push_back("missing: " + name);
    for (const auto& [name, path] : got) {
        auto w = want.find(name);
        if (w == want.end()) {
            differences.push_back("not in the golden tree: " + name);
            continue;
        }
        if (name.back() == '/') continue;
        std::string a = detail::ReadBytes(path), b = detail::ReadBytes(w->second);
        const bool page = detail::EndsWith(name, ".htm");
        if (page) {
            a = MaskPage(a);
            b = MaskPage(b);
        }
        if (a == b) continue;
        std::string what = name + ": differs";
        if (page) {
            // The first line that differs, with its line end shown, to make a failure readable.
            const auto la = detail::SplitLines(a), lb = detail::SplitLines(b);
            for (std::size_t i = 0; i < std::max(la.size(), lb.size()); ++i) {
                auto show = [](const std::vector<detail::Line>& l, std::size_t k) {
                    if (k >= l.size()) return std::string("(no line)");
                    std::string end = l[k].End == "\r\n" ? "\\r\\n" : l[k].End == "\n" ? "\\n" : "";
                    return l[k].Text + end;
                };
                if (i < la.size() && i < lb.size() && la[i].Text == lb[i].Text && la[i].End == lb[i].End) continue;
                what += " at line " + std::to_string(i + 1) + "\n    got:  " + show(la, i) + "\n    want: " + show(lb, i);
                break;
            }
        } else {
            what += " (" + std::to_string(a.size()) + " bytes, golden " + std::to_string(b.size()) + ")";
        }
        differences.push_back(what);
    }
    return differences;
}

} // namespace quillmark::test
