#include "outlook/mailbox/MimeMessage.h"

#include "outlook/mailbox/Base64.h"
#include "outlook/mailbox/GMimeSupport.h"
#include "outlook/mailbox/HeaderRepair.h"
#include "outlook/mailbox/HeaderText.h"
#include "outlook/mailbox/MailDate.h"
#include "outlook/mailbox/Tnef.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "text/HtmlText.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cstring>
#include <fstream>
#include <vector>

#ifdef QUILLMARK_HAVE_UCHARDET
#include <uchardet/uchardet.h>
#endif

namespace quillmark::outlook::mailbox {

namespace {

// GMime's own nesting limit stops hostile input first; this one guards our own walk.
constexpr int MaxDepth = 64;

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
    return std::string(s.substr(b, e - b));
}

double LocalOrNone(double utc) { return utc == 0.0 ? OutlookNoDate : platform::UtcToLocal(utc); }

// Bytes of unknown or broken encoding to valid UTF-8: kept when they are UTF-8 already,
// else read as Windows-1252 (what unlabelled 8-bit mail nearly always is).
std::string MakeUtf8(std::string bytes) {
    if (g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr)) return bytes;
    return Utf8OrWindows1252(bytes);
}

WideString Wide(std::string_view utf8) { return platform::Utf16FromUtf8(utf8); }

// The addresses alone (no display names), groups expanded, joined by "; ".
std::string AddressesOf(InternetAddressList* list, int depth = 0) {
    std::string out;
    if (!list || depth > 8) return out;
    const int n = internet_address_list_length(list);
    for (int i = 0; i < n; ++i) {
        InternetAddress* ia = internet_address_list_get_address(list, i);
        std::string one;
        if (INTERNET_ADDRESS_IS_GROUP(ia)) {
            one = AddressesOf(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(ia)), depth + 1);
        } else if (INTERNET_ADDRESS_IS_MAILBOX(ia)) {
            const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(ia));
            if (addr) one = Trim(addr);
        }
        if (one.empty()) continue;
        if (!out.empty()) out += "; ";
        out += one;
    }
    return out;
}

std::string AddressNames(InternetAddressList* list, int depth = 0) {
    std::string out;
    if (!list || depth > 8) return out;
    const int n = internet_address_list_length(list);
    for (int i = 0; i < n; ++i) {
        InternetAddress* ia = internet_address_list_get_address(list, i);
        std::string one;
        if (INTERNET_ADDRESS_IS_GROUP(ia)) {
            one = AddressNames(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(ia)), depth + 1);
            if (one.empty() && internet_address_get_name(ia)) one = internet_address_get_name(ia);
        } else {
            const char* name = internet_address_get_name(ia);
            if (name && *name) {
                one = name;
            } else if (INTERNET_ADDRESS_IS_MAILBOX(ia)) {
                const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(ia));
                if (addr) one = addr;
            }
        }
        one = Trim(one);
        if (one.empty()) continue;
        if (!out.empty()) out += "; ";
        out += one;
    }
    return out;
}

// The decoded bytes of a leaf part (transfer encoding undone). badBase64, when given, tells
// whether base64 content held characters outside the alphabet: the decoder skips them, so
// what is saved differs from what was sent.
std::string DecodedBytes(GMimePart* part, bool* badBase64 = nullptr) {
    if (badBase64) *badBase64 = false;
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content) return {};
    GMimeStream* raw = g_mime_data_wrapper_get_stream(content);
    if (raw && g_mime_data_wrapper_get_encoding(content) == GMIME_CONTENT_ENCODING_BASE64) {
        // Base64 (nearly every attachment) is decoded here, in one pass that also checks
        // the alphabet.
        Base64Decoder decoder;
        std::string out;
        const gint64 length = g_mime_stream_length(raw);
        if (length > 0) out.reserve(static_cast<std::size_t>(length) / 4 * 3 + 3);
        g_mime_stream_reset(raw);
        char buf[65536];
        ssize_t got;
        while ((got = g_mime_stream_read(raw, buf, sizeof buf)) > 0)
            decoder.Feed(std::string_view(buf, static_cast<std::size_t>(got)), out);
        decoder.Finish(out);
        g_mime_stream_reset(raw);
        if (badBase64) *badBase64 = decoder.Bad();
        return out;
    }
    GMimeStream* mem = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(content, mem);
    GByteArray* arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    std::string out(reinterpret_cast<const char*>(arr->data), arr->len);
    g_object_unref(mem);
    return out;
}

// Where a base64 part's text lies in the message's own bytes (source: the array the parser
// read from). The parser keeps a part's content as a slice of that array instead of a copy
// (the stream is "persistent"); such an attachment is decoded from the message's bytes when
// it is saved, on the thread that saves it. False for anything else (those are decoded while
// the message is parsed).
bool Base64Span(GMimeObject* object, const GByteArray* source, std::size_t& offset, std::size_t& length) {
    if (!source || !GMIME_IS_PART(object)) return false;
    GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(object));
    if (!content || g_mime_data_wrapper_get_encoding(content) != GMIME_CONTENT_ENCODING_BASE64) return false;
    GMimeStream* stream = g_mime_data_wrapper_get_stream(content);
    if (!stream || !GMIME_IS_STREAM_MEM(stream) || g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream)) != source)
        return false;
    const gint64 start = stream->bound_start;
    const gint64 end = stream->bound_end < 0 ? static_cast<gint64>(source->len) : stream->bound_end;
    if (start < 0 || end < start || end > static_cast<gint64>(source->len)) return false;
    offset = static_cast<std::size_t>(start);
    length = static_cast<std::size_t>(end - start);
    return true;
}

