#include "outlook/pst/PstMessage.h"

#include "SrcLib/DateTime.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "text/HtmlText.h"
#include "text/RtfText.h"

#include <algorithm>
#include <cstdio>

namespace quillmark::outlook::pst {

namespace {

// MAPI property ids read here beyond the DispIDs of the mail item.
namespace prop {
constexpr std::uint32_t TransportHeaders = 0x007D;
constexpr std::uint32_t MessageFlags = 0x0E07;
constexpr std::uint32_t Body = 0x1000;
constexpr std::uint32_t RtfCompressed = 0x1009;
constexpr std::uint32_t Html = 0x1013;
constexpr std::uint32_t InternetMessageId = 0x1035;
constexpr std::uint32_t SenderEmail = 0x0C1F;
constexpr std::uint32_t SenderSmtp = 0x5D01;
constexpr std::uint32_t DisplayName = 0x3001;
constexpr std::uint32_t AttachFileName = 0x3704;
constexpr std::uint32_t AttachLongFileName = 0x3707;
constexpr std::uint32_t AttachMimeTag = 0x370E;
constexpr std::uint32_t InternetCodePage = 0x3FDE;
constexpr std::uint32_t MessageCodePage = 0x3FFD;
} // namespace prop

constexpr std::uint32_t MessageFlagRead = 0x0001;
constexpr std::uint32_t DefaultCodePage = 1252;
// Attached messages inside attached messages are written this deep and no deeper, so that a
// crafted file cannot make us recurse without end.
constexpr int MaxEmbeddingDepth = 8;

std::uint32_t CodePageOf(const ItemHandle& item, std::uint32_t id) {
    auto v = item.FindInteger(id);
    return v && *v > 0 ? static_cast<std::uint32_t>(*v) : 0;
}

// 8-bit strings of a message are in its own code page; a message that names none is read
// as Windows-1252, the code page of nearly every ANSI data file.
std::uint32_t StringCodePage(const ItemHandle& item) {
    std::uint32_t cp = CodePageOf(item, prop::MessageCodePage);
    return cp ? cp : DefaultCodePage;
}

std::optional<WideString> ReadText(const ItemHandle& item, std::uint32_t id) {
    return item.FindText(id, StringCodePage(item));
}

} // namespace

WideString HtmlBodyText(const RawProperty& raw, std::uint32_t internetCodePage) {
    const WideString html = raw.type == ptype::Unicode
                                ? Utf16FromLittleEndian(raw.data)
                                : DecodeCodePage(raw.data, internetCodePage ? internetCodePage : DefaultCodePage);
    return platform::Utf16FromUtf8(text::HtmlToText(platform::Utf8FromUtf16(html)));
}

WideString BodyText(const ItemHandle& message, std::string& problem) {
    problem.clear();
    // Each form of the body is tried in turn, also when an earlier one is there but
    // unreadable: a damaged plain body must not hide a good HTML one.
    try {
        if (auto plain = ReadText(message, prop::Body); plain && !plain->empty())
            return *plain;
    } catch (const EStoreError& e) {
        problem = e.Message();
    }
    try {
        if (auto html = message.Find(prop::Html); html && !html->data.empty())
            return HtmlBodyText(*html, CodePageOf(message, prop::InternetCodePage));
    } catch (const EStoreError& e) {
        if (problem.empty())
            problem = e.Message();
    }
    try {
        if (auto rtf = message.Find(prop::RtfCompressed); rtf && !rtf->data.empty()) {
            if (auto text = DecompressRtf(rtf->data))
                return platform::Utf16FromUtf8(text::RtfToText(*text));
            if (problem.empty())
                problem = "its RTF body is damaged";
        }
    } catch (const EStoreError& e) {
        if (problem.empty())
            problem = e.Message();
    }
    return {};
}

// ---------------------------------------------------------------------------------------
// Attachments

namespace {

std::string AttachmentData(const ItemHandle& attachment) {
    PffError error;
    size64_t size = 0;
    int has = libpff_attachment_get_data_size(attachment.Get(), &size, error.Out());
    if (has < 0)
        throw EStoreError("Cannot read an attachment in \"" + attachment.File()->Path() + "\": " + error.Reason());
    std::string data;
    if (has == 0 || size == 0)
        return data;
    if (size > static_cast<size64_t>(SIZE_MAX / 2))
        throw EStoreError("Cannot read an attachment in \"" + attachment.File()->Path() + "\": it is too large");
    if (libpff_attachment_data_seek_offset(attachment.Get(), 0, SEEK_SET, error.Out()) < 0)
        throw EStoreError("Cannot read an attachment in \"" + attachment.File()->Path() + "\": " + error.Reason());
    data.resize(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = libpff_attachment_data_read_buffer(attachment.Get(),
                                                       reinterpret_cast<std::uint8_t*>(data.data() + done),
                                                       data.size() - done, error.Out());
        if (n < 0)
            throw EStoreError("Cannot read an attachment in \"" + attachment.File()->Path() + "\": " + error.Reason());
        if (n == 0)
            throw EStoreError("Cannot read an attachment in \"" + attachment.File()->Path() +
                              "\": its data ends early");
        done += static_cast<std::size_t>(n);
    }
    return data;
}

int AttachmentType(const ItemHandle& attachment) {
    int type = 0;
    PffError error;
    if (libpff_attachment_get_type(attachment.Get(), &type, error.Out()) != 1)
        throw EStoreError("Cannot read an attachment in \"" + attachment.File()->Path() + "\": " + error.Reason());
    return type;
}

std::shared_ptr<ItemHandle> EmbeddedMessage(const ItemHandle& attachment) {
    libpff_item_t* item = nullptr;
    PffError error;
    if (libpff_attachment_get_item(attachment.Get(), &item, error.Out()) != 1 || !item)
        throw EStoreError("Cannot read an attached message in \"" + attachment.File()->Path() +
                          "\": " + error.Reason());
    return std::make_shared<ItemHandle>(attachment.File(), item);
}

std::shared_ptr<ItemHandle> AttachmentAt(const std::shared_ptr<ItemHandle>& message, int index) {
    libpff_item_t* item = nullptr;
    PffError error;
    if (libpff_message_get_attachment(message->Get(), index, &item, error.Out()) != 1 || !item)
        throw EStoreError("Cannot read attachment " + std::to_string(index + 1) + " of a message in \"" +
                          message->File()->Path() + "\": " + error.Reason());
    return std::make_shared<ItemHandle>(message->File(), item);
}

int AttachmentCount(const ItemHandle& message) {
    int count = 0;
    PffError error;
    if (libpff_message_get_number_of_attachments(message.Get(), &count, error.Out()) != 1)
        throw EStoreError("Cannot read the attachments of a message in \"" + message.File()->Path() +
                          "\": " + error.Reason());
    return std::max(count, 0);
}

bool EndsWithNoCase(const WideString& text, std::u16string_view suffix) {
    if (text.size() < suffix.size())
        return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        char16_t a = text[text.size() - suffix.size() + i];
        if (a >= u'A' && a <= u'Z')
            a = static_cast<char16_t>(a + 32);
        if (a != suffix[i])
            return false;
    }
    return true;
}

WideString FirstText(const ItemHandle& item, std::initializer_list<std::uint32_t> ids) {
    for (auto id : ids)
        if (auto text = ReadText(item, id); text && !text->empty())
            return *text;
    return {};
}

// The name an attachment is saved under. Data attachments keep their long file name (the
// short 8.3 one, then the display name, when there is none). An attached message is
// written as an .eml file named after the attachment's display name, else the message's
// subject, so that any mail program opens it; a ".msg" the name may carry is replaced.
WideString AttachmentFileName(const ItemHandle& attachment) {
    int type = AttachmentType(attachment);
    if (type != LIBPFF_ATTACHMENT_TYPE_ITEM) {
        WideString name = FirstText(attachment, {prop::AttachLongFileName, prop::AttachFileName, prop::DisplayName});
        return name.empty() ? WideString(u"Untitled") : name;
    }
    WideString name = FirstText(attachment, {prop::DisplayName, prop::AttachLongFileName});
    if (name.empty()) {
        try {
            auto embedded = EmbeddedMessage(attachment);
            if (auto subject = ReadText(*embedded, 0x0037))
                name = StripSubjectPrefix(*subject);
        } catch (const EStoreError&) {
            // The name does not need the message; SaveAsFile reports it when it is unreadable.
        }
    }
    if (EndsWithNoCase(name, u".msg") || EndsWithNoCase(name, u".eml"))
        name.resize(name.size() - 4);
    if (name.empty())
        name = u"Untitled";
    return name + u".eml";
}

class PstAttachment : public Attachment {
public:
    explicit PstAttachment(std::shared_ptr<ItemHandle> attachment) : attachment_(std::move(attachment)) {}

