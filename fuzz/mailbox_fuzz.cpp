// Arbitrary bytes through the whole mailbox path: open the store, every item, every
// property, every attachment saved. Run for a minute, seeded with the sample store's
// messages (new finds go to the first, writable directory):
//   mkdir -p /tmp/mailbox-corpus
//   build-fuzz/fuzz/mailbox_fuzz -max_total_time=60 -max_len=65536 /tmp/mailbox-corpus samples/store/Saved
#include "outlook/ObjectModel.h"
#include "outlook/mailbox/MailboxStore.h"
#include "platform/FileSystem.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <random>

using namespace quillmark;
using namespace quillmark::outlook;

namespace {

const std::filesystem::path& WorkDir() {
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() / ("quillmark-mailbox-fuzz-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

void Write(const std::filesystem::path& p, const std::string& data) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

void Visit(Folder& folder, int depth) {
    static const DispId texts[] = {dispid::Subject, dispid::Body, dispid::SenderName, dispid::To, dispid::CC,
                                   dispid::BCC, dispid::ReplyRecipientNames, dispid::EntryID, dispid::MessageClass,
                                   dispid::ConversationTopic, dispid::Categories, dispid::Mileage};
    static const DispId dates[] = {dispid::ReceivedTime, dispid::SentOn, dispid::CreationTime,
                                   dispid::LastModificationTime, dispid::ExpiryTime};
    static const DispId bools[] = {dispid::UnRead, dispid::ReadReceiptRequested, dispid::Saved};
    (void)folder.Name();
    (void)folder.EntryID();
    auto items = folder.Items();
    for (int i = 1; i <= items->Count(); ++i) {
        auto mail = items->Item(i)->QueryMailItem();
        if (!mail) continue;
        for (DispId id : texts) (void)mail->GetText(id);
        for (DispId id : dates) (void)mail->GetDate(id);
        for (DispId id : bools) (void)mail->GetBool(id);
        (void)mail->GetInt(dispid::Size);
        auto atts = mail->Attachments();
        for (int k = 1; k <= atts->Count(); ++k) {
            auto a = atts->Item(k);
            (void)a->FileName();
            a->SaveAsFile(platform::Utf8Path(WorkDir() / "saved.bin"));
        }
    }
    if (depth > 4) return;
    auto subs = folder.Folders();
    for (int i = 1; i <= subs->Count(); ++i) Visit(*subs->Item(i), depth + 1);
}

void Run(const std::filesystem::path& path) {
    auto warnings = std::make_shared<WarningSink>();
    warnings->SetHandler([](const std::string&) {});
    try {
        auto store = mailbox::OpenMailboxStore(platform::Utf8Path(path), warnings);
        Visit(*store->TopFolder(), 0);
    } catch (const EStoreError&) {
        // A store error is an allowed outcome (e.g. an attachment name the file system
        // refuses); crashes and sanitizer reports are not.
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const auto mbox = WorkDir() / "box";
    Write(mbox, "From fuzz@example.org Mon Jan  1 00:00:00 2024\n" + bytes);
    Run(mbox);
    const auto eml = WorkDir() / "one.eml";
    Write(eml, bytes);
    Run(eml);
    return 0;
}
