#include "template/BrowseTemplate.h"

namespace quillmark {

std::vector<std::string> BrowseTemplateLines() {
    return {
        "<!DOCTYPE html>",
        "<html lang=\"en\">",
        "<head>",
        "<meta charset=\"utf-8\">",
        "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">",
        "<meta name=\"generator\" content=\"<#AppName> v<#AppVer>\">",
        "<title><#Subject></title>",
        // The pages sit in the year folders, one below the root.
        "<link rel=\"stylesheet\" href=\"../_archive/assets/archive.css\">",
        "<style>",
        " .mailnav { display: flex; flex-wrap: wrap; gap: .3rem 1rem; margin: .6rem 0; }",
        " .head th { width: 6rem; color: #667; font-weight: normal; }",
        " .head td, .head th { border: 0; padding: .15rem .5rem .15rem 0; }",
        " .body { white-space: pre-wrap; word-wrap: break-word; font: .95rem/1.5 ui-monospace, Consolas, monospace;"
        " background: #fafafc; border: 1px solid #e4e4ec; border-radius: 6px; padding: .8rem; }",
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
        "<tr><th>From<td><#SenderName>",
        "<tr><th>To<td><#To>",
        "<tr><th>Cc<td><#CC>",
        "<tr><th>Date<td><#ReceivedTime> <small>(<#SizeKB>)</small>",
        "</table>",
        "<pre class=\"body\"><#Body></pre>",
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
