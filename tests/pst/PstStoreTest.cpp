// The .pst backend on the shared sample files (see fixtures/pst/README.md for their
// contents). Skips when the fixtures are not there.
#include "outlook/pst/PstStore.h"

#include "outlook/pst/PstFile.h"

#include "SrcLib/DateTime.h"
#include "PstFixtures.h"
#include "TempDir.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "text/RtfText.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace quillmark;
using namespace quillmark::outlook;
using quillmark::test::FixtureDir;
using quillmark::test::ReadFile;

namespace {

const char* const AnsiFile = "pstsdk-sample2-ansi.pst";
const char* const UnicodeFile = "aspose-passwordprotectedPST.pst";
const char* const DistListFile = "dist-list.pst";
const char* const PasswordedFile = "passworded.pst";

std::shared_ptr<Store> Open(const std::string& name, std::shared_ptr<WarningSink> warnings = nullptr) {
    return pst::OpenPstStore(FixtureDir() + name, warnings ? warnings : std::make_shared<WarningSink>());
}

std::string Utf8(const std::u16string& s) { return platform::Utf8FromUtf16(s); }

// The tree as one line: "Top(A,B(C))".
std::string Shape(Folder& folder) {
    std::string out = Utf8(folder.Name());
    auto subs = folder.Folders();
    if (subs->Count() > 0) {
        out += "(";
        for (int i = 1; i <= subs->Count(); ++i)
            out += (i > 1 ? "," : "") + Shape(*subs->Item(i));
        out += ")";
    }
    return out;
}

std::shared_ptr<Folder> Sub(Folder& parent, const std::u16string& name) {
    auto subs = parent.Folders();
    for (int i = 1; i <= subs->Count(); ++i)
        if (auto f = subs->Item(i); f->Name() == name)
            return f;
    return nullptr;
}

std::vector<std::shared_ptr<MailItem>> Mails(Folder& folder) {
    std::vector<std::shared_ptr<MailItem>> out;
    auto items = folder.Items();
    for (int i = 1; i <= items->Count(); ++i)
        if (auto m = items->Item(i)->QueryMailItem())
            out.push_back(m);
    return out;
}

std::shared_ptr<MailItem> MailBySubject(Folder& folder, const std::u16string& subject) {
    for (auto& m : Mails(folder))
        if (m->GetText(dispid::Subject) == subject)
            return m;
    return nullptr;
}

// Visits every folder, item, property and attachment a run could touch; store errors are
// fine (a damaged file may refuse), anything else fails the test.
void WalkEverything(Folder& folder, const std::string& scratch, int depth = 0) {
    if (depth > 64)
        return;
    folder.Name();
    folder.EntryID();
    std::shared_ptr<ItemCollection> items;
    try {
        items = folder.Items();
        for (int i = 1; i <= items->Count(); ++i) {
            auto mail = items->Item(i)->QueryMailItem();
            if (!mail)
                continue;
            for (DispId id : {dispid::Subject, dispid::Body, dispid::SenderName, dispid::To, dispid::Categories,
                              dispid::EntryID, dispid::OutlookVersion, dispid::MessageClass})
                mail->GetText(id);
            mail->GetDate(dispid::ReceivedTime);
            mail->GetDate(dispid::ReminderTime);
            mail->GetBool(dispid::UnRead);
            mail->GetBool(dispid::NoAging);
            mail->GetInt(dispid::Size);
            auto atts = mail->Attachments();
            for (int k = 1; k <= atts->Count(); ++k) {
                try {
                    auto a = atts->Item(k);
                    a->FileName();
                    a->SaveAsFile(scratch);
                } catch (const EStoreError&) {
                }
            }
        }
    } catch (const EStoreError&) {
    }
    auto subs = folder.Folders();
    for (int i = 1; i <= subs->Count(); ++i) {
        try {
            WalkEverything(*subs->Item(i), scratch, depth + 1);
        } catch (const EStoreError&) {
        }
    }
}

} // namespace

