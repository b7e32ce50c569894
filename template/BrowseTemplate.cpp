#include "template/BrowseTemplate.h"

namespace quillmark {

std::vector<std::string> BrowseTemplateLines() {
    return {
        "<!DOCTYPE html>",
        "<html lang=\"en\">",
        "<head>",
        "<meta charset=\"utf-8\">",
        // No script but the archive's own files: the mail's HTML cannot run anything.
        "<#ContentSecurityPolicy>",
        "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">",
        "<meta name=\"generator\" content=\"<#AppName> v<#AppVer>\">",
        "<title><#Subject></title>",
        // The pages sit in the year folders, below the root or below a subfolder's place.
        "<link rel=\"stylesheet\" href=\"<#ArchiveRoot>_archive/assets/archive.css\">",
        "<style>",
        " .mailnav { display: flex; flex-wrap: wrap; gap: .3rem 1rem; margin: .6rem 0; }",
        " .head th { width: 6rem; color: #667; font-weight: normal; }",
        " .head td, .head th { border: 0; padding: .15rem .5rem .15rem 0; }",
        " .head small { color: #667; }",
        " .head tr:has(td:empty) { display: none; }", // a row closed right after its value: no Cc, no row
        " .body { overflow-wrap: anywhere; line-height: 1.5; margin-top: .8rem;"
        " background: #fafafc; border: 1px solid #e4e4ec; border-radius: 6px; padding: .8rem; overflow-x: auto; }",
        " .body blockquote { margin: .3rem 0 .3rem .4rem; padding-left: .8rem; border-left: 3px solid #c8c8d8; color: #445; }",
        " .atts:not(:has(a)), .thread:not(:has(li)) { display: none; }",
        " .atts a { margin-right: 1rem; }",
        " img { max-width: 100%; height: auto; }",
        "</style>",
        "</head>",
        "<body>",
        "<header class=\"bar\"><a class=\"home\" href=\"<#ArchiveIndex>\">Mail archive</a>",
        "<nav class=\"mailnav\"><#PrevByDate> <#NextByDate> <#PrevInThread> <#NextInThread></nav></header>",
        "<main>",
        "<h1><#Subject></h1>",
        "<table class=\"head\">",
        "<tr><th>From<td><#SenderName> <small><#SenderEmailAddress></small>",
        "<tr><th>To<td title=\"<#ToEmailAddresses>\"><#To></td></tr>",
        "<tr><th>Cc<td title=\"<#CCEmailAddresses>\"><#CC></td></tr>",
        "<tr><th>Sent<td><#SentOnHeader></td></tr>",
        "<tr><th>Received<td><#ReceivedTime> <small>(<#SizeKB>)</small>",
        "</table>",
        "<div class=\"body\"><#HTMLBody></div>",
        "<section class=\"atts\"><h2>Attachments</h2><#Attachments></section>",
        "<#Images>",
        "<section class=\"thread\"><h2>Thread</h2><#Thread></section>",
        "</main>",
        "</body>",
        "</html>",
    };
}

std::string BrowseTemplateText() {
    std::string text;
    for (const std::string& line : BrowseTemplateLines()) {
        text += line;
        text += "\r\n";
    }
    return text;
}

} // namespace quillmark