    WideString FileName() override { return AttachmentFileName(*attachment_); }

    // The data is read whole from the file anyway: it is kept for the export to compare and
    // write once.
    std::optional<std::string_view> Content() override {
        if (!bytes_) {
            const int type = AttachmentType(*attachment_);
            if (type == LIBPFF_ATTACHMENT_TYPE_ITEM) {
                bytes_ = BuildEml(*EmbeddedMessage(*attachment_), 1);
            } else if (type == LIBPFF_ATTACHMENT_TYPE_REFERENCE) {
                throw EStoreError("The attachment \"" + platform::Utf8FromUtf16(FileName()) +
                                  "\" is a link to a file outside the message; \"" + attachment_->File()->Path() +
                                  "\" holds no data for it.");
            } else {
                bytes_ = AttachmentData(*attachment_);
            }
        }
        return std::string_view(*bytes_);
    }

    void SaveAsFile(const std::string& path) override { platform::WriteFileAtomic(path, *Content()); }

    // PR_ATTACH_CONTENT_ID: what an HTML body's "cid:" addresses name the picture by.
    std::string ContentId() override { return platform::Utf8FromUtf16(FirstText(*attachment_, {0x3712})); }

private:
    std::shared_ptr<ItemHandle> attachment_;
    std::optional<std::string> bytes_;
};

class PstAttachments : public AttachmentCollection {
public:
    explicit PstAttachments(std::shared_ptr<ItemHandle> message) : message_(std::move(message)) {}
    int Count() override { return AttachmentCount(*message_); }
    std::shared_ptr<Attachment> Item(int index) override {
        if (index < 1 || index > Count())
            throw EStoreError("Array index out of bounds.");
        return std::make_shared<PstAttachment>(AttachmentAt(message_, index - 1));
    }

private:
    std::shared_ptr<ItemHandle> message_;
};

// ---------------------------------------------------------------------------------------
// The mail item

WideString HeaderOf(const ItemHandle& message, std::string_view name);

class PstMailItem : public MailItem {
public:
    PstMailItem(std::shared_ptr<StoreContext> store, std::shared_ptr<ItemHandle> message)
        : store_(std::move(store)), message_(std::move(message)) {}

