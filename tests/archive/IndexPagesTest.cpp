// The archive's index pages: what they list, that mail text cannot become markup or
// script, that long lists are split, and that a rebuild leaves nothing stale behind.
#include "archive/ArchiveLinks.h"
#include "archive/IndexPages.h"

#include "../TempDir.h"
#include "SrcLib/DateTime.h"
#include "platform/FileSystem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>

namespace quillmark {
namespace {

using test::TempDir;

std::string Read(const std::string& path) { return platform::ReadWholeFile(path); }

ManifestMail Mail(int i, double when, const std::string& subject, const std::string& sender = "Anna") {
    ManifestMail m;
    m.StoreKey = "S";
    m.Identity = std::to_string(i);
    m.Folder = "Inbox";
    m.Page = FormatDateTime("yyyy", when) + "/m" + std::to_string(i) + ".htm";
    m.Received = when;
    m.Subject = subject;
    m.Sender = sender;
    m.MessageId = "<" + std::to_string(i) + "@x>";
    m.Text = "body of mail " + std::to_string(i);
    return m;
}

TEST(IndexPages, SearchWordsFoldAndSplit) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"Hello, World!", {"hello", "world"}},
        {"a b cd", {"cd"}},                                  // one letter is no word
        {"\xC3\x85SA \xC3\xA5sa", {"\xC3\xA5sa", "\xC3\xA5sa"}}, // Åsa, åsa
        {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", {"\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"}},
        {"\xCE\xA3\xCE\x9F\xCE\xA6\xCE\x99\xCE\x91", {"\xCF\x83\xCE\xBF\xCF\x86\xCE\xB9\xCE\xB1"}}, // ΣΟΦΙΑ
        {"x\xE2\x80\x94y-z 2024\xC2\xA0" "ab", {"2024", "ab"}}, // dash and no-break space split
        {"\xC5\x81\xC3\xB3" "d\xC5\xBA", {"\xC5\x82\xC3\xB3" "d\xC5\xBA"}}, // Łódź
        {std::string(41, 'a') + " ok", {"ok"}},             // longer than a word can be
        {"bad\xFF" "byte", {"bad", "byte"}},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(SearchWords(in), out) << in;
}

TEST(IndexPages, JsStringsCannotEndTheScriptOrTheLine) {
    EXPECT_EQ(JsString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsString("</script><b>&"), "\"\\u003c/script\\u003e\\u003cb\\u003e\\u0026\"");
    EXPECT_EQ(JsString("l1\nl2\r\x01"), "\"l1\\nl2\\r\\u0001\"");
    EXPECT_EQ(JsString("\xE2\x80\xA8"), "\"\\u2028\"");
    EXPECT_EQ(JsString("\xC3\xA5"), "\"\xC3\xA5\"");
    EXPECT_EQ(JsString("\xFF"), "\"\\ufffd\"");
}

TEST(IndexPages, HostileSubjectsAndNamesStayText) {
    TempDir dir;
    std::vector<ManifestMail> mails = {
        Mail(1, EncodeDate(2020, 3, 1), "<script>alert(1)</script>", "\"><img src=x onerror=alert(2)>"),
        Mail(2, EncodeDate(2020, 3, 2), "It's & \"quoted\""),
    };
    mails[1].Page = "2020/m a&b\"<.htm";
    mails[0].Folder = "<b>Inbox</b>";
    WriteArchiveIndex(dir.Dir(), mails);
    for (const std::string page : {"index.htm", "_archive/2020.htm", "_archive/senders.htm"}) {
        const std::string html = Read(dir.Dir() + page);
        ASSERT_FALSE(html.empty()) << page;
        EXPECT_EQ(html.find("<script>alert"), std::string::npos) << page;
        EXPECT_EQ(html.find("<img src=x"), std::string::npos) << page;
        EXPECT_EQ(html.find("<b>Inbox"), std::string::npos) << page;
        EXPECT_EQ(html.find("m a&b"), std::string::npos) << page;
    }
    EXPECT_NE(Read(dir.Dir() + "_archive/2020.htm").find("href=\"../2020/m%20a%26b%22%3C.htm\""), std::string::npos);
    const std::string data = Read(dir.Dir() + "_archive/data/m2020-0.js");
    EXPECT_EQ(data.find("</script>"), std::string::npos);
    EXPECT_EQ(data.find("<img"), std::string::npos);
}

TEST(IndexPages, ListsEveryMailOnceAndSplitsLongLists) {
    TempDir dir;
    std::vector<ManifestMail> mails;
    // 1200 mails in 2019 (one year page in three parts), 1600 in 2020 (listed by month).
    for (int i = 0; i < 1200; ++i) mails.push_back(Mail(i, EncodeDate(2019, 1 + i % 12, 1) + i / 1300.0, "S" + std::to_string(i)));
    for (int i = 1200; i < 2800; ++i) mails.push_back(Mail(i, EncodeDate(2020, 1 + i % 12, 2) + i / 3000.0, "T" + std::to_string(i)));
    const auto stats = WriteArchiveIndex(dir.Dir(), mails);
    EXPECT_EQ(stats.Mails, 2800);
    const std::string a = dir.Dir() + "_archive/";
    EXPECT_TRUE(platform::FileExists(a + "2019-p3.htm"));
    EXPECT_FALSE(platform::FileExists(a + "2019-p4.htm"));
    EXPECT_TRUE(platform::FileExists(a + "2020-01.htm"));
    EXPECT_FALSE(platform::FileExists(a + "2020-p2.htm"));

    // Every mail is linked exactly once from the date lists, and newest first.
    std::map<std::string, int> linked;
    const std::regex link("href=\"\\.\\./(20[0-9]{2}/m[0-9]+\\.htm)\"");
    for (const auto& entry : std::filesystem::directory_iterator(a)) {
        const std::string name = entry.path().filename().string();
        if (!std::regex_match(name, std::regex("20[0-9]{2}(-[0-9]{2})?(-p[0-9]+)?\\.htm"))) continue;
        const std::string html = Read(entry.path().string());
        for (auto it = std::sregex_iterator(html.begin(), html.end(), link); it != std::sregex_iterator(); ++it)
            ++linked[(*it)[1]];
    }
    EXPECT_EQ(linked.size(), mails.size());
    for (const auto& [page, count] : linked) EXPECT_EQ(count, 1) << page;
    const std::string first = Read(a + "2019.htm");
    EXPECT_LT(first.find("S1199"), first.find("S1198"));
}

TEST(IndexPages, RebuildRemovesWhatNoLongerExists) {
    TempDir dir;
    std::vector<ManifestMail> mails = {Mail(1, EncodeDate(2018, 1, 1), "old"), Mail(2, EncodeDate(2021, 1, 1), "new")};
    WriteArchiveIndex(dir.Dir(), mails);
    ASSERT_TRUE(platform::FileExists(dir.Dir() + "_archive/2018.htm"));
    platform::WriteFileAtomic(dir.Dir() + "_archive/notes.txt", "the user's"); // not ours: stays
    mails.erase(mails.begin());
    const auto stats = WriteArchiveIndex(dir.Dir(), mails);
    EXPECT_FALSE(platform::FileExists(dir.Dir() + "_archive/2018.htm"));
    EXPECT_FALSE(platform::FileExists(dir.Dir() + "_archive/data/m2018-0.js"));
    EXPECT_TRUE(platform::FileExists(dir.Dir() + "_archive/notes.txt"));
    EXPECT_GE(stats.FilesRemoved, 3);
}

TEST(IndexPages, AStartPageOfTheUsersIsLeftAlone) {
    TempDir dir;
    platform::WriteFileAtomic(dir.Dir() + "index.htm", "<html>my own page</html>");
    const auto stats = WriteArchiveIndex(dir.Dir(), {Mail(1, EncodeDate(2020, 1, 1), "x")});
    EXPECT_TRUE(stats.StartPageKept);
    EXPECT_EQ(Read(dir.Dir() + "index.htm"), "<html>my own page</html>");
    EXPECT_TRUE(platform::FileExists(dir.Dir() + "_archive/2020.htm"));
    // Its own start page is replaced by the next build.
    TempDir other;
    WriteArchiveIndex(other.Dir(), {Mail(1, EncodeDate(2020, 1, 1), "first")});
    EXPECT_FALSE(WriteArchiveIndex(other.Dir(), {Mail(1, EncodeDate(2020, 1, 1), "second")}).StartPageKept);
    EXPECT_NE(Read(other.Dir() + "index.htm").find("second"), std::string::npos);
}

TEST(IndexPages, WordListsFindEachMailByEveryField) {
    TempDir dir;
    std::vector<ManifestMail> mails;
    for (int i = 0; i < 100; ++i) mails.push_back(Mail(i, EncodeDate(2022, 1, 1) + i / 200.0, "Note"));
    mails[0].Subject = "Budget";
    mails[40].Subject = "Budget again";
    mails[99].Recipients = "Zeta Person";
    mails[5].Sender = "Rare Sender";
    WriteArchiveIndex(dir.Dir(), mails);
    const std::string words = Read(dir.Dir() + "_archive/data/w2022-0.js");
    // Places in the year as differences in base 32 (last digit A-f, leading digits g-/):
    // 0 and 40 -> "A" then 40 = 1*32+8 -> "hI"; 99 = 3*32+3 -> "jD".
    EXPECT_NE(words.find("|budget:AhI|"), std::string::npos) << words;
    EXPECT_NE(words.find("|zeta:jD|"), std::string::npos) << words;
    EXPECT_NE(words.find("|rare:F|"), std::string::npos) << words;
    // A word of nearly every mail is a bitmap: 17 characters of six mails ("/" = 63 all set;
    // "f" = 31: mail 5 has another sender; 100 = 16*6+4 -> the last holds four: "P" = 15).
    EXPECT_NE(words.find("|anna=f" + std::string(15, '/') + "P|"), std::string::npos) << words;
}

TEST(IndexPages, ABigYearIsSpreadOverFilesAndEachWordIsInOne) {
    TempDir dir;
    std::vector<ManifestMail> mails;
    for (int i = 0; i < 2500; ++i) {
        auto m = Mail(i, EncodeDate(2021, 1, 1) + i / 3000.0, "S" + std::to_string(i));
        // Forty words of its own per mail, so that the year's words outgrow one file.
        m.Text.clear();
        for (int k = 0; k < 40; ++k) {
            std::string word = "x";
            for (int v = i * 40 + k + 1; v; v /= 26) word += static_cast<char>('a' + v % 26);
            m.Text += word + " ";
        }
        mails.push_back(m);
    }
    WriteArchiveIndex(dir.Dir(), mails);
    const std::string a = dir.Dir() + "_archive/data/";
    std::smatch found;
    const std::string years = Read(a + "years.js");
    ASSERT_TRUE(std::regex_search(years, found, std::regex("\\[2021,2500,([0-9]+)\\]"))) << years;
    const int files = std::stoi(found[1]);
    EXPECT_GT(files, 1);

    // The mails in files of a thousand, oldest first, each once.
    for (int part = 0; part < 3; ++part) {
        const std::string rows = Read(a + "m2021-" + std::to_string(part) + ".js");
        const std::regex row("\\[\"m([0-9]+)\\.htm\"");
        int expected = part * 1000;
        for (auto it = std::sregex_iterator(rows.begin(), rows.end(), row); it != std::sregex_iterator(); ++it)
            EXPECT_EQ(std::stoi((*it)[1]), expected++);
        EXPECT_EQ(expected, std::min(2500, part * 1000 + 1000)) << part;
    }
    EXPECT_FALSE(platform::FileExists(a + "m2021-3.js"));

    // Every word in exactly one file, and the words that begin alike in the same one, so that
    // a word begun as it is typed is found in one file.
    std::map<std::string, int> fileOf;
    std::map<std::string, int> fileOfStart;
    for (int k = 0; k < files; ++k) {
        const std::string list = Read(a + "w2021-" + std::to_string(k) + ".js");
        const std::regex entry("\\|([a-z0-9]+)[:=]");
        for (auto it = std::sregex_iterator(list.begin(), list.end(), entry); it != std::sregex_iterator(); ++it) {
            const std::string word = (*it)[1];
            EXPECT_TRUE(fileOf.emplace(word, k).second) << word << " in two files";
            const auto start = fileOfStart.emplace(word.substr(0, 2), k).first;
            EXPECT_EQ(start->second, k) << word;
        }
    }
    EXPECT_EQ(fileOf.count("xb"), 1U);        // mail 0's first word
    EXPECT_EQ(fileOf.count("s2499"), 1U);     // the last subject
    EXPECT_GE(fileOf.size(), 2500U * 40U);    // nothing lost on the way
    EXPECT_FALSE(platform::FileExists(a + "w2021-" + std::to_string(files) + ".js"));
}

TEST(IndexPages, AnIndexIsMadeAgainOnlyWhenTheRowsChanged) {
    TempDir dir;
    const std::string years = dir.Dir() + "_archive/data/years.js";
    {
        Manifest m(dir.Dir());
        m.Record(Mail(1, EncodeDate(2020, 1, 1), "first"));
        const auto made = WriteArchiveIndexFrom(dir.Dir(), m, false);
        EXPECT_FALSE(made.Unchanged);
        EXPECT_EQ(made.Mails, 1);
        EXPECT_TRUE(WriteArchiveIndexFrom(dir.Dir(), m, false).Unchanged);
        // The same mail exported again (its row replaced): the index follows.
        m.Record(Mail(1, EncodeDate(2020, 1, 1), "first, again"));
        EXPECT_FALSE(WriteArchiveIndexFrom(dir.Dir(), m, false).Unchanged);
        EXPECT_NE(Read(dir.Dir() + "index.htm").find("first, again"), std::string::npos);
        m.Record(Mail(2, EncodeDate(2021, 1, 1), "second"));
        EXPECT_EQ(WriteArchiveIndexFrom(dir.Dir(), m, false).Mails, 2);
    }
    // What the index was made from outlives the run.
    Manifest m(dir.Dir());
    EXPECT_TRUE(WriteArchiveIndexFrom(dir.Dir(), m, false).Unchanged);
    // An index someone took away is made again; asked for, it is made whatever.
    std::filesystem::remove(years);
    EXPECT_FALSE(WriteArchiveIndexFrom(dir.Dir(), m, false).Unchanged);
    EXPECT_TRUE(platform::FileExists(years));
    EXPECT_FALSE(WriteArchiveIndexFrom(dir.Dir(), m, true).Unchanged);
}

TEST(IndexPages, NavigationLinksAreRelativeToThePage) {
    EXPECT_EQ(ArchiveLinkMarkup(ArchiveLink::Index, 1, "", false), "../index.htm");
    const std::string prev = ArchiveLinkMarkup(ArchiveLink::PrevByDate, 1, "<Back>", true);
    EXPECT_NE(prev.find("href=\"../index.htm\""), std::string::npos);
    EXPECT_NE(prev.find("&lt;Back&gt;"), std::string::npos);
    EXPECT_NE(prev.find("src=\"../_archive/assets/archive.js\""), std::string::npos);
    EXPECT_EQ(ArchiveLinkMarkup(ArchiveLink::NextInThread, 1, "", false).find("<script"), std::string::npos);
    ArchiveLink link;
    EXPECT_TRUE(ArchiveLinkFromTag("previnthread", link));
    EXPECT_EQ(link, ArchiveLink::PrevInThread);
    EXPECT_FALSE(ArchiveLinkFromTag("subject", link));
}

} // namespace
} // namespace quillmark
