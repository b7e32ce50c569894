// One mail read from a mailbox: the raw message parsed with GMime and its properties mapped
// onto the mail-item properties of the object model.
//
// Property mapping (what each DispID gives; "store time" is the item's own time in the
// store: the file's last-write time for Maildir and .eml, the "From " line's date in an
// mbox, else the mbox file's last-write time):
//
// | property               | from the message                                                    |
// |------------------------|---------------------------------------------------------------------|
// | Subject                | the first Subject, RFC 2047 decoded (see HeaderText.h)              |
// | Body                   | first non-empty text/plain part that is not an attachment, decoded  |
// |                        | by its charset (unlabelled 8-bit text: guessed, else Windows-1252); |
// |                        | else the first text/html part as text; else a lone text part of     |
// |                        | another subtype; line ends made CR LF                               |
// | SenderName             | the first From (else Sender): display names, else addresses; when   |
// |                        | neither parses, the words before the address, else the raw text     |
// | To / CC / BCC          | display names (else addresses) joined by "; ", groups expanded      |
// | ReplyRecipientNames    | Reply-To the same way                                               |
// | SenderEmailAddress     | the first address of From (else Sender)                             |
// | To/CC/BCCEmailAddresses| the addresses alone, joined by "; "                                 |
// | HTMLBody               | the body when it is HTML, else its text/html twin of the same       |
// |                        | alternative, decoded by its charset; else ""                        |
// | SentOnHeader           | the first Date header as written, unfolded and trimmed              |
// | ReceivedTime           | newest Received header with a date; else Delivery-Date; else the    |
// |                        | mbox "From " line; else 949998.0 (Outlook's "none", 4501-01-01)    |
// | SentOn                 | the first Date (MailDate.h); else, or when it is no date, 949998.0  |
// | CreationTime,          | store time                                                          |
// | LastModificationTime   |                                                                     |
// | Size                   | raw message bytes (capped at 2^31-1)                                |
// | EntryID                | the item's key in its folder (see MailboxStore)                     |
// | MessageClass           | "IPM.Note"                                                          |
// | ConversationTopic      | Subject without leading Re:/Fw:/Fwd:/AW:/WG:/SV:/VS: prefixes       |
// | Categories             | Keywords, items joined by ", "                                      |
// | InternetMessageID,     | the first Message-ID / In-Reply-To / References header as written,  |
// | InReplyToID,           | unfolded, without surrounding blanks                                |
// | InternetReferences     |                                                                     |
// | UnRead                 | Maildir: no "S" flag; mbox: Status without "R" or X-Mozilla-Status  |
// |                        | without the read bit; no flags at all: read                         |
// | ReadReceiptRequested   | Disposition-Notification-To or Return-Receipt-To present            |
// | everything else        | empty text, date 0, false, 0                                        |
//
// All dates are local date values (the zone of each header is honoured, then the user's).
//
// Header blocks are mended first (HeaderRepair.h): a header is capped at 1 MiB, the first
// Content-Type counts, an invalid one is text/plain.
//
// Attachments: every leaf part except the body, the other text versions of the body in the
// same multipart/alternative, the signature of a multipart/signed and nameless parts with
// nothing in them; an attached message (message/rfc822) is one attachment named after its
// subject with ".eml", a piece of a message/partial "<subject> (part N of M).eml". The files
// inside a winmail.dat follow it as attachments of their own. Names come from
// Content-Disposition / Content-Type (RFC 2231 and RFC 2047 decoded); directory parts of a
// name are dropped; a nameless part is called "attachment<N>" with an extension from its
// content type.
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