// What an attachment saves: a leaf part's decoded bytes, an attached message as it stands.
std::string ContentOf(GMimeObject* part, bool& badBase64) {
    badBase64 = false;
    if (GMIME_IS_MESSAGE_PART(part)) {
        GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(part));
        if (!inner) return {};
        GMimeStream* mem = g_mime_stream_mem_new();
        g_mime_object_write_to_stream(GMIME_OBJECT(inner), nullptr, mem);
        GByteArray* arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
        std::string bytes(reinterpret_cast<const char*>(arr->data), arr->len);
        g_object_unref(mem);
        return bytes;
    }
    if (GMIME_IS_PART(part)) return DecodedBytes(GMIME_PART(part), &badBase64);
    return {};
}

const char* ExtensionFor(GMimeContentType* ct) {
    struct Ext {
        const char* type;
        const char* subtype;
        const char* ext;
    };
    static const Ext table[] = {
        {"image", "jpeg", ".jpg"}, {"image", "jpg", ".jpg"},   {"image", "png", ".png"},
        {"image", "gif", ".gif"},  {"image", "bmp", ".bmp"},   {"image", "webp", ".webp"},
        {"image", "tiff", ".tif"}, {"image", "svg+xml", ".svg"}, {"text", "plain", ".txt"},
        {"text", "html", ".htm"},  {"text", "calendar", ".ics"}, {"text", "csv", ".csv"},
        {"application", "pdf", ".pdf"}, {"application", "zip", ".zip"}, {"message", "rfc822", ".eml"},
        {"message", "partial", ".eml"}, {"message", "delivery-status", ".txt"},
        {"message", "disposition-notification", ".txt"}, {"text", "rfc822-headers", ".txt"},
        {"text", "*", ".txt"}, {"application", "ms-tnef", ".dat"}, {"application", "vnd.ms-tnef", ".dat"},
        {"application", "pgp-signature", ".asc"}, {"application", "pgp-keys", ".asc"},
    };
    if (!ct) return ".bin";
    for (const auto& e : table)
        if (g_mime_content_type_is_type(ct, e.type, e.subtype)) return e.ext;
    return ".bin";
}

// A file name as mail may give it, reduced to a name: no directories, no control bytes.
std::string CleanFileName(std::string name) {
    const auto cut = name.find_last_of("/\\");
    if (cut != std::string::npos) name.erase(0, cut + 1);
    name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }),
               name.end());
    name = Trim(name);
    if (name == "." || name == "..") name.clear();
    return name;
}

void WriteFileBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(platform::NativePath(path), std::ios::binary | std::ios::trunc);
    if (!out) throw EStoreError("Cannot save the attachment to " + path);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw EStoreError("Cannot save the attachment to " + path);
}

const char* WarningText(GMimeParserWarning code) {
    switch (code) {
    case GMIME_WARN_INVALID_CONTENT_TYPE: return "invalid content type, read as application/octet-stream";
    case GMIME_WARN_INVALID_RFC2047_HEADER_VALUE: return "invalid encoded word in a header";
    case GMIME_WARN_MALFORMED_MULTIPART: return "multipart without parts";
    case GMIME_WARN_TRUNCATED_MESSAGE: return "message is truncated";
    case GMIME_WARN_MALFORMED_MESSAGE: return "message is malformed";
    case GMIME_CRIT_INVALID_HEADER_NAME: return "invalid header name, part of the message may be lost";
    case GMIME_CRIT_CONFLICTING_HEADER: return "conflicting headers";
    case GMIME_CRIT_CONFLICTING_PARAMETER: return "conflicting header parameters";
    case GMIME_CRIT_MULTIPART_WITHOUT_BOUNDARY: return "multipart without boundary";
    case GMIME_WARN_INVALID_PARAMETER: return "invalid header parameter";
    case GMIME_WARN_INVALID_ADDRESS_LIST: return "invalid address list";
    case GMIME_CRIT_NESTING_OVERFLOW: return "MIME parts nested too deeply, the deeper parts are not read";
    case GMIME_WARN_PART_WITHOUT_CONTENT: return "MIME part without content";
    case GMIME_CRIT_PART_WITHOUT_HEADERS_OR_CONTENT: return "MIME part without headers or content";
    default: return nullptr; // duplicated headers and 8-bit headers are everyday mail, not problems
    }
}

// The parser reads the way mail readers do: raw 8-bit header text is UTF-8 when it is
// valid UTF-8, else Windows-1252, and malformed encoded words and addresses are read as far
// as they go.
GMimeParserOptions* NewParserOptions() {
    GMimeParserOptions* options = g_mime_parser_options_new();
    static const char* fallback[] = {"UTF-8", "WINDOWS-1252", nullptr};
    g_mime_parser_options_set_fallback_charsets(options, fallback);
    g_mime_parser_options_set_rfc2047_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_address_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_parameter_compliance_mode(options, GMIME_RFC_COMPLIANCE_LOOSE);
    return options;
}

// Text from a mail for a warning: printable ASCII only, and not too long.
std::string Shown(std::string_view text) {
    std::string out;
    for (char c : text.substr(0, 80)) out += (c >= 0x20 && c < 0x7F) ? c : '?';
    if (text.size() > 80) out += "...";
    return out;
}

