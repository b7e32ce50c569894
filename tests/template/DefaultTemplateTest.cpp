#include "TemplateTestSupport.h"

#include "SrcLib/Exceptions.h"
#include "template/DefaultTemplate.h"
#include "template/PageProducer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace quillmark {
namespace {

namespace fs = std::filesystem;

// SHA-256 of tests/data/template/default-template.htm, the file made from the table of the
// 40 lines independently of the program's code.
const char* const GoldenSha256 = "85e80a0d15cde3d2f1208c4bf949144dfe88639b4667cbe80d36b5580903ff08";

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class DefaultTemplate : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               (std::string("quillmark-default-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_F(DefaultTemplate, GoldenFileIsTheOneOnRecord) {
    std::string golden = ReadBytes(fs::path(QUILLMARK_TEST_DATA) / "template" / "default-template.htm");
    ASSERT_EQ(golden.size(), 1140u);
    EXPECT_EQ(testing::Sha256Hex(golden), GoldenSha256);
}

TEST_F(DefaultTemplate, WrittenFileEqualsTheGoldenFile) {
    fs::path path = dir_ / "quillmark-template.htm";
    WriteDefaultTemplate(path.string());
    std::string written = ReadBytes(path);
    EXPECT_EQ(written.size(), 1140u);
    EXPECT_EQ(testing::Sha256Hex(written), GoldenSha256);
    EXPECT_EQ(written, ReadBytes(fs::path(QUILLMARK_TEST_DATA) / "template" / "default-template.htm"));
    EXPECT_EQ(written, DefaultTemplateText());
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(DefaultTemplate, LinesAreFortyWithCrLfAndOneLatin1Byte) {
    std::vector<std::string> lines = DefaultTemplateLines();
    ASSERT_EQ(lines.size(), 40u);
    std::string text = DefaultTemplateText();
    std::size_t lineEnds = 0;
    for (std::size_t i = text.find("\r\n"); i != std::string::npos; i = text.find("\r\n", i + 2)) ++lineEnds;
    EXPECT_EQ(lineEnds, 40u);
    EXPECT_EQ(text.substr(text.size() - 9), "</HTML>\r\n");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        bool hasHigh = false;
        for (char c : lines[i]) hasHigh |= static_cast<unsigned char>(c) >= 128;
        EXPECT_EQ(hasHigh, i == 22) << "line " << i + 1;
    }
    EXPECT_EQ(lines[22], "<TR valign=top><TH>Fr\xE5n:<TD><#SenderName>");
}

TEST_F(DefaultTemplate, ReplacesAnExistingFileWhenCalled) {
    fs::path path = dir_ / "t.htm";
    std::ofstream(path, std::ios::binary) << std::string(5000, 'z');
    WriteDefaultTemplate(path.string());
    EXPECT_EQ(ReadBytes(path), DefaultTemplateText());
}

TEST_F(DefaultTemplate, CannotCreateReportsThePathAndWritesNothing) {
    std::string missingDir = (dir_ / "no" / "such" / "t.htm").string();
    for (const std::string& path : {missingDir, std::string(), dir_.string()}) {
        try {
            WriteDefaultTemplate(path);
            ADD_FAILURE() << "no error for \"" << path << "\"";
        } catch (const EFCreateError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot create file " + path);
        }
    }
    EXPECT_FALSE(fs::exists(dir_ / "no"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 0);
}

TEST_F(DefaultTemplate, ExpandsWithTheTagsItNames) {
    testing::RecordingProducer r;
    r.producer.SetHTMLDoc(DefaultTemplateLines());
    std::string page = r.producer.ExpandTemplate();
    std::vector<std::string> names;
    for (const auto& tag : r.seen) {
        names.push_back(tag.name);
        EXPECT_TRUE(tag.params.empty()) << tag.name;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"AppName", "AppVer", "DateTime", "SenderName", "CreationTime",
                                               "Subject", "Subject", "SenderName", "To", "ReceivedTime", "SizeKB",
                                               "Body", "Attachments", "Images", "EntryID", "DateTimes"}));
    EXPECT_EQ(page.find("<#"), std::string::npos);
    EXPECT_NE(page.find("<TITLE>X</TITLE>\r\n"), std::string::npos);

    // The same file read from disk gives the same page; the base producer, which puts every
    // tag back as written, gives the file itself.
    fs::path path = dir_ / "t.htm";
    WriteDefaultTemplate(path.string());
    r.producer.SetHTMLFile(path.string());
    EXPECT_EQ(r.producer.ExpandTemplate(), page);
    TCustomPageProducer plain;
    plain.SetHTMLFile(path.string());
    EXPECT_EQ(plain.ExpandTemplate(), DefaultTemplateText());
}

} // namespace
} // namespace quillmark
