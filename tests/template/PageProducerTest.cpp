#include "TemplateTestSupport.h"

#include "platform/Exceptions.h"
#include "template/PageProducer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace quillmark {
namespace {

using testing::RecordingProducer;
using namespace std::string_literals;

struct ExpansionCase {
    std::string text;
    std::string expected;
    std::vector<std::string> names; // tag names the handler receives, in order
    std::vector<TStrings> params;   // their parameters (empty = not checked)
};

void PrintTo(const ExpansionCase& c, std::ostream* os) { *os << ::testing::PrintToString(c.text); }

class ExpansionEdges : public ::testing::TestWithParam<ExpansionCase> {};

TEST_P(ExpansionEdges, ExpandsAsDescribed) {
    const ExpansionCase& c = GetParam();
    RecordingProducer r;
    EXPECT_EQ(r.producer.ExpandString(c.text), c.expected);
    ASSERT_EQ(r.seen.size(), c.names.size());
    for (std::size_t i = 0; i < c.names.size(); ++i) {
        EXPECT_EQ(r.seen[i].name, c.names[i]) << "tag " << i;
        if (i < c.params.size()) {
            EXPECT_EQ(r.seen[i].params, c.params[i]) << "tag " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Template, ExpansionEdges,
    ::testing::Values(
        ExpansionCase{"", "", {}, {}},
        ExpansionCase{"   ", "   ", {}, {}},
        ExpansionCase{"Hello <#Name>!", "Hello X!", {"Name"}, {{}}},
        ExpansionCase{"< #Name> and <# Name >", "X and X", {"Name", "Name"}, {{}, {}}},
        ExpansionCase{"<#NAME>", "X", {"NAME"}, {}},
        ExpansionCase{"a < b", "a <b", {}, {}},
        ExpansionCase{"x <", "x <", {}, {}},
        ExpansionCase{"<<#Name>", "<<#Name>", {}, {}},
        ExpansionCase{"<#Size-KB>", "X", {"Size"}, {{"-KB"}}},
        ExpansionCase{"<#1x>", "X", {"1"}, {{"x"}}},
        ExpansionCase{"<#>rest", "Xrest", {">"}, {{}}},
        ExpansionCase{"<#Name", "X", {"Name"}, {{}}},
        ExpansionCase{"<#", "X", {""}, {{}}},
        // The first ">" ends the tag, quotes or not.
        ExpansionCase{"<#Name title='a>b'>c", "Xb'>c", {"Name"}, {{"title=a"}}},
        // Blanks after a non-tag "<" are lost, and the second "<" is never a tag opener.
        ExpansionCase{"< <#x>", "<<#x>", {}, {}},
        ExpansionCase{"<\t\r\nb>", "<b>", {}, {}},
        // Blanks after the ">" of a tag are kept, and so is everything around it.
        ExpansionCase{" a\r\n<#x>\t \r\nb ", " a\r\nX\t \r\nb ", {"x"}, {{}}},
        // Parameters may run over lines; the blanks at their ends are trimmed.
        ExpansionCase{"<#Tag\r\n  a=1\r\n  b=2\t\r\n>", "X", {"Tag"}, {{"a=1", "b=2"}}},
        ExpansionCase{"<#Tag a=1  b=\"two words\" c='q' d=%41+%2b>", "X", {"Tag"},
                      {{"a=1", "b=two words", "c=q", "d=A +"}}},
        // A TAB does not separate parameters.
        ExpansionCase{"<#T a\tb>", "X", {"T"}, {{"a\tb"}}},
        // Names run over letters, digits and "_" only.
        ExpansionCase{"<#_a1.b>", "X", {"_a1"}, {{".b"}}},
        ExpansionCase{"<#\xE5x>", "X", {"\xE5"}, {{"x"}}},
        // Two tags back to back, and a tag as the very last bytes.
        ExpansionCase{"<#a><#b>", "XX", {"a", "b"}, {}},
        ExpansionCase{"text<#end>", "textX", {"end"}, {}},
        // A NUL byte ends the input: nothing after it is copied or expanded.
        ExpansionCase{"abc\0<#x>def"s, "abc", {}, {}},
        ExpansionCase{"<#x>ab\0cd"s, "Xab", {"x"}, {}},
        ExpansionCase{"ab\0"s, "ab", {}, {}}));

struct SplitCase {
    std::string text;
    bool strip;
    TStrings fields;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << ::testing::PrintToString(c.text) << (c.strip ? " stripped" : "");
}

class ParamSplitting : public ::testing::TestWithParam<SplitCase> {};

TEST_P(ParamSplitting, GivesTheFields) {
    const SplitCase& c = GetParam();
    TStrings fields;
    SplitTagParams(c.text, c.strip, fields);
    EXPECT_EQ(fields, c.fields);
}

INSTANTIATE_TEST_SUITE_P(
    Template, ParamSplitting,
    ::testing::Values(SplitCase{"", true, {}},
                      SplitCase{"a=1  b=\"two words\" c='q' d=%41+%2b", true, {"a=1", "b=two words", "c=q", "d=A +"}},
                      SplitCase{"a\tb", true, {"a\tb"}},
                      SplitCase{"a\r\nb\rc\nd", true, {"a", "b", "c", "d"}},
                      SplitCase{"\"\"", true, {}},
                      SplitCase{"''", true, {""}},
                      SplitCase{"\"b\"c", true, {"b", "c"}},
                      // The byte after a closing quote that belongs to its field is kept (it
                      // starts the next field) rather than lost.
                      SplitCase{"a=\"b\"c", true, {"a=b", "c"}},
                      SplitCase{"a=\"b\" c", true, {"a=b", "c"}},
                      SplitCase{"a=\"b\"", true, {"a=b"}},
                      SplitCase{"a=\"b\"\"c\"", true, {"a=b", "c"}},
                      // An unclosed quote runs the field to the end of the text.
                      SplitCase{"a=\"b c", true, {"a=b c"}},
                      SplitCase{"\"b c", true, {"b c"}},
                      SplitCase{"x \"", true, {"x"}},
                      // Decoding comes before stripping: an escaped quote is stripped too.
                      SplitCase{"x=%22y%27", true, {"x=y"}},
                      SplitCase{"x=%22y%27", false, {"x=\"y'"}},
                      // Without stripping, a quote that opens the field is still dropped (the
                      // field starts after it), one inside the field stays.
                      SplitCase{"a=\"b c\" \"d e\"", false, {"a=\"b c\"", "d e"}},
                      SplitCase{"'a b'", false, {"'a", "b'"}},
                      SplitCase{"50%% a+b 100%", true, {"50%", "a b", "100%"}},
                      // An incomplete escape at the end of a field keeps the field as written.
                      SplitCase{"a+b%4 c", true, {"a+b%4", "c"}},
                      SplitCase{"%", true, {"%"}}));

TEST(ParamDecoding, TurnsEscapesIntoBytes) {
    EXPECT_EQ(DecodeParamField("%41%62c%7e%7E%00"), "Abc~~"s + '\0');
    EXPECT_EQ(DecodeParamField("%e5%FF"), "\xE5\xFF");
    EXPECT_EQ(DecodeParamField("a+b++"), "a b  ");
    EXPECT_EQ(DecodeParamField("%%41"), "%41");
    EXPECT_EQ(DecodeParamField("%2b"), "+"); // a decoded "+" is not decoded again
    EXPECT_EQ(DecodeParamField("%2"), "%2");
}

TEST(ParamDecoding, RejectsEscapesThatAreNotHexadecimal) {
    struct {
        std::string field;
        std::string message;
    } cases[] = {
        {"100%zz", "'$zz' is not a valid integer value"},
        {"%4g", "'$4g' is not a valid integer value"},
        {"%g4", "'$g4' is not a valid integer value"},
        {"%+1", "'$+1' is not a valid integer value"},
        {"%zz%4", "'$zz' is not a valid integer value"}, // left to right: the bad escape comes first
    };
    for (const auto& c : cases) {
        try {
            DecodeParamField(c.field);
            ADD_FAILURE() << "no error for " << c.field;
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}

TEST(Expansion, ParametersAreDecodedEvenWhenTheHandlerIgnoresThem) {
    TPageProducer producer; // no handler at all
    try {
        producer.ExpandString("before <#Size 100%zz> after");
        FAIL() << "expected a conversion error";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'$zz' is not a valid integer value");
    }
}

TEST(Expansion, HandlerErrorsEndTheExpansion) {
    TPageProducer producer;
    int calls = 0;
    producer.OnHTMLTag = [&](TPageProducer&, TTag, const std::string& name, TStrings&, std::string& text) {
        ++calls;
        if (name == "bad") throw EStoreError("The property is not available");
        text = "ok";
    };
    EXPECT_THROW(producer.ExpandString("<#good> <#bad> <#never>"), EStoreError);
    EXPECT_EQ(calls, 2);
}

TEST(Expansion, HandlerSeesItselfTheKindAndAnEmptyReplacement) {
    TPageProducer producer;
    std::vector<TTag> kinds;
    producer.OnHTMLTag = [&](TPageProducer& sender, TTag kind, const std::string&, TStrings&, std::string& text) {
        EXPECT_EQ(&sender, &producer);
        EXPECT_TRUE(text.empty());
        kinds.push_back(kind);
        text = "[" + std::to_string(static_cast<int>(kind)) + "]";
    };
    EXPECT_EQ(producer.ExpandString("<#LINK><#image><#Table><#imageMap><#object><#EMBED><#Links><#IMG><#>"),
              "[1][2][3][4][5][6][0][0][0]");
}

TEST(Expansion, ATagLeftAloneByTheHandlerVanishes) {
    TPageProducer producer;
    EXPECT_EQ(producer.ExpandString("a<#x p=1>b"), "ab");
    producer.OnHTMLTag = [](TPageProducer&, TTag, const std::string&, TStrings&, std::string&) {};
    EXPECT_EQ(producer.ExpandString("a<#x p=1>b"), "ab");
}

TEST(Expansion, BaseProducerPutsTheTagBackWithoutParameters) {
    TCustomPageProducer producer;
    EXPECT_EQ(producer.ExpandString("a<# x p=1 >b<#>"), "a<#x>b<#>>");
    TCustomContentProducer content;
    EXPECT_EQ(content.ExpandString("a<#x>"), "");
    EXPECT_EQ(content.ExpandTemplate(), "");
}

TEST(Expansion, HtmlDocLinesEndInCrLf) {
    RecordingProducer r;
    r.producer.SetHTMLDoc({"<#a> one", "", "two<#b>"});
    EXPECT_EQ(r.producer.ExpandTemplate(), "X one\r\n\r\ntwoX\r\n");
    // A tag left open on the last line runs to the end and takes the line end as blanks.
    r.producer.SetHTMLDoc({"x<#open p=1"});
    r.seen.clear();
    EXPECT_EQ(r.producer.ExpandTemplate(), "xX");
    ASSERT_EQ(r.seen.size(), 1u);
    EXPECT_EQ(r.seen[0].params, TStrings{"p=1"});
    r.producer.SetHTMLDoc({});
    EXPECT_EQ(r.producer.ExpandTemplate(), "");
}

TEST(Expansion, SettersKeepFileAndLinesApart) {
    TPageProducer producer;
    producer.SetHTMLFile("Mail.htm");
    producer.SetHTMLDoc({"a"});
    EXPECT_EQ(producer.HTMLFile(), "");
    EXPECT_EQ(producer.HTMLDoc(), TStrings{"a"});

    // The same (empty) name again changes nothing.
    producer.SetHTMLFile("");
    EXPECT_EQ(producer.HTMLDoc(), TStrings{"a"});

    producer.SetHTMLFile("C:\\T\\Mail.htm");
    EXPECT_EQ(producer.HTMLFile(), "C:\\T\\Mail.htm");
    EXPECT_TRUE(producer.HTMLDoc().empty());

    // A change of letter case only is ignored: the old spelling stays.
    producer.SetHTMLDoc({"b"});
    producer.SetHTMLFile("x");
    producer.SetHTMLFile("X");
    EXPECT_EQ(producer.HTMLFile(), "x");
    // Only ASCII letters fold: "\xE5" and "\xC5" are different names.
    producer.SetHTMLFile("\xE5");
    producer.SetHTMLFile("\xC5");
    EXPECT_EQ(producer.HTMLFile(), "\xC5");
}

class TemplateFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("quillmark-template-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
        return (dir_ / name).string();
    }
    std::filesystem::path dir_;
};

TEST_F(TemplateFile, CaseOnlyRenameIsIgnoredOnlyForTheSameFile) {
    RecordingProducer r;
    std::string lower = Write("mail.htm", "lower");
    std::string upper = (dir_ / "MAIL.htm").string();
    r.producer.SetHTMLFile(lower);
    r.producer.SetHTMLFile(upper);
    if (std::filesystem::exists(upper)) {
        // Case-insensitive file system: the same file, the old spelling stays.
        EXPECT_EQ(r.producer.HTMLFile(), lower);
        return;
    }
    // Case-sensitive: "MAIL.htm" is another file, missing so far. Keeping the old name would
    // expand mail.htm without a word.
    EXPECT_EQ(r.producer.HTMLFile(), upper);
    EXPECT_THROW(r.producer.ExpandTemplate(), EFOpenError);
    Write("MAIL.htm", "upper");
    EXPECT_EQ(r.producer.ExpandTemplate(), "upper");
    r.producer.SetHTMLFile(lower);
    EXPECT_EQ(r.producer.ExpandTemplate(), "lower");
}

TEST_F(TemplateFile, IsReadAfreshForEveryExpansion) {
    RecordingProducer r;
    std::string path = Write("t.htm", "A<#x>\r\n");
    r.producer.SetHTMLFile(path);
    EXPECT_EQ(r.producer.ExpandTemplate(), "AX\r\n");
    Write("t.htm", "B <#y> <#z>");
    EXPECT_EQ(r.producer.ExpandTemplate(), "B X X");
}

TEST_F(TemplateFile, MissingFileOrDirectoryCannotBeOpened) {
    TPageProducer producer;
    std::string missing = (dir_ / "none.htm").string();
    producer.SetHTMLFile(missing);
    try {
        producer.ExpandTemplate();
        FAIL() << "expected an open error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + missing);
    }
    producer.SetHTMLFile(dir_.string());
    EXPECT_THROW(producer.ExpandTemplate(), EFOpenError);
}

} // namespace
} // namespace quillmark