// The sender when the address parser finds no name and no address in the header: the
// words before an address in angle brackets or a bare address ("Mailer Daemon <>",
// "John Smith john@example.com"), else the header's text.
std::string SenderText(const char* raw) {
    if (!raw) return {};
    const std::string text = Trim(DecodeHeaderText(raw));
    auto unquoted = [](std::string name) {
        name = Trim(name);
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = Trim(name.substr(1, name.size() - 2));
        return name;
    };
    std::size_t cut = text.rfind('<');
    if (cut == std::string::npos) {
        cut = text.find_last_of(" \t");
        if (cut != std::string::npos && text.find('@', cut) == std::string::npos) cut = std::string::npos;
    }
    if (cut != std::string::npos) {
        const std::string name = unquoted(text.substr(0, cut));
        if (!name.empty()) return name;
    }
    return text;
}

struct ParseWarnings {
    std::vector<std::pair<GMimeParserWarning, gint64>> Seen;
};

void OnParserWarning(gint64 offset, GMimeParserWarning code, const gchar*, gpointer user) {
    auto* w = static_cast<ParseWarnings*>(user);
    for (const auto& s : w->Seen)
        if (s.first == code) return; // once per kind and message is enough
    w->Seen.emplace_back(code, offset);
}

struct Leaf {
    GMimeObject* Object;
    GMimeObject* Alternative; // innermost multipart/alternative around it, or null
    bool Signature = false;   // the signature of a multipart/signed
};

class MimeMailItem;

class MimeAttachment : public Attachment {
public:
    MimeAttachment(std::shared_ptr<MimeMailItem> owner, std::size_t index) : owner_(std::move(owner)), index_(index) {}

    WideString FileName() override;
    void SaveAsFile(const std::string& path) override;
    std::optional<std::string_view> Content() override;
    std::string ContentId() override;

private:
    std::shared_ptr<MimeMailItem> owner_;
    std::size_t index_;
};

class MimeAttachments : public AttachmentCollection {
public:
    explicit MimeAttachments(std::shared_ptr<MimeMailItem> owner) : owner_(std::move(owner)) {}
    int Count() override;
    std::shared_ptr<Attachment> Item(int index) override;

private:
    std::shared_ptr<MimeMailItem> owner_;
};

class MimeMailItem : public MailItem, public std::enable_shared_from_this<MimeMailItem> {
public:
    MimeMailItem(std::string raw, ItemMeta meta, std::shared_ptr<WarningSink> warnings)
        : meta_(std::move(meta)), warnings_(std::move(warnings)), raw_(std::move(raw)) {
        size_ = raw_.size() > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX : static_cast<std::int32_t>(raw_.size());
        Parse();
    }
    ~MimeMailItem() override {
        if (message_) g_object_unref(message_);
    }
    MimeMailItem(const MimeMailItem&) = delete;
    MimeMailItem& operator=(const MimeMailItem&) = delete;

    WideString GetText(DispId id) override {
        switch (id) {
        case dispid::Subject: return subject_;
        case dispid::Body: return body_;
        case dispid::SenderName: return sender_;
        case dispid::To: return to_;
        case dispid::CC: return cc_;
        case dispid::BCC: return bcc_;
        case dispid::ReplyRecipientNames: return replyTo_;
        case dispid::EntryID: return entryId_;
        case dispid::MessageClass: return u"IPM.Note";
        case dispid::ConversationTopic: return topic_;
        case dispid::Categories: return categories_;
        case dispid::InternetMessageID: return messageId_;
        case dispid::InReplyToID: return inReplyTo_;
        case dispid::InternetReferences: return references_;
        case dispid::HTMLBody: return htmlBody_;
        case dispid::SenderEmailAddress: return senderAddress_;
        case dispid::ToEmailAddresses: return toAddresses_;
        case dispid::CCEmailAddresses: return ccAddresses_;
        case dispid::BCCEmailAddresses: return bccAddresses_;
        case dispid::SentOnHeader: return dateHeader_;
        default: return {};
        }
    }
    double GetDate(DispId id) override {
        switch (id) {
        case dispid::ReceivedTime: return received_;
        case dispid::SentOn: return sent_;
        case dispid::CreationTime:
        case dispid::LastModificationTime: return storeTime_;
        default: return 0.0;
        }
    }
    AutomationBool GetBool(DispId id) override {
        switch (id) {
        case dispid::UnRead: return unread_ ? VariantTrue : VariantFalse;
        case dispid::ReadReceiptRequested: return receipt_ ? VariantTrue : VariantFalse;
        default: return VariantFalse;
        }
    }
    std::int32_t GetInt(DispId id) override { return id == dispid::Size ? size_ : 0; }
    std::shared_ptr<AttachmentCollection> Attachments() override {
        return std::make_shared<MimeAttachments>(shared_from_this());
    }

    void Warn(const std::string& what) {
        if (warnings_) warnings_->Warn(meta_.Where + ": " + what);
    }

    // The attachments are taken out of the message while it is parsed: the item then holds
    // plain data only, and may be made on one thread and used on another (GMime's objects
    // stay on the thread that parsed them).
    struct AttachmentData {
        std::string Name;    // UTF-8
        std::string ContentId;
        bool Ready = false;  // Bytes hold the content; else it is base64 text in raw_
        std::string Bytes;
        std::size_t Offset = 0, Length = 0;
        bool BadBase64 = false;
    };
    std::vector<AttachmentData> attachments_;