TEST(PstStore, FolderTreesShowTheIpmSubtreeUnderTheStoreName) {
    REQUIRE_PST_FIXTURES();
    const std::string standard = "Deleted Items,Inbox,Outbox,Sent Items,Calendar,Contacts,Journal,Notes,Tasks,"
                                 "Drafts,RSS Feeds,Junk E-mail";
    struct Case {
        const char* file;
        std::string shape;
    } cases[] = {
        {AnsiFile, "sample2(Deleted Items,Sample2)"},
        {UnicodeFile, "Personal folders(Deleted Items,Inbox)"},
        {DistListFile, "Personal Folders(" + standard + ")"},
        {PasswordedFile, "Personal Folders(" + standard + ")"},
    };
    for (const auto& c : cases) {
        auto store = Open(c.file);
        EXPECT_EQ(Shape(*store->TopFolder()), c.shape) << c.file;
        // No system folder of the root (search folders, views, reminders) appears.
        EXPECT_EQ(c.shape.find("Search"), std::string::npos);
        EXPECT_EQ(c.shape.find("Freebusy"), std::string::npos);
    }
}

TEST(PstStore, StoreIdIsThePathAndEntryIdsNameNodes) {
    REQUIRE_PST_FIXTURES();
    auto store = Open(AnsiFile);
    auto top = store->TopFolder();
    EXPECT_EQ(Utf8(store->StoreID()), FixtureDir() + AnsiFile);
    EXPECT_EQ(top->StoreID(), store->StoreID());
    EXPECT_EQ(Utf8(top->EntryID()), "000000005224CB63E0454243979665600689867A22800000");
    auto mail = Mails(*Sub(*top, u"Sample2")).at(0);
    EXPECT_EQ(Utf8(mail->GetText(dispid::EntryID)), "000000005224CB63E0454243979665600689867A24002000");
}

TEST(PstStore, GetFolderFromIdReopensEveryFolder) {
    REQUIRE_PST_FIXTURES();
    for (const char* file : {AnsiFile, UnicodeFile, DistListFile, PasswordedFile}) {
        auto store = Open(file);
        std::vector<std::shared_ptr<Folder>> pending{store->TopFolder()};
        int seen = 0;
        while (!pending.empty()) {
            auto folder = pending.back();
            pending.pop_back();
            auto again = store->GetFolderFromID(folder->EntryID());
            EXPECT_EQ(again->Name(), folder->Name()) << file;
            EXPECT_EQ(again->EntryID(), folder->EntryID());
            EXPECT_EQ(again->Items()->Count(), folder->Items()->Count());
            ++seen;
            auto subs = folder->Folders();
            for (int i = 1; i <= subs->Count(); ++i)
                pending.push_back(subs->Item(i));
        }
        EXPECT_GT(seen, 2) << file;
    }
}

TEST(PstStore, GetFolderFromIdRejectsWhatIsNoFolderOfThisStore) {
    REQUIRE_PST_FIXTURES();
    auto ansi = Open(AnsiFile);
    auto unicode = Open(UnicodeFile);
    auto mail = Mails(*Sub(*ansi->TopFolder(), u"Sample2")).at(0);
    const std::u16string cases[] = {
        unicode->TopFolder()->EntryID(),                   // another store's folder
        mail->GetText(dispid::EntryID),                    // a message, not a folder
        u"000000005224CB63E0454243979665600689867AFFFFFF7F", // no such node
        u"not an entry id",
    };
    for (const auto& id : cases)
        EXPECT_THROW(ansi->GetFolderFromID(id), EStoreError) << Utf8(id);
}

TEST(PstStore, NonMailItemsArePassedOver) {
    REQUIRE_PST_FIXTURES();
    for (const char* file : {DistListFile, PasswordedFile}) {
        auto top = Open(file)->TopFolder();
        auto contacts = Sub(*top, u"Contacts");
        ASSERT_TRUE(contacts);
        EXPECT_EQ(contacts->Items()->Count(), 2) << file; // a distribution list and a contact
        EXPECT_TRUE(Mails(*contacts).empty()) << file;
    }
    auto calendar = Sub(*Open(DistListFile)->TopFolder(), u"Calendar");
    EXPECT_EQ(calendar->Items()->Count(), 1);
    EXPECT_TRUE(Mails(*calendar).empty());
    // Associated contents (views, rules) are not items of the folder.
    EXPECT_EQ(Sub(*Open(PasswordedFile)->TopFolder(), u"Inbox")->Items()->Count(), 0);
}

