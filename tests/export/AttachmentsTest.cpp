// Saving attachments and inline pictures: names, de-duplication, fragments, failures.
#include "ExportTestSupport.h"

#include "SrcLib/uLib.h"
#include "export/Attachments.h"

#include <gtest/gtest.h>

#include <regex>

namespace quillmark::testing {
namespace {

// Every case runs twice: with a store that saves its attachments to a file (through the
// temporary name) and with one that holds their bytes in memory. Names, links and files must
// be the same.
class AttachmentsTest : public ScratchDir, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        ScratchDir::SetUp();
        log = std::make_shared<FakeCallLog>();
        mail = std::make_shared<FakeMailItem>("Mail(1)", log);
        mail->AttachmentsInMemory = GetParam();
        std::filesystem::create_directories(Path("out/atts"));
    }
    std::string Links() {
        auto c = mail->Attachments();
        return SaveAttachments(*c, {}, Path("out"), "atts", &links);
    }
    std::string Pictures() {
        auto c = mail->Attachments();
        return SaveInlineImages(*c, {}, Path("out/2005"), &pictures);
    }
    void NewMail() {
        mail = std::make_shared<FakeMailItem>("Mail(2)", log);
        mail->AttachmentsInMemory = GetParam();
    }

    std::shared_ptr<FakeCallLog> log;
    std::shared_ptr<FakeMailItem> mail;
    AttachmentCounts links, pictures;
};

TEST(AttachmentNames, ExtensionPictureTestAndBaseName) {
    struct Case {
        std::string name, ext;
        bool picture;
    };
    const std::vector<Case> cases = {
        {"report.PDF", ".pdf", false},  {"Holiday photo.JPG", ".jpg", true}, {"scan.jp", ".jp", true},
        {"x.jpeg", ".jpeg", true},      {"anim.gif", ".gif", true},          {"a.", ".", true},
        {"README", "", false},          {".png", ".png", true},              {"dir.v2\\README", "", false},
        {"c:notes", "", false},         {"x.pngx", ".pngx", false},          {"a.b/c.tif", ".tif", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AttachmentExtension(c.name), c.ext);
        EXPECT_EQ(IsPictureExtension(c.ext), c.picture);
    }
    EXPECT_EQ(AttachmentBaseName(std::string(80, 'a') + ".doc"), std::string(54, 'a'));
}

TEST_P(AttachmentsTest, NoAttachmentsGivesEmptyText) {
    EXPECT_EQ(Links(), "");
    EXPECT_EQ(Pictures(), "");
}

TEST_P(AttachmentsTest, DocumentsAreLinkedPicturesAreShown) {
    mail->AddAttachment(u"report.PDF", std::string(12600, 'r'));
    mail->AddAttachment(u"Holiday photo.JPG", "jpegdata");
    const std::string links = Links();
    // Only the document; the picture is not written by the link operation.
    EXPECT_EQ(Listing(Path("out/atts")), (std::vector<std::string>{"report.pdf"}));
    EXPECT_FALSE(Exists(Path("out/2005")));
    EXPECT_EQ(links.rfind("<A href=\"../atts/report.pdf\" title=\"", 0), 0u);
    EXPECT_NE(links.find(" (12.3 KB)\">report.PDF</A>"), std::string::npos);

    EXPECT_EQ(Pictures(), "<BR><IMG src=\"./attsimgs/Holiday_photo.jpg\" title=\"Holiday photo.JPG\" vspace=2>");
    EXPECT_EQ(ReadFile(Path("out/2005/attsimgs/Holiday_photo.jpg")), "jpegdata");
}

TEST_P(AttachmentsTest, SameNameDifferentContentIsNumberedSameContentReused) {
    mail->AddAttachment(u"data.xls", "one");
    mail->AddAttachment(u"data.xls", "two");
    const std::string first = Links();
    EXPECT_EQ(Listing(Path("out/atts")), (std::vector<std::string>{"data.xls", "data_1.xls"}));
    EXPECT_NE(first.find("href=\"../atts/data.xls\""), std::string::npos);
    EXPECT_NE(first.find("</A>; <A href=\"../atts/data_1.xls\""), std::string::npos);
    EXPECT_EQ(links.Saved, 2);

    // The same folder again: nothing new, the links point where they did.
    EXPECT_EQ(Links(), first);
    EXPECT_EQ(Listing(Path("out/atts")).size(), 2u);
    EXPECT_EQ(links.Reused, 2);
}

