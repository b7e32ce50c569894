#include "template/DefaultTemplate.h"

#include "platform/Exceptions.h"
#include "platform/FileSystem.h"

namespace quillmark {

std::vector<std::string> DefaultTemplateLines() {
    return {
        "<HTML>",
        "<HEAD>",
        " <META http-equiv=\"Content-Type\" content=\"text/html; charset=ISO-8859-1\">",
        " <META name=\"generator\" content=\"<#AppName> v<#AppVer> (<#DateTime>)\">",
        " <META name=\"author\" content=\"<#SenderName>\">",
        " <META name=\"created\" content=\"<#CreationTime>\">",
        "",
        " <TITLE><#Subject></TITLE>",
        "",
        " <STYLE>",
        "  BODY { font-family: sans-serif; margin 1em }",
        "  A { color: gray }",
        "  H2 { border-bottom: solid 2px black }",
        "  H3 { border-top: solid 1px gray }",
        "  TH { text-align: left }",
        "  TT { font-family: \"Lucida Console\",Verdana,Sans-serif }",
        " </STYLE>",
        "</HEAD>",
        "",
        "<BODY>",
        "<H2><#Subject></H2>",
        "<TABLE>",
        "<TR valign=top><TH>Fr\xE5n:<TD><#SenderName>",
        "<TR valign=top><TH>Till:<TD><#To>",
        "<TR valign=top><TH>Skickat:<TD><#ReceivedTime> &nbsp; &nbsp; <SMALL>(<#SizeKB>)</SMALL>",
        "</TABLE>",
        "<PRE style=\"max-width:600px; white-space:pre-wrap; white-space:-moz-pre-wrap !important; "
        "word-wrap:break-word\">",
        "<#Body>",
        "</PRE>",
        "",
        "<H3>Bilagor</H3>",
        "<TT><#Attachments></TT>",
        "<#Images>",
        "",
        "<PRE style=\"padding:4px 0 0 0; margin:12px 0 0 0; font-size:70%; color:silver; border-top:solid 1px "
        "silver\">",
        "EntryID=<#EntryID>",
        "Datetimes=<#DateTimes>",
        "</PRE>",
        "</BODY>",
        "</HTML>",
    };
}

std::string DefaultTemplateText() {
    std::string text;
    for (const std::string& line : DefaultTemplateLines()) {
        text += line;
        text += "\r\n";
    }
    return text;
}

void WriteDefaultTemplate(const std::string& path) {
    // An empty path or a directory can never become the file; say so before touching the disk.
    if (path.empty() || platform::IsDirectoryPath(path)) throw EFCreateError("Cannot create file " + path);
    // Written to a temporary name and renamed into place. Nobody overwrites an existing
    // template, so a half-written one left behind by a failed write would stay in use for good;
    // this way a failure leaves no file and the next start writes the template again.
    try {
        platform::AtomicWriteOptions durable;
        durable.Durable = true;
        platform::WriteFileAtomic(path, DefaultTemplateText(), durable);
    } catch (const EFCreateError&) {
        throw EFCreateError("Cannot create file " + path);
    } catch (const EWriteError&) {
        throw EWriteError("Stream write error");
    }
}

} // namespace quillmark
