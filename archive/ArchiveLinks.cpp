#include "archive/ArchiveLinks.h"

#include "archive/IndexPages.h"

namespace quillmark {

bool ArchiveLinkFromTag(const std::string& name, ArchiveLink& link) {
    static const struct {
        const char* Name;
        ArchiveLink Link;
    } names[] = {
        {"prevbydate", ArchiveLink::PrevByDate},     {"nextbydate", ArchiveLink::NextByDate},
        {"previnthread", ArchiveLink::PrevInThread}, {"nextinthread", ArchiveLink::NextInThread},
        {"archiveindex", ArchiveLink::Index},        {"thread", ArchiveLink::Thread},
        {"archivescript", ArchiveLink::Script},      {"archiveroot", ArchiveLink::Root},
    };
    for (const auto& n : names)
        if (name == n.Name) {
            link = n.Link;
            return true;
        }
    return false;
}

bool ArchiveLinkNeedsScript(ArchiveLink link) { return link != ArchiveLink::Index && link != ArchiveLink::Root; }

std::string ArchiveLinkMarkup(ArchiveLink link, int depth, const std::string& label, bool withScript) {
    std::string up;
    for (int i = 0; i < depth; ++i) up += "../";
    const std::string index = up + "index.htm";
    const std::string script =
        "<script src=\"" + up + ArchiveDirName + "/assets/archive.js\" data-root=\"" + up + "\" async></script>";
    auto anchor = [&](const char* role, const char* rel, const char* text) {
        // Without the script (or before it has found the neighbour) the link leads to the
        // start page; the script sets the neighbour's address, or hides the link where
        // there is none.
        return std::string("<a class=\"qm-nav\" data-qm=\"") + role + "\" rel=\"" + rel + "\" href=\"" + index +
               "\">" + HtmlText(label.empty() ? text : label) + "</a>" + (withScript ? script : "");
    };
    switch (link) {
    case ArchiveLink::PrevByDate: return anchor("prev-date", "prev", "Previous");
    case ArchiveLink::NextByDate: return anchor("next-date", "next", "Next");
    case ArchiveLink::PrevInThread: return anchor("prev-thread", "prev", "Previous in thread");
    case ArchiveLink::NextInThread: return anchor("next-thread", "next", "Next in thread");
    case ArchiveLink::Index: return index;
    case ArchiveLink::Thread:
        return "<div class=\"qm-thread\" data-qm=\"thread\"></div>" + (withScript ? script : std::string());
    case ArchiveLink::Script: return withScript ? script : std::string();
    case ArchiveLink::Root: return up;
    }
    return {};
}

} // namespace quillmark