    // An attachment with its content, decoded from its base64 text in the message the first
    // time it is asked for.
    const AttachmentData& Decoded(std::size_t index) {
        AttachmentData& a = attachments_[index];
        if (!a.Ready) {
            Base64Decoder decoder;
            decoder.Feed(std::string_view(raw_).substr(a.Offset, a.Length), a.Bytes);
            decoder.Finish(a.Bytes);
            a.BadBase64 = decoder.Bad();
            a.Ready = true;
        }
        return a;
    }

private:
    void Parse();
    void ReadHeaders();
    void ReadParts();
    void Walk(GMimeObject* obj, GMimeObject* alternative, int depth, std::vector<Leaf>& leaves, bool& tooDeep);
    std::string TextOf(GMimePart* part);
    std::string UnlabelledText(std::string bytes);

    ItemMeta meta_;
    std::shared_ptr<WarningSink> warnings_;
    std::string raw_; // the message; kept only while an attachment is still to be decoded from it
    GMimeMessage* message_ = nullptr;
    const GByteArray* source_ = nullptr; // what the parser reads, while it parses
    WideString subject_, body_, sender_, to_, cc_, bcc_, replyTo_, entryId_, topic_, categories_;
    WideString messageId_, inReplyTo_, references_;
    WideString htmlBody_, senderAddress_, toAddresses_, ccAddresses_, bccAddresses_, dateHeader_;
    double received_ = OutlookNoDate, sent_ = OutlookNoDate, storeTime_ = 0.0;
    bool unread_ = false, receipt_ = false;
    std::int32_t size_ = 0;
};

