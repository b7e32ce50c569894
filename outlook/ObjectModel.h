// The mail-store object model: the part of Outlook's automation model the archiver uses,
// as our own small interface. Backends (Outlook through COM, .pst files, mailboxes) implement
// it; the folder tree, the export run and the tag catalogue use nothing else.
//
// Collections are 1-based like Outlook's. Identifiers are opaque wide strings handed back
// unchanged. Objects are shared like COM references: an item stays valid while held, even
// when its collection has been let go. Every failing call throws EStoreError (or a class
// derived from it) carrying the store's own message.
#pragma once

#include "platform/Exceptions.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmark::outlook {

using WideString = std::u16string;
using DispId = std::int32_t;

// An automation boolean: 16 bits, all set (-1) for true, 0 for false.
using AutomationBool = std::int16_t;
constexpr AutomationBool VariantTrue = -1;
constexpr AutomationBool VariantFalse = 0;

// A date value: days since 1899-12-30, the time of day as the fraction. Outlook gives a
// value above this for "no date" (4501-01-01 = 949998.0).
constexpr double AbsentDateThreshold = 900000.0;
constexpr double OutlookNoDate = 949998.0;

// Property identifiers of the mail item (Outlook's DispIDs).
namespace dispid {
// text
constexpr DispId BillingInformation = 0x8535;
constexpr DispId Body = 0x9100;
constexpr DispId Categories = 0x9001;
constexpr DispId Companies = 0x853B;
constexpr DispId EntryID = 0xF01E;
constexpr DispId MessageClass = 0x1A;
constexpr DispId Mileage = 0x8534;
constexpr DispId OutlookInternalVersion = 0x8552;
constexpr DispId OutlookVersion = 0x8554;
constexpr DispId Subject = 0x37;
constexpr DispId BCC = 0xE02;
constexpr DispId CC = 0xE03;
constexpr DispId ConversationTopic = 0x70;
constexpr DispId FlagRequest = 0x8530;
constexpr DispId ReceivedByName = 0x40;
constexpr DispId ReceivedOnBehalfOfName = 0x44;
constexpr DispId ReminderSoundFile = 0x851F;
constexpr DispId ReplyRecipientNames = 0x50;
constexpr DispId SenderName = 0xC1A;
constexpr DispId SentOnBehalfOfName = 0x42;
constexpr DispId To = 0xE04;
constexpr DispId VotingOptions = 0xF01B;
constexpr DispId VotingResponse = 0x8524;
// The mail's Message-ID header as the store keeps it (MAPI's PR_INTERNET_MESSAGE_ID; Outlook
// shows it through its property accessor, not as a member). Stores without it give "".
constexpr DispId InternetMessageID = 0x1035;
// The mail's In-Reply-To and References headers, where the store keeps them.
constexpr DispId InReplyToID = 0x1042;
constexpr DispId InternetReferences = 0x1039;
// The mail as its sender wrote it, as Outlook names these members: the HTML body ("" for a
// plain-text mail) and the sender's address.
constexpr DispId HTMLBody = 0xF404;
constexpr DispId SenderEmailAddress = 0xC1F;
// Our own, for what Outlook gives only through objects of its own (the Recipients
// collection, the transport headers): the recipients' addresses joined by "; ", and the
// Date header as the mail carries it (the sender's clock and zone). Numbers no Outlook member
// uses; stores without the value give "".
constexpr DispId ToEmailAddresses = 0x7F000001;
constexpr DispId CCEmailAddresses = 0x7F000002;
constexpr DispId BCCEmailAddresses = 0x7F000003;
constexpr DispId SentOnHeader = 0x7F000004;
constexpr DispId FirstPrivateDispId = 0x7F000000;
// date-time
constexpr DispId CreationTime = 0x3007;
constexpr DispId LastModificationTime = 0x3008;
constexpr DispId DeferredDeliveryTime = 0xF;
constexpr DispId ExpiryTime = 0x15;
constexpr DispId FlagDueBy = 0x30;
constexpr DispId ReceivedTime = 0xE06;
constexpr DispId ReminderTime = 0x8502;
constexpr DispId SentOn = 0x39;
// boolean
constexpr DispId NoAging = 0x850E;
constexpr DispId Saved = 0xF0A3;
constexpr DispId UnRead = 0xF01C;
constexpr DispId AlternateRecipientAllowed = 0x2;
constexpr DispId AutoForwarded = 0x5;
constexpr DispId DeleteAfterSubmit = 0xE01;
constexpr DispId OriginatorDeliveryReportRequested = 0x23;
constexpr DispId ReadReceiptRequested = 0x29;
constexpr DispId RecipientReassignmentProhibited = 0x2B;
constexpr DispId ReminderOverrideDefault = 0x851C;
constexpr DispId ReminderPlaySound = 0x851E;
constexpr DispId ReminderSet = 0x8503;
// integer
constexpr DispId Size = 0xE08;
// collections and members of other objects
constexpr DispId Attachments = 0xF815;
constexpr DispId GetNamespace = 0x110;
constexpr DispId Logon = 0x2105;
constexpr DispId Logoff = 0x2106;
constexpr DispId Folders = 0x2103;
constexpr DispId GetFolderFromID = 0x2108;
constexpr DispId Items = 0x3100;
constexpr DispId Count = 0x50;
constexpr DispId Item = 0x51;
constexpr DispId FileName = 0x3704;
constexpr DispId SaveAsFile = 0x68;
} // namespace dispid