TEST_P(AttachmentsTest, SameSizeDifferentContentIsTellApartByCrc) {
    mail->AddAttachment(u"a.txt", "abc");
    Links();
    NewMail();
    mail->AddAttachment(u"a.txt", "abd");
    Links();
    EXPECT_EQ(ReadFile(Path("out/atts/a.txt")), "abc");
    EXPECT_EQ(ReadFile(Path("out/atts/a_1.txt")), "abd");
}

TEST_P(AttachmentsTest, DeletedGapIsFilledFirst) {
    WriteFile(Path("out/atts/data.xls"), "zero");
    WriteFile(Path("out/atts/data_2.xls"), "two");
    mail->AddAttachment(u"data.xls", "new");
    EXPECT_NE(Links().find("data_1.xls"), std::string::npos);
    EXPECT_EQ(ReadFile(Path("out/atts/data_1.xls")), "new");

    // A copy identical to data_2.xls also lands on the first free name: the search stops there.
    std::filesystem::remove(Path("out/atts/data_1.xls"));
    NewMail();
    mail->AddAttachment(u"data.xls", "two");
    EXPECT_NE(Links().find("data_1.xls"), std::string::npos);
}

TEST_P(AttachmentsTest, OddNames) {
    mail->AddAttachment(u"README", "plain");
    mail->AddAttachment(u"scan.jp", "jp");
    mail->AddAttachment(u".png", "png");
    mail->AddAttachment(std::u16string(70, u'n') + u".txt", "long");
    const std::string links = Links();
    EXPECT_TRUE(Exists(Path("out/atts/README")));
    EXPECT_TRUE(Exists(Path("out/atts/" + std::string(54, 'n') + ".txt")));
    EXPECT_EQ(links.find("scan"), std::string::npos);
    const std::string pics = Pictures();
    EXPECT_EQ(pics, "<BR><IMG src=\"./attsimgs/scan.jp\" title=\"scan.jp\" vspace=2>; "
                    "<BR><IMG src=\"./attsimgs/_.png\" title=\".png\" vspace=2>");
    // No saved name starts with a dot: a file named ".png" would be hidden, and one named
    // ".htaccess" obeyed by a web server.
    EXPECT_TRUE(Exists(Path("out/2005/attsimgs/_.png")));
}

TEST(AttachmentNames, SavedNamesCannotActOnTheArchive) {
    struct Case {
        std::string name, saved;
        bool neutral;
    };
    const std::vector<Case> cases = {
        // a leading dot: hidden, and obeyed by web servers
        {".htaccess", "_.htaccess", false},
        {".user.ini", "user.ini", false},
        // device names Windows reserves, with any extension and in any case
        {"CON", "CON_", false},
        {"con.txt", "con_.txt", false},
        {"NUL.pdf", "NUL_.pdf", false},
        {"Aux.tar.gz", "Aux_tar.gz", false}, // Windows looks before the first dot: "Aux_tar"
        {"com1.doc", "com1_.doc", false},
        {"LPT9", "LPT9_", false},
        {"prn.", "prn_", false},
        {"CON .txt", "CON_.txt", false},
        {"COM0.txt", "COM0.txt", false},
        {"CONSOLE.txt", "CONSOLE.txt", false},
        // types a browser or web server runs: saved as text, by extension in any case
        {"page.html", "page_html.txt", true},
        {"x.HTM", "x_htm.txt", true},
        {"logo.svg", "logo_svg.txt", true},
        {"a.SvGz", "a_svgz.txt", true},
        {"feed.xml", "feed_xml.txt", true},
        {"app.js", "app_js.txt", true},
        {"shell.php", "shell_php.txt", true},
        {"web.config", "web_config.txt", true},
        {".html", "html.txt", true},
        {"evil.html.", "evil_html.txt", true},   // Windows drops the trailing dot
        {"evil.html  ", "evil_html.txt", true},  // and trailing blanks
        {"page.html.pdf", "page_html.pdf", false},
        // extensions keep letters and digits only: nothing looks like a temporary file of ours
        {"x.tmp-123-4", "x.tmp_123_4", false},
        {"a.p d", "a.p_d", false},
        {"report.PDF", "report.pdf", false},
        {"", "_", false},
    };
    for (const auto& c : cases) {
        const SafeAttachmentName safe = SafeNameOf(c.name);
        EXPECT_EQ(safe.Base + safe.Extension, c.saved) << c.name;
        EXPECT_EQ(safe.Neutral, c.neutral) << c.name;
        EXPECT_FALSE(IsReservedDeviceName(safe.Base + safe.Extension)) << c.name;
        EXPECT_NE((safe.Base + safe.Extension)[0], '.') << c.name;
    }
    for (const char* reserved : {"CON", "con", "PRN.txt", "aux.x.y", "NUL ", "nul. .txt", "COM9", "lpt1.log",
                                 "COM\xC2\xB9", "LPT\xC2\xB3.txt"})
        EXPECT_TRUE(IsReservedDeviceName(reserved)) << reserved;
    for (const char* fine : {"CONX", "COM", "COM10", "LPT0", "xCON", "CO.N", "", "NUL_"})
        EXPECT_FALSE(IsReservedDeviceName(fine)) << fine;
}

