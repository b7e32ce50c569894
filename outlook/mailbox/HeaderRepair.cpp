#include "outlook/mailbox/HeaderRepair.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace quillmark::outlook::mailbox {

namespace {

// Deeper structure than this is left to the parser's own limit.
constexpr int MaxDepth = 64;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// A token of RFC 2045: no blanks, controls or tspecials.
bool IsTokenChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F) return false;
    return std::string_view("()<>@,;:\\\"/[]?=").find(c) == std::string_view::npos;
}

struct Edit {
    std::size_t Offset;
    std::size_t Erase;
    std::string Insert;
};

enum class Kind { Leaf, Multipart, Message };

class Repairer {
public:
    Repairer(const std::string& raw, std::size_t maxHeader) : s_(raw), maxHeader_(maxHeader) {}

    void Run() {
        std::vector<std::string> boundaries;
        Entity(0, 0, true, boundaries);
    }
    std::vector<Edit> Edits;
    bool Cut = false, NoHeaders = false, Repeated = false, BadType = false, NoSeparator = false, NoBoundary = false;
    std::string CutName;

private:
    struct Line {
        std::size_t Start, End, Next; // End excludes the line break
    };
    Line LineAt(std::size_t pos) const {
        std::size_t nl = s_.find('\n', pos);
        const std::size_t next = nl == std::string::npos ? s_.size() : nl + 1;
        std::size_t end = nl == std::string::npos ? s_.size() : nl;
        if (end > pos && s_[end - 1] == '\r') --end;
        return {pos, end, next};
    }
    std::string_view Text(const Line& l) const { return std::string_view(s_).substr(l.Start, l.End - l.Start); }
    std::string LineBreakOf(const Line& l) const { return l.End + 1 < l.Next ? "\r\n" : "\n"; }

    struct BlockInfo {
        std::size_t BodyStart = 0;
        Kind kind = Kind::Leaf;
        std::string Boundary;
        bool Encoded = false; // base64 or quoted-printable: an attached message is then no header block
    };

