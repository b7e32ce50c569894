#include "text/HtmlSanitizer.h"

#include <gumbo.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace quillmark::text {

namespace {

// What happens to an element of the mail.
enum class Fate {
    Keep,   // written with its allowed attributes
    Unwrap, // left out, its content written in its place
    Drop,   // left out with everything in it
};

const char* const kAllowedElements[] = {
    "a",       "abbr",   "acronym", "address", "article", "aside",  "b",       "bdi",   "bdo",    "big",
    "blockquote", "br",  "caption", "center",  "cite",    "code",   "col",     "colgroup", "dd", "del",
    "details", "dfn",    "div",     "dl",      "dt",      "em",     "figcaption", "figure", "font", "footer",
    "h1",      "h2",     "h3",      "h4",      "h5",      "h6",     "header",  "hr",    "i",      "img",
    "ins",     "kbd",    "li",      "main",    "mark",    "nav",    "ol",      "p",     "pre",    "q",
    "rp",      "rt",     "ruby",    "s",       "samp",    "section", "small",  "span",  "strike", "strong",
    "sub",     "summary", "sup",    "table",   "tbody",   "td",     "tfoot",   "th",    "thead",  "time",
    "tr",      "tt",     "u",       "ul",      "var",    "wbr",     "dir",   "menu",
};

bool InList(std::string_view name, const char* const* begin, const char* const* end) {
    return std::any_of(begin, end, [&](const char* n) { return name == n; });
}

std::string_view TagName(const GumboElement& e) {
    if (e.tag != GUMBO_TAG_UNKNOWN) return gumbo_normalized_tagname(e.tag);
    return {};
}

Fate FateOf(const GumboNode& node) {
    const GumboElement& e = node.v.element;
    // Anything of SVG or MathML is left out whole: their parsing rules differ from HTML's,
    // which is where markup that looks harmless turns into markup that is not.
    if (e.tag_namespace != GUMBO_NAMESPACE_HTML) return Fate::Drop;
    switch (e.tag) {
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_FRAME:
    case GUMBO_TAG_FRAMESET:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_OBJECT:
    case GUMBO_TAG_EMBED:
    case GUMBO_TAG_APPLET:
    case GUMBO_TAG_PARAM:
    case GUMBO_TAG_FORM:
    case GUMBO_TAG_INPUT:
    case GUMBO_TAG_BUTTON:
    case GUMBO_TAG_SELECT:
    case GUMBO_TAG_OPTION:
    case GUMBO_TAG_OPTGROUP:
    case GUMBO_TAG_TEXTAREA:
    case GUMBO_TAG_KEYGEN:
    case GUMBO_TAG_ISINDEX:
    case GUMBO_TAG_META:
    case GUMBO_TAG_BASE:
    case GUMBO_TAG_LINK:
    case GUMBO_TAG_HEAD:
    case GUMBO_TAG_TITLE:
    case GUMBO_TAG_SVG:
    case GUMBO_TAG_MATH:
    case GUMBO_TAG_TEMPLATE:
    case GUMBO_TAG_NOSCRIPT:
    case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_XMP:
    case GUMBO_TAG_PLAINTEXT:
    case GUMBO_TAG_AUDIO:
    case GUMBO_TAG_VIDEO:
    case GUMBO_TAG_SOURCE:
    case GUMBO_TAG_TRACK:
    case GUMBO_TAG_CANVAS:
    case GUMBO_TAG_MENUITEM:
        return Fate::Drop;
    default: break;
    }
    const std::string_view name = TagName(e);
    if (name.empty()) {
        // Unknown names: Office's <xml> islands and <o:p> and friends. An <xml> holds data,
        // the rest give their text.
        GumboStringPiece original = e.original_tag;
        gumbo_tag_from_original_text(&original);
        if (original.length == 3 && (std::strncmp(original.data, "xml", 3) == 0 || std::strncmp(original.data, "XML", 3) == 0))
            return Fate::Drop;
        return Fate::Unwrap;
    }
    return IsAllowedHtmlElement(name) ? Fate::Keep : Fate::Unwrap;
}

bool IsVoid(GumboTag tag) {
    return tag == GUMBO_TAG_BR || tag == GUMBO_TAG_HR || tag == GUMBO_TAG_IMG || tag == GUMBO_TAG_COL ||
           tag == GUMBO_TAG_WBR;
}

// Elements whose start tag closes an open <p>: a <p> holding one cannot be written as <p>,
// a browser would end it there.
bool ClosesParagraph(GumboTag tag) {
    switch (tag) {
    case GUMBO_TAG_ADDRESS: case GUMBO_TAG_ARTICLE: case GUMBO_TAG_ASIDE: case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_CENTER: case GUMBO_TAG_DETAILS: case GUMBO_TAG_DIR: case GUMBO_TAG_DIV: case GUMBO_TAG_DL:
    case GUMBO_TAG_FIELDSET: case GUMBO_TAG_FIGCAPTION: case GUMBO_TAG_FIGURE: case GUMBO_TAG_FOOTER:
    case GUMBO_TAG_HEADER: case GUMBO_TAG_HGROUP: case GUMBO_TAG_MAIN: case GUMBO_TAG_MENU: case GUMBO_TAG_NAV:
    case GUMBO_TAG_OL: case GUMBO_TAG_P: case GUMBO_TAG_SECTION: case GUMBO_TAG_SUMMARY: case GUMBO_TAG_UL:
    case GUMBO_TAG_H1: case GUMBO_TAG_H2: case GUMBO_TAG_H3: case GUMBO_TAG_H4: case GUMBO_TAG_H5:
    case GUMBO_TAG_H6: case GUMBO_TAG_PRE: case GUMBO_TAG_LISTING: case GUMBO_TAG_TABLE: case GUMBO_TAG_HR:
    case GUMBO_TAG_LI: case GUMBO_TAG_DD: case GUMBO_TAG_DT: case GUMBO_TAG_XMP: case GUMBO_TAG_PLAINTEXT:
    case GUMBO_TAG_FORM:
        return true;
    default: return false;
    }
}

bool IsHeading(GumboTag tag) { return tag >= GUMBO_TAG_H1 && tag <= GUMBO_TAG_H6; }

bool IsTableSection(GumboTag tag) {
    return tag == GUMBO_TAG_TBODY || tag == GUMBO_TAG_THEAD || tag == GUMBO_TAG_TFOOT;
}

std::string ValidUtf8(std::string_view in);

// Quotes too, though text would not need it: a template may put the body where quotes count.
void AppendEscapedText(std::string& out, std::string_view raw) {
    // Character references may have made characters that the input could not hold.
    const std::string text = ValidUtf8(raw);
    for (char c : text) {
        switch (c) {
        case '"': out += "&quot;"; break;
        // A parser reading the page turns a bare CR into LF; as a reference it stays a CR.
        case '\r': out += "&#13;"; break;
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '\0': break;
        default: out += c;
        }
    }
}

void AppendEscapedAttribute(std::string& out, std::string_view raw) {
    const std::string text = ValidUtf8(raw);
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        case '\r': out += "&#13;"; break;
        case '\0': break;
        default: out += c;
        }
    }
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// A URL as a browser reads it: tabs and line breaks anywhere are ignored, and so are
// control characters and blanks at either end.
std::string CleanUrl(std::string_view raw) {
    std::string url;
    for (char c : raw)
        if (c != '\t' && c != '\n' && c != '\r') url += c;
    std::size_t b = 0, e = url.size();
    while (b < e && static_cast<unsigned char>(url[b]) <= 0x20) ++b;
    while (e > b && static_cast<unsigned char>(url[e - 1]) <= 0x20) --e;
    return url.substr(b, e - b);
}

