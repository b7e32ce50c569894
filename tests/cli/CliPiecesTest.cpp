// The pieces of quillmark-export that need no program run: the progress line, the summary
// for scripts, and the template tags the catalogue does not know.
#include "../export/ExportTestSupport.h"

#include "app/cli/ExportProgress.h"
#include "app/cli/RunSummary.h"
#include "export/ExportRun.h"

#include <gtest/gtest.h>

namespace quillmark::testing {
namespace {

TEST(CliProgress, DurationText) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {{0, "0:00"}, {-3, "0:00"}, {9.4, "0:09"}, {9.5, "0:10"}, {59.6, "1:00"},
                 {725, "12:05"}, {3599, "59:59"}, {3723, "1:02:03"}, {36000, "10:00:00"}};
    for (const auto& c : cases) EXPECT_EQ(cli::DurationText(c.seconds), c.text) << c.seconds;
}

TEST(CliProgress, LineShowsDoneTotalRateAndTimeLeft) {
    // 120 of 500 in 3 s: 40 a second, 380 to go, 9.5 s -> "0:10".
    EXPECT_EQ(cli::ProgressLine(120, 500, 3.0, "#120 | x"),
              "[#######.......................] 120/500 mails  40/s  0:10 left  #120 | x");
    // A slow store: one decimal for the rate.
    EXPECT_EQ(cli::ProgressLine(3, 10, 2.0, ""), "[#########.....................] 3/10 mails  1.5/s  0:05 left");
    // Before the first second the rate says nothing yet.
    EXPECT_EQ(cli::ProgressLine(5, 10, 0.5, ""), "[###############...............] 5/10 mails");
    // An empty folder, and more done than counted (items added while the run reads).
    EXPECT_EQ(cli::ProgressLine(0, 0, 0, ""), "[##############################] 0/0 mails");
    EXPECT_EQ(cli::ProgressLine(12, 10, 2, "").substr(0, 32), "[##############################]");
}

TEST(CliSummary, JsonStrings) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"Inbox", "\"Inbox\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"line\nnext\ttab\r", "\"line\\nnext\\ttab\\r\""},
        {std::string("nul\0x", 5), "\"nul\\u0000x\""},
        {"\x1b[K\x7f", "\"\\u001b[K\\u007f\""},
        {"\xD0\x9F\xD1\x80\xD0\xB8 \xE6\x97\xA5 \xF0\x9F\x93\xA7", "\"\xD0\x9F\xD1\x80\xD0\xB8 \xE6\x97\xA5 \xF0\x9F\x93\xA7\""},
        {"bad \xC3 byte \xFF", "\"bad \\ufffd byte \\ufffd\""}, // never invalid JSON
    };
    for (const auto& c : cases) EXPECT_EQ(cli::JsonString(c.in), c.out) << c.in;
}

TEST(CliSummary, JsonObjectCarriesTheCountsAndTheResult) {
    cli::RunSummary r;
    r.Folder = "store/Inbox";
    r.Out = "out \"1\"";
    r.Stats.ItemCount = 7;
    r.Stats.ItemsSeen = 7;
    r.Stats.Exported = 4;
    r.Stats.Filtered = 2;
    r.Stats.Failed = 1;
    ExportFailure f;
    f.Index = 3;
    f.Subject = "Offer";
    f.Reason = "refused";
    r.Stats.Failures.push_back(f);
    r.Outcome = ExportOutcome::Failed;
    r.ExitCode = 3;
    r.Seconds = 1.25;
    const std::string json = cli::SummaryJson(r);
    EXPECT_EQ(json.find('\n'), json.size() - 1) << "one line";
    for (const char* part : {"{\"folder\":\"store/Inbox\",", "\"out\":\"out \\\"1\\\"\"", "\"result\":\"failures\"",
                             "\"exitCode\":3", "\"items\":7", "\"exported\":4", "\"filtered\":2", "\"failed\":1",
                             "\"failures\":[\"#3 | ", "Offer: refused\"]", "\"lastMailTime\":null",
                             "\"seconds\":1.250", "\"nextResumeFrom\":null}"})
        EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
    // No mail read: no last time, rather than day zero of the calendar.
    EXPECT_NE(cli::SummaryText(r).find("Last mail time:     none\n"), std::string::npos) << cli::SummaryText(r);
    r.Outcome = ExportOutcome::Stopped;
    r.NextResumeFrom = "2026-01-02 10:00:00";
    EXPECT_NE(cli::SummaryJson(r).find("\"result\":\"stopped\""), std::string::npos);
    EXPECT_NE(cli::SummaryJson(r).find("\"nextResumeFrom\":\"2026-01-02 10:00:00\"}"), std::string::npos);
}

std::vector<UnknownTemplateTag> Unknown(const std::vector<std::string>& lines) {
    ExportInputs in;
    in.TemplateLines = lines;
    return UnknownTemplateTags(in);
}

TEST(UnknownTemplateTags, OncePerNameWithTheLineOfItsFirstUse) {
    using V = std::vector<UnknownTemplateTag>;
    EXPECT_EQ(Unknown({"<html><#Subject>", "<#SenderName> <#subject>"}), V{}); // catalogue names, any case
    EXPECT_EQ(Unknown({"<html>", "", "<#Nmae> and <#Nmae>", "<#NMAE x=1>", "<#Bogus>", "<#Nmae>"}),
              (V{{"Nmae", 3}, {"Bogus", 5}}));
    // A tag whose parameters run over lines is placed where it starts, and the lines after
    // it keep their numbers.
    EXPECT_EQ(Unknown({"<#Odd a=1", "b=2", "c=3>", "<#Later>"}), (V{{"Odd", 1}, {"Later", 4}}));
    // No tag at all, and "<" that opens none.
    EXPECT_EQ(Unknown({"a < b", "<b>#x</b>"}), V{});
}

TEST(UnknownTemplateTags, LinesAreCountedPastTheParserWindow) {
    // The template streams through a window of a few kilobytes; lines before it count too.
    std::vector<std::string> lines(2000, std::string(40, 'x'));
    lines.push_back("<#Far>");
    EXPECT_EQ(Unknown(lines), (std::vector<UnknownTemplateTag>{{"Far", 2001}}));
}

TEST(UnknownTemplateTags, TextNamesTagAndLine) {
    EXPECT_EQ(UnknownTagText({"Nmae", 12}), "template line 12: unknown tag <#Nmae> (the pages show \"tag not found\" there)");
}

} // namespace
} // namespace quillmark::testing