    // A header name the way mail parsers take one: printable ASCII without ":" up to a ":".
    static bool IsHeaderLine(std::string_view line, std::string_view& name) {
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) return false;
        for (std::size_t i = 0; i < colon; ++i) {
            const auto u = static_cast<unsigned char>(line[i]);
            if (u < 33 || u > 126) return false;
        }
        name = line.substr(0, colon);
        return true;
    }

    // The line break that ends the header ending at end ("" at the end of the message).
    std::string BreakBefore(std::size_t end) const {
        if (end == 0 || s_[end - 1] != '\n') return "";
        return end >= 2 && s_[end - 2] == '\r' ? "\r\n" : "\n";
    }

    // Reads a Content-Type value into info. When it is no valid type, or one no reader
    // knows, gives the value to put in its place: text/plain with its parameters.
    bool CheckContentType(std::size_t valueStart, std::size_t end, BlockInfo& info, std::string& replacement) {
        std::string value;
        for (std::size_t i = valueStart; i < end; ++i)
            if (s_[i] != '\r' && s_[i] != '\n') value += s_[i];
        std::size_t i = 0;
        while (i < value.size() && IsBlank(value[i])) ++i;
        const std::size_t typeStart = i;
        while (i < value.size() && IsTokenChar(value[i])) ++i;
        const std::string type = Lower(std::string_view(value).substr(typeStart, i - typeStart));
        bool valid = !type.empty() && i < value.size() && value[i] == '/';
        std::string subtype;
        if (valid) {
            const std::size_t subStart = ++i;
            while (i < value.size() && IsTokenChar(value[i])) ++i;
            subtype = Lower(std::string_view(value).substr(subStart, i - subStart));
            while (i < value.size() && IsBlank(value[i])) ++i;
            valid = !subtype.empty() && (i == value.size() || value[i] == ';' || value[i] == '(');
        }
        static const char* const known[] = {"text",    "image", "audio", "video",    "application",
                                            "message", "model", "font",  "multipart"};
        if (valid) valid = std::any_of(std::begin(known), std::end(known), [&](const char* k) { return type == k; });
        const std::size_t semi = value.find(';');
        info.kind = Kind::Leaf;
        info.Boundary.clear();
        if (valid && type == "multipart") {
            bool named = false;
            const std::string boundary = semi == std::string::npos ? std::string() : Boundary(value.substr(semi), named);
            if (boundary.empty() && named) {
                // A boundary written in a form not read here: the parser's own reading stands.
                return false;
            }
            if (boundary.empty() || !BoundaryAppears(end, boundary)) {
                NoBoundary = true;
                valid = false;
            } else {
                info.kind = Kind::Multipart;
                info.Boundary = boundary;
            }
        } else if (valid && type == "message" && (subtype == "rfc822" || subtype == "global" || subtype == "news")) {
            info.kind = Kind::Message;
        }
        if (valid) return false;
        if (type != "multipart") BadType = true;
        replacement = " text/plain";
        if (semi != std::string::npos) replacement += value.substr(semi);
        return true;
    }

    // The parameters of "; a=b; c="d"" as (lower-case name, value) pairs.
    static std::vector<std::pair<std::string, std::string>> Parameters(const std::string& params) {
        std::vector<std::pair<std::string, std::string>> out;
        std::size_t i = 0;
        while (i < params.size()) {
            while (i < params.size() && (params[i] == ';' || IsBlank(params[i]))) ++i;
            const std::size_t nameStart = i;
            while (i < params.size() && params[i] != '=' && params[i] != ';') ++i;
            std::string n = Lower(params.substr(nameStart, i - nameStart));
            while (!n.empty() && IsBlank(n.back())) n.pop_back();
            if (i >= params.size() || params[i] != '=') continue;
            ++i;
            while (i < params.size() && IsBlank(params[i])) ++i;
            std::string v;
            if (i < params.size() && params[i] == '"') {
                ++i;
                while (i < params.size() && params[i] != '"') {
                    if (params[i] == '\\' && i + 1 < params.size()) ++i;
                    v += params[i++];
                }
                if (i < params.size()) ++i;
            } else {
                while (i < params.size() && params[i] != ';') v += params[i++];
                while (!v.empty() && IsBlank(v.back())) v.pop_back();
            }
            out.emplace_back(std::move(n), std::move(v));
        }
        return out;
    }

    // An RFC 2231 extended value: "charset'language'" dropped (first piece only), %XX decoded.
    static std::string ExtendedValue(std::string v, bool first) {
        if (first) {
            const auto q1 = v.find('\'');
            const auto q2 = q1 == std::string::npos ? std::string::npos : v.find('\'', q1 + 1);
            if (q2 != std::string::npos) v.erase(0, q2 + 1);
        }
        std::string out;
        for (std::size_t i = 0; i < v.size(); ++i) {
            auto hex = [](char c) {
                return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            };
            if (v[i] == '%' && i + 2 < v.size() && hex(v[i + 1]) >= 0 && hex(v[i + 2]) >= 0) {
                out += static_cast<char>(hex(v[i + 1]) * 16 + hex(v[i + 2]));
                i += 2;
            } else {
                out += v[i];
            }
        }
        return out;
    }

    // The boundary parameter, plain or in RFC 2231 form (boundary*=, boundary*0=...).
    // named: some parameter names a boundary, whether or not it could be read.
    static std::string Boundary(const std::string& params, bool& named) {
        const auto all = Parameters(params);
        named = false;
        for (const auto& [n, v] : all) {
            if (n.compare(0, 8, "boundary") == 0) named = true;
            if (n == "boundary") return v;
        }
        for (const auto& [n, v] : all)
            if (n == "boundary*") return ExtendedValue(v, true);
        std::string joined;
        for (int k = 0;; ++k) {
            const std::string plain = "boundary*" + std::to_string(k);
            bool found = false;
            for (const auto& [n, v] : all) {
                if (n == plain) joined += v;
                else if (n == plain + "*") joined += ExtendedValue(v, k == 0);
                else continue;
                found = true;
                break;
            }
            if (!found) break;
        }
        return joined;
    }

    bool BoundaryAppears(std::size_t from, const std::string& boundary) const {
        const std::string delimiter = "\n--" + boundary;
        if (from < s_.size() && s_.compare(from, delimiter.size() - 1, delimiter, 1) == 0) return true;
        return s_.find(delimiter, from == 0 ? 0 : from - 1) != std::string::npos;
    }

    void FinishHeader(std::size_t start, std::size_t end, std::string_view name, std::vector<std::string>& seen,
                      BlockInfo& info) {
        const std::string lname = Lower(name);
        if (lname == "content-type" || lname == "content-transfer-encoding" || lname == "content-disposition") {
            if (std::find(seen.begin(), seen.end(), lname) != seen.end()) {
                Repeated = true;
                Edits.push_back({start, end - start, {}});
                return;
            }
            seen.push_back(lname);
        }
        const std::size_t valueStart = start + name.size() + 1;
        std::size_t keep = end;
        if (end - start > maxHeader_) {
            // Whole lines up to the cap; a single line longer than that is cut inside it (not
            // inside a UTF-8 character).
            keep = start + maxHeader_;
            const std::size_t nl = s_.rfind('\n', keep - 1);
            if (nl != std::string::npos && nl > start) {
                keep = nl + 1;
            } else {
                while (keep > start && (static_cast<unsigned char>(s_[keep]) & 0xC0) == 0x80) --keep;
            }
            if (!Cut) CutName = std::string(name);
            Cut = true;
        }
        std::string replacement;
        if (lname == "content-type" && CheckContentType(valueStart, keep, info, replacement)) {
            Edits.push_back({valueStart, end - valueStart, replacement + BreakBefore(end)});
            return;
        }
        if (lname == "content-transfer-encoding") {
            std::string v;
            for (std::size_t i = valueStart; i < keep; ++i)
                if (!IsBlank(s_[i]) && s_[i] != '\r' && s_[i] != '\n') v += s_[i];
            info.Encoded = Lower(v) == "base64" || Lower(v) == "quoted-printable";
        }
        if (keep < end) Edits.push_back({keep, end - keep, s_[keep - 1] == '\n' ? std::string() : BreakBefore(end)});
    }

    BlockInfo Block(std::size_t pos, bool top) {
        BlockInfo info;
        std::vector<std::string> seen;
        std::size_t curStart = std::string::npos, curEnd = 0;
        std::string_view curName;
        auto finish = [&] {
            if (curStart != std::string::npos) FinishHeader(curStart, curEnd, curName, seen, info);
            curStart = std::string::npos;
        };
        bool first = true;
        std::size_t p = pos;
        while (p < s_.size()) {
            const Line l = LineAt(p);
            const std::string_view text = Text(l);
            std::string_view name;
            if (text.empty()) {
                finish();
                info.BodyStart = l.Next;
                return info;
            }
            if (IsBlank(text[0]) && curStart != std::string::npos) {
                curEnd = l.Next;
            } else if (first && top && text.substr(0, 5) == "From ") {
                // The envelope line of a message saved from an mbox.
            } else if (IsHeaderLine(text, name)) {
                finish();
                curStart = l.Start;
                curEnd = l.Next;
                curName = name;
            } else {
                finish();
                (top && l.Start == 0 ? NoHeaders : NoSeparator) = true;
                Edits.push_back({l.Start, 0, LineBreakOf(l)});
                info.BodyStart = l.Start;
                return info;
            }
            first = false;
            p = l.Next;
        }
        finish();
        info.BodyStart = s_.size();
        return info;
    }

    struct Delimiter {
        std::size_t Start, Next;
        std::size_t Which; // index into the boundaries
        bool Close;
    };

    // The next boundary line of any open multipart from pos on (pos is a line start).
    // Where "\n--" is first found from at on. Looked for by its dashes, which base64 never
    // holds and text seldom does: a search by line breaks would stop at every line.
    std::size_t FindLineDashes(std::size_t at) const {
        const char* data = s_.data();
        const std::size_t n = s_.size();
        for (std::size_t p = at + 1; p + 1 < n;) {
            const void* dash = std::memchr(data + p, '-', n - 1 - p);
            if (!dash) return std::string::npos;
            p = static_cast<std::size_t>(static_cast<const char*>(dash) - data);
            if (data[p - 1] == '\n' && data[p + 1] == '-') return p - 1;
            ++p;
        }
        return std::string::npos;
    }

    bool NextDelimiter(std::size_t pos, const std::vector<std::string>& boundaries, Delimiter& d) const {
        std::size_t at = pos;
        bool atLineStart = true;
        while (at < s_.size()) {
            if (!atLineStart) {
                const std::size_t hit = FindLineDashes(at);
                if (hit == std::string::npos) return false;
                at = hit + 1;
            }
            atLineStart = false;
            if (s_.compare(at, 2, "--") != 0) continue;
            const Line l = LineAt(at);
            const std::string_view text = Text(l).substr(2);
            for (std::size_t k = boundaries.size(); k-- > 0;) {
                const std::string& b = boundaries[k];
                if (text.substr(0, b.size()) != b) continue;
                std::string_view rest = text.substr(b.size());
                bool close = false;
                if (rest.substr(0, 2) == "--") {
                    close = true;
                    rest.remove_prefix(2);
                }
                if (!std::all_of(rest.begin(), rest.end(), IsBlank)) continue;
                d = {l.Start, l.Next, k, close};
                return true;
            }
        }
        return false;
    }

    // Mends the entity at pos; returns where the search for boundary lines goes on.
    std::size_t Entity(std::size_t pos, int depth, bool top, std::vector<std::string>& boundaries) {
        const BlockInfo info = Block(pos, top);
        if (depth >= MaxDepth) return info.BodyStart;
        if (info.kind == Kind::Message && !info.Encoded) return Entity(info.BodyStart, depth + 1, false, boundaries);
        if (info.kind != Kind::Multipart) return info.BodyStart;
        boundaries.push_back(info.Boundary);
        const std::size_t mine = boundaries.size() - 1;
        std::size_t p = info.BodyStart;
        Delimiter d{};
        for (;;) {
            if (!NextDelimiter(p, boundaries, d)) {
                p = s_.size();
                break;
            }
            if (d.Which != mine) { // an enclosing multipart goes on: this one ends unclosed
                p = d.Start;
                break;
            }
            if (d.Close) {
                p = d.Next;
                break;
            }
            p = Entity(d.Next, depth + 1, false, boundaries);
        }
        boundaries.pop_back();
        return p;
    }

    const std::string& s_;
    std::size_t maxHeader_;
};