    WideString GetText(DispId id) override {
        return Guard(WideString(), [&]() -> WideString {
            switch (id) {
            case dispid::Body: {
                std::string problem;
                WideString body = BodyText(*message_, problem);
                if (!problem.empty())
                    Warn(problem);
                return body;
            }
            case dispid::Subject:
                return StripSubjectPrefix(ReadText(*message_, 0x0037).value_or(WideString()));
            case dispid::EntryID:
                return FormatEntryID(store_->recordKey, message_->Identifier());
            case dispid::Categories: {
                // Outlook keeps categories in the multi-valued "Keywords" of the public
                // strings and shows them joined by ", ".
                auto raw = message_->FindNamed(PsPublicStrings, "Keywords");
                return raw ? TextOfRaw(*raw, StringCodePage(*message_), u", ").value_or(WideString()) : WideString();
            }
            case dispid::HTMLBody: {
                // The HTML the mail was written in, where the store keeps it as such.
                if (auto html = message_->Find(prop::Html); html && !html->data.empty())
                    return HtmlBodyText(*html, CodePageOf(*message_, prop::InternetCodePage));
                return {};
            }
            case dispid::SenderEmailAddress:
                // An Exchange sender's own address is a directory name; its SMTP address, when
                // the store has it, is the one a reader knows.
                return FirstText(*message_, {prop::SenderSmtp, prop::SenderEmail});
            case dispid::SentOnHeader:
                return HeaderOf(*message_, "date");
            case dispid::ToEmailAddresses:
            case dispid::CCEmailAddresses:
            case dispid::BCCEmailAddresses: {
                // From the recipient table, joined as the display lists (To, CC) are.
                const std::int64_t kind = id == dispid::ToEmailAddresses ? 1 : id == dispid::CCEmailAddresses ? 2 : 3;
                WideString joined;
                // Read once per mail: a template may ask for To, CC and BCC addresses.
                if (!recipients_)
                    recipients_ = RecipientRows(*message_, StringCodePage(*message_));
                for (const auto& row : *recipients_) {
                    if (row.type != kind || row.address.empty())
                        continue;
                    if (!joined.empty())
                        joined += u"; ";
                    joined += row.address;
                }
                return joined;
            }
            case dispid::VotingOptions:
                // Outlook builds this from the verb stream of voting mail; the archive has no
                // use for the buttons, and a plain message has none.
                return {};
            default:
                break;
            }
            auto raw = Raw(id);
            return raw ? TextOfRaw(*raw, StringCodePage(*message_), u"; ").value_or(WideString()) : WideString();
        });
    }

