// A whole data file from the fuzzer's bytes: open it and touch everything an archive run
// would: the folder tree, every item, the mail properties and the attachments. Store
// errors are the expected answer to damaged input; a crash or a sanitizer report is a bug.
#include "outlook/pst/PstStore.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

using namespace quillmark;
using namespace quillmark::outlook;

namespace {

const std::string& Scratch() {
    // Attachments are written through the real SaveAsFile; one scratch file is reused.
    static const std::string path = (std::filesystem::temp_directory_path() / "quillmark-pst-fuzz.bin").string();
    return path;
}

int budget = 0; // bounds the work per input so that a forged huge folder cannot stall the run

void Walk(Folder& folder, int depth) {
    if (depth > 16 || --budget < 0)
        return;
    try {
        folder.Name();
        folder.EntryID();
        auto items = folder.Items();
        int count = items->Count();
        for (int i = 1; i <= count && i <= 50 && --budget >= 0; ++i) {
            auto mail = items->Item(i)->QueryMailItem();
            if (!mail)
                continue;
            for (DispId id : {dispid::Subject, dispid::Body, dispid::SenderName, dispid::To, dispid::Categories,
                              dispid::EntryID, dispid::OutlookVersion, dispid::MessageClass, dispid::CC})
                mail->GetText(id);
            mail->GetDate(dispid::ReceivedTime);
            mail->GetDate(dispid::ReminderTime);
            mail->GetBool(dispid::UnRead);
            mail->GetBool(dispid::ReminderSet);
            mail->GetInt(dispid::Size);
            auto atts = mail->Attachments();
            int attCount = atts->Count();
            for (int k = 1; k <= attCount && k <= 8; ++k) {
                try {
                    auto a = atts->Item(k);
                    a->FileName();
                    a->SaveAsFile(Scratch());
                } catch (const Exception&) {
                }
            }
        }
    } catch (const Exception&) {
    }
    try {
        auto subs = folder.Folders();
        int count = subs->Count();
        for (int i = 1; i <= count && i <= 64; ++i) {
            try {
                Walk(*subs->Item(i), depth + 1);
            } catch (const Exception&) {
            }
        }
    } catch (const Exception&) {
    }
}

} // namespace

// libpff 20180714 leaks the column definitions of a property table it fails to read. Seen on
// damaged files with a program that calls libpff alone and frees every item and the file, so
// it is not ours to free; LeakSanitizer is told so here, where the fuzzer is, and still
// reports every other leak.
extern "C" const char* __lsan_default_suppressions() { return "leak:libpff_column_definition_initialize\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    budget = 2000;
    try {
        auto store = pst::OpenPstStoreFromMemory(std::string(reinterpret_cast<const char*>(data), size), "fuzz.pst",
                                                 std::make_shared<WarningSink>());
        auto top = store->TopFolder();
        Walk(*top, 0);
        store->GetFolderFromID(top->EntryID());
    } catch (const Exception&) {
    }
    return 0;
}
