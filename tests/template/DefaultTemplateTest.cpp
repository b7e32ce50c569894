#include "TemplateTestSupport.h"

#include "platform/Exceptions.h"
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
// 40 lines independently of the program's code. The build hashes the file as it is now.
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

TEST_F(DefaultTemplate, WrittenFileEqualsTheGoldenFile) {
    EXPECT_STREQ(GOLDEN_TEMPLATE_SHA256, GoldenSha256);
    std::string golden = ReadBytes(fs::path(QUILLMARK_TEST_DATA) / "template" / "default-template.htm");
    ASSERT_EQ(golden.size(), 1140u);

    fs::path path = dir_ / "quillmark-template.htm";
    WriteDefaultTemplate(path.string());
    EXPECT_EQ(ReadBytes(path), golden);
    EXPECT_EQ(DefaultTemplateText(), golden);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

    // Forty lines, CR LF after each, and the one byte above 127 is the 0xE5 of line 23.
    std::vector<std::string> lines = DefaultTemplateLines();
    ASSERT_EQ(lines.size(), 40u);
    EXPECT_EQ(lines[22], "<TR valign=top><TH>Fr\xE5n:<TD><#SenderName>");
    std::size_t high = 0;
    for (char c : golden) high += static_cast<unsigned char>(c) >= 128;
    EXPECT_EQ(high, 1u);
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
