// The fake store is what other subsystems' tests stand on; these check the parts they rely
// on: failure switches, the attachment bytes on disk, the item kinds and the default values.
#include "support/FakeOutlook.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace quillmark;
using namespace quillmark::outlook;
using quillmark::testing::FakeApplication;

namespace {

TEST(FakeOutlook, ItemsAreMailOrNotAndPropertiesDefaultToEmpty) {
    FakeApplication app;
    auto inbox = app.Ns->AddStore(u"Store", u"S1")->AddFolder(u"Inbox");
    inbox->AddMail()->SetText(dispid::Subject, u"Hi").SetBool(dispid::UnRead, true).SetInt(dispid::Size, 42);
    inbox->AddNonMail();
    auto folder = app.GetNamespace("MAPI")->GetFolderFromID(inbox->Entry, u"S1");
    auto items = folder->Items();
    ASSERT_EQ(items->Count(), 2);
    auto mail = items->Item(1)->QueryMailItem();
    ASSERT_TRUE(mail);
    EXPECT_EQ(mail->GetText(dispid::Subject), u"Hi");
    EXPECT_EQ(mail->GetBool(dispid::UnRead), VariantTrue);
    EXPECT_EQ(mail->GetInt(dispid::Size), 42);
    EXPECT_EQ(mail->GetText(dispid::Body), u"");
    EXPECT_EQ(mail->GetDate(dispid::ReceivedTime), 0.0);
    EXPECT_FALSE(items->Item(2)->QueryMailItem());
    EXPECT_THROW(items->Item(3), EStoreError);
    EXPECT_THROW(app.GetNamespace("NOPE"), EStoreError);
}

TEST(FakeOutlook, ChosenCallsFailWithTheirMessage) {
    FakeApplication app;
    auto inbox = app.Ns->AddStore(u"Store", u"S1")->AddFolder(u"Inbox");
    inbox->AddMail()->FailOnProperty(dispid::Body, "body gone");
    inbox->AddMail();
    inbox->FailOn("Items.Item(2)", "item gone");
    app.Ns->FailOn("Logon", "no profile");
    try {
        app.Ns->Logon();
        FAIL();
    } catch (const EStoreError& e) {
        EXPECT_STREQ(e.what(), "no profile");
    }
    auto items = inbox->Items();
    auto mail = items->Item(1)->QueryMailItem();
    EXPECT_NO_THROW(mail->GetText(dispid::Subject));
    EXPECT_THROW(mail->GetText(dispid::Body), EStoreError);
    EXPECT_THROW(items->Item(2), EStoreError);
    EXPECT_THROW(app.Ns->GetFolderFromID(u"nope", u"S1"), EStoreError);
}

TEST(FakeOutlook, SaveAsFileWritesTheBytesExactly) {
    FakeApplication app;
    const std::string bytes("A\0B\r\n\xff", 6);
    auto mail = app.Ns->AddStore(u"Store", u"S1")->AddFolder(u"Inbox")->AddMail();
    mail->AddAttachment(u"data.bin", bytes);
    const auto dir = std::filesystem::temp_directory_path() / "quillmark-fake-outlook";
    std::filesystem::create_directories(dir);
    const std::string path = platform::Utf8Path(dir / "data.bin");
    auto att = mail->Attachments()->Item(1);
    EXPECT_EQ(att->FileName(), u"data.bin");
    att->SaveAsFile(path);
    std::ifstream in(dir / "data.bin", std::ios::binary);
    std::stringstream read;
    read << in.rdbuf();
    EXPECT_EQ(read.str(), bytes);
    in.close(); // an open file cannot be removed on Windows
    EXPECT_THROW(att->SaveAsFile(platform::Utf8Path(dir / "no-such-dir" / "x")), EStoreError);
    std::filesystem::remove_all(dir);
}

TEST(FakeOutlook, WarningsReachTheHandler) {
    FakeApplication app;
    std::vector<std::string> seen;
    app.SetWarningHandler([&](const std::string& m) { seen.push_back(m); });
    app.EmitWarning("bad base64");
    EXPECT_EQ(seen, std::vector<std::string>{"bad base64"});
}

} // namespace
