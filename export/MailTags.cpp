#include "export/MailTags.h"

#include "SrcLib/DateTime.h"
#ifdef QUILLMARK_HAVE_ARCHIVE
#include "archive/ArchiveLinks.h"
#endif
#include "SrcLib/uLib.h"
#include "export/HtmlText.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#include "text/HtmlSanitizer.h"

#include <cstdint>
#include <map>

namespace quillmark {

namespace d = outlook::dispid;
using K = MailTagKind;

const std::array<MailTagEntry, 52>& MailTagCatalogue() {
    static const std::array<MailTagEntry, 52> catalogue{{
        {"appver", K::AppVer, 0},
        {"appname", K::AppName, 0},
        {"appcomments", K::AppComments, 0},
        {"datetime", K::DateTime, 0},
        {"attachments", K::Attachments, d::Attachments},
        {"images", K::Images, d::Attachments},
        {"billinginformation", K::Text, d::BillingInformation},
        {"body", K::Text, d::Body},
        {"datetimes", K::DateTimes, d::ReceivedTime},
        {"categories", K::Text, d::Categories},
        {"companies", K::Text, d::Companies},
        {"entryid", K::Text, d::EntryID},
        {"messageclass", K::Text, d::MessageClass},
        {"mileage", K::Text, d::Mileage},
        {"outlookinternalversion", K::Text, d::OutlookInternalVersion},
        {"outlookversion", K::Text, d::OutlookVersion},
        {"subject", K::Text, d::Subject},
        {"bcc", K::Text, d::BCC},
        {"cc", K::Text, d::CC},
        {"conversationtopic", K::Text, d::ConversationTopic},
        {"flagrequest", K::Text, d::FlagRequest},
        {"receivedbyname", K::Text, d::ReceivedByName},
        {"receivedonbehalfofname", K::Text, d::ReceivedOnBehalfOfName},
        {"remindersoundfile", K::Text, d::ReminderSoundFile},
        {"replyrecipientnames", K::Text, d::ReplyRecipientNames},
        {"sendername", K::Text, d::SenderName},
        {"sentonbehalfofname", K::Text, d::SentOnBehalfOfName},
        {"to", K::Text, d::To},
        {"votingoptions", K::Text, d::VotingOptions},
        {"votingresponse", K::Text, d::VotingResponse},
        {"creationtime", K::Date, d::CreationTime},
        {"lastmodificationtime", K::Date, d::LastModificationTime},
        {"deferreddeliverytime", K::Date, d::DeferredDeliveryTime},
        {"expirytime", K::Date, d::ExpiryTime},
        {"flagdueby", K::Date, d::FlagDueBy},
        {"receivedtime", K::Date, d::ReceivedTime},
        {"remindertime", K::Date, d::ReminderTime},
        {"senton", K::Date, d::SentOn},
        {"noaging", K::Bool, d::NoAging},
        {"saved", K::Bool, d::Saved},
        {"unread", K::Bool, d::UnRead},
        {"alternaterecipientallowed", K::Bool, d::AlternateRecipientAllowed},
        {"autoforwarded", K::Bool, d::AutoForwarded},
        {"deleteaftersubmit", K::Bool, d::DeleteAfterSubmit},
        {"originatordeliveryreportrequested", K::Bool, d::OriginatorDeliveryReportRequested},
        {"readreceiptrequested", K::Bool, d::ReadReceiptRequested},
        {"recipientreassignmentprohibited", K::Bool, d::RecipientReassignmentProhibited},
        {"reminderoverridedefault", K::Bool, d::ReminderOverrideDefault},
        {"reminderplaysound", K::Bool, d::ReminderPlaySound},
        {"reminderset", K::Bool, d::ReminderSet},
        {"size", K::Size, d::Size},
        {"sizekb", K::SizeKB, d::Size},
    }};
    return catalogue;
}

std::string FormatTextValue(const std::string& value, const std::vector<std::string>& /*params*/) {
    return HtmlEscape(value);
}

std::string FormatDateValue(double value, const std::vector<std::string>& /*params*/) {
    // Regional month and day names are outside text too; escaping costs nothing here.
    return HtmlEscape(DateTimeToText(value));
}

std::string FormatBoolValue(outlook::AutomationBool value, const std::vector<std::string>& /*params*/) {
    return std::to_string(static_cast<std::uint16_t>(value));
}

std::string FormatIntValue(std::int32_t value, const std::vector<std::string>& /*params*/) {
    return std::to_string(value);
}

namespace {

// The value of a known tag as UTF-8 text, escaped for HTML.
std::string TagValue(const MailTagContext& context, const MailTagEntry& entry, const std::string& tagString,
                     std::vector<std::string>& tagParams) {
    // The application tags need no mail; every other tag reads the current mail item.
    switch (entry.Kind) {
    case K::AppVer: return FormatTextValue(context.Identity.FileVersion, tagParams);
    case K::AppName: return FormatTextValue(context.Identity.ExecutableBaseName, tagParams);
    case K::AppComments: return FormatTextValue(context.Identity.Comments, tagParams);
    case K::DateTime: return FormatDateValue(platform::NowLocal(), tagParams);
    default: break;
    }
    if (!context.CurrentMailItem) throw Exception("No mail item to read the tag " + tagString + " from");
    outlook::MailItem& mail = *context.CurrentMailItem;

    switch (entry.Kind) {
    case K::Attachments: {
        auto collection = mail.Attachments();
        return collection ? SaveAttachments(*collection, tagParams, context.ExportRoot, context.AttachmentsDir,
                                            context.Attachments, context.SavedFiles, context.AttachmentFailures,
                                            context.SavedAttachments, context.PageDepth)
                          : std::string();
    }
    case K::Images: {
        auto collection = mail.Attachments();
        // Pictures an <#HTMLBody> before this tag showed in place are not listed again.
        const HtmlBodyState* shown =
            context.HtmlBody && context.HtmlBody->Mail.lock() == context.CurrentMailItem ? context.HtmlBody.get() : nullptr;
        return collection
                   ? SaveInlineImages(*collection, tagParams, context.YearDir, context.Pictures, context.SavedFiles,
                                      context.AttachmentFailures, context.SavedAttachments,
                                      shown ? &shown->PicturesShown : nullptr)
                   : std::string();
    }
    case K::DateTimes: {
        double value = mail.GetDate(d::ReceivedTime);
        if (value > outlook::AbsentDateThreshold) value = mail.GetDate(d::CreationTime);
        return HtmlEscape(FormatDateTime("yyyymm yyyymmdd mmm mmmm ddd dddd", value));
    }
    case K::Size: return FormatIntValue(mail.GetInt(d::Size), tagParams);
    case K::SizeKB: return HtmlEscape(FormatByteSize(static_cast<std::int64_t>(mail.GetInt(d::Size))));
    case K::Text: return FormatTextValue(platform::Utf8FromUtf16(mail.GetText(entry.Id)), tagParams);
    case K::Date: return FormatDateValue(mail.GetDate(entry.Id), tagParams);
    case K::Bool: return FormatBoolValue(mail.GetBool(entry.Id), tagParams);
    default: return {};
    }
}

// ---------------------------------------------------------------------------------------
// The tags beyond the 52: the mail as its sender wrote it.

const char* const kRemotePicturesScript = R"js(// Quillmark: shows the pictures from the web that a mail's page holds back, when asked.
(function () {
  'use strict';
  function show() {
    var pictures = document.querySelectorAll('img[data-remote-src]');
    for (var i = 0; i < pictures.length; i++) {
      var url = pictures[i].getAttribute('data-remote-src');
      if (/^https?:\/\//i.test(url)) pictures[i].setAttribute('src', url);
      pictures[i].removeAttribute('data-remote-src');
    }
    var notes = document.querySelectorAll('.qm-remote-note');
    for (var k = 0; k < notes.length; k++) notes[k].hidden = true;
  }
  var buttons = document.querySelectorAll('button[data-qm-show-remote]');
  for (var j = 0; j < buttons.length; j++) {
    buttons[j].hidden = false;
    buttons[j].addEventListener('click', show);
  }
})();
)js";

// The page's policy: no script but the archive's own files, no plug-ins, frames or forms;
// pictures from the file system, from data: addresses and, once asked for, from the web.
const char* const kContentSecurityPolicy =
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; script-src 'self'; "
    "style-src 'self' 'unsafe-inline'; img-src 'self' data: http: https:; font-src 'self' data:; "
    "object-src 'none'; frame-src 'none'; base-uri 'none'; form-action 'none'\">";

#ifdef QUILLMARK_HAVE_HTML_SANITIZER
// The script beside the pages, written when a page first needs it and again when its text
// is not ours (an older version, a damaged file).
void EnsureRemotePicturesScript(const MailTagContext& context) {
    const std::string path = IncludeTrailingPathDelimiter(context.ExportRoot) + RemotePicturesScriptName;
    const std::string text = RemotePicturesScript();
    const auto info = platform::GetFileInfo(path);
    if (info && !info->IsDirectory && info->Size == static_cast<std::int64_t>(text.size())) return;
    platform::WriteFileAtomic(path, text);
}
#endif

std::string HtmlBodyValue(const MailTagContext& context, outlook::MailItem& mail) {
    const std::string html = platform::Utf8FromUtf16(mail.GetText(d::HTMLBody));
    context.HtmlBody->Mail = context.CurrentMailItem;
    context.HtmlBody->PicturesShown.clear();
#ifdef QUILLMARK_HAVE_HTML_SANITIZER
    if (!html.empty()) {
        std::shared_ptr<outlook::AttachmentCollection> attachments;
        std::map<std::string, std::optional<std::string>> resolved;
        text::HtmlSanitizeOptions options;
        options.ResolveCid = [&](std::string_view id) -> std::optional<std::string> {
            const std::string key(id);
            if (auto it = resolved.find(key); it != resolved.end()) return it->second;
            if (!attachments) attachments = mail.Attachments();
            std::optional<std::string> url;
            if (attachments) {
                auto urls = SaveContentIdPictures(*attachments, {key}, context.YearDir, context.HtmlBody->PicturesShown,
                                                  context.Pictures, context.SavedFiles, context.AttachmentFailures,
                                                  context.SavedAttachments);
                if (auto it = urls.find(key); it != urls.end()) url = it->second;
            }
            resolved[key] = url;
            return url;
        };
        text::HtmlSanitizeReport report;
        std::string body = text::SanitizeHtml(html, options, &report);
        std::string out;
        if (report.RemoteImages > 0) {
            EnsureRemotePicturesScript(context);
            out += "<p class=\"qm-remote-note\">Pictures from the web are not shown, so that their sender cannot "
                   "see that the mail was read. <button type=\"button\" data-qm-show-remote hidden>Show remote "
                   "pictures</button></p>";
        }
        out += "<div class=\"qm-mail-html\" style=\"overflow: auto\">";
        out += body;
        out += "</div>";
        if (report.RemoteImages > 0) {
            std::string up;
            for (int i = 0; i < context.PageDepth; ++i) up += "../";
            out += "<script src=\"" + up + RemotePicturesScriptName + "\"></script>";
        }
        return out;
    }
#endif
    (void)html;
    return text::PlainTextToHtml(platform::Utf8FromUtf16(mail.GetText(d::Body)));
}

// The value of a tag beyond the 52; false when name is none of them.
bool ExtraTag(const MailTagContext& context, const std::string& name, const std::string& tagString,
              std::string& replaceText) {
    outlook::DispId textId = 0;
    if (name == "contentsecuritypolicy") {
        replaceText = kContentSecurityPolicy;
        return true;
    }
    if (name == "senderemailaddress") textId = d::SenderEmailAddress;
    else if (name == "toemailaddresses") textId = d::ToEmailAddresses;
    else if (name == "ccemailaddresses") textId = d::CCEmailAddresses;
    else if (name == "bccemailaddresses") textId = d::BCCEmailAddresses;
    else if (name == "sentonheader") textId = d::SentOnHeader;
    else if (name != "htmlbody") return false;
    if (!context.CurrentMailItem) throw Exception("No mail item to read the tag " + tagString + " from");
    outlook::MailItem& mail = *context.CurrentMailItem;
    const std::string value = textId ? HtmlEscape(platform::Utf8FromUtf16(mail.GetText(textId)))
                                     : HtmlBodyValue(context, mail);
    replaceText = InPageCharset(value, context.Charset);
    return true;
}

} // namespace

const std::vector<const char*>& MailTagExtraNames() {
    static const std::vector<const char*> names{"HTMLBody",         "ContentSecurityPolicy", "SenderEmailAddress",
                                                "ToEmailAddresses", "CCEmailAddresses",      "BCCEmailAddresses",
                                                "SentOnHeader"};
    return names;
}

bool IsMailTagName(const std::string& name) {
    std::string lower = name;
    for (auto& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (const auto& e : MailTagCatalogue())
        if (lower == e.Name) return true;
    for (const char* extra : MailTagExtraNames()) {
        std::string known = extra;
        for (auto& c : known)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (lower == known) return true;
    }
#ifdef QUILLMARK_HAVE_ARCHIVE
    ArchiveLink link;
    if (ArchiveLinkFromTag(lower, link)) return true;
#endif
    return false;
}

const char* const RemotePicturesScriptName = "quillmark-remote-pictures.js";

std::string RemotePicturesScript() { return kRemotePicturesScript; }

void PPMailHTMLTag(const MailTagContext& context, const std::string& tagString, std::vector<std::string>& tagParams,
                   std::string& replaceText) {
    std::string name = tagString;
    for (auto& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');

    const MailTagEntry* entry = nullptr;
    for (const auto& e : MailTagCatalogue())
        if (name == e.Name) {
            entry = &e;
            break;
        }
    if (!entry && ExtraTag(context, name, tagString, replaceText)) return;
#ifdef QUILLMARK_HAVE_ARCHIVE
    // The archive's navigation: not mail values, so outside the catalogue. The pages are
    // a year's folder below the root, or below a subfolder's place.
    ArchiveLink link;
    if (!entry && ArchiveLinkFromTag(name, link)) {
        const bool script = ArchiveLinkNeedsScript(link);
        replaceText = ArchiveLinkMarkup(link, context.PageDepth, tagParams.empty() ? std::string() : tagParams.front(),
                                        script && !*context.ArchiveScriptInPage);
        if (script) *context.ArchiveScriptInPage = true;
        return;
    }
#endif
    if (!entry) {
        // The template's own spelling (bytes of the template's set already), escaped so that
        // a stray "<#a<b>" cannot open markup.
        replaceText = "<BIG>[E R R O R - tag not found <B>#" + HtmlEscape(tagString) + "</B>]</BIG>";
        return;
    }
    // Every value is mail text or made from it: into the page's set, nothing lost.
    replaceText = InPageCharset(TagValue(context, *entry, tagString, tagParams), context.Charset);
}

} // namespace quillmark