void MimeMailItem::Parse() {
    const std::string& raw = raw_;
    // The key is bytes (a file name, an offset); each byte becomes one UTF-16 unit so that the
    // identifier goes back unchanged whatever the file system's encoding.
    for (unsigned char c : meta_.EntryId) entryId_.push_back(static_cast<char16_t>(c));
    storeTime_ = meta_.StoreTimeUtc != 0.0 ? platform::UtcToLocal(meta_.StoreTimeUtc) : 0.0;

    EnsureGMime();
    if (std::memchr(raw.data(), '\0', raw.size())) Warn("the message contains NUL bytes");
    // Header blocks are mended before the parser sees them (a header beyond the cap is cut
    // there, so that a hostile header cannot make the parse take memory without end).
    std::vector<std::string> repairs;
    RepairMessage(raw_, repairs);
    for (const auto& r : repairs) Warn(r);
    ParseWarnings seen;
    GMimeParserOptions* options = NewParserOptions();
    g_mime_parser_options_set_warning_callback(options, OnParserWarning, &seen);
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(raw.data(), raw.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    // Parts keep their content as slices of the stream rather than copies of it.
    g_mime_parser_set_persist_stream(parser, TRUE);
    source_ = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    message_ = g_mime_parser_construct_message(parser, options);
    g_object_unref(parser);
    g_object_unref(stream);
    g_mime_parser_options_free(options);

    for (const auto& [code, offset] : seen.Seen)
        if (const char* text = WarningText(code)) Warn(std::string(text) + " (at byte " + std::to_string(offset) + ")");

    if (!message_) {
        // Nothing GMime can take as a message: keep its text as the body rather than lose it.
        Warn("not a MIME message; its text is shown as the body");
        body_ = Wide(ToCrLf(MakeUtf8(raw)));
        received_ = LocalOrNone(meta_.FromLineUtc);
        source_ = nullptr;
        std::string().swap(raw_);
        return;
    }
    ReadHeaders();
    ReadParts();
    g_object_unref(message_);
    message_ = nullptr;
    source_ = nullptr;
    if (std::all_of(attachments_.begin(), attachments_.end(), [](const AttachmentData& a) { return a.Ready; }))
        std::string().swap(raw_);
}

void MimeMailItem::ReadHeaders() {
    // Where a header is repeated, the first one counts, as in mail readers (the parser's own
    // getters give the last).
    GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(message_));
    const int count = g_mime_header_list_get_count(headers);
    const char *subject = nullptr, *from = nullptr, *sender = nullptr, *date = nullptr;
    const char *messageId = nullptr, *inReplyTo = nullptr, *references = nullptr;
    double received = 0.0;
    bool sawDeliveryDate = false;
    double deliveryDate = 0.0;
    std::string mozillaStatus, status, keywords;
    bool hasStatus = false, hasMozillaStatus = false;
    auto firstOf = [](const char*& slot, GMimeHeader* h) {
        if (!slot) {
            const char* raw = g_mime_header_get_raw_value(h);
            slot = raw ? raw : "";
        }
    };
    for (int i = 0; i < count; ++i) {
        GMimeHeader* h = g_mime_header_list_get_header_at(headers, i);
        const char* name = g_mime_header_get_name(h);
        if (!name) continue;
        const std::string lname = Lower(name);
        if (lname == "subject") firstOf(subject, h);
        else if (lname == "from") firstOf(from, h);
        else if (lname == "sender") firstOf(sender, h);
        else if (lname == "date") firstOf(date, h);
        else if (lname == "message-id") firstOf(messageId, h);
        else if (lname == "in-reply-to") firstOf(inReplyTo, h);
        else if (lname == "references") firstOf(references, h);
        else if (lname == "received" && received == 0.0) {
            // The newest Received header with a date is the topmost; its date follows the last ";".
            const char* raw = g_mime_header_get_raw_value(h);
            const std::string v = raw ? UnfoldHeader(raw) : std::string();
            const auto semi = v.rfind(';');
            if (semi != std::string::npos)
                if (auto d = ParseMailDate(std::string_view(v).substr(semi + 1))) received = d->Utc;
        } else if (lname == "delivery-date" && !sawDeliveryDate) {
            sawDeliveryDate = true;
            const char* raw = g_mime_header_get_raw_value(h);
            if (auto d = ParseMailDate(UnfoldHeader(raw ? raw : ""))) deliveryDate = d->Utc;
        } else if (lname == "status") {
            hasStatus = true;
            const char* value = g_mime_header_get_value(h);
            status += value ? value : "";
        } else if (lname == "x-mozilla-status") {
            hasMozillaStatus = true;
            const char* value = g_mime_header_get_value(h);
            mozillaStatus = Trim(value ? value : "");
        } else if (lname == "keywords") {
            const char* raw = g_mime_header_get_raw_value(h);
            if (!keywords.empty()) keywords += ",";
            keywords += UnfoldHeader(raw ? raw : "");
        } else if (lname == "disposition-notification-to" || lname == "return-receipt-to") {
            receipt_ = true;
        }
    }

    const std::string subject8 = subject ? Trim(DecodeHeaderText(subject)) : std::string();
    subject_ = Wide(subject8);
    topic_ = Wide(StripSubjectPrefixes(subject8));

    // The sender: names (else addresses) from From, else from Sender; when neither parses,
    // the text of the header as written, so that a mail that names a sender never shows none.
    GMimeParserOptions* options = NewParserOptions();
    auto names = [&](const char* raw) -> std::string {
        if (!raw) return {};
        InternetAddressList* list = internet_address_list_parse(options, raw);
        if (!list) return {};
        std::string out = AddressNames(list);
        // One bare address that the parser could take only the start of
        // ("develop!nextmime@ebony@sblab.att.com", old UUCP routing): the address as
        // written, not a piece of it.
        if (internet_address_list_length(list) == 1 &&
            INTERNET_ADDRESS_IS_MAILBOX(internet_address_list_get_address(list, 0))) {
            const std::string text = Trim(UnfoldHeader(raw));
            if (text.size() > out.size() && text.compare(0, out.size(), out) == 0 &&
                text.find_first_of(" \t<>(),;\"") == std::string::npos)
                out = text;
        }
        g_object_unref(list);
        return out;
    };
    // The sender's address: the first mailbox of From, else of Sender.
    auto firstAddress = [&](const char* raw) -> std::string {
        if (!raw) return {};
        InternetAddressList* list = internet_address_list_parse(options, raw);
        if (!list) return {};
        std::string all = AddressesOf(list);
        g_object_unref(list);
        return all.substr(0, all.find(';'));
    };
    std::string senderAddress = firstAddress(from);
    if (senderAddress.empty()) senderAddress = firstAddress(sender);
    senderAddress_ = Wide(MakeUtf8(senderAddress));
    std::string senderName = names(from);
    if (senderName.empty()) senderName = names(sender);
    if (senderName.empty()) senderName = SenderText(from);
    if (senderName.empty()) senderName = SenderText(sender);
    g_mime_parser_options_free(options);
    sender_ = Wide(MakeUtf8(senderName));
    to_ = Wide(MakeUtf8(AddressNames(g_mime_message_get_addresses(message_, GMIME_ADDRESS_TYPE_TO))));
    cc_ = Wide(MakeUtf8(AddressNames(g_mime_message_get_addresses(message_, GMIME_ADDRESS_TYPE_CC))));
    bcc_ = Wide(MakeUtf8(AddressNames(g_mime_message_get_addresses(message_, GMIME_ADDRESS_TYPE_BCC))));
    replyTo_ = Wide(MakeUtf8(AddressNames(g_mime_message_get_reply_to(message_))));
    toAddresses_ = Wide(MakeUtf8(AddressesOf(g_mime_message_get_addresses(message_, GMIME_ADDRESS_TYPE_TO))));
    ccAddresses_ = Wide(MakeUtf8(AddressesOf(g_mime_message_get_addresses(message_, GMIME_ADDRESS_TYPE_CC))));
    bccAddresses_ = Wide(MakeUtf8(AddressesOf(g_mime_message_get_addresses(message_, GMIME_ADDRESS_TYPE_BCC))));

    auto idText = [](const char* raw) { return raw ? Wide(MakeUtf8(Trim(UnfoldHeader(raw)))) : WideString(); };
    messageId_ = idText(messageId);
    inReplyTo_ = idText(inReplyTo);
    references_ = idText(references);

    // A date that cannot be read is no date; one whose zone cannot be known is read as UTC,
    // and both are said.
    double sent = 0.0;
    if (date) {
        const std::string text = Trim(UnfoldHeader(date));
        dateHeader_ = Wide(MakeUtf8(text));
        if (auto d = ParseMailDate(text)) {
            sent = d->Utc;
            if (!d->ZoneKnown)
                Warn(d->Zone.empty() ? "the Date header has no time zone, read as UTC: \"" + Shown(text) + "\""
                                     : "unknown time zone \"" + Shown(d->Zone) + "\" in the Date header, read as UTC");
        } else if (!text.empty()) {
            Warn("the Date header is no date, the mail is taken as undated: \"" + Shown(text) + "\"");
        }
    }
    sent_ = LocalOrNone(sent);
    if (received == 0.0) received = deliveryDate;
    if (received == 0.0) received = meta_.FromLineUtc;
    received_ = LocalOrNone(received);

    // Categories: the Keywords items, trimmed, joined the way Outlook shows them.
    std::string cats;
    std::size_t pos = 0;
    while (pos <= keywords.size()) {
        std::size_t comma = keywords.find(',', pos);
        if (comma == std::string::npos) comma = keywords.size();
        std::string item = Trim(std::string_view(keywords).substr(pos, comma - pos));
        if (!item.empty()) {
            if (!cats.empty()) cats += ", ";
            cats += item;
        }
        pos = comma + 1;
    }
    categories_ = Wide(DecodeHeaderText(cats));

    switch (meta_.Flag) {
    case ReadFlag::Read: unread_ = false; break;
    case ReadFlag::Unread: unread_ = true; break;
    case ReadFlag::Unknown:
        // An archive's mail without any flag is taken as read; a flag that is there decides.
        if (hasStatus) {
            unread_ = status.find('R') == std::string::npos;
        } else if (hasMozillaStatus) {
            const unsigned long bits = std::strtoul(mozillaStatus.c_str(), nullptr, 16);
            unread_ = (bits & 0x1u) == 0;
        }
        break;
    }

    if (!g_mime_object_get_header(GMIME_OBJECT(message_), "From") &&
        !g_mime_object_get_header(GMIME_OBJECT(message_), "Date"))
        Warn("the message has neither a From nor a Date header");
}

