// The mail tag catalogue: the handler the export run installs on the page producer. It
// gives each of the 52 tag names of the template format its text for the mail being
// exported; names are matched without regard to ASCII letter case.
#pragma once

#include "export/Attachments.h"
#include "export/PageCharset.h"
#include "export/ExportRun.h"
#include "outlook/ObjectModel.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace quillmark {

// The pictures an <#HTMLBody> showed in place (1-based attachment indexes), for <#Images>
// after it on the same page to leave out.
struct HtmlBodyState {
    std::weak_ptr<outlook::MailItem> Mail; // the mail they belong to
    std::vector<int> PicturesShown;
};

// What the handler reads: the run's current mail and folders, and the application's
// identity. The run fills it before each page.
struct MailTagContext {
    std::shared_ptr<outlook::MailItem> CurrentMailItem;
    std::string ExportRoot;     // the root as typed
    std::string AttachmentsDir; // the attachments name as typed
    std::string YearDir;        // root + year, no trailing delimiter
    int PageDepth = 1;          // folders between the root and the page (its year's among them)
    AppIdentity Identity;
    AttachmentCounts* Attachments = nullptr; // optional counters
    AttachmentCounts* Pictures = nullptr;
    SavedFileIndex* SavedFiles = nullptr; // optional, run-scoped
    // Optional: attachments that could not be saved are added here (the run then holds the
    // page back); without it they are left out of the page unreported.
    std::vector<AttachmentFailure>* AttachmentFailures = nullptr;
    // Optional: every file the attachment tags link is added here.
    std::vector<SavedAttachment>* SavedAttachments = nullptr;
    // The set the template declares: every value a tag gives is put into it.
    PageCharset Charset = PageCharset::Windows1252;
    // What <#HTMLBody> has shown of the current mail, for the tags after it on the page.
    std::shared_ptr<HtmlBodyState> HtmlBody = std::make_shared<HtmlBodyState>();
    // The archive's script is in the page already: the first navigation tag of a page brings
    // it, the others leave it out. The run clears it before each page.
    std::shared_ptr<bool> ArchiveScriptInPage = std::make_shared<bool>(false);
};

enum class MailTagKind {
    AppVer,
    AppName,
    AppComments,
    DateTime,
    Attachments,
    Images,
    DateTimes,
    Size,
    SizeKB,
    Text,
    Date,
    Bool,
};

struct MailTagEntry {
    const char* Name; // lower case
    MailTagKind Kind;
    outlook::DispId Id; // the property read; 0 where the kind needs none
};

// The catalogue in its comparison order.
const std::array<MailTagEntry, 52>& MailTagCatalogue();

// Tags beyond the 52, for templates that show a mail as its sender wrote it:
//   HTMLBody               the HTML body, sanitised (text/HtmlSanitizer.h); a plain-text mail's
//                          body as HTML with its links and quoted lines; pictures named by
//                          "cid:" saved into attsimgs and shown in place; pictures from the
//                          web held back behind a "Show remote pictures" button. Markup:
//                          for element content only, never inside an attribute value
//   ContentSecurityPolicy  a <meta> for the page's head that forbids script in the page but
//                          the archive's own script files (put it first in the head)
//   SenderEmailAddress     the sender's address
//   ToEmailAddresses, CCEmailAddresses, BCCEmailAddresses   the recipients' addresses, "; "
//   SentOnHeader           the Date header as the mail carries it (the sender's clock)
// The sent and received times as dates remain <#SentOn> and <#ReceivedTime>.
const std::vector<const char*>& MailTagExtraNames();
// True for a name the handler knows (the 52 and those above), in any letter case.
bool IsMailTagName(const std::string& name);

// The script file a page with held-back pictures loads, relative to the export root; its
// text.
extern const char* const RemotePicturesScriptName;
std::string RemotePicturesScript();

// The handler. tagString is the name as written in the template. Unknown names give the
// error text "<BIG>[E R R O R - tag not found <B>#Name</B>]</BIG>" with the template's
// letter case; a property the store refuses raises and ends the page.
void PPMailHTMLTag(const MailTagContext& context, const std::string& tagString, std::vector<std::string>& tagParams,
                   std::string& replaceText);

// Value formatters. Every text that ends up in a page is HTML-escaped here.
std::string FormatTextValue(const std::string& value, const std::vector<std::string>& params);
std::string FormatDateValue(double value, const std::vector<std::string>& params);
std::string FormatBoolValue(outlook::AutomationBool value, const std::vector<std::string>& params);
std::string FormatIntValue(std::int32_t value, const std::vector<std::string>& params);

} // namespace quillmark