TEST(PstStore, AnsiMailProperties) {
    REQUIRE_PST_FIXTURES();
    auto folder = Sub(*Open(AnsiFile)->TopFolder(), u"Sample2");
    auto mails = Mails(*folder);
    ASSERT_EQ(mails.size(), 1u);
    auto& m = *mails[0];
    struct TextCase {
        DispId id;
        std::string value;
    } texts[] = {
        {dispid::Subject, "Here is a sample message"},
        {dispid::ConversationTopic, "Here is a sample message"},
        {dispid::MessageClass, "IPM.Note"},
        {dispid::SenderName, "Terry Mahaffey"},
        {dispid::To, "Terry Mahaffey"},
        {dispid::CC, ""},
        {dispid::ToEmailAddresses, "terrymah@microsoft.com"}, // from the recipient table
        {dispid::CCEmailAddresses, ""},
        {dispid::BCCEmailAddresses, ""},
        {dispid::SentOnBehalfOfName, "Terry Mahaffey"},
        {dispid::Categories, "Green Category, Red Category"}, // named, PS_PUBLIC_STRINGS
        {dispid::OutlookVersion, "14.0"},                      // named, PSETID_Common
        {dispid::OutlookInternalVersion, "144743"},            // named, a number as text
        {dispid::BillingInformation, ""},                      // named, absent
        {dispid::Body, "With a sample attachment. It's my daughter and our puppy. Aren't they cute?\r\n\r\n"},
    };
    for (const auto& t : texts)
        EXPECT_EQ(Utf8(m.GetText(t.id)), t.value) << "DispID 0x" << std::hex << t.id;

    EXPECT_EQ(m.GetInt(dispid::Size), 103861);
    EXPECT_EQ(m.GetBool(dispid::UnRead), VariantFalse); // flags 0x31: read
    EXPECT_EQ(m.GetBool(dispid::Saved), VariantTrue);
    EXPECT_EQ(m.GetBool(dispid::AlternateRecipientAllowed), VariantTrue);
    EXPECT_EQ(m.GetBool(dispid::ReadReceiptRequested), VariantFalse);
    EXPECT_EQ(m.GetBool(dispid::ReminderSet), VariantFalse);

    double received = platform::UtcToLocal(*TryEncodeDateTime(2010, 3, 15, 17, 12, 7));
    double sent = platform::UtcToLocal(*TryEncodeDateTime(2010, 3, 15, 17, 12, 5));
    EXPECT_NEAR(m.GetDate(dispid::ReceivedTime), received, 1.0 / 86400);
    EXPECT_NEAR(m.GetDate(dispid::SentOn), sent, 1.0 / 86400);
    EXPECT_GT(m.GetDate(dispid::DeferredDeliveryTime), AbsentDateThreshold);
    EXPECT_GT(m.GetDate(dispid::ReminderTime), AbsentDateThreshold);
}

TEST(PstStore, AnsiMailPictureIsSavedByteForByte) {
    REQUIRE_PST_FIXTURES();
    auto mail = Mails(*Sub(*Open(AnsiFile)->TopFolder(), u"Sample2")).at(0);
    auto atts = mail->Attachments();
    ASSERT_EQ(atts->Count(), 1);
    auto picture = atts->Item(1);
    EXPECT_EQ(Utf8(picture->FileName()), "leah_thumper.jpg"); // the long name, not leah_t~1.jpg
    test::TempDir dir;
    picture->SaveAsFile(dir.File("p.jpg"));
    std::string bytes = ReadFile(dir.File("p.jpg"));
    ASSERT_EQ(bytes.size(), 93142u);
    EXPECT_EQ(bytes.substr(0, 4), "\xFF\xD8\xFF\xE0");
    EXPECT_THROW(atts->Item(2), EStoreError);
    EXPECT_THROW(atts->Item(0), EStoreError);
}