TEST_P(AttachmentsTest, ActiveTypesAreSavedAsTextAndLinkedUnderTheirOwnName) {
    mail->AddAttachment(u"invoice.HTML", "<script>alert(1)</script>");
    mail->AddAttachment(u"logo.svg", "<svg onload=alert(1)>");
    const std::string links = Links();
    EXPECT_EQ(Listing(Path("out/atts")), (std::vector<std::string>{"invoice_html.txt", "logo_svg.txt"}));
    EXPECT_NE(links.find("href=\"../atts/invoice_html.txt\""), std::string::npos);
    EXPECT_NE(links.find(">invoice.HTML</A>"), std::string::npos);
    EXPECT_EQ(links.find(".svg\""), std::string::npos);
    // An SVG is never a picture: not shown inline, nothing in the picture folder.
    EXPECT_EQ(Pictures(), "");
    EXPECT_FALSE(Exists(Path("out/2005/attsimgs")));
}

TEST_P(AttachmentsTest, NamesAreEscapedAndUrlsEncoded) {
    mail->AddAttachment(u"Q&A <\"draft\">.txt", "q");
    mail->AddAttachment(u"a&b.p d", "x");
    const std::string links = Links();
    EXPECT_NE(links.find(">Q&amp;A &lt;&quot;draft&quot;&gt;.txt</A>"), std::string::npos);
    // The extension is cleaned like the base name: no blank reaches the file system.
    EXPECT_NE(links.find("../atts/a_b.p_d\" title="), std::string::npos);
    EXPECT_TRUE(Exists(Path("out/atts/a_b.p_d")));
    EXPECT_EQ(links.find("<\""), std::string::npos);
    NewMail();
    mail->AddAttachment(u"x\"onerror=\"alert(1).gif", "g");
    const std::string pics = Pictures();
    EXPECT_EQ(pics.find("\"onerror"), std::string::npos);
    EXPECT_NE(pics.find("title=\"x&quot;onerror=&quot;alert(1).gif\""), std::string::npos);
}

TEST_P(AttachmentsTest, FailuresCostOnlyTheirAttachmentAndAreReported) {
    mail->AddAttachment(u"bad.doc", "x")->FailOn("SaveAsFile", "Cannot save");
    mail->AddAttachment(u"good.doc", "y");
    mail->FailOn("Attachments.Item(3)", "gone");
    mail->AddAttachment(u"third.doc", "z");
    std::vector<AttachmentFailure> failures;
    auto c = mail->Attachments();
    const std::string links = SaveAttachments(*c, {}, Path("out"), "atts", nullptr, nullptr, &failures);
    EXPECT_EQ(links.rfind("<A href=\"../atts/good.doc\"", 0), 0u);
    EXPECT_EQ(links.find("; "), std::string::npos);
    EXPECT_EQ(Listing(Path("out/atts")), (std::vector<std::string>{"good.doc"}));
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].FileName, "bad.doc");
    EXPECT_EQ(failures[0].Reason, "Cannot save");
    EXPECT_EQ(failures[1].Reason, "gone");
}

TEST_P(AttachmentsTest, MissingAttachmentsDirectoryLinksNothing) {
    std::filesystem::remove_all(Path("out/atts"));
    mail->AddAttachment(u"report.pdf", "x");
    EXPECT_EQ(Links(), "");
}

