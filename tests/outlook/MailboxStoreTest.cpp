// Store layouts of the mailbox backend and the store factory over them.
#include "outlook/StoreFactory.h"
#include "outlook/mailbox/MailboxStore.h"
#include "outlook/FolderTree.h"

#include "MailboxTestSupport.h"

#include <gtest/gtest.h>

using namespace quillmark;
using namespace quillmark::outlook;
using quillmark::testing::TempDir;
using quillmark::testing::Utf8;

namespace {

std::string Mail(const std::string& subject, const std::string& date = "Mon, 07 Mar 2005 10:00:00 +0000") {
    return "From: Sender <s@example.org>\nDate: " + date + "\nSubject: " + subject + "\n\nBody of " + subject + "\n";
}

std::string MboxOf(const std::vector<std::string>& subjects) {
    std::string out;
    for (const auto& s : subjects) out += "From s@example.org Mon Mar  7 10:00:00 2005\n" + Mail(s) + "\n";
    return out;
}

// The tree of a store as "Name[subjects](children)".
std::string Describe(Folder& folder) {
    std::string out = Utf8(folder.Name());
    auto items = folder.Items();
    if (items->Count() > 0) {
        out += "[";
        for (int i = 1; i <= items->Count(); ++i) {
            if (i > 1) out += ",";
            out += Utf8(items->Item(i)->QueryMailItem()->GetText(dispid::Subject));
        }
        out += "]";
    }
    auto subs = folder.Folders();
    if (subs->Count() > 0) {
        out += "(";
        for (int i = 1; i <= subs->Count(); ++i) {
            if (i > 1) out += ",";
            out += Describe(*subs->Item(i));
        }
        out += ")";
    }
    return out;
}

// Every folder reopened by its identifiers must be the same folder with the same mail.
void ExpectRoundTrip(Store& store, Folder& folder) {
    auto again = store.GetFolderFromID(folder.EntryID());
    EXPECT_EQ(Describe(*again), Describe(folder));
    EXPECT_EQ(again->StoreID(), store.StoreID());
    auto subs = folder.Folders();
    for (int i = 1; i <= subs->Count(); ++i) ExpectRoundTrip(store, *subs->Item(i));
}

struct Opened {
    std::shared_ptr<WarningSink> sink = std::make_shared<WarningSink>();
    std::vector<std::string> warnings;
    std::shared_ptr<Store> store;
    explicit Opened(const std::string& path) {
        sink->SetHandler([this](const std::string& m) { warnings.push_back(m); });
        store = mailbox::OpenMailboxStore(path, sink);
    }
    std::string Tree() { return Describe(*store->TopFolder()); }
};

TEST(MailboxStore, MboxFileKeepsMboxOrder) {
    TempDir dir;
    dir.Write("Archive.mbox", "\r\n\n" + MboxOf({"zeta", "alpha", "mid"}));
    Opened o(dir.Ansi("Archive.mbox"));
    EXPECT_EQ(o.Tree(), "Archive[zeta,alpha,mid]");
    EXPECT_EQ(o.store->StoreID(), platform::Utf16FromUtf8(dir.Ansi("Archive.mbox")));
    ExpectRoundTrip(*o.store, *o.store->TopFolder());
    EXPECT_TRUE(o.warnings.empty());
}

TEST(MailboxStore, ThunderbirdExpungedMailIsNoMailItem) {
    TempDir dir;
    // The mark counts in the header only (LF or CR LF lines), not in the body.
    dir.Write("Inbox", "From - Mon Mar  7 10:00:00 2005\nX-Mozilla-Status: 0009\n" + Mail("deleted") +
                           "\nFrom - Mon Mar  7 10:00:00 2005\nX-Mozilla-Status: 0001\n" + Mail("kept") +
                           "\nFrom - Mon Mar  7 10:00:00 2005\nSubject: crlf\r\nX-Mozilla-Status: 0008\r\n\r\nx\n" +
                           "\nFrom - Mon Mar  7 10:00:00 2005\nSubject: body\n\nX-Mozilla-Status: 0009\n");
    Opened o(dir.Ansi("Inbox"));
    auto items = o.store->TopFolder()->Items();
    ASSERT_EQ(items->Count(), 4);
    EXPECT_FALSE(items->Item(1)->QueryMailItem());
    ASSERT_TRUE(items->Item(2)->QueryMailItem());
    EXPECT_EQ(Utf8(items->Item(2)->QueryMailItem()->GetText(dispid::Subject)), "kept");
    EXPECT_FALSE(items->Item(3)->QueryMailItem());
    EXPECT_TRUE(items->Item(4)->QueryMailItem());
}

TEST(MailboxStore, MboxFileShowsItsThunderbirdSubfoldersButNothingElseBesideIt) {
    TempDir dir;
    dir.Write("Inbox", MboxOf({"in"}));
    dir.Write("Inbox.sbd/Work", MboxOf({"work"}));
    dir.Write("Other", MboxOf({"other"}));
    dir.Write("Sneaky.sbd/x.eml", Mail("x"));
    Opened o(dir.Ansi("Inbox"));
    EXPECT_EQ(o.Tree(), "Inbox[in](Work[work])");
    ExpectRoundTrip(*o.store, *o.store->TopFolder());
    for (const WideString id : {u"m|Other|", u"d|Sneaky.sbd|", u"m|Inbox.sbdX/Work|", u"m||"})
        EXPECT_THROW(o.store->GetFolderFromID(id), EStoreError) << Utf8(id);
}

TEST(MailboxStore, MaildirPlusPlusTreeWithImpliedParents) {
    TempDir dir;
    dir.Write("Mail/cur/1000.b:2,S", Mail("b-read"));
    dir.Write("Mail/new/0999.a", Mail("a-new"));
    dir.MakeDir("Mail/tmp");
    dir.Write("Mail/.Sent/cur/1:2,S", Mail("sent"));
    dir.Write("Mail/.Lists.dev/cur/1:2,", Mail("dev-list"));
    dir.Write("Mail/.Lists.dev.old/new/1", Mail("old"));
    dir.Write("Mail/dovecot.index", "binary");
    Opened o(dir.Ansi("Mail"));
    EXPECT_EQ(o.Tree(), "Mail[a-new,b-read](Lists(dev[dev-list](old[old])),Sent[sent])");
    auto items = o.store->TopFolder()->Items();
    EXPECT_EQ(items->Item(1)->QueryMailItem()->GetBool(dispid::UnRead), VariantTrue);
    EXPECT_EQ(items->Item(2)->QueryMailItem()->GetBool(dispid::UnRead), VariantFalse);
    EXPECT_EQ(items->Item(2)->QueryMailItem()->GetText(dispid::EntryID), u"1000.b");
    ExpectRoundTrip(*o.store, *o.store->TopFolder());
    EXPECT_THROW(o.store->GetFolderFromID(u"P||Nowhere"), EStoreError);
    EXPECT_THROW(o.store->GetFolderFromID(u"P||Lis"), EStoreError);
}

TEST(MailboxStore, MailWithMaildirNamesOutsideCurAndNewIsNotLost) {
    // Trees some tools keep (notmuch's among them): Maildir-named mail loose in a Maildir
    // folder and in plain subdirectories, one of them starting like an mbox.
    TempDir dir;
    dir.Write("Mail/cur/1000.b:2,S", Mail("in-cur"));
    dir.Write("Mail/01:2,", Mail("loose"));
    dir.Write("Mail/bar/17:2,", "From someone Mon Mar  7 10:00:00 2005\n" + Mail("loose-in-dir"));
    dir.Write("Mail/bar/notes.txt", "not mail");
    Opened o(dir.Ansi("Mail"));
    EXPECT_EQ(o.Tree(), "Mail[loose,in-cur](bar[loose-in-dir])"); // in file-name order
}

TEST(MailboxStore, MaildirPlusPlusNamesInModifiedUtf7) {
    TempDir dir;
    dir.Write("Mail/cur/1:2,S", Mail("top"));
    dir.Write("Mail/.K&APY-ln/cur/1:2,S", Mail("cologne"));
    dir.Write("Mail/.Fish &- Chips/cur/1:2,S", Mail("fish"));
    dir.Write("Mail/.Broken&AP/cur/1:2,S", Mail("broken"));
    Opened o(dir.Ansi("Mail"));
    EXPECT_EQ(o.Tree(), "Mail[top](Broken&AP[broken],Fish & Chips[fish],Köln[cologne])");
    ExpectRoundTrip(*o.store, *o.store->TopFolder());
}

TEST(MailboxStore, LinkedDirectoriesAreNotFollowed) {
    TempDir dir;
    dir.Write("Root/Sub/a.eml", Mail("a"));
    std::filesystem::create_directory_symlink(dir.Path() / "Root", dir.Path() / "Root/Sub/loop");
    Opened o(dir.Ansi("Root"));
    EXPECT_EQ(o.Tree(), "Root(Sub[a])");
}

TEST(MailboxStore, DirectoryOfEmlFilesAndMixedTree) {
    TempDir dir;
    dir.Write("Root/b.eml", Mail("second"));
    dir.Write("Root/a.EML", Mail("first"));
    dir.Write("Root/notes.txt", "not mail");
    dir.Write("Root/Inbox", MboxOf({"in1", "in2"}));
    dir.Write("Root/Inbox.msf", "index");
    dir.Write("Root/Inbox.sbd/Work", MboxOf({"work"}));
    dir.Write("Root/Inbox.sbd/Work.sbd/Deep.mbox", MboxOf({"deep"}));
    dir.Write("Root/Trash", "");
    dir.Write("Root/Trash.msf", "");
    dir.Write("Root/Maildir/cur/1:2,S", Mail("md"));
    dir.Write("Root/Saved/x.eml", Mail("saved"));
    dir.Write("Root/.hidden/y.eml", Mail("hidden"));
    Opened o(dir.Ansi("Root"));
    EXPECT_EQ(o.Tree(), "Root[first,second](Inbox[in1,in2](Work[work](Deep[deep])),Maildir[md],Saved[saved],Trash)");
    ExpectRoundTrip(*o.store, *o.store->TopFolder());
}

TEST(MailboxStore, SingleMessageFileIsAStoreOfOneMail) {
    TempDir dir;
    dir.Write("note.eml", Mail("lonely"));
    Opened o(dir.Ansi("note.eml"));
    EXPECT_EQ(o.Tree(), "note[lonely]");
    ExpectRoundTrip(*o.store, *o.store->TopFolder());
}

TEST(MailboxStore, ForeignOrEscapingEntryIdsAreRefused) {
    TempDir dir;
    dir.Write("Root/Sub/a.eml", Mail("a"));
    dir.Write("Outside/b.eml", Mail("b"));
    Opened o(dir.Ansi("Root"));
    const WideString bad[] = {u"d|../Outside|", u"d|/etc|", u"d|Sub/../../Outside|", u"d|Missing|", u"x|Sub|",
                              u"d|Sub|extra",  u"",        u"d|Sub",               u"P|Sub|../x", u"d|Sub\u0100|"};
    for (const auto& id : bad) EXPECT_THROW(o.store->GetFolderFromID(id), EStoreError) << Utf8(id);
    EXPECT_EQ(Utf8(o.store->GetFolderFromID(u"d|Sub|")->Name()), "Sub");
}

TEST(MailboxStore, FileNamesWithOddBytesRoundTrip) {
    TempDir dir;
    dir.Write("Root/100% | done/a.eml", Mail("odd"));
    Opened o(dir.Ansi("Root"));
    ExpectRoundTrip(*o.store, *o.store->TopFolder());
    EXPECT_EQ(o.Tree(), "Root(100% | done[odd])");
}

TEST(MailboxStore, ItemsAreIndexedOncePerOpenedFolder) {
    TempDir dir;
    const auto file = dir.Write("box", MboxOf({"one", "two"}));
    Opened o(dir.Ansi("box"));
    auto folder = o.store->TopFolder();
    ASSERT_EQ(folder->Items()->Count(), 2);
    // Mail appended after the folder was opened is not seen by it, but by a reopened one.
    std::ofstream(file, std::ios::app) << MboxOf({"three"});
    EXPECT_EQ(folder->Items()->Count(), 2);
    EXPECT_EQ(o.store->GetFolderFromID(folder->EntryID())->Items()->Count(), 3);
    // A file cut after it was indexed gives what is left, and says so.
    std::filesystem::resize_file(file, 60);
    auto items = folder->Items();
    ASSERT_NO_THROW(items->Item(1)->QueryMailItem());
    std::string all;
    for (const auto& w : o.warnings) all += w + "\n";
    EXPECT_NE(all.find("box, mail 1: the mailbox file became shorter"), std::string::npos) << all;
    EXPECT_NO_THROW(items->Item(2)->QueryMailItem()->GetText(dispid::Subject));
}

// An incremental run passes over archived mail by the EntryID the folder gives without
// reading the mail: it must be the one the mail itself carries, or mail would be read again
// (or, with another mail's identity, passed over).
TEST(MailboxStore, EntryIdWithoutReadingIsTheMailsOwn) {
    TempDir dir;
    dir.Write("box", MboxOf({"one", "two", "three"}));
    dir.Write("Mail/cur/1000.b:2,S", Mail("b"));
    dir.Write("Mail/new/0999.a", Mail("a"));
    dir.Write("Mail/1001.c:2,", Mail("loose"));
    dir.Write("Eml/x \xC3\xA9.eml", Mail("x"));
    for (const char* path : {"box", "Mail", "Eml"}) {
        SCOPED_TRACE(path);
        Opened o(dir.Ansi(path));
        auto items = o.store->TopFolder()->Items();
        ASSERT_GT(items->Count(), 0);
        for (int i = items->Count(); i >= 1; --i) { // out of order, as a run that skips reads
            const WideString id = items->EntryIdOf(i);
            EXPECT_FALSE(id.empty());
            EXPECT_EQ(id, items->Item(i)->QueryMailItem()->GetText(dispid::EntryID)) << i;
        }
        EXPECT_TRUE(items->EntryIdOf(items->Count() + 1).empty());
    }
}

TEST(MailboxStore, MissingPathAndNonMboxFile) {
    TempDir dir;
    EXPECT_THROW(mailbox::OpenMailboxStore(dir.Ansi("nothing-here"), nullptr), EStoreError);
    dir.Write("photo.jpg", "\xff\xd8\xff\xe0 not mail");
    Opened o(dir.Ansi("photo.jpg"));
    ASSERT_EQ(o.warnings.size(), 1u);
    EXPECT_NE(o.warnings[0].find("not an mbox"), std::string::npos);
    EXPECT_EQ(o.store->TopFolder()->Items()->Count(), 1);
}

TEST(MailboxStore, WarningsNameTheFolderAndMail) {
    TempDir dir;
    dir.Write("Root/K\xc3\xb6ln", MboxOf({"one", "two"}) + "From s Mon Mar  7 10:00:00 2005\n"
                                   "From: a@x\nContent-Type: text/plain; charset=\"x-\xff\x01\"\n\nhi\n");
    Opened o(dir.Ansi("Root"));
    auto folder = o.store->TopFolder()->Folders()->Item(1);
    auto items = folder->Items();
    ASSERT_EQ(items->Count(), 3);
    EXPECT_TRUE(o.warnings.empty());
    (void)items->Item(3)->QueryMailItem()->GetText(dispid::Body);
    ASSERT_EQ(o.warnings.size(), 1u);
    const std::string prefix = "K\xC3\xB6ln, mail 3: unknown charset \"x-";
    ASSERT_EQ(o.warnings[0].substr(0, prefix.size()), prefix);
    // The mail's own bytes in the charset name arrive only as "?".
    for (char c : o.warnings[0].substr(prefix.size())) EXPECT_TRUE(c >= 0x20 && c <= 0x7E) << int(c);
}

TEST(StoreFactory, OneTopFolderPerStoreAndRoutingByStoreId) {
    TempDir dir;
    dir.Write("A/Inbox/x.eml", Mail("in A"));
    dir.Write("B/Inbox/x.eml", Mail("in B"));
    auto app = ConnectApplication({dir.Ansi("A"), dir.Ansi("B")});
    auto ns = app->GetNamespace("MAPI");
    ns->Logon();
    FolderTreeModel tree;
    tree.ScanFolders(*ns->Folders(), nullptr);
    ASSERT_EQ(tree.TopLevel().size(), 2u);
    for (const auto& top : tree.TopLevel()) {
        const FolderNode* inbox = top->Children.at(0).get();
        auto folder = ns->GetFolderFromID(inbox->Folder.EntryID, inbox->Folder.StoreID);
        EXPECT_EQ(Utf8(folder->Items()->Item(1)->QueryMailItem()->GetText(dispid::Subject)), "in " + top->Text);
    }
    EXPECT_THROW(ns->GetFolderFromID(u"d||", u"not a store"), EStoreError);
    EXPECT_THROW(app->GetNamespace("OTHER"), EStoreError);
    ns->Logoff();
}

TEST(StoreFactory, UnreadableStoresAreWarnedAndAllFailingIsAnError) {
    TempDir dir;
    dir.Write("Good/x.eml", Mail("x"));
    auto app = ConnectApplication({dir.Ansi("Missing"), dir.Ansi("Good")});
    auto ns = app->GetNamespace("MAPI");
    ns->Logon();
    EXPECT_EQ(ns->Folders()->Count(), 1);
    // Warnings raised before a handler was set are handed over when it is.
    std::vector<std::string> warnings;
    app->SetWarningHandler([&](const std::string& m) { warnings.push_back(m); });
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("Missing"), std::string::npos);

    auto none = ConnectApplication({dir.Ansi("Missing")});
    EXPECT_THROW(none->GetNamespace("MAPI")->Logon(), EStoreError);
    auto empty = ConnectApplication({});
    EXPECT_NO_THROW(empty->GetNamespace("MAPI")->Logon());
    EXPECT_EQ(empty->GetNamespace("MAPI")->Folders()->Count(), 0);
}

TEST(StoreFactory, SampleStoreIsFound) {
    const std::string path = DefaultSampleStorePath();
    ASSERT_FALSE(path.empty());
    auto app = ConnectApplication({path});
    auto ns = app->GetNamespace("MAPI");
    ns->Logon();
    FolderTreeModel tree;
    tree.ScanFolders(*ns->Folders(), nullptr);
    EXPECT_GE(tree.NodeCount(), 3u);
}

} // namespace