void MimeMailItem::Walk(GMimeObject* obj, GMimeObject* alternative, int depth, std::vector<Leaf>& leaves,
                        bool& tooDeep) {
    if (!obj) return;
    if (depth > MaxDepth) {
        tooDeep = true;
        return;
    }
    if (GMIME_IS_MULTIPART(obj)) {
        GMimeMultipart* mp = GMIME_MULTIPART(obj);
        GMimeContentType* ct = g_mime_object_get_content_type(obj);
        GMimeObject* alt = (ct && g_mime_content_type_is_type(ct, "multipart", "alternative")) ? obj : alternative;
        const bool signedPart = ct && g_mime_content_type_is_type(ct, "multipart", "signed");
        const int n = g_mime_multipart_get_count(mp);
        for (int i = 0; i < n; ++i) {
            GMimeObject* child = g_mime_multipart_get_part(mp, i);
            const std::size_t before = leaves.size();
            Walk(child, alt, depth + 1, leaves, tooDeep);
            // The second part of a signed mail is its signature: proof for a mail program,
            // no file for the reader.
            if (signedPart && i == 1 && leaves.size() == before + 1 && leaves.back().Object == child) {
                GMimeContentType* cct = g_mime_object_get_content_type(child);
                const char* sub = cct ? g_mime_content_type_get_media_subtype(cct) : nullptr;
                const std::string subtype = Lower(sub ? sub : "");
                if (cct && g_mime_content_type_is_type(cct, "application", "*") &&
                    (subtype == "pgp-signature" || subtype == "pkcs7-signature" || subtype == "x-pkcs7-signature"))
                    leaves.back().Signature = true;
            }
        }
        return;
    }
    leaves.push_back(Leaf{obj, alternative});
}

std::string MimeMailItem::TextOf(GMimePart* part) {
    std::string bytes = DecodedBytes(part);
    const char* charset = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset");
    std::string text;
    const std::string cs = Lower(charset ? charset : "");
    if (cs.empty() || cs == "us-ascii" || cs == "ascii") {
        // No charset, or ASCII that is not: valid UTF-8 stays, anything else is guessed.
        return UnlabelledText(std::move(bytes));
    }
    if (cs == "utf-8" || cs == "utf8") {
        text = std::move(bytes);
    } else if (GMimeFilter* filter = g_mime_filter_charset_new(charset, "UTF-8")) {
        GMimeStream* mem = g_mime_stream_mem_new();
        GMimeStream* filtered = g_mime_stream_filter_new(mem);
        g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered), filter);
        g_object_unref(filter);
        g_mime_stream_write(filtered, bytes.data(), bytes.size());
        g_mime_stream_flush(filtered);
        GByteArray* arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
        text.assign(reinterpret_cast<const char*>(arr->data), arr->len);
        g_object_unref(filtered);
        g_object_unref(mem);
    } else {
        Warn("unknown charset \"" + Shown(charset) + "\", the text is read as UTF-8 or Windows-1252");
        return UnlabelledText(std::move(bytes));
    }
    return MakeUtf8(std::move(text));
}

// Text whose charset is not given: UTF-8 when it is valid UTF-8 (ASCII is), else the
// charset a detector finds in it, else Windows-1252.
std::string MimeMailItem::UnlabelledText(std::string bytes) {
    if (g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr)) return bytes;