    double GetDate(DispId id) override {
        return Guard(OutlookNoDate, [&]() -> double {
            auto raw = Raw(id);
            if (!raw || raw->type != ptype::SysTime)
                return OutlookNoDate;
            auto ticks = ReadUInt64(raw->data);
            if (!ticks)
                return OutlookNoDate;
            double utc = UtcDateFromFileTime(*ticks);
            // Outlook gives local times; the page names and file times are local too.
            return utc == OutlookNoDate ? utc : platform::UtcToLocal(utc);
        });
    }

    AutomationBool GetBool(DispId id) override {
        return Guard(VariantFalse, [&]() -> AutomationBool {
            switch (id) {
            case dispid::Saved:
                return VariantTrue; // what is in the file has been saved
            case dispid::UnRead: {
                auto flags = message_->FindInteger(prop::MessageFlags);
                return flags && (*flags & MessageFlagRead) ? VariantFalse : VariantTrue;
            }
            default:
                break;
            }
            auto raw = Raw(id);
            if (!raw || raw->data.empty())
                return VariantFalse;
            if (raw->type == ptype::Boolean || raw->type == ptype::Int16 || raw->type == ptype::Int32 ||
                raw->type == ptype::Int64)
                return std::any_of(raw->data.begin(), raw->data.end(), [](char c) { return c != 0; }) ? VariantTrue
                                                                                                      : VariantFalse;
            return VariantFalse;
        });
    }

    std::int32_t GetInt(DispId id) override {
        return Guard(std::int32_t{0}, [&]() -> std::int32_t {
            auto raw = Raw(id);
            if (!raw)
                return 0;
            if (raw->type == ptype::Int32 && raw->data.size() >= 4)
                return static_cast<std::int32_t>(*ReadUInt32(raw->data));
            if (raw->type == ptype::Int64 && raw->data.size() >= 8)
                return static_cast<std::int32_t>(*ReadUInt64(raw->data));
            if (raw->type == ptype::Int16 && raw->data.size() >= 2)
                return static_cast<std::int16_t>(static_cast<unsigned char>(raw->data[0]) |
                                                 (static_cast<unsigned char>(raw->data[1]) << 8));
            return 0;
        });
    }

    std::shared_ptr<AttachmentCollection> Attachments() override {
        return std::make_shared<PstAttachments>(message_);
    }

private:
    // DispIDs below 0x8000 are MAPI property ids; those of 0x8500 and up are the long ids
    // of the common named-property set, found through the file's name-to-id map.
    std::optional<RawProperty> Raw(DispId id) {
        if (id >= 0 && id < 0x8000)
            return message_->Find(static_cast<std::uint32_t>(id));
        if (id >= 0x8000 && id < 0x9000)
            return message_->FindNamed(PsetidCommon, static_cast<std::uint32_t>(id));
        return std::nullopt;
    }

    // A property the file cannot give does not end the export of the whole folder: the
    // value is left empty and the problem is reported once per message, naming the file and
    // the message. The item still appears, as a damaged message in Outlook does.
    template <typename T, typename F>
    T Guard(T fallback, F&& read) {
        try {
            return read();
        } catch (const EStoreError& e) {
            Warn(e.Message());
            return fallback;
        }
    }

    void Warn(const std::string& what) {
        if (warned_)
            return;
        warned_ = true;
        std::uint32_t id = 0;
        PffError ignored;
        libpff_item_get_identifier(message_->Get(), &id, ignored.Out());
        store_->file->Warn("Message " + std::to_string(id) + " in \"" + store_->file->Path() +
                           "\" is partly unreadable: " + what);
    }

