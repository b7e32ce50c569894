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

// What the handler reads: the run's current mail and folders, and the application's
// identity. The run fills it before each page.
struct MailTagContext {
    std::shared_ptr<outlook::MailItem> CurrentMailItem;
    std::string ExportRoot;     // the root as typed
    std::string AttachmentsDir; // the attachments name as typed
    std::string YearDir;        // root + year, no trailing delimiter
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
