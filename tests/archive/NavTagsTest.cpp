// The archive's navigation tags as any template meets them: through the mail tag handler,
// in any letter case, with a label of the template's own, and the builtin:browse template
// that uses them.
#include "export/MailTags.h"
#include "template/BrowseTemplate.h"

#include <gtest/gtest.h>

namespace quillmark {
namespace {

std::string Expand(const std::string& tag, std::vector<std::string> params = {}) {
    MailTagContext context; // no mail: the navigation needs none
    std::string out;
    PPMailHTMLTag(context, tag, params, out);
    return out;
}

TEST(NavTags, LinksComeFromTheHandlerInAnyCase) {
    EXPECT_EQ(Expand("ArchiveIndex"), "../index.htm");
    EXPECT_EQ(Expand("ARCHIVEINDEX"), "../index.htm");
    const std::string next = Expand("NextByDate");
    EXPECT_EQ(next.rfind("<a class=\"qm-nav\" data-qm=\"next-date\" rel=\"next\" href=\"../index.htm\">Next</a>", 0), 0u)
        << next;
    EXPECT_NE(next.find("<script src=\"../_archive/assets/archive.js\""), std::string::npos);
    EXPECT_NE(Expand("previnthread", {"Earlier <in> thread"}).find(">Earlier &lt;in&gt; thread</a>"), std::string::npos);
    EXPECT_NE(Expand("Thread").find("data-qm=\"thread\""), std::string::npos);
    // Names that are no tags stay errors.
    EXPECT_NE(Expand("PrevByDay").find("tag not found"), std::string::npos);
}

TEST(NavTags, ThePageGetsTheScriptOnceWhateverTheTagsAndTheirOrder) {
    MailTagContext context;
    auto expand = [&](const std::string& tag) {
        std::vector<std::string> params;
        std::string out;
        PPMailHTMLTag(context, tag, params, out);
        return out;
    };
    const std::string script = "<script src=\"../_archive/assets/archive.js\"";
    EXPECT_EQ(expand("ArchiveIndex").find(script), std::string::npos); // a link of its own: no script
    EXPECT_NE(expand("PrevByDate").find(script), std::string::npos);
    for (const char* tag : {"NextByDate", "PrevInThread", "NextInThread", "Thread", "ArchiveScript"})
        EXPECT_EQ(expand(tag).find(script), std::string::npos) << tag;
    // The next page: the first tag that needs it brings it again.
    *context.ArchiveScriptInPage = false;
    EXPECT_NE(expand("Thread").find(script), std::string::npos);
    EXPECT_EQ(expand("NextByDate").find(script), std::string::npos);
}

TEST(NavTags, TheBrowseTemplateIsUtf8AndUsesThem) {
    const std::string text = BrowseTemplateText();
    EXPECT_NE(text.find("<meta charset=\"utf-8\">"), std::string::npos);
    for (const char* tag : {"<#PrevByDate>", "<#NextByDate>", "<#PrevInThread>", "<#NextInThread>", "<#ArchiveIndex>",
                            "<#Thread>", "<#HTMLBody>", "<#ContentSecurityPolicy>",
                            "<#SenderEmailAddress>", "<#SentOnHeader>", "<#ReceivedTime>", "<#Attachments>"})
        EXPECT_NE(text.find(tag), std::string::npos) << tag;
    for (const auto& line : BrowseTemplateLines())
        for (unsigned char c : line) EXPECT_LT(c, 0x80) << line; // plain ASCII: the same in any page set
}

} // namespace
} // namespace quillmark