// The scheme of a URL in lower case, "" for a relative one.
std::string SchemeOf(std::string_view url) {
    for (std::size_t i = 0; i < url.size(); ++i) {
        const char c = url[i];
        if (c == ':') return i == 0 ? std::string() : Lower(url.substr(0, i));
        const bool schemeChar = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!schemeChar) return {};
    }
    return {};
}

bool IsSafeDataImage(std::string_view url) {
    // Raster pictures only: an SVG picture is a document of its own.
    const std::string head = Lower(url.substr(0, 32));
    for (const char* type : {"data:image/png", "data:image/gif", "data:image/jpeg", "data:image/jpg",
                             "data:image/webp", "data:image/bmp"}) {
        const std::size_t n = std::strlen(type);
        if (StartsWith(head, type) && head.size() > n && (head[n] == ';' || head[n] == ',')) return true;
    }
    return false;
}

std::string PercentDecode(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        auto hex = [](char c) {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            return -1;
        };
        if (s[i] == '%' && i + 2 < s.size() + 0 && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
            out += static_cast<char>(hex(s[i + 1]) * 16 + hex(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

class Writer {
public:
    Writer(const HtmlSanitizeOptions& options, HtmlSanitizeReport& report) : options_(options), report_(report) {}

    void Children(const GumboVector& children, const GumboNode* parent) {
        for (unsigned i = 0; i < children.length; ++i)
            Node(*static_cast<const GumboNode*>(children.data[i]), parent);
    }

    std::string out;

private:
    struct Context {
        int anchors = 0;      // open <a> elements written
        int tableLevel = 0;   // inside a table's structure (not within a cell)
        bool inItem = false;  // inside an <li> with no list opened since
        bool inTerm = false;  // inside a <dd> or <dt> with no <dl> opened since
    };

    void Node(const GumboNode& node, const GumboNode* parent) {
        switch (node.type) {
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_WHITESPACE:
        case GUMBO_NODE_CDATA: Text(node, parent); break;
        case GUMBO_NODE_ELEMENT:
        case GUMBO_NODE_TEMPLATE: Element(node, parent); break;
        default: break; // comments and the document type are never written
        }
    }

    void Text(const GumboNode& node, const GumboNode* parent) {
        std::string_view text = node.v.text.text;
        // Text where a table expects rows would be moved in front of the table when parsed
        // again; only blanks may stay there.
        if (ctx_.tableLevel > 0 && node.type != GUMBO_NODE_WHITESPACE) return;
        // A <pre> swallows a line break right after its start tag: write one more.
        (void)parent;
        if (out.size() == preStartEnd_ && !text.empty() && text.front() == '\n') out += '\n';
        AppendEscapedText(out, text);
    }

    static bool HasDescendant(const GumboNode& node, bool (*test)(GumboTag)) {
        if (node.type != GUMBO_NODE_ELEMENT) return false;
        const GumboVector& c = node.v.element.children;
        for (unsigned i = 0; i < c.length; ++i) {
            const auto* child = static_cast<const GumboNode*>(c.data[i]);
            if (child->type != GUMBO_NODE_ELEMENT) continue;
            if (FateOf(*child) == Fate::Drop) continue;
            if (FateOf(*child) == Fate::Keep && test(child->v.element.tag)) return true;
            if (HasDescendant(*child, test)) return true;
        }
        return false;
    }

    void Element(const GumboNode& node, const GumboNode* parent) {
        const GumboElement& e = node.v.element;
        const Fate fate = FateOf(node);
        if (fate == Fate::Drop) return;
        if (fate == Fate::Unwrap || !FitsHere(e.tag)) {
            // Content of an element left out lands where the element was: within a table's
            // structure that would move it, so there it goes with the element.
            if (ctx_.tableLevel > 0) return;
            Children(e.children, parent);
            return;
        }
        // A link inside a link is no link, an item inside an item of no list of its own no
        // item: a browser ends the outer one there. Their content stays.
        if ((e.tag == GUMBO_TAG_A && ctx_.anchors > 0) || (e.tag == GUMBO_TAG_LI && ctx_.inItem) ||
            ((e.tag == GUMBO_TAG_DD || e.tag == GUMBO_TAG_DT) && ctx_.inTerm)) {
            Children(e.children, &node);
            return;
        }
        std::string name(TagName(e));
        // A paragraph or heading that holds a block a browser would end it at is written as
        // a <div>, so that what is read back is what was written.
        if (e.tag == GUMBO_TAG_P && HasDescendant(node, ClosesParagraph)) name = "div";
        if (IsHeading(e.tag) && HasDescendant(node, IsHeading)) name = "div";

        std::string attributes;
        if (!Attributes(node, name, attributes)) return;
        out += '<';
        out += name;
        out += attributes;
        out += '>';
        if (IsVoid(e.tag)) return;

        const Context saved = ctx_;
        if (e.tag == GUMBO_TAG_A) ++ctx_.anchors;
        if (e.tag == GUMBO_TAG_LI) ctx_.inItem = true;
        if (e.tag == GUMBO_TAG_UL || e.tag == GUMBO_TAG_OL || e.tag == GUMBO_TAG_MENU || e.tag == GUMBO_TAG_DIR)
            ctx_.inItem = false;
        if (e.tag == GUMBO_TAG_DD || e.tag == GUMBO_TAG_DT) ctx_.inTerm = true;
        if (e.tag == GUMBO_TAG_DL) ctx_.inTerm = false;
        if (e.tag == GUMBO_TAG_TABLE || IsTableSection(e.tag) || e.tag == GUMBO_TAG_TR ||
            e.tag == GUMBO_TAG_COLGROUP)
            ++ctx_.tableLevel;
        if (e.tag == GUMBO_TAG_TD || e.tag == GUMBO_TAG_TH || e.tag == GUMBO_TAG_CAPTION) ctx_.tableLevel = 0;
        if (e.tag == GUMBO_TAG_PRE || e.tag == GUMBO_TAG_LISTING) preStartEnd_ = out.size();
        Children(e.children, &node);
        ctx_ = saved;
        out += "</";
        out += name;
        out += '>';
    }

    // Whether an element of this kind may stand where the writer is: the parts of a table
    // only within a table, and nothing but them there.
    bool FitsHere(GumboTag tag) const {
        const bool tablePart = tag == GUMBO_TAG_CAPTION || tag == GUMBO_TAG_COLGROUP || tag == GUMBO_TAG_COL ||
                               IsTableSection(tag) || tag == GUMBO_TAG_TR || tag == GUMBO_TAG_TD ||
                               tag == GUMBO_TAG_TH;
        if (ctx_.tableLevel > 0) return tablePart;
        return !tablePart;
    }

    // Writes the allowed attributes of node; false when the element is to be left out (a
    // picture with no address that may be shown).
    bool Attributes(const GumboNode& node, const std::string& name, std::string& out) {
        const GumboElement& e = node.v.element;
        bool pictureOk = e.tag != GUMBO_TAG_IMG;
        bool link = false;
        for (unsigned i = 0; i < e.attributes.length; ++i) {
            const auto* a = static_cast<const GumboAttribute*>(e.attributes.data[i]);
            if (a->attr_namespace != GUMBO_ATTR_NAMESPACE_NONE) continue;
            const std::string attr = Lower(a->name);
            const std::string_view value = a->value;
            if (attr == "href" && e.tag == GUMBO_TAG_A) {
                const std::string url = CleanUrl(value);
                const std::string scheme = SchemeOf(url);
                if (scheme == "http" || scheme == "https" || scheme == "mailto" ||
                    (scheme.empty() && StartsWith(url, "#"))) {
                    Put(out, "href", url);
                    link = true;
                }
                continue;
            }
            // A held-back picture read again stays held back (the address goes through the
            // same checks as a src).
            const bool heldBack = attr == "data-remote-src" && e.tag == GUMBO_TAG_IMG &&
                                  !gumbo_get_attribute(&e.attributes, "src");
            if ((attr == "src" || heldBack) && e.tag == GUMBO_TAG_IMG) {
                const std::string url = CleanUrl(value);
                const std::string scheme = SchemeOf(url);
                if (scheme == "cid" && !heldBack) {
                    const std::string id = PercentDecode(std::string_view(url).substr(4));
                    std::optional<std::string> local;
                    if (options_.ResolveCid) local = options_.ResolveCid(id);
                    if (local && SchemeOf(*local).empty()) {
                        Put(out, "src", *local);
                        pictureOk = true;
                        if (std::find(report_.CidUsed.begin(), report_.CidUsed.end(), id) == report_.CidUsed.end())
                            report_.CidUsed.push_back(id);
                    }
                } else if (scheme == "http" || scheme == "https") {
                    Put(out, options_.BlockRemoteImages ? "data-remote-src" : "src", url);
                    if (options_.BlockRemoteImages) ++report_.RemoteImages;
                    pictureOk = true;
                } else if (scheme.empty() && !heldBack && IsLocalPicture(url)) {
                    Put(out, "src", url);
                    pictureOk = true;
                } else if (scheme == "data" && IsSafeDataImage(url) && !heldBack) {
                    Put(out, "src", url);
                    pictureOk = true;
                }
                continue;
            }
            // Written by us only: a link's own rel and target, the held-back picture address.
            if (attr == "data-remote-src" || attr == "rel" || attr == "target") continue;
            if (attr == "style") {
                const std::string style = SanitizeInlineStyle(value);
                if (!style.empty()) Put(out, "style", style);
                continue;
            }
            if (IsAllowedHtmlAttribute(name, attr)) Put(out, attr, value);
        }
        if (link) out += " rel=\"noopener noreferrer\" target=\"_blank\"";
        return pictureOk;
    }

    bool IsLocalPicture(const std::string& url) const {
        const std::string& prefix = options_.LocalPicturePrefix;
        if (prefix.empty() || url.size() <= prefix.size() || url.compare(0, prefix.size(), prefix) != 0) return false;
        const std::string decoded = PercentDecode(url);
        return decoded.find("..") == std::string::npos && decoded.find('\\') == std::string::npos &&
               url.find_first_of("?#:") == std::string::npos;
    }

    static void Put(std::string& out, std::string_view name, std::string_view value) {
        out += ' ';
        out += name;
        out += "=\"";
        AppendEscapedAttribute(out, value);
        out += '"';
    }

    const HtmlSanitizeOptions& options_;
    HtmlSanitizeReport& report_;
    Context ctx_;
    std::size_t preStartEnd_ = std::string::npos; // where the last <pre> start tag ended
};

const GumboNode* FindBody(const GumboNode* root) {
    if (!root || root->type != GUMBO_NODE_ELEMENT) return nullptr;
    const GumboVector& c = root->v.element.children;
    for (unsigned i = 0; i < c.length; ++i) {
        const auto* child = static_cast<const GumboNode*>(c.data[i]);
        if (child->type == GUMBO_NODE_ELEMENT && child->v.element.tag == GUMBO_TAG_BODY) return child;
    }
    return nullptr;
}

// Only well-formed UTF-8 goes to the parser.
std::string ValidUtf8(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    std::size_t i = 0;
    while (i < in.size()) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        std::size_t len = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            // Control characters other than white space carry nothing a page can show, and
            // parsers differ on them: left out.
            if (c >= 0x20 || c == '\t' || c == '\n' || c == '\r' || c == '\f') out += static_cast<char>(c);
            ++i;
            continue;
        }
        if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; }
        else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; }
        else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; }
        bool ok = len > 0 && i + len <= in.size();
        for (std::size_t k = 1; ok && k < len; ++k) {
            const unsigned char cc = static_cast<unsigned char>(in[i + k]);
            if ((cc & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (ok) {
            const std::uint32_t min = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
            ok = cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        }
        if (ok && ((cp >= 0x7F && cp <= 0x9F) || (cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE)) {
            i += len; // C1 controls and noncharacters, likewise
        } else if (ok) {
            out.append(in.substr(i, len));
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

} // namespace

bool IsAllowedHtmlElement(std::string_view name) {
    return InList(name, std::begin(kAllowedElements), std::end(kAllowedElements));
}

bool IsAllowedHtmlAttribute(std::string_view element, std::string_view name) {
    static const char* const common[] = {
        "title",   "lang",     "dir",         "align",       "valign",  "width",  "height", "bgcolor",
        "border",  "cellpadding", "cellspacing", "colspan", "rowspan", "span",   "nowrap", "start",
        "type",    "value",    "alt",         "color",       "face",    "size",   "scope",  "headers",
        "datetime", "reversed", "hspace",     "vspace",      "abbr",    "clear",  "noshade", "style",
    };
    if (InList(name, std::begin(common), std::end(common))) return true;
    if (element == "a" && (name == "href" || name == "rel" || name == "target")) return true;
    if (element == "img" && (name == "src" || name == "data-remote-src")) return true;
    return false;
}

std::string SanitizeInlineStyle(std::string_view style) {
    static const char* const properties[] = {
        "color", "background-color", "font", "font-family", "font-size", "font-style", "font-weight",
        "font-variant", "text-align", "text-decoration", "text-indent", "text-transform", "line-height",
        "letter-spacing", "word-spacing", "white-space", "vertical-align", "direction", "margin",
        "margin-top", "margin-right", "margin-bottom", "margin-left", "padding", "padding-top",
        "padding-right", "padding-bottom", "padding-left", "border", "border-top", "border-right",
        "border-bottom", "border-left", "border-color", "border-style", "border-width", "border-collapse",
        "border-spacing", "border-radius", "width", "height", "max-width", "min-width", "max-height",
        "min-height", "list-style-type", "table-layout", "empty-cells", "caption-side", "word-wrap",
        "word-break", "overflow-wrap", "float", "clear", "display",
    };
    std::string out;
    std::size_t pos = 0;
    while (pos < style.size()) {
        std::size_t semi = style.find(';', pos);
        if (semi == std::string_view::npos) semi = style.size();
        const std::string_view decl = style.substr(pos, semi - pos);
        pos = semi + 1;
        const std::size_t colon = decl.find(':');
        if (colon == std::string_view::npos) continue;
        auto trim = [](std::string_view s) {
            while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20) s.remove_prefix(1);
            while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.remove_suffix(1);
            return s;
        };
        const std::string property = Lower(trim(decl.substr(0, colon)));
        std::string value(trim(decl.substr(colon + 1)));
        if (!InList(property, std::begin(properties), std::end(properties))) continue;
        // Values: words, numbers, units, colours and a comma-separated font list. No
        // function but the colour ones, no escapes, no comments, no quotes that could end
        // the attribute, nothing that loads or runs.
        bool ok = !value.empty() && value.size() <= 200;
        for (char c : value) {
            const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                               c == ' ' || c == '#' || c == '%' || c == '.' || c == ',' || c == '-' || c == '!' ||
                               c == '(' || c == ')' || c == '_';
            if (!plain) ok = false;
        }
        const std::string lower = Lower(value);
        if (ok && lower.find('(') != std::string::npos) {
            // Every "(" must belong to rgb(, rgba(, hsl( or hsla(.
            for (std::size_t p = lower.find('('); p != std::string::npos; p = lower.find('(', p + 1)) {
                std::size_t b = p;
                while (b > 0 && lower[b - 1] >= 'a' && lower[b - 1] <= 'z') --b;
                const std::string fn = lower.substr(b, p - b);
                if (fn != "rgb" && fn != "rgba" && fn != "hsl" && fn != "hsla") ok = false;
            }
        }
        // A negative margin or a huge size would let the mail draw over the page around it.
        if (ok && StartsWith(property, "margin") && lower.find('-') != std::string::npos) ok = false;
        if (ok && property == "display") {
            static const char* const displays[] = {"block", "inline", "inline-block", "none", "table",
                                                   "table-row", "table-cell", "list-item"};
            ok = InList(lower, std::begin(displays), std::end(displays));
        }
        if (!ok) continue;
        if (!out.empty()) out += "; ";
        out += property;
        out += ": ";
        out += value;
    }
    return out;
}

std::string SanitizeHtml(std::string_view html, const HtmlSanitizeOptions& options, HtmlSanitizeReport* report) {
    HtmlSanitizeReport local;
    HtmlSanitizeReport& r = report ? *report : local;
    const std::string input = ValidUtf8(html);
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, input.data(), input.size());
    Writer writer(options, r);
    if (const GumboNode* body = FindBody(output->root)) writer.Children(body->v.element.children, body);
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    // Blanks at the very start of a body are dropped by a parser reading it again.
    std::size_t start = 0;
    while (start < writer.out.size() && std::strchr(" \t\n\r\f", writer.out[start]) && writer.out[start]) ++start;
    writer.out.erase(0, start);
    return std::move(writer.out);
}

} // namespace quillmark::text
