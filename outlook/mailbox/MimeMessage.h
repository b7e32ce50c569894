// One mail read from a mailbox: the raw message parsed with GMime and its properties mapped
// onto the mail-item properties of the object model.
//
// Property mapping (what each DispID gives; "store time" is the item's own time in the
// store: the file's last-write time for Maildir and .eml, the "From " line's date in an
// mbox, else the mbox file's last-write time):
//
// | property               | from the message                                                    |
// |------------------------|---------------------------------------------------------------------|
// | Subject                | Subject, RFC 2047 decoded                                           |
// | Body                   | first text/plain part that is not an attachment, decoded by its     |
// |                        | charset; else the first text/html part with its tags stripped;     |
// |                        | line ends made CR LF                                                |
// | SenderName             | From (else Sender): display name, else the address                  |
// | To / CC / BCC          | display names (else addresses) joined by "; ", groups expanded      |
// | ReplyRecipientNames    | Reply-To the same way                                               |
// | ReceivedTime           | newest Received header with a date; else Delivery-Date; else the   |
// |                        | mbox "From " line; else 949998.0 (Outlook's "none", 4501-01-01)    |
// | SentOn                 | Date; else 949998.0                                                 |
// | CreationTime,          | store time                                                          |
// | LastModificationTime   |                                                                     |
// | Size                   | raw message bytes (capped at 2^31-1)                                |
// | EntryID                | the item's key in its folder (see MailboxStore)                     |
// | MessageClass           | "IPM.Note"                                                          |
// | ConversationTopic      | Subject without leading Re:/Fw:/Fwd:/AW:/WG:/SV:/VS: prefixes       |
// | Categories             | Keywords, items joined by ", "                                      |
// | UnRead                 | Maildir: no "S" flag; mbox: Status without "R" or X-Mozilla-Status  |
// |                        | without the read bit; no flags at all: read                         |
// | ReadReceiptRequested   | Disposition-Notification-To or Return-Receipt-To present            |
// | everything else        | empty text, date 0, false, 0                                        |
//
// All dates are local date values (the zone of each header is honoured, then the user's).
//
// Attachments: every leaf part except the body and the other text versions of the body in
// the same multipart/alternative; an attached message (message/rfc822) is one attachment
// named after its subject with ".eml". Names come from Content-Disposition / Content-Type
// (RFC 2231 and RFC 2047 decoded); directory parts of a name are dropped; a nameless part
// is called "attachment<N>" with an extension from its content type.
#pragma once

#include "outlook/ObjectModel.h"
#include "outlook/Store.h"

#include <memory>
#include <string>
#include <string_view>

namespace quillmark::outlook::mailbox {

enum class ReadFlag { Unknown, Read, Unread };

struct ItemMeta {
    std::string EntryId;       // the key of the item in its folder (bytes)
    double StoreTimeUtc = 0.0; // the item's time in the store, UTC; 0 when unknown
    double FromLineUtc = 0.0;  // mbox only: the "From " line's date, UTC
    ReadFlag Flag = ReadFlag::Unknown; // from the store (Maildir flags); Unknown: read the headers
    std::string Where;         // for warnings: "Inbox, mail 3"
};

// Parses one raw message. Never throws on bad input: what cannot be read is reported to
// warnings and left empty.
std::shared_ptr<MailItem> ParseMailItem(std::string raw, ItemMeta meta, std::shared_ptr<WarningSink> warnings);

// Helpers, exposed for tests.
std::string ToCrLf(std::string_view text);       // every CR, LF and CR LF becomes CR LF
std::string StripSubjectPrefixes(std::string_view subject);

} // namespace quillmark::outlook::mailbox