#ifdef QUILLMARK_HAVE_UCHARDET
    // A guess from a handful of 8-bit bytes is a coin toss ("na\xEFve" reads as Central
    // European); Western text, the common case, is read as Windows-1252, which holds Latin-1.
    const auto highBytes = std::count_if(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) != 0; });
    if (highBytes < 8) return MakeUtf8(bytes);
    uchardet_t detector = uchardet_new();
    std::string guess;
    if (uchardet_handle_data(detector, bytes.data(), bytes.size()) == 0) {
        uchardet_data_end(detector);
        guess = Lower(uchardet_get_charset(detector));
    }
    uchardet_delete(detector);
    if (!guess.empty() && guess != "ascii" && guess != "utf-8" && guess != "iso-8859-1" && guess != "iso-8859-15" &&
        guess != "windows-1252")
        return CharsetToUtf8(bytes, guess);
#endif
    return MakeUtf8(bytes);
}

namespace {

bool IsTextType(GMimeObject* object, const char* subtype) {
    GMimeContentType* ct = g_mime_object_get_content_type(object);
    return ct && g_mime_content_type_is_type(ct, "text", subtype);
}

bool IsTnef(GMimeObject* object, const std::string& name) {
    GMimeContentType* ct = g_mime_object_get_content_type(object);
    if (ct && (g_mime_content_type_is_type(ct, "application", "ms-tnef") ||
               g_mime_content_type_is_type(ct, "application", "vnd.ms-tnef")))
        return true;
    return Lower(name) == "winmail.dat";
}

} // namespace

void MimeMailItem::ReadParts() {
    std::vector<Leaf> leaves;
    bool tooDeep = false;
    Walk(g_mime_message_get_mime_part(message_), nullptr, 0, leaves, tooDeep);
    if (tooDeep) Warn("MIME parts nested too deeply, the deeper parts are not read");

    auto isBodyCandidate = [](const Leaf& leaf, const char* subtype) {
        return GMIME_IS_PART(leaf.Object) && IsTextType(leaf.Object, subtype) &&
               !g_mime_part_is_attachment(GMIME_PART(leaf.Object));
    };
    // The body is the first plain text part with text in it, else the first HTML one; an
    // empty text part before it (the remains of a broken alternative) does not hide it.
    const Leaf* body = nullptr;
    bool fromHtml = false;
    std::string bodyText;
    auto choose = [&](const char* subtype) {
        const Leaf* firstEmpty = nullptr;
        for (const auto& leaf : leaves) {
            if (!isBodyCandidate(leaf, subtype)) continue;
            std::string text = TextOf(GMIME_PART(leaf.Object));
            if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
                if (!firstEmpty) firstEmpty = &leaf;
                continue;
            }
            body = &leaf;
            bodyText = std::move(text);
            return;
        }
        body = firstEmpty;
    };
    choose("plain");
    if (!body) {
        choose("html");
        fromHtml = body != nullptr;
    }
    // A mail that is one text part of another kind (text/enriched, text/x-whatever) is
    // shown as plain text, as RFC 2046 asks of text types a reader does not know.
    if (!body && leaves.size() == 1 && leaves[0].Object == g_mime_message_get_mime_part(message_) &&
        !IsTextType(leaves[0].Object, "calendar") && isBodyCandidate(leaves[0], "*")) {
        body = &leaves[0];
        bodyText = TextOf(GMIME_PART(body->Object));
    }
    if (body) body_ = Wide(fromHtml ? text::HtmlToText(bodyText) : ToCrLf(bodyText));
    // The HTML body: the body itself when it is HTML, else its HTML twin in the same
    // alternative (a multipart/related around it included).
    if (fromHtml) {
        htmlBody_ = Wide(bodyText);
    } else if (body && body->Alternative) {
        for (const auto& leaf : leaves)
            if (leaf.Alternative == body->Alternative && isBodyCandidate(leaf, "html")) {
                htmlBody_ = Wide(TextOf(GMIME_PART(leaf.Object)));
                break;
            }
    }

    int generated = 0;
    for (const auto& leaf : leaves) {
        if (body && leaf.Object == body->Object) continue;
        if (leaf.Signature) continue;
        // The other text versions of the body (its HTML twin, an enriched copy) are the body
        // again, not files; a calendar invitation beside them is more than that and stays.
        if (body && body->Alternative && leaf.Alternative == body->Alternative && isBodyCandidate(leaf, "*") &&
            !IsTextType(leaf.Object, "calendar"))
            continue;
        std::string name;
        if (GMIME_IS_MESSAGE_PART(leaf.Object)) {
            GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(leaf.Object));
            const char* s = inner ? g_mime_object_get_header(GMIME_OBJECT(inner), "Subject") : nullptr;
            const char* raw = nullptr;
            if (inner && s) {
                // The first Subject, decoded here like the mail's own.
                GMimeHeaderList* list = g_mime_object_get_header_list(GMIME_OBJECT(inner));
                for (int i = 0, n = g_mime_header_list_get_count(list); i < n && !raw; ++i) {
                    GMimeHeader* h = g_mime_header_list_get_header_at(list, i);
                    if (Lower(g_mime_header_get_name(h)) == "subject") raw = g_mime_header_get_raw_value(h);
                }
            }
            // The name its sender gave the attached mail, else its subject (a subject is no
            // path: its slashes stay in the name as "_").
            const char* given = g_mime_object_get_content_disposition_parameter(leaf.Object, "filename");
            if (!given || !*given) given = g_mime_object_get_content_type_parameter(leaf.Object, "name");
            if (given) name = CleanFileName(MakeUtf8(given));
            if (name.empty()) {
                name = raw ? Trim(DecodeHeaderText(raw)) : std::string();
                std::replace(name.begin(), name.end(), '/', '_');
                std::replace(name.begin(), name.end(), '\\', '_');
                name = CleanFileName(name);
                if (name.empty()) name = "message" + std::to_string(generated + 1);
                name += ".eml";
            }
        } else if (GMIME_IS_PART(leaf.Object)) {
            const char* fn = g_mime_part_get_filename(GMIME_PART(leaf.Object));
            if (fn) name = CleanFileName(MakeUtf8(fn));
            if (name.empty() && GMIME_IS_MESSAGE_PARTIAL(leaf.Object)) {
                // One piece of a mail sent in several: named after the mail and the piece.
                GMimeMessagePartial* piece = GMIME_MESSAGE_PARTIAL(leaf.Object);
                std::string subject = platform::Utf8FromUtf16(subject_);
                std::replace(subject.begin(), subject.end(), '/', '_');
                std::replace(subject.begin(), subject.end(), '\\', '_');
                subject = CleanFileName(subject);
                name = (subject.empty() ? std::string("message") : subject) + " (part " +
                       std::to_string(g_mime_message_partial_get_number(piece)) + " of " +
                       (g_mime_message_partial_get_total(piece) > 0
                            ? std::to_string(g_mime_message_partial_get_total(piece))
                            : std::string("?")) +
                       ").eml";
            }
        }
        AttachmentData data;
        if (const char* cid = g_mime_object_get_content_id(leaf.Object)) data.ContentId = MakeUtf8(cid);
        if (!Base64Span(leaf.Object, source_, data.Offset, data.Length)) {
            data.Bytes = ContentOf(leaf.Object, data.BadBase64);
            data.Ready = true;
        }
        // A part with nothing in it and no name of its own (an empty text part, the empty
        // remains of a broken multipart) is no file.
        if (name.empty()) {
            const bool empty = data.Ready ? data.Bytes.find_first_not_of(" \t\r\n") == std::string::npos
                                          : std::string_view(raw_).substr(data.Offset, data.Length)
                                                    .find_first_not_of(" \t\r\n=") == std::string_view::npos;
            if (empty) continue;
        }
        ++generated;
        if (name.empty())
            name = "attachment" + std::to_string(generated) + ExtensionFor(g_mime_object_get_content_type(leaf.Object));
        const bool tnef = IsTnef(leaf.Object, name);
        data.Name = std::move(name);
        attachments_.push_back(std::move(data));