TEST(PstStore, UnicodeMailKeepsEveryCharacter) {
    REQUIRE_PST_FIXTURES();
    auto deleted = Sub(*Open(UnicodeFile)->TopFolder(), u"Deleted Items");
    auto mail = MailBySubject(*deleted, u"采购成本为何居高不下呢？");
    ASSERT_TRUE(mail);
    EXPECT_EQ(Utf8(mail->GetText(dispid::Subject)), "采购成本为何居高不下呢？");
    EXPECT_EQ(mail->GetText(dispid::SenderName), u"彭汵茜");
    auto atts = mail->Attachments();
    ASSERT_EQ(atts->Count(), 1);
    EXPECT_EQ(atts->Item(1)->FileName(), u"降低采购成本及供应商谈判技巧.doc");
    EXPECT_EQ(Utf8(atts->Item(1)->FileName()), "降低采购成本及供应商谈判技巧.doc");
    test::TempDir dir;
    atts->Item(1)->SaveAsFile(dir.File("a.doc"));
    std::string bytes = ReadFile(dir.File("a.doc"));
    EXPECT_EQ(bytes.size(), 58368u);
    EXPECT_EQ(bytes.substr(0, 4), "\xD0\xCF\x11\xE0");

    auto second = MailBySubject(*deleted, u"绩效考核与薪酬体系的激励与创新");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->Attachments()->Item(1)->FileName(), u"企业绩效考核与薪酬体系设计实特训班.doc");
}

TEST(PstStore, ReportsAreMailAndEveryMessageIsRead) {
    REQUIRE_PST_FIXTURES();
    auto top = Open(UnicodeFile)->TopFolder();
    auto deleted = Mails(*Sub(*top, u"Deleted Items"));
    ASSERT_EQ(deleted.size(), 14u);
    std::set<std::string> classes;
    for (auto& m : deleted) {
        classes.insert(Utf8(m->GetText(dispid::MessageClass)));
        EXPECT_EQ(m->GetBool(dispid::UnRead), VariantFalse);
    }
    EXPECT_EQ(classes, (std::set<std::string>{"IPM.Note", "REPORT.IPM.Note.DR", "REPORT.IPM.Note.NDR",
                                              "REPORT.IPM.Note.IPNRN"}));
    EXPECT_EQ(Mails(*Sub(*top, u"Inbox")).size(), 4u);
    // Three "Subject" mails, whose body is "Body".
    int plain = 0;
    for (auto& m : deleted)
        if (m->GetText(dispid::Subject) == u"Subject") {
            EXPECT_EQ(m->GetText(dispid::Body), u"Body");
            ++plain;
        }
    EXPECT_EQ(plain, 3);
}

TEST(PstStore, AttachedMessagesAreSavedAsEmlFiles) {
    REQUIRE_PST_FIXTURES();
    auto inbox = Sub(*Open(UnicodeFile)->TopFolder(), u"Inbox");
    auto mail = MailBySubject(*inbox, u"Message with Attachments");
    ASSERT_TRUE(mail);
    auto atts = mail->Attachments();
    ASSERT_EQ(atts->Count(), 3);
    EXPECT_EQ(Utf8(atts->Item(1)->FileName()), "1.doc");
    EXPECT_EQ(Utf8(atts->Item(2)->FileName()), "1.txt");
    EXPECT_EQ(Utf8(atts->Item(3)->FileName()), "creating an outlook message file.eml");

    test::TempDir dir;
    atts->Item(2)->SaveAsFile(dir.File("1.txt"));
    EXPECT_EQ(ReadFile(dir.File("1.txt")), "This is text attachment file used for Aspose.Email examples.");
    atts->Item(3)->SaveAsFile(dir.File("m.eml"));
    std::string eml = ReadFile(dir.File("m.eml"));
    EXPECT_NE(eml.find("Subject: creating an outlook message file\r\n"), std::string::npos) << eml.substr(0, 500);
    EXPECT_NE(eml.find("MIME-Version: 1.0\r\n"), std::string::npos);
    EXPECT_NE(eml.find("Content-Type: "), std::string::npos);
    EXPECT_NE(eml.find("\r\n\r\n"), std::string::npos); // headers end before a body
}