    std::shared_ptr<StoreContext> store_;
    std::shared_ptr<ItemHandle> message_;
    bool warned_ = false;
    std::optional<std::vector<RecipientRow>> recipients_;
};

// ---------------------------------------------------------------------------------------
// .eml output

std::string Base64(std::string_view data) {
    static constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(data.size() * 4 / 3 + data.size() / 38 + 8);
    std::size_t lineLength = 0;
    for (std::size_t i = 0; i < data.size(); i += 3) {
        std::uint32_t n = static_cast<unsigned char>(data[i]) << 16;
        if (i + 1 < data.size())
            n |= static_cast<unsigned char>(data[i + 1]) << 8;
        if (i + 2 < data.size())
            n |= static_cast<unsigned char>(data[i + 2]);
        out.push_back(Alphabet[(n >> 18) & 63]);
        out.push_back(Alphabet[(n >> 12) & 63]);
        out.push_back(i + 1 < data.size() ? Alphabet[(n >> 6) & 63] : '=');
        out.push_back(i + 2 < data.size() ? Alphabet[n & 63] : '=');
        lineLength += 4;
        if (lineLength >= 76) {
            out += "\r\n";
            lineLength = 0;
        }
    }
    if (lineLength > 0)
        out += "\r\n";
    return out;
}

bool IsPlainAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) {
        auto b = static_cast<unsigned char>(c);
        return b >= 0x20 && b < 0x7F;
    });
}

// Header text: ASCII as is, anything else as UTF-8 encoded words (RFC 2047), each word
// ending on a character boundary.
std::string HeaderText(const WideString& text) {
    std::string utf8 = platform::Utf8FromUtf16(text);
    if (IsPlainAscii(utf8))
        return utf8;
    std::string out;
    std::size_t i = 0;
    while (i < utf8.size()) {
        std::size_t end = std::min(utf8.size(), i + 45);
        while (end < utf8.size() && end > i && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
            --end;
        if (end == i)
            end = std::min(utf8.size(), i + 45);
        std::string b64 = Base64(utf8.substr(i, end - i));
        b64.erase(std::remove(b64.begin(), b64.end(), '\r'), b64.end());
        b64.erase(std::remove(b64.begin(), b64.end(), '\n'), b64.end());
        if (!out.empty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + b64 + "?=";
        i = end;
    }
    return out;
}

// A quoted parameter value for ASCII names; an encoded word otherwise (what mail programs
// read for non-ASCII file names).
std::string ParameterValue(const WideString& value) {
    std::string text = HeaderText(value);
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            quoted.push_back('\\');
        if (c != '\r' && c != '\n')
            quoted.push_back(c);
    }
    return quoted + "\"";
}

std::string RfcDate(double utc) {
    static constexpr const char* Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    DateParts p = DecodeDateTime(utc);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s, %d %s %04d %02d:%02d:%02d +0000", Days[(p.DayOfWeek % 7 + 7) % 7],
                  p.Day, Months[(p.Month + 11) % 12], p.Year, p.Hour, p.Minute, p.Second);
    return buffer;
}

std::optional<double> UtcDate(const ItemHandle& item, std::uint32_t id) {
    auto raw = item.Find(id);
    if (!raw || raw->type != ptype::SysTime)
        return std::nullopt;
    auto ticks = ReadUInt64(raw->data);
    if (!ticks)
        return std::nullopt;
    double v = UtcDateFromFileTime(*ticks);
    if (v == OutlookNoDate)
        return std::nullopt;
    return v;
}

bool IsMimeStructureHeader(std::string_view line) {
    auto starts = [&](std::string_view name) {
        if (line.size() < name.size())
            return false;
        for (std::size_t i = 0; i < name.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(line[i])) != name[i])
                return false;
        return true;
    };
    return starts("content-") || starts("mime-version:");
}

// Calls onLine for each line of the header block of the message's transport headers (CR
// removed), until the blank line that ends the block or onLine returns false.
template <typename OnLine>
void ForEachHeaderLine(const ItemHandle& message, OnLine&& onLine) {
    auto headers = ReadText(message, prop::TransportHeaders);
    if (!headers || headers->empty())
        return;
    const std::string text = platform::Utf8FromUtf16(*headers);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        std::string_view line(text.data() + pos, (end == std::string::npos ? text.size() : end) - pos);
        pos = end == std::string::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || !onLine(line))
            break; // the end of the header block, or the caller has what it wanted
    }
}