#ifdef QUILLMARK_HAVE_YTNEF
        // The files inside a winmail.dat are the attachments its sender meant; the
        // winmail.dat itself is kept beside them.
        if (tnef) {
            const std::size_t at = attachments_.size() - 1;
            std::vector<TnefFile> files = ReadTnef(Decoded(at).Bytes);
            for (auto& f : files) {
                AttachmentData inner;
                inner.Name = CleanFileName(std::move(f.Name));
                if (inner.Name.empty()) inner.Name = "attachment" + std::to_string(generated + 1) + ".bin";
                ++generated;
                inner.Bytes = std::move(f.Bytes);
                inner.Ready = true;
                attachments_.push_back(std::move(inner));
            }
        }
#else
        (void)tnef;
#endif
    }
}

int MimeAttachments::Count() { return static_cast<int>(owner_->attachments_.size()); }

std::shared_ptr<Attachment> MimeAttachments::Item(int index) {
    if (index < 1 || index > Count()) throw EStoreError("Array index out of bounds.");
    return std::make_shared<MimeAttachment>(owner_, static_cast<std::size_t>(index - 1));
}

WideString MimeAttachment::FileName() { return Wide(owner_->attachments_[index_].Name); }

std::string MimeAttachment::ContentId() { return owner_->attachments_[index_].ContentId; }

std::optional<std::string_view> MimeAttachment::Content() {
    const auto& a = owner_->Decoded(index_);
    if (a.BadBase64)
        owner_->Warn("bad base64 in attachment \"" + a.Name + "\", saved what could be decoded");
    return std::string_view(a.Bytes);
}

void MimeAttachment::SaveAsFile(const std::string& path) { WriteFileBytes(path, *Content()); }

} // namespace

std::shared_ptr<MailItem> ParseMailItem(std::string raw, ItemMeta meta, std::shared_ptr<WarningSink> warnings) {
    return std::make_shared<MimeMailItem>(std::move(raw), std::move(meta), std::move(warnings));
}

std::string ToCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    std::size_t i = 0;
    while (i < text.size()) {
        // The text up to the next line end goes over in one piece.
        std::size_t end = i;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
        out.append(text.data() + i, end - i);
        if (end == text.size()) break;
        out += "\r\n";
        i = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    return out;
}

std::string StripSubjectPrefixes(std::string_view subject) {
    static const char* const prefixes[] = {"re", "fw", "fwd", "aw", "wg", "sv", "vs"};
    std::string s = Trim(subject);
    for (;;) {
        const auto colon = s.find(':');
        if (colon == std::string::npos || colon > 4) break;
        std::string head = Lower(Trim(std::string_view(s).substr(0, colon)));
        bool known = false;
        for (const char* p : prefixes)
            if (head == p) known = true;
        if (!known) break;
        s = Trim(std::string_view(s).substr(colon + 1));
    }
    return s;
}

} // namespace quillmark::outlook::mailbox