TEST(PstStore, ReportWithAttachedMessageKeepsItsHeaders) {
    REQUIRE_PST_FIXTURES();
    auto deleted = Sub(*Open(UnicodeFile)->TopFolder(), u"Deleted Items");
    int embedded = 0;
    test::TempDir dir;
    for (auto& m : Mails(*deleted)) {
        auto atts = m->Attachments();
        for (int i = 1; i <= atts->Count(); ++i) {
            auto a = atts->Item(i);
            std::string name = Utf8(a->FileName());
            if (name.size() < 4 || name.substr(name.size() - 4) != ".eml")
                continue;
            ++embedded;
            a->SaveAsFile(dir.File("r.eml"));
            std::string eml = ReadFile(dir.File("r.eml"));
            EXPECT_NE(eml.find("Subject: Test mail with success"), std::string::npos) << eml.substr(0, 400);
            // Only one MIME structure: the original's Content-Type lines were replaced.
            EXPECT_EQ(eml.find("MIME-Version"), eml.rfind("MIME-Version"));
        }
    }
    EXPECT_EQ(embedded, 4);
}

TEST(PstStore, ObjectsOutliveTheirStoreAndCollections) {
    REQUIRE_PST_FIXTURES();
    std::shared_ptr<MailItem> mail;
    std::shared_ptr<Attachment> picture;
    {
        auto store = Open(AnsiFile);
        auto folder = Sub(*store->TopFolder(), u"Sample2");
        mail = Mails(*folder).at(0);
        picture = mail->Attachments()->Item(1);
    }
    // Everything but the two objects is gone; the file must still be open for them.
    EXPECT_EQ(Utf8(mail->GetText(dispid::Subject)), "Here is a sample message");
    test::TempDir dir;
    picture->SaveAsFile(dir.File("p.jpg"));
    EXPECT_EQ(platform::FileSize(dir.File("p.jpg")), 93142);
}

TEST(PstStore, MissingOrForeignFilesGiveClearErrors) {
    REQUIRE_PST_FIXTURES();
    test::TempDir dir;
    std::string text = dir.File("notes.pst");
    std::ofstream(text) << "This is not an Outlook data file.\n";
    std::string empty = dir.File("empty.ost");
    std::ofstream(empty).close();
    for (const std::string& path : {dir.File("missing.pst"), text, empty}) {
        try {
            pst::OpenPstStore(path, std::make_shared<WarningSink>());
            ADD_FAILURE() << "opened " << path;
        } catch (const EStoreError& e) {
            EXPECT_NE(e.Message().find(path), std::string::npos) << e.Message();
        }
    }
}

TEST(PstStore, TruncatedCopiesFailCleanly) {
    REQUIRE_PST_FIXTURES();
    test::TempDir dir;
    for (const char* file : {AnsiFile, UnicodeFile}) {
        std::string bytes = ReadFile(FixtureDir() + file);
        for (std::size_t length : {std::size_t{16}, std::size_t{600}, std::size_t{4096}, bytes.size() / 2,
                                   bytes.size() - 512}) {
            std::string path = dir.File("cut.pst");
            platform::WriteFileAtomic(path, bytes.substr(0, length));
            try {
                auto store = pst::OpenPstStore(path, std::make_shared<WarningSink>());
                WalkEverything(*store->TopFolder(), dir.File("scratch"));
            } catch (const EStoreError& e) {
                EXPECT_NE(e.Message().find(path), std::string::npos) << e.Message();
            }
        }
    }
}

TEST(PstStore, CorruptedCopiesNeverCrash) {
    REQUIRE_PST_FIXTURES();
    test::TempDir dir;
    for (const char* file : {AnsiFile, UnicodeFile, DistListFile}) {
        const std::string original = ReadFile(FixtureDir() + file);
        // Runs of damaged bytes across the file: headers, index pages and data blocks.
        for (std::size_t offset = 512; offset < original.size(); offset += original.size() / 23) {
            std::string bytes = original;
            for (std::size_t k = offset; k < std::min(bytes.size(), offset + 64); ++k)
                bytes[k] = static_cast<char>(bytes[k] ^ 0x5A);
            auto warnings = std::make_shared<WarningSink>();
            try {
                auto store = pst::OpenPstStoreFromMemory(bytes, "damaged.pst", warnings);
                WalkEverything(*store->TopFolder(), dir.File("scratch"));
            } catch (const EStoreError& e) {
                EXPECT_NE(e.Message().find("damaged.pst"), std::string::npos) << e.Message();
            }
        }
    }
}