TEST_P(AttachmentsTest, AnAttachmentNamedLikeTheTemporaryFileSurvives) {
    mail->AddAttachment(u"_tempatt.pdf", "precious");
    mail->AddAttachment(u"x.pdf", "other");
    const std::string links = Links();
    const auto start = links.find("href=\"../atts/") + 14;
    const std::string linked = links.substr(start, links.find('"', start) - start);
    EXPECT_EQ(ReadFile(Path("out/atts/" + linked)), "precious");
    EXPECT_FALSE(Exists(Path("out/atts/_tempatt.pdf")));
}

TEST_P(AttachmentsTest, EveryOccurrenceOfTheTagSavesAgainAsDuplicate) {
    mail->AddAttachment(u"p.png", "img");
    const std::string first = Pictures();
    EXPECT_EQ(Pictures(), first);
    EXPECT_EQ(Listing(Path("out/2005/attsimgs")), (std::vector<std::string>{"p.png"}));
    EXPECT_EQ(pictures.Saved, 1);
    EXPECT_EQ(pictures.Reused, 1);
}

// A store that holds the bytes never goes through a temporary file; one that saves through a
// file does, but a reused attachment is still never written over, whichever way it came.
TEST_P(AttachmentsTest, ASavedAttachmentIsReusedAndNeverWrittenAgain) {
    mail->AddAttachment(u"data.xls", "one");
    Links();
    const auto written = std::filesystem::last_write_time(Path("out/atts/data.xls"));
    std::filesystem::last_write_time(Path("out/atts/data.xls"), written - std::chrono::hours(1));
    NewMail();
    mail->AddAttachment(u"data.xls", "one");
    EXPECT_NE(Links().find("data.xls\""), std::string::npos);
    // Reused, not written again: the file keeps its (older) time.
    EXPECT_EQ(std::filesystem::last_write_time(Path("out/atts/data.xls")), written - std::chrono::hours(1));
    if (GetParam()) EXPECT_EQ(log->CountOf("Attachment(data.xls).SaveAsFile"), 0);
    EXPECT_EQ(Listing(Path("out/atts")), (std::vector<std::string>{"data.xls"}));
}

INSTANTIATE_TEST_SUITE_P(Content, AttachmentsTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "InMemory" : "ThroughAFile"; });

} // namespace
} // namespace quillmark::testing

