#include "outlook/FolderTree.h"
#include "support/FakeOutlook.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace quillmark;
using namespace quillmark::outlook;
using quillmark::testing::FakeApplication;

namespace {

std::vector<std::string> Texts(const std::vector<std::unique_ptr<FolderNode>>& nodes) {
    std::vector<std::string> out;
    for (const auto& n : nodes) out.push_back(n->Text);
    return out;
}

// The whole tree as one line: "A(B,C(D)),E".
std::string Shape(const std::vector<std::unique_ptr<FolderNode>>& nodes) {
    std::string out;
    for (const auto& n : nodes) {
        if (!out.empty()) out += ",";
        out += n->Text;
        if (!n->Children.empty()) out += "(" + Shape(n->Children) + ")";
    }
    return out;
}

struct FolderTreeTest : ::testing::Test {
    FakeApplication app;
    FolderTreeModel tree;
    void Scan() { tree.ScanFolders(*app.Ns->Folders(), nullptr); }
};

TEST_F(FolderTreeTest, PublicFoldersStoreAndItsSubtreeAreLeftOut) {
    auto personal = app.Ns->AddStore(u"Personal Folders", u"S1");
    personal->AddFolder(u"Inbox");
    auto pub = app.Ns->AddStore(u"Public Folders", u"S2");
    pub->AddFolder(u"All Public Folders")->AddFolder(u"Team");
    app.Ns->AddStore(u"Mailbox - Anna", u"S3")->AddFolder(u"Sent Items");
    Scan();
    EXPECT_EQ(Shape(tree.TopLevel()), "Personal Folders(Inbox),Mailbox - Anna(Sent Items)");
    // The skipped store's subfolder collection is never asked for.
    EXPECT_FALSE(app.Log->Has("Public Folders.Folders"));
}

TEST_F(FolderTreeTest, PubliInAnyCaseAnywhereInTheNameSkipsTheSubtree) {
    struct Case {
        std::u16string name;
        bool kept;
    };
    const Case cases[] = {
        {u"Republic", false}, {u"Publications", false}, {u"PUBLIC", false}, {u"pUbLiShed", false},
        {u"Pub", true},       {u"publ", true},          {u"Pu bli", true},  {u"Inbox", true},
    };
    auto store = app.Ns->AddStore(u"Store", u"S1");
    for (const auto& c : cases) store->AddFolder(c.name)->AddFolder(u"Child of " + c.name);
    Scan();
    ASSERT_EQ(tree.TopLevel().size(), 1u);
    const auto kept = Texts(tree.TopLevel()[0]->Children);
    for (const auto& c : cases) {
        const std::string name = platform::Utf8FromUtf16(c.name);
        const bool found = std::find(kept.begin(), kept.end(), name) != kept.end();
        EXPECT_EQ(found, c.kept) << name;
        EXPECT_EQ(app.Log->Has(name + ".Folders"), c.kept) << name;
    }
}

TEST_F(FolderTreeTest, NonAsciiCaseIsNotFoldedForTheTest) {
    // Only A-Z are lowered: a Turkish dotted capital I or a full-width letter does not count.
    auto store = app.Ns->AddStore(u"Store", u"S1");
    store->AddFolder(u"PUBL\u0130C");
    Scan();
    EXPECT_EQ(tree.NodeCount(), 2u);
}

TEST_F(FolderTreeTest, FirstFolderSkippedKeepsLaterSiblingsUnderTheSameParent) {
    auto store = app.Ns->AddStore(u"Store", u"S1");
    auto inbox = store->AddFolder(u"Inbox");
    inbox->AddFolder(u"Public stuff")->AddFolder(u"Deep");
    inbox->AddFolder(u"Friends");
    inbox->AddFolder(u"Work")->AddFolder(u"2024");
    Scan();
    EXPECT_EQ(Shape(tree.TopLevel()), "Store(Inbox(Friends,Work(2024)))");
    const FolderNode* work = tree.TopLevel()[0]->Children[0]->Children[1].get();
    EXPECT_EQ(work->Parent->Text, "Inbox");
}

TEST_F(FolderTreeTest, EmptyCollectionsAddNothingAndLeavesAreLeaves) {
    Scan();
    EXPECT_EQ(tree.NodeCount(), 0u);
    app.Ns->AddStore(u"Empty store", u"S1");
    Scan();
    ASSERT_EQ(tree.TopLevel().size(), 1u);
    EXPECT_TRUE(tree.TopLevel()[0]->Children.empty());
    // Count 0 ends there: no Item call on the empty collection.
    EXPECT_FALSE(app.Log->Has("Empty store.Folders.Item(1)"));
}

TEST_F(FolderTreeTest, NodeTextKeepsTheStoresCaseAndEveryCharacter) {
    auto store = app.Ns->AddStore(u"Mailbox - J\u00f6rg", u"S1");
    store->AddFolder(u"INBOX Archive");
    store->AddFolder(u"\u65e5\u672c"); // beyond Windows-1252: once "??"
    Scan();
    EXPECT_EQ(tree.TopLevel()[0]->Text, "Mailbox - J\xC3\xB6rg");
    EXPECT_EQ(Texts(tree.TopLevel()[0]->Children),
              (std::vector<std::string>{"INBOX Archive", "\xE6\x97\xA5\xE6\x9C\xAC"}));
}

TEST_F(FolderTreeTest, NodesCarryTheIdentifiersThatReopenTheirFolder) {
    auto store = app.Ns->AddStore(u"Store", u"store-\u00e9", u"top");
    store->AddFolder(u"Inbox", u"entry\u0001\uffff");
    Scan();
    const FolderNode* inbox = tree.TopLevel()[0]->Children[0].get();
    EXPECT_EQ(inbox->Folder.EntryID, u"entry\u0001\uffff");
    EXPECT_EQ(inbox->Folder.StoreID, u"store-\u00e9");
    auto reopened = app.Ns->GetFolderFromID(inbox->Folder.EntryID, inbox->Folder.StoreID);
    EXPECT_EQ(reopened->Name(), u"Inbox");
}

TEST_F(FolderTreeTest, ReadsGoStoreIdEntryIdNameThenSubfolders) {
    app.Ns->AddStore(u"A", u"S1")->AddFolder(u"B");
    app.Ns->AddStore(u"Publish", u"S2");
    Scan();
    std::vector<std::string> reads;
    for (const auto& c : app.Log->Calls)
        if (c.rfind("A.", 0) == 0 || c.rfind("Publish.", 0) == 0) reads.push_back(c);
    const std::vector<std::string> expected = {
        "A.StoreID", "A.EntryID", "A.Name", "A.Folders", "A.Folders.Count", "A.Folders.Count",
        "A.Folders.Item(1)", "A.Folders.Item(1)", "A.Folders.Item(1)", "A.Folders.Item(1)",
        "Publish.StoreID", "Publish.EntryID", "Publish.Name"};
    EXPECT_EQ(reads, expected);
}

TEST_F(FolderTreeTest, StoreErrorEndsTheScanKeepingNodesAddedSoFar) {
    auto first = app.Ns->AddStore(u"First", u"S1");
    first->AddFolder(u"Inbox");
    auto broken = first->AddFolder(u"Broken");
    broken->AddFolder(u"Never");
    broken->FailOn("Folders", "The store is not available.");
    first->AddFolder(u"After");
    app.Ns->AddStore(u"Second", u"S2");
    try {
        Scan();
        FAIL() << "the store error must reach the caller";
    } catch (const EStoreError& e) {
        EXPECT_STREQ(e.what(), "The store is not available.");
    }
    // Broken got its node before its subfolders were asked for; nothing after it.
    EXPECT_EQ(Shape(tree.TopLevel()), "First(Inbox,Broken)");
}

TEST_F(FolderTreeTest, ErrorOnAPropertyReadAddsNoNodeForThatFolder) {
    auto store = app.Ns->AddStore(u"Store", u"S1");
    store->AddFolder(u"Good");
    store->AddFolder(u"Bad")->FailOn("Name", "Lost connection");
    EXPECT_THROW(Scan(), EStoreError);
    EXPECT_EQ(Shape(tree.TopLevel()), "Store(Good)");
}

} // namespace