TEST(PstStore, MemoryCopyReadsLikeTheFile) {
    REQUIRE_PST_FIXTURES();
    auto fromFile = Open(AnsiFile);
    auto fromMemory =
        pst::OpenPstStoreFromMemory(ReadFile(FixtureDir() + AnsiFile), "copy.pst", std::make_shared<WarningSink>());
    EXPECT_EQ(Shape(*fromMemory->TopFolder()), Shape(*fromFile->TopFolder()));
    EXPECT_EQ(fromMemory->StoreID(), u"copy.pst");
}

// The RTF bodies of the sample files, decoded and compared with the plain bodies stored
// beside them: LZFu-compressed (the appointment of dist-list.pst, Word-made RTF) and
// stored uncompressed as "MELA" (the Aspose messages, which libpff itself cannot read).
TEST(PstStore, RealRtfBodiesGiveTheirPlainText) {
    REQUIRE_PST_FIXTURES();
    struct Case {
        const char* file;
        std::uint32_t id;
        const char* type;
        std::u16string text;
    } cases[] = {
        {DistListFile, 2097348, "LZFu", u"This is a complete test"},
        {UnicodeFile, 2097188, "MELA", u"Body"},
        {UnicodeFile, 2097764, "MELA", u"This message is created by Aspose.Email"},
    };
    for (const auto& c : cases) {
        auto file = pst::PstFile::Open(FixtureDir() + c.file, nullptr);
        std::string reason;
        auto item = pst::GetItemById(file, c.id, reason);
        ASSERT_TRUE(item) << reason;
        auto raw = item->Find(0x1009); // PR_RTF_COMPRESSED
        ASSERT_TRUE(raw);
        EXPECT_EQ(raw->data.substr(8, 4), c.type);
        auto rtf = pst::DecompressRtf(raw->data);
        ASSERT_TRUE(rtf) << c.file << " " << c.id;
        EXPECT_EQ(rtf->substr(0, 6), "{\\rtf1");
        EXPECT_EQ(platform::Utf16FromUtf8(text::RtfToText(*rtf)), c.text) << c.file << " " << c.id;
    }
}

// The file's name-to-id map gives the tags libpff reports for the ANSI sample's message.
TEST(PstStore, NameToIdMapOfTheFile) {
    REQUIRE_PST_FIXTURES();
    auto file = pst::PstFile::Open(FixtureDir() + AnsiFile, nullptr);
    const pst::NamedPropertyMap* map = file->NamedProperties();
    ASSERT_TRUE(map);
    const pst::GuidBytes internetHeaders = {0x86, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                            0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    EXPECT_EQ(map->Numeric(pst::PsetidCommon, 0x8554), 0x8054u);
    EXPECT_EQ(map->Numeric(pst::PsetidCommon, 0x8552), 0x801Fu);
    EXPECT_EQ(map->Numeric(pst::PsetidCommon, 0x850E), 0x8022u);
    EXPECT_EQ(map->Named(pst::PsPublicStrings, u"Keywords"), 0x8012u);
    EXPECT_EQ(map->Named(internetHeaders, u"acceptlanguage"), 0x8027u);
}

// libpff reports reading a zero-length value as an error; an empty CC is no damage.
TEST(PstStore, ZeroLengthStringsAreEmptyNotErrors) {
    REQUIRE_PST_FIXTURES();
    auto warnings = std::make_shared<WarningSink>();
    auto deleted = Sub(*Open(UnicodeFile, warnings)->TopFolder(), u"Deleted Items");
    int checked = 0;
    for (auto& m : Mails(*deleted)) {
        if (m->GetText(dispid::Subject) != u"Subject")
            continue;
        EXPECT_EQ(m->GetText(dispid::CC), u"");  // stored with length 0
        EXPECT_EQ(m->GetText(dispid::BCC), u""); // stored with length 0
        ++checked;
    }
    EXPECT_EQ(checked, 3);
    EXPECT_TRUE(warnings->Pending().empty()) << warnings->Pending().front();
}
