#include "outlook/mailbox/Tnef.h"

#include "outlook/mailbox/HeaderText.h"
#include "platform/CodePage.h"

// The library's header declares C functions without saying so.
extern "C" {
#include <ytnef.h>
}

#include <cstdint>
#include <memory>

namespace quillmark::outlook::mailbox {

namespace {

// MAPI property types and the long file name property of an attachment.
constexpr unsigned int TypeString8 = 0x001E;
constexpr unsigned int TypeUnicode = 0x001F;
constexpr unsigned int TypeLong = 0x0003;
constexpr unsigned int LongFileName = 0x3707;
constexpr unsigned int AttachMethod = 0x3705;
constexpr std::uint32_t EmbeddedMessage = 5;

std::string TextOf(const variableLength* v, bool unicode) {
    if (!v || !v->data || v->size <= 0) return {};
    const auto* p = reinterpret_cast<const char*>(v->data);
    std::size_t n = static_cast<std::size_t>(v->size);
    if (unicode) {
        std::u16string units;
        for (std::size_t i = 0; i + 1 < n; i += 2)
            units.push_back(static_cast<char16_t>(static_cast<unsigned char>(p[i]) |
                                                  (static_cast<unsigned char>(p[i + 1]) << 8)));
        while (!units.empty() && units.back() == u'\0') units.pop_back();
        return platform::Utf8FromUtf16(units);
    }
    while (n > 0 && p[n - 1] == '\0') --n;
    return Utf8OrWindows1252(std::string_view(p, n));
}

struct Freer {
    void operator()(TNEFStruct* t) const {
        TNEFFree(t);
        delete t;
    }
};

// The attachment records of a TNEF stream and the two message records they are read with.
// The message's own properties (its RTF body, its recipients) are no files, and the library
// refuses some large ones that Outlook writes, losing every attachment after them; they are
// left out. Empty when the stream is no TNEF.
std::string AttachmentRecords(std::string_view data) {
    auto u32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(data[at])) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(data[at + 1])) << 8 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(data[at + 2])) << 16 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(data[at + 3])) << 24;
    };
    if (data.size() < 6 || u32(0) != 0x223E9F78u) return {};
    std::string out(data.substr(0, 6));
    std::size_t at = 6;
    while (at + 9 <= data.size()) {
        const auto level = static_cast<unsigned char>(data[at]);
        const std::uint32_t id = u32(at + 1), length = u32(at + 5);
        if (length > data.size() - at - 9 || data.size() - at - 9 - length < 2) break; // cut short
        const std::size_t size = 9 + std::size_t{length} + 2;
        constexpr std::uint32_t version = 0x00089006, codepage = 0x00069007;
        if (level == 2 || (level == 1 && (id == version || id == codepage))) out.append(data.substr(at, size));
        at += size;
    }
    return out;
}

} // namespace

std::vector<TnefFile> ReadTnef(std::string_view data) {
    std::vector<TnefFile> files;
    // The reader wants writable bytes and a long size.
    if (data.size() < 6 || data.size() > 0x7FFFFFFF) return files;
    std::string copy = AttachmentRecords(data);
    if (copy.empty()) return files;
    std::unique_ptr<TNEFStruct, Freer> tnef(new TNEFStruct);
    TNEFInitialize(tnef.get());
    tnef->Debug = 0;
    if (TNEFParseMemory(reinterpret_cast<BYTE*>(copy.data()), static_cast<long>(copy.size()), tnef.get()) < 0)
        return files;
    for (Attachment* a = tnef->starting_attach.next; a; a = a->next) {
        if (!a->FileData.data || a->FileData.size <= 0) continue; // an empty slot
        // An attached Outlook item (a task, a mail) carries only a note that it cannot be
        // shown where its file data would be; that note is no file of the sender's.
        if (auto* v = MAPIFindProperty(&a->MAPI, PROP_TAG(TypeLong, AttachMethod));
            v && v != MAPI_UNDEFINED && v->size >= 4 && v->data[0] == EmbeddedMessage && v->data[1] == 0 &&
            v->data[2] == 0 && v->data[3] == 0)
            continue;
        TnefFile f;
        if (auto* v = MAPIFindProperty(&a->MAPI, PROP_TAG(TypeUnicode, LongFileName)); v && v != MAPI_UNDEFINED)
            f.Name = TextOf(v, true);
        if (f.Name.empty())
            if (auto* v = MAPIFindProperty(&a->MAPI, PROP_TAG(TypeString8, LongFileName)); v && v != MAPI_UNDEFINED)
                f.Name = TextOf(v, false);
        if (f.Name.empty()) f.Name = TextOf(&a->Title, false);
        f.Bytes.assign(reinterpret_cast<const char*>(a->FileData.data), static_cast<std::size_t>(a->FileData.size));
        files.push_back(std::move(f));
    }
    return files;
}

} // namespace quillmark::outlook::mailbox