class Attachment {
public:
    virtual ~Attachment() = default;
    virtual WideString FileName() = 0;
    // Writes the attachment's bytes to path (an 8-bit ANSI path; see platform::NativePath).
    virtual void SaveAsFile(const std::string& path) = 0;
    // The attachment's bytes, when the store holds them in memory anyway (a mail read from a
    // file): the export then compares them with the files saved before and writes them once,
    // without a trip through a temporary file. Valid while this object lives. Nothing: use
    // SaveAsFile. Throws like SaveAsFile when the store cannot give them.
    virtual std::optional<std::string_view> Content() { return std::nullopt; }
    // The part's Content-ID without its angle brackets ("" when it has none): an HTML body
    // shows the part in place through a "cid:" address.
    virtual std::string ContentId() { return {}; }
};

class AttachmentCollection {
public:
    virtual ~AttachmentCollection() = default;
    virtual int Count() = 0;
    virtual std::shared_ptr<Attachment> Item(int index) = 0; // 1-based
};

// The mail-item interface (_DMailItem). Properties are read by DispID; a DispID the store
// has no value for gives the empty text, date 0, false or 0.
class MailItem {
public:
    virtual ~MailItem() = default;
    virtual WideString GetText(DispId id) = 0;
    virtual double GetDate(DispId id) = 0;
    virtual AutomationBool GetBool(DispId id) = 0;
    virtual std::int32_t GetInt(DispId id) = 0;
    virtual std::shared_ptr<AttachmentCollection> Attachments() = 0;
};

// Any item of a folder: mail, appointment, contact, ...
class ItemObject {
public:
    virtual ~ItemObject() = default;
    // The mail-item interface, or null when the item does not offer it.
    virtual std::shared_ptr<MailItem> QueryMailItem() = 0;
};

class ItemCollection {
public:
    virtual ~ItemCollection() = default;
    virtual int Count() = 0;
    virtual std::shared_ptr<ItemObject> Item(int index) = 0; // 1-based
    // The EntryID item index (1-based) will have, when the store knows it without reading
    // the mail (an mbox's offsets, a Maildir's file names); empty when it does not. Lets an
    // incremental run pass over the mails it holds already without reading them.
    virtual WideString EntryIdOf(int /*index*/) { return {}; }
};

class FolderCollection;

class Folder {
public:
    virtual ~Folder() = default;
    virtual WideString Name() = 0;
    virtual WideString EntryID() = 0;
    virtual WideString StoreID() = 0;
    virtual std::shared_ptr<FolderCollection> Folders() = 0;
    virtual std::shared_ptr<ItemCollection> Items() = 0;
};

class FolderCollection {
public:
    virtual ~FolderCollection() = default;
    virtual int Count() = 0;
    virtual std::shared_ptr<Folder> Item(int index) = 0; // 1-based
};

// A problem the store met but could read past (a malformed message, an unknown charset):
// the item still appears; the front end may show the warning.
using WarningHandler = std::function<void(const std::string& message)>;

class NameSpace {
public:
    virtual ~NameSpace() = default;
    // Profile and password omitted, no dialog, no new session.
    virtual void Logon() = 0;
    virtual void Logoff() = 0;
    // The stores' top folders.
    virtual std::shared_ptr<FolderCollection> Folders() = 0;
    virtual std::shared_ptr<Folder> GetFolderFromID(const WideString& entryId, const WideString& storeId) = 0;
};

class Application {
public:
    virtual ~Application() = default;
    // Only "MAPI" is known; anything else throws.
    virtual std::shared_ptr<NameSpace> GetNamespace(const std::string& type) = 0;
    // Let the application go without asking it to quit.
    virtual void Disconnect() = 0;
    virtual void SetWarningHandler(WarningHandler handler) = 0;
};

} // namespace quillmark::outlook
