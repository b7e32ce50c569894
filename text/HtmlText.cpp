#include "text/HtmlText.h"

#include <gumbo.h>

#include <algorithm>
#include <vector>

namespace quillmark::text {

namespace {

bool IsHtmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// What an element contributes to the text's layout.
enum class Layout { Inline, Hidden, Line, Paragraph, Break, Cell, Preformatted };

Layout LayoutOf(const GumboElement& e) {
    switch (e.tag) {
    case GUMBO_TAG_HEAD:
    case GUMBO_TAG_TITLE:
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_TEMPLATE:
    case GUMBO_TAG_NOFRAMES:
        return Layout::Hidden;
    case GUMBO_TAG_P:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
    case GUMBO_TAG_BLOCKQUOTE:
        return Layout::Paragraph;
    case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_ARTICLE:
    case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_CAPTION:
    case GUMBO_TAG_CENTER:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DETAILS:
    case GUMBO_TAG_DIR:
    case GUMBO_TAG_DIV:
    case GUMBO_TAG_DL:
    case GUMBO_TAG_DT:
    case GUMBO_TAG_FIELDSET:
    case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_FIGURE:
    case GUMBO_TAG_FOOTER:
    case GUMBO_TAG_FORM:
    case GUMBO_TAG_HEADER:
    case GUMBO_TAG_HGROUP:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_LEGEND:
    case GUMBO_TAG_LI:
    case GUMBO_TAG_MAIN:
    case GUMBO_TAG_MENU:
    case GUMBO_TAG_NAV:
    case GUMBO_TAG_OL:
    case GUMBO_TAG_SECTION:
    case GUMBO_TAG_SUMMARY:
    case GUMBO_TAG_TABLE:
    case GUMBO_TAG_TR:
    case GUMBO_TAG_UL:
        return Layout::Line;
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_LISTING:
    case GUMBO_TAG_PLAINTEXT:
    case GUMBO_TAG_TEXTAREA:
        return Layout::Preformatted;
    case GUMBO_TAG_BR:
        return Layout::Break;
    case GUMBO_TAG_TD:
    case GUMBO_TAG_TH:
        return Layout::Cell;
    case GUMBO_TAG_UNKNOWN: {
        // Office writes its settings as <xml> islands; when one lands outside a comment it is
        // data, not text.
        GumboStringPiece name = e.original_tag;
        gumbo_tag_from_original_text(&name);
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (name.length == 3 && lower(name.data[0]) == 'x' && lower(name.data[1]) == 'm' && lower(name.data[2]) == 'l')
            return Layout::Hidden;
        return Layout::Inline;
    }
    default:
        return Layout::Inline;
    }
}

// The text being built. Line breaks a block asks for are held back until text follows, so
// that nested and empty blocks give no runs of blank lines; a space is held back likewise
// so that it never ends a line.
class Writer {
public:
    explicit Writer(std::size_t sizeHint) { out_.reserve(sizeHint / 2); }

    void Text(std::string_view s) {
        std::size_t i = 0;
        while (i < s.size()) {
            if (IsHtmlSpace(s[i])) {
                pendingSpace_ = true;
                ++i;
                continue;
            }
            std::size_t end = i;
            while (end < s.size() && !IsHtmlSpace(s[end])) ++end;
            Flush();
            out_.append(s.data() + i, end - i);
            i = end;
        }
    }
    void PreformattedText(std::string_view s) {
        if (s.empty()) return;
        pendingSpace_ = false;
        Flush();
        for (char c : s) {
            if (c == '\n') out_ += "\r\n";
            else if (c != '\r') out_ += c;
        }
    }
    void RequireBreaks(int n) {
        pendingBreaks_ = std::max(pendingBreaks_, n);
        pendingSpace_ = false;
        pendingTab_ = false;
    }
    void LineBreak() {
        pendingSpace_ = false;
        Flush();
        out_ += "\r\n";
    }
    void CellSeparator() {
        pendingSpace_ = false;
        if (pendingBreaks_ == 0) pendingTab_ = true;
    }
    std::string Finish() {
        std::size_t begin = 0;
        while (begin < out_.size() && IsHtmlSpace(out_[begin])) ++begin;
        std::size_t end = out_.size();
        while (end > begin && IsHtmlSpace(out_[end - 1])) --end;
        out_.erase(end);
        out_.erase(0, begin);
        return std::move(out_);
    }

private:
    int TrailingBreaks() const {
        int n = 0;
        for (std::size_t i = out_.size(); i >= 2 && out_[i - 1] == '\n' && out_[i - 2] == '\r'; i -= 2) ++n;
        return n;
    }
    void Flush() {
        if (!out_.empty()) {
            if (pendingBreaks_ > 0) {
                for (int n = TrailingBreaks(); n < pendingBreaks_; ++n) out_ += "\r\n";
            } else if (pendingTab_) {
                out_ += '\t';
            } else if (pendingSpace_ && out_.back() != '\n') {
                out_ += ' ';
            }
        }
        pendingBreaks_ = 0;
        pendingTab_ = false;
        pendingSpace_ = false;
    }

