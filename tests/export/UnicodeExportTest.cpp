// Mail in every script through a whole run: nothing of it lost in the page, its name or the
// status line, whatever set the template declares; archives of earlier versions still hold
// each mail once.
#include "ExportTestSupport.h"

#include "SrcLib/DateTime.h"
#include "export/ExportRun.h"
#include "export/PageCharset.h"
#include "export/SubjectFilter.h"

#include <gtest/gtest.h>

namespace quillmark::testing {
namespace {

using outlook::dispid::Body;
using outlook::dispid::EntryID;
using outlook::dispid::ReceivedTime;
using outlook::dispid::SenderName;
using outlook::dispid::Subject;

TEST(PageCharset, WhatATemplateDeclares) {
    const struct {
        const char* Head;
        PageCharset Expected;
    } cases[] = {
        {"<META http-equiv=\"Content-Type\" content=\"text/html; charset=ISO-8859-1\">",
         PageCharset::Windows1252},
        {"<meta charset=\"utf-8\">", PageCharset::Utf8},
        {"<META CHARSET=UTF8>", PageCharset::Utf8},
        {"<meta http-equiv=content-type content='text/html;charset = windows-1252'>",
         PageCharset::Windows1252},
        {"<meta charset=\"koi8-r\">", PageCharset::AsciiReferences},
        {"<html><head><title>no declaration</title></head>", PageCharset::Windows1252},
        // Only the head counts: text in the body that says "charset=utf-8" declares nothing.
        {"<head></head><body>set charset=utf-8 in your mail client</body>", PageCharset::Windows1252},
        {"charset", PageCharset::Windows1252},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DetectPageCharset(c.Head), c.Expected) << c.Head;
}

TEST(PageCharset, AsciiPassesUntouchedAndBadBytesAreNeverCopied) {
    EXPECT_EQ(InPageCharset("plain <b>", PageCharset::Windows1252), "plain <b>");
    EXPECT_EQ(InPageCharset("a\xFF", PageCharset::Windows1252), "a&#65533;");
    EXPECT_EQ(InPageCharset("a\xFF", PageCharset::Utf8), "a\xEF\xBF\xBD");
    EXPECT_EQ(InPageCharset("\xC3\xA9\xE2\x80\x94", PageCharset::Windows1252),
              "\xE9\x97"); // é and the em dash
}

TEST(SubjectFilter, ExpressionsOfEveryScriptMatch) {
    const struct {
        const char* Expression;
        const char* Subject;
        bool Matches;
    } cases[] = {
        {"^\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
         "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80", true},
        {"^Re:", "Re: \xE6\x97\xA5\xE6\x9C\xAC", true},
        {"\xE6\x97\xA5\xE6\x9C\xAC$", "Re: \xE6\x97\xA5\xE6\x9C\xAC", true},
        {"^Fw:", "Re: \xE6\x97\xA5\xE6\x9C\xAC", false},
        // Text of the code page keeps its case-insensitive match and one character a "."
        {"(?i)^m\xC3\xB6te$", "M\xC3\x96TE", true},
        {"^M.te$", "M\xC3\xB6te", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SubjectMatches({c.Expression}, c.Subject, nullptr), c.Matches)
            << c.Expression << " / " << c.Subject;
}

class UnicodeExportTest : public ScratchDir {
protected:
    void SetUp() override {
        ScratchDir::SetUp();
        app = std::make_shared<FakeApplication>();
        inbox = app->Ns->AddStore(u"Personal Folders", u"store-1")->AddFolder(u"Inbox");
        in.FolderEntryID = inbox->Entry;
        in.FolderStoreID = inbox->Store;
        in.ExportRoot = Path("out");
        std::filesystem::create_directories(Root / "out" / "atts");
    }
    void UseTemplate(const std::string& charsetMeta) {
        WriteFile(Path("t.htm"),
                  "<HTML><HEAD>" + charsetMeta +
                      "<TITLE><#Subject></TITLE></HEAD>\r\n<BODY>\r\n"
                      "<P><#SenderName></P><PRE><#Body></PRE><#Attachments>\r\n</BODY></HTML>\r\n");
        in.TemplateFile = Path("t.htm");
    }
    std::shared_ptr<FakeMailItem> Mail(const std::u16string& subject, const std::u16string& body,
                                       const char16_t* id) {
        auto m = inbox->AddMail();
        m->SetText(Subject, subject).SetText(Body, body).SetText(SenderName, u"\u00C5sa \u674E");
        m->SetText(EntryID, id).SetDate(ReceivedTime, *TryEncodeDateTime(2024, 5, 6, 7, 8, 9));
        return m;
    }
    ExportOutcome Run() {
        ExportRun run(app->Ns, host, TestIdentity());
        return run.ExportMails(in);
    }

    std::shared_ptr<FakeApplication> app;
    std::shared_ptr<FakeFolder> inbox;
    ExportInputs in;
    RecordingHost host;
};

// One line of each script the archive must keep: Cyrillic, CJK, Arabic, Hebrew, Greek, emoji.
const std::u16string kScripts =
    u"\u041F\u0440\u0438\u0432\u0435\u0442 \u4F60\u597D \u0645\u0631\u062D\u0628\u0627 "
    u"\u05E9\u05DC\u05D5\u05DD \u0393\u03B5\u03B9\u03AC \U0001F600";

TEST_F(UnicodeExportTest, AUtf8TemplateGetsEveryCharacterAsItIs) {
    UseTemplate("<meta charset=\"utf-8\">");
    Mail(u"\u041F\u0440\u0438\u0432\u0435\u0442, \u043C\u0438\u0440", kScripts, u"E1");
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    const std::string page =
        ReadFile(Path("out/2024/m202405060708_\u041F\u0440\u0438\u0432\u0435\u0442_\u043C\u0438\u0440.htm"));
    EXPECT_NE(page.find("<TITLE>\u041F\u0440\u0438\u0432\u0435\u0442, \u043C\u0438\u0440</TITLE>"),
              std::string::npos);
    EXPECT_NE(page.find("<P>\u00C5sa \u674E</P>"), std::string::npos);
    EXPECT_NE(page.find(platform::Utf8FromUtf16(kScripts)), std::string::npos);
    EXPECT_EQ(host.Statuses.at(0).Text,
              "#1 | 2024-05-06 07:08:09 | \u041F\u0440\u0438\u0432\u0435\u0442, \u043C\u0438\u0440");
}

TEST_F(UnicodeExportTest, ALatinTemplateGetsReferencesForWhatItCannotHold) {
    UseTemplate("<META http-equiv=\"Content-Type\" content=\"text/html; charset=ISO-8859-1\">");
    Mail(u"\u05E9\u05DC\u05D5\u05DD", kScripts, u"E1")->AddAttachment(u"\u8868.txt", "x");
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    const std::string page = ReadFile(Path("out/2024/m202405060708_\u05E9\u05DC\u05D5\u05DD.htm"));
    // Every character comes back when a browser reads the page: Latin letters as bytes of the
    // set, everything else as references.
    EXPECT_NE(page.find("<TITLE>&#1513;&#1500;&#1493;&#1501;</TITLE>"), std::string::npos);
    EXPECT_NE(page.find("<P>\xC5sa &#26446;</P>"), std::string::npos);
    EXPECT_NE(
        page.find(
            "&#1055;&#1088;&#1080;&#1074;&#1077;&#1090; &#20320;&#22909; &#1605;&#1585;&#1581;&#1576;&#1575; "
            "&#1513;&#1500;&#1493;&#1501; &#915;&#949;&#953;&#940; &#128512;"),
        std::string::npos);
    EXPECT_TRUE(platform::FileExists(Path("out/atts/\u8868.txt")));
    EXPECT_NE(page.find(">&#34920;.txt</A>"), std::string::npos);
    for (unsigned char c : page)
        EXPECT_NE(c, '?');
}

TEST_F(UnicodeExportTest, APageOfAnEarlierVersionIsReplacedWhereItIsNotDuplicated) {
    UseTemplate("");
    Mail(u"\u041F\u0440\u0438\u0432\u0435\u0442", u"body", u"E1");
    Mail(u"\u041C\u0438\u0440", u"other mail", u"E2");
    // An earlier version named both pages after a subject of "?" only, and numbered the second.
    std::filesystem::create_directories(Root / "out" / "2024");
    WriteFile(Path("out/2024/m202405060708_------.htm"), PageMarkerLine("E1") + "\r\nold page of E1\r\n");
    WriteFile(Path("out/2024/m202405060708_---.htm"), PageMarkerLine("E9") + "\r\nanother store's mail\r\n");
    ASSERT_EQ(Run(), ExportOutcome::Completed);
    EXPECT_EQ(Listing(Path("out/2024")),
              (std::vector<std::string>{"m202405060708_------.htm", "m202405060708_---.htm",
                                        "m202405060708_\u041C\u0438\u0440.htm"}));
    EXPECT_NE(ReadFile(Path("out/2024/m202405060708_------.htm")).find("body"), std::string::npos);
    EXPECT_NE(ReadFile(Path("out/2024/m202405060708_---.htm")).find("another store's mail"),
              std::string::npos);
}

} // namespace
} // namespace quillmark::testing