namespace quillmark::testing {
namespace {

class SavedFileIndexTest : public ScratchDir {};

// With and without the index, the same attachments in the same order must get the same
// names and links: the index only spares looks, it never decides differently (nor does
// saving from memory instead of through a file).
TEST_F(SavedFileIndexTest, NamesAreThoseOfTheFullSearch) {
    std::filesystem::create_directories(Path("plain/atts"));
    std::filesystem::create_directories(Path("indexed/atts"));
    auto log = std::make_shared<FakeCallLog>();
    SavedFileIndex index;
    // Contents chosen so that sizes collide across different contents, and contents recur.
    const std::vector<std::string> contents = {"aaaa", "bbbb", "aaaa", "cc", "bbbb", "dddd", "cc", "eeee", "dddd", "a"};
    for (std::size_t i = 0; i < contents.size() * 3; ++i) {
        // The plain search saves through files, the indexed one from bytes in memory.
        auto mail = std::make_shared<FakeMailItem>("Mail", log);
        auto inMemory = std::make_shared<FakeMailItem>("Mail", log);
        inMemory->AttachmentsInMemory = true;
        for (auto* m : {mail.get(), inMemory.get()}) {
            m->AddAttachment(i % 2 ? u"data.xls" : u"report.pdf", contents[(i * 7) % contents.size()]);
            m->AddAttachment(u"data.xls", contents[i % contents.size()]);
        }
        auto c1 = mail->Attachments();
        const std::string plain = SaveAttachments(*c1, {}, Path("plain"), "atts");
        auto c2 = inMemory->Attachments();
        const std::string indexed = SaveAttachments(*c2, {}, Path("indexed"), "atts", nullptr, &index);
        // The titles carry each file's time, which may fall on either side of a second.
        const std::regex fileTime("title=\"[^\"(]*\\(");
        ASSERT_EQ(std::regex_replace(indexed, fileTime, "title=\"TIME ("), std::regex_replace(plain, fileTime, "title=\"TIME ("))
            << "attachment set " << i;
    }
    for (const auto& name : platform::ListDirectory(Path("plain/atts")))
        EXPECT_EQ(ReadFile(Path("indexed/atts/" + name)), ReadFile(Path("plain/atts/" + name))) << name;
    EXPECT_EQ(platform::ListDirectory(Path("indexed/atts")).size(), platform::ListDirectory(Path("plain/atts")).size());
}

// A file changed behind the index's back to the new attachment's size is looked at afresh
// and compared by content: never taken for a copy it is not.
TEST_F(SavedFileIndexTest, RememberedFactsAreCheckedBeforeAMatch) {
    std::filesystem::create_directories(Path("out/atts"));
    auto log = std::make_shared<FakeCallLog>();
    SavedFileIndex index;
    auto save = [&](const std::string& content) {
        auto mail = std::make_shared<FakeMailItem>("Mail", log);
        mail->AddAttachment(u"data.xls", content);
        auto c = mail->Attachments();
        return SaveAttachments(*c, {}, Path("out"), "atts", nullptr, &index);
    };
    save("abcd");
    WriteFile(Path("out/atts/data.xls"), "wxyz"); // same size, other content
    EXPECT_NE(save("abcd").find("data_1.xls"), std::string::npos);
    EXPECT_EQ(ReadFile(Path("out/atts/data_1.xls")), "abcd");
    EXPECT_NE(save("wxyz").find("data.xls\""), std::string::npos); // the changed file is a copy now
}


// A name someone else takes while the run goes on is passed over, whether the index has
// seen the file or not: the other file is never written over.
TEST_F(SavedFileIndexTest, AFileMadeBySomeoneElseIsNeverWrittenOver) {
    for (const bool inMemory : {false, true}) {
        SCOPED_TRACE(inMemory ? "in memory" : "through a file");
        const std::string root = Path(inMemory ? "mem" : "file");
        std::filesystem::create_directories(root + "/atts");
        auto log = std::make_shared<FakeCallLog>();
        SavedFileIndex index;
        auto save = [&](const std::string& content) {
            auto mail = std::make_shared<FakeMailItem>("Mail", log);
            mail->AttachmentsInMemory = inMemory;
            mail->AddAttachment(u"data.xls", content);
            auto c = mail->Attachments();
            return SaveAttachments(*c, {}, root, "atts", nullptr, &index);
        };
        save("first");
        WriteFile(root + "/atts/data_1.xls", "theirs"); // the index's next free name
        EXPECT_NE(save("second").find("data_2.xls"), std::string::npos);
        EXPECT_EQ(ReadFile(root + "/atts/data_1.xls"), "theirs");
        EXPECT_EQ(ReadFile(root + "/atts/data_2.xls"), "second");
        // Their file, met on the way, is a copy like any other.
        EXPECT_NE(save("theirs").find("data_1.xls"), std::string::npos);
        EXPECT_EQ(platform::ListDirectory(root + "/atts").size(), 3u);
    }
}

// A folder that holds a chain before the run (with a gap): the run lists it up to its first
// free name, finds copies in it by content, and numbers on from there.
TEST_F(SavedFileIndexTest, AChainOnDiskIsFoundAndContinued) {
    std::filesystem::create_directories(Path("out/atts"));
    WriteFile(Path("out/atts/report.pdf"), "zero");
    WriteFile(Path("out/atts/report_1.pdf"), "one!");
    WriteFile(Path("out/atts/report_3.pdf"), "three");
    auto log = std::make_shared<FakeCallLog>();
    SavedFileIndex index;
    auto save = [&](const std::string& content) {
        auto mail = std::make_shared<FakeMailItem>("Mail", log);
        mail->AttachmentsInMemory = true;
        mail->AddAttachment(u"report.pdf", content);
        auto c = mail->Attachments();
        const std::string links = SaveAttachments(*c, {}, Path("out"), "atts", nullptr, &index);
        const std::size_t at = links.find("report");
        return links.substr(at, links.find('"', at) - at);
    };
    EXPECT_EQ(save("one!"), "report_1.pdf");  // same size as report.pdf, other content
    EXPECT_EQ(save("new"), "report_2.pdf");   // the gap
    EXPECT_EQ(save("three"), "report_3.pdf"); // behind the gap: met when the write there is refused
    EXPECT_EQ(save("four"), "report_4.pdf");
    EXPECT_EQ(save("zero"), "report.pdf");
    EXPECT_EQ(ReadFile(Path("out/atts/report_3.pdf")), "three");
    EXPECT_EQ(index.Size(), 5u);
}

} // namespace
} // namespace quillmark::testing