// The message's own transport headers without those that describe the MIME structure we
// replace; empty when the message has none.
std::string OwnHeaders(const ItemHandle& message) {
    std::string out;
    bool skipping = false;
    ForEachHeaderLine(message, [&](std::string_view line) {
        const bool continuation = line[0] == ' ' || line[0] == '\t';
        if (!continuation)
            skipping = IsMimeStructureHeader(line);
        if (!skipping) {
            out += line;
            out += "\r\n";
        }
        return true;
    });
    return out;
}

// The first header of that (lower-case) name in the message's transport headers, unfolded
// and trimmed; "" when there is none.
WideString HeaderOf(const ItemHandle& message, std::string_view name) {
    std::string value;
    bool inside = false;
    ForEachHeaderLine(message, [&](std::string_view line) {
        const bool continuation = line[0] == ' ' || line[0] == '\t';
        if (inside && continuation) {
            value += ' ';
            value += line;
            return true;
        }
        if (inside)
            return false;
        if (line.size() > name.size() && line[name.size()] == ':') {
            bool same = true;
            for (std::size_t i = 0; i < name.size(); ++i)
                if (std::tolower(static_cast<unsigned char>(line[i])) != name[i])
                    same = false;
            if (same) {
                inside = true;
                value = std::string(line.substr(name.size() + 1));
            }
        }
        return true;
    });
    const auto b = value.find_first_not_of(" \t");
    const auto e = value.find_last_not_of(" \t");
    return b == std::string::npos ? WideString() : platform::Utf16FromUtf8(value.substr(b, e - b + 1));
}

std::string MadeHeaders(const ItemHandle& message) {
    std::string out;
    WideString sender = FirstText(message, {0x0C1A, 0x0042});
    WideString address = FirstText(message, {prop::SenderSmtp, prop::SenderEmail});
    if (!sender.empty() || !address.empty()) {
        out += "From: " + HeaderText(sender);
        if (!address.empty())
            out += (sender.empty() ? "<" : " <") + platform::Utf8FromUtf16(address) + ">";
        out += "\r\n";
    }
    if (auto to = ReadText(message, 0x0E04); to && !to->empty())
        out += "To: " + HeaderText(*to) + "\r\n";
    if (auto cc = ReadText(message, 0x0E03); cc && !cc->empty())
        out += "Cc: " + HeaderText(*cc) + "\r\n";
    out += "Subject: " + HeaderText(StripSubjectPrefix(ReadText(message, 0x0037).value_or(WideString()))) + "\r\n";
    for (std::uint32_t id : {0x0039u, 0x0E06u, 0x3007u}) {
        if (auto date = UtcDate(message, id)) {
            out += "Date: " + RfcDate(*date) + "\r\n";
            break;
        }
    }
    if (auto id = ReadText(message, prop::InternetMessageId); id && !id->empty())
        out += "Message-ID: " + platform::Utf8FromUtf16(*id) + "\r\n";
    return out;
}

std::string CharsetName(std::uint32_t codePage) {
    switch (codePage) {
    case 1252: return "windows-1252";
    case 65001: return "utf-8";
    case 20127: return "us-ascii";
    case 28591: return "iso-8859-1";
    case 28592: return "iso-8859-2";
    case 28605: return "iso-8859-15";
    case 1250: return "windows-1250";
    case 1251: return "windows-1251";
    case 936: return "gb2312";
    case 54936: return "gb18030";
    case 950: return "big5";
    case 932: return "shift_jis";
    case 949: return "ks_c_5601-1987";
    case 50220: return "iso-2022-jp";
    case 51932: return "euc-jp";
    case 20866: return "koi8-r";
    default: return {};
    }
}

struct MimePart {
    std::string headers; // each line ending in CR LF
    std::string body;    // already encoded
};

