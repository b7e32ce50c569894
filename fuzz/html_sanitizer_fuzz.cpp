// The sanitiser's promises on any input: the output, parsed as a browser parses it, holds
// only allowed elements and attributes, no address that runs or loads, and it is a fixed
// point (sanitising it again gives it unchanged, so nothing was left for a second look).
#include "text/HtmlSanitizer.h"

#include <gumbo.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace quillmark::text;

namespace {

void Check(const GumboNode* node, bool root) {
    if (node->type != GUMBO_NODE_ELEMENT) return;
    const GumboElement& e = node->v.element;
    const char* name = e.tag == GUMBO_TAG_UNKNOWN ? "?" : gumbo_normalized_tagname(e.tag);
    if (!root && (e.tag_namespace != GUMBO_NAMESPACE_HTML || !IsAllowedHtmlElement(name))) abort();
    for (unsigned i = 0; i < e.attributes.length; ++i) {
        const auto* a = static_cast<const GumboAttribute*>(e.attributes.data[i]);
        if (!root && !IsAllowedHtmlAttribute(name, a->name)) abort();
        if (std::strcmp(a->name, "href") == 0 || std::strcmp(a->name, "src") == 0) {
            std::string v = a->value;
            for (auto& c : v) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            const bool ok = v.rfind("http:", 0) == 0 || v.rfind("https:", 0) == 0 ||
                            v.rfind("mailto:", 0) == 0 || v.rfind("#", 0) == 0 || v.rfind("data:image/", 0) == 0 ||
                            v.rfind("./attsimgs/", 0) == 0;
            if (!ok) abort();
            if (std::strcmp(a->name, "src") == 0 && v.rfind("http", 0) == 0) abort();
        }
    }
    for (unsigned i = 0; i < e.children.length; ++i) {
        const auto* child = static_cast<const GumboNode*>(e.children.data[i]);
        const bool childRoot = root && child->type == GUMBO_NODE_ELEMENT &&
                               (child->v.element.tag == GUMBO_TAG_HEAD || child->v.element.tag == GUMBO_TAG_BODY);
        Check(child, childRoot);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    HtmlSanitizeOptions options;
    options.ResolveCid = [](std::string_view id) -> std::optional<std::string> {
        if (!id.empty() && id[0] == 'a') return std::string("./attsimgs/a.png");
        return std::nullopt;
    };
    const std::string once = SanitizeHtml(std::string_view(reinterpret_cast<const char*>(data), size), options);
    GumboOutput* out = gumbo_parse_with_options(&kGumboDefaultOptions, once.data(), once.size());
    Check(out->root, true);
    gumbo_destroy_output(&kGumboDefaultOptions, out);
    if (SanitizeHtml(once, options) != once) abort();
    return 0;
}
