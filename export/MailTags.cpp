#include "export/MailTags.h"

#include "SrcLib/DateTime.h"
#ifdef QUILLMARK_HAVE_ARCHIVE
#include "archive/ArchiveLinks.h"
#endif
#include "SrcLib/uLib.h"
#include "export/HtmlText.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#include <cstdint>

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
                                            context.SavedAttachments)
                          : std::string();
    }
    case K::Images: {
        auto collection = mail.Attachments();
        return collection
                   ? SaveInlineImages(*collection, tagParams, context.YearDir, context.Pictures, context.SavedFiles,
                                      context.AttachmentFailures, context.SavedAttachments)
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

} // namespace

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
#ifdef QUILLMARK_HAVE_ARCHIVE
    // The archive's navigation: not mail values, so outside the catalogue. The pages are
    // one folder (the year's) below the root.
    ArchiveLink link;
    if (!entry && ArchiveLinkFromTag(name, link)) {
        replaceText = ArchiveLinkMarkup(link, 1, tagParams.empty() ? std::string() : tagParams.front(), true);
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