std::string Size(std::size_t bytes) {
    if (bytes % (1024 * 1024) == 0) return std::to_string(bytes / (1024 * 1024)) + " MiB";
    return std::to_string(bytes) + " bytes";
}

} // namespace

bool RepairMessage(std::string& raw, std::vector<std::string>& notes, std::size_t maxHeader) {
    Repairer r(raw, std::max<std::size_t>(maxHeader, 64));
    r.Run();
    if (r.Edits.empty()) return false;
    std::sort(r.Edits.begin(), r.Edits.end(), [](const Edit& a, const Edit& b) { return a.Offset < b.Offset; });
    std::string out;
    out.reserve(raw.size());
    std::size_t at = 0;
    for (const Edit& e : r.Edits) {
        if (e.Offset < at) continue; // overlaps an earlier edit: the earlier one stands
        out.append(raw, at, e.Offset - at);
        out += e.Insert;
        at = e.Offset + e.Erase;
    }
    out.append(raw, at, std::string::npos);
    raw.swap(out);
    if (r.Cut) {
        std::string name;
        for (char c : r.CutName) name += (c >= 0x20 && c < 0x7F) ? c : '?';
        notes.push_back("header \"" + name.substr(0, 64) + "\" longer than " + Size(maxHeader) + ", cut there");
    }
    if (r.Repeated) notes.push_back("repeated Content-Type/-Transfer-Encoding/-Disposition header, the first one counts");
    if (r.BadType) notes.push_back("invalid or unknown content type, read as text/plain");
    if (r.NoBoundary) notes.push_back("multipart without a usable boundary, read as text/plain");
    if (r.NoHeaders) notes.push_back("the message has no headers, all of it is shown as the body");
    if (r.NoSeparator) notes.push_back("no blank line after the headers, the body starts at the first line that is no header");
    return true;
}

} // namespace quillmark::outlook::mailbox