std::string Multipart(const std::string& subtype, const std::vector<MimePart>& parts, int depth, int& counter) {
    // "=_" cannot occur in base64 text nor in the encoded headers, so the boundary cannot
    // clash with any part.
    std::string boundary = "----=_quillmark_" + std::to_string(depth) + "_" + std::to_string(++counter);
    std::string out = "Content-Type: multipart/" + subtype + "; boundary=\"" + boundary + "\"\r\n\r\n";
    for (const auto& part : parts)
        out += "--" + boundary + "\r\n" + part.headers + "\r\n" + part.body;
    out += "--" + boundary + "--\r\n";
    return out;
}

MimePart TextPart(const std::string& contentType, std::string_view bytes) {
    return {"Content-Type: " + contentType + "\r\nContent-Transfer-Encoding: base64\r\n", Base64(bytes)};
}

} // namespace

std::string BuildEml(const ItemHandle& message, int depth) {
    int counter = 0;
    std::string headers = OwnHeaders(message);
    if (headers.empty())
        headers = MadeHeaders(message);
    headers += "MIME-Version: 1.0\r\n";

    std::vector<MimePart> bodies;
    if (auto plain = ReadText(message, prop::Body); plain && !plain->empty())
        bodies.push_back(TextPart("text/plain; charset=utf-8", platform::Utf8FromUtf16(*plain)));
    if (auto html = message.Find(prop::Html); html && !html->data.empty()) {
        if (html->type == ptype::Unicode) {
            bodies.push_back(
                TextPart("text/html; charset=utf-8", platform::Utf8FromUtf16(Utf16FromLittleEndian(html->data))));
        } else {
            std::string bytes = html->data;
            while (!bytes.empty() && bytes.back() == '\0')
                bytes.pop_back();
            std::string charset = CharsetName(CodePageOf(message, prop::InternetCodePage));
            bodies.push_back(TextPart(charset.empty() ? "text/html" : "text/html; charset=" + charset, bytes));
        }
    }
    if (bodies.empty()) {
        std::string problem;
        bodies.push_back(TextPart("text/plain; charset=utf-8", platform::Utf8FromUtf16(BodyText(message, problem))));
    }
    MimePart body = bodies.front();
    if (bodies.size() > 1) {
        std::string alt = Multipart("alternative", bodies, depth, counter);
        std::size_t split = alt.find("\r\n\r\n");
        body = {alt.substr(0, split + 2), alt.substr(split + 4)};
    }

    std::vector<MimePart> parts{body};
    const int count = AttachmentCount(message);
    for (int i = 0; i < count; ++i) {
        libpff_item_t* raw = nullptr;
        PffError error;
        if (libpff_message_get_attachment(message.Get(), i, &raw, error.Out()) != 1 || !raw)
            throw EStoreError("Cannot read attachment " + std::to_string(i + 1) + " of an attached message in \"" +
                              message.File()->Path() + "\": " + error.Reason());
        ItemHandle attachment(message.File(), raw);
        WideString name = AttachmentFileName(attachment);
        int type = AttachmentType(attachment);
        if (type == LIBPFF_ATTACHMENT_TYPE_ITEM) {
            std::string inner = depth < MaxEmbeddingDepth
                                    ? BuildEml(*EmbeddedMessage(attachment), depth + 1)
                                    : std::string("Subject: (attached messages nested too deeply)\r\n\r\n");
            parts.push_back({"Content-Type: message/rfc822\r\nContent-Disposition: attachment; filename=" +
                                 ParameterValue(name) + "\r\n",
                             inner});
        } else if (type != LIBPFF_ATTACHMENT_TYPE_REFERENCE) {
            WideString mime = FirstText(attachment, {prop::AttachMimeTag});
            std::string contentType = mime.empty() ? "application/octet-stream" : platform::Utf8FromUtf16(mime);
            if (!IsPlainAscii(contentType) || contentType.find('/') == std::string::npos)
                contentType = "application/octet-stream";
            parts.push_back({"Content-Type: " + contentType + "; name=" + ParameterValue(name) +
                                 "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=" +
                                 ParameterValue(name) + "\r\n",
                             Base64(AttachmentData(attachment))});
        }
    }
    if (parts.size() == 1)
        return headers + body.headers + "\r\n" + body.body;
    return headers + Multipart("mixed", parts, depth, counter);
}

std::shared_ptr<MailItem> MakeMailItem(std::shared_ptr<StoreContext> store, std::shared_ptr<ItemHandle> message) {
    return std::make_shared<PstMailItem>(std::move(store), std::move(message));
}

} // namespace quillmark::outlook::pst