    std::string out_;
    int pendingBreaks_ = 0;
    bool pendingTab_ = false;
    bool pendingSpace_ = false;
};

// A cell that is not the first cell of its row.
bool FollowsAnotherCell(const GumboNode* node) {
    const GumboNode* parent = node->parent;
    if (!parent || parent->type != GUMBO_NODE_ELEMENT) return false;
    const GumboVector& siblings = parent->v.element.children;
    for (unsigned k = 0; k < node->index_within_parent && k < siblings.length; ++k) {
        const auto* s = static_cast<const GumboNode*>(siblings.data[k]);
        if (s->type == GUMBO_NODE_ELEMENT && (s->v.element.tag == GUMBO_TAG_TD || s->v.element.tag == GUMBO_TAG_TH))
            return true;
    }
    return false;
}

// Walks the tree without recursion: a document of thousands of nested elements must not
// exhaust the stack.
void WriteTree(const GumboNode* root, Writer& w) {
    struct Frame {
        const GumboNode* node;
        unsigned next; // the next child to visit
        Layout layout;
    };
    std::vector<Frame> stack;
    int preformatted = 0;
    stack.push_back({root, 0, Layout::Inline});
    while (!stack.empty()) {
        Frame& top = stack.back();
        const GumboVector* children = top.node->type == GUMBO_NODE_ELEMENT    ? &top.node->v.element.children
                                      : top.node->type == GUMBO_NODE_TEMPLATE ? nullptr
                                      : top.node->type == GUMBO_NODE_DOCUMENT ? &top.node->v.document.children
                                                                              : nullptr;
        if (!children || top.next >= children->length) {
            // Leaving the element.
            switch (top.layout) {
            case Layout::Paragraph: w.RequireBreaks(2); break;
            case Layout::Line: w.RequireBreaks(1); break;
            case Layout::Preformatted:
                --preformatted;
                w.RequireBreaks(1);
                break;
            default: break;
            }
            stack.pop_back();
            continue;
        }
        const auto* child = static_cast<const GumboNode*>(children->data[top.next++]);
        switch (child->type) {
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_WHITESPACE:
        case GUMBO_NODE_CDATA: {
            const std::string_view s(child->v.text.text);
            if (preformatted > 0) w.PreformattedText(s);
            else w.Text(s);
            break;
        }
        case GUMBO_NODE_ELEMENT: {
            const Layout layout = LayoutOf(child->v.element);
            switch (layout) {
            case Layout::Hidden: continue;
            case Layout::Break: w.LineBreak(); continue;
            case Layout::Paragraph: w.RequireBreaks(2); break;
            case Layout::Line: w.RequireBreaks(1); break;
            case Layout::Preformatted:
                ++preformatted;
                w.RequireBreaks(1);
                break;
            case Layout::Cell:
                if (FollowsAnotherCell(child)) w.CellSeparator();
                break;
            default: break;
            }
            stack.push_back({child, 0, layout});
            break;
        }
        default: // comments, the doctype, template contents
            break;
        }
    }
}

} // namespace

std::string HtmlToText(std::string_view html) {
    GumboOptions options = kGumboDefaultOptions;
    // Parse errors are of no use here; recording them costs time and memory on bad mail.
    options.max_errors = 0;
    GumboOutput* output = gumbo_parse_with_options(&options, html.data(), html.size());
    if (!output) return {};
    Writer w(html.size());
    WriteTree(output->document, w);
    gumbo_destroy_output(&options, output);
    return w.Finish();
}

} // namespace quillmark::text
