#include "outlook/mailbox/Tnef.h"

#include "outlook/mailbox/HeaderText.h"
#include "platform/CodePage.h"

// The library's header declares C functions without saying so.
extern "C" {
#include <ytnef.h>
}

#include <memory>

namespace quillmark::outlook::mailbox {

namespace {

// MAPI property types and the long file name property of an attachment.
constexpr unsigned int TypeString8 = 0x001E;
constexpr unsigned int TypeUnicode = 0x001F;
constexpr unsigned int LongFileName = 0x3707;

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

} // namespace

std::vector<TnefFile> ReadTnef(std::string_view data) {
    std::vector<TnefFile> files;
    // The reader wants writable bytes and a long size.
    if (data.size() < 6 || data.size() > 0x7FFFFFFF) return files;
    std::string copy(data);
    std::unique_ptr<TNEFStruct, Freer> tnef(new TNEFStruct);
    TNEFInitialize(tnef.get());
    tnef->Debug = 0;
    if (TNEFParseMemory(reinterpret_cast<BYTE*>(copy.data()), static_cast<long>(copy.size()), tnef.get()) < 0)
        return files;
    for (Attachment* a = tnef->starting_attach.next; a; a = a->next) {
        if (!a->FileData.data || a->FileData.size <= 0) continue; // an embedded message or an empty slot
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
