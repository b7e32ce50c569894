// quillmark-export run as a user runs it: what it says, where, how often, and with which exit
// status; its help and README examples run as printed; its manual page says what --help says.
#include "../export/ExportTestSupport.h"

#include "app/cli/CliOptions.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace quillmark::testing {
namespace {

const std::string Program = QUILLMARK_EXPORT_EXE;
const std::string Sample = QUILLMARK_SAMPLE_STORE;
const std::string ProgramName = "quillmark-export";

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class CliRun : public ScratchDir {
protected:
    // Runs a shell command line in the scratch folder, with the program's folder first on
    // PATH (so "quillmark-export" is the program built) and HOME there too.
    int Shell(const std::string& commandLine) {
        const std::string dir = Program.substr(0, Program.rfind('/'));
        const std::string cmd = "cd " + Quote(Path()) + " && HOME=" + Quote(Path()) + " PATH=" + Quote(dir) +
                                ":\"$PATH\" sh -c " + Quote(commandLine) + " >" + Quote(Path(".stdout")) + " 2>" +
                                Quote(Path(".stderr")) + " </dev/null; echo $? >" + Quote(Path(".rc"));
        std::system(cmd.c_str());
        Out = ReadFile(Path(".stdout"));
        Err = ReadFile(Path(".stderr"));
        return std::atoi(ReadFile(Path(".rc")).c_str());
    }
    int Run(const std::string& args) { return Shell(ProgramName + " " + args); }
    // Every line on standard error is the program's, by its name; the hint to --help aside.
    void ExpectErrLinesNamed() {
        for (const auto& line : Lines(Err)) {
            if (line.rfind("Try '", 0) == 0) continue;
            EXPECT_EQ(line.rfind(ProgramName + ": ", 0), 0u) << "unnamed line: " << line << "\n" << Err;
        }
    }
    std::string Out, Err;
};

TEST_F(CliRun, SubjectThatDoesNotCompileIsAUsageErrorBeforeAnyMail) {
    // Before, every mail was filtered out and the run ended "Result: ok" with status 0.
    for (const char* bad : {"(unclosed", "a**", "[z-a]"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(Run("--folder store/Inbox --out out --subject '^Re:' --subject " + Quote(bad)), 2);
        EXPECT_EQ(Lines(Err).size(), 2u) << Err; // the message and the hint, once
        EXPECT_EQ(Err.rfind(ProgramName + ": --subject '" + std::string(bad) + "' does not compile: ", 0), 0u) << Err;
        EXPECT_EQ(Count(Err, "(pos "), 1u) << Err;
        EXPECT_EQ(Out, "");
        EXPECT_FALSE(Exists(Path("out"))) << "nothing is done";
    }
    // A good expression still filters.
    ASSERT_EQ(Run("--folder store/Inbox --out out --subject '^Rota' --json"), 0) << Err;
    EXPECT_NE(Out.find("\"exported\":1,"), std::string::npos) << Out;
}

TEST_F(CliRun, EveryErrorOnceAndNamed) {
    const struct {
        std::string args;
        int status;
        std::string message;
    } cases[] = {
        {"--frobnicate", 2, "unknown option --frobnicate"},
        {"--folder store/Nowhere", 2, "no folder \"store/Nowhere\""},
        {"--folder store/Inbox --from 1.1.2005", 2, "--from: not a date-time"},
        {"--folder store/Inbox --template missing.htm", 1, "Cannot open file missing.htm"},
        {"--store no-such-store --list", 1, "no-such-store"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        EXPECT_EQ(Run(c.args), c.status);
        EXPECT_EQ(Count(Out + Err, c.message), 1u) << "out:\n" << Out << "err:\n" << Err;
        ExpectErrLinesNamed();
    }
}

TEST_F(CliRun, MailNotWrittenIsNamedOnce) {
    // The year folders cannot be made (a file stands in the way): every page of 2026 fails.
    std::filesystem::create_directories(Path("out"));
    WriteFile(Path("out/2026"), "in the way");
    EXPECT_EQ(Run("--folder store/Inbox --out out"), 3);
    ExpectErrLinesNamed();
    const auto errLines = Lines(Err);
    ASSERT_FALSE(errLines.empty());
    for (const auto& line : errLines) {
        EXPECT_EQ(line.rfind(ProgramName + ": failed: #", 0), 0u) << line;
        // Each failure named once, in stdout and stderr together (the end of the run
        // repeated the first one on standard output before).
        const std::string what = line.substr(line.find('#'));
        EXPECT_NE(what.find(": "), std::string::npos) << "the reason is given: " << line;
        EXPECT_EQ(Count(Out + Err, what), 1u) << what << "\n" << Out;
    }
    EXPECT_NE(Out.find("Result:             finished with failures"), std::string::npos) << Out;
}

TEST_F(CliRun, OneVersionInVersionAndPages) {
    ASSERT_EQ(Run("--version"), 0);
    EXPECT_EQ(Out, "Quillmark v" + std::string(QUILLMARK_VERSION) + " (quillmark-export)\n");
    ASSERT_EQ(Run("--folder store/Saved --out out -q"), 0) << Err;
    bool sawPage = false;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Root / "out")) {
        if (entry.path().extension() != ".htm" || entry.path().parent_path().filename() == ".quillmark") continue;
        const std::string page = ReadFile(platform::Utf8Path(entry.path()));
        if (page.find("E R R O R") != std::string::npos) continue;
        if (page.find("</A></SMALL>") == std::string::npos) continue; // an index page
        sawPage = true;
        EXPECT_NE(page.find(">Quillmark v" + std::string(QUILLMARK_VERSION) + "</A></SMALL>"), std::string::npos)
            << entry.path();
    }
    EXPECT_TRUE(sawPage);
}

TEST_F(CliRun, UnknownTemplateTagsWarnOncePerNameAndStrictRefuses) {
    WriteFile(Path("t.htm"), "<HTML><BODY>\r\n<#Subject>\r\n<#Sujbect> <#Sujbect>\r\n<#sujbect>\r\n<#Bogus a=1>\r\n</BODY></HTML>\r\n");
    ASSERT_EQ(Run("--folder store/Saved --out out --template t.htm"), 0) << Err;
    EXPECT_EQ(Lines(Err),
              (std::vector<std::string>{
                  ProgramName + ": warning: template line 3: unknown tag <#Sujbect> (the pages show \"tag not found\" there)",
                  ProgramName + ": warning: template line 5: unknown tag <#Bogus> (the pages show \"tag not found\" there)"}));
    // The pages keep their not-found text.
    bool sawPage = false;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Root / "out")) {
        if (entry.path().extension() != ".htm" || entry.path().filename().string()[0] != 'm') continue;
        sawPage = true;
        EXPECT_NE(ReadFile(platform::Utf8Path(entry.path())).find("tag not found <B>#Sujbect</B>"), std::string::npos);
    }
    EXPECT_TRUE(sawPage);

    EXPECT_EQ(Run("--folder store/Saved --out strict --template t.htm --strict"), 2);
    EXPECT_NE(Err.find(ProgramName + ": template line 3: unknown tag <#Sujbect>"), std::string::npos) << Err;
    EXPECT_NE(Err.find(ProgramName + ": template line 5: unknown tag <#Bogus>"), std::string::npos) << Err;
    EXPECT_EQ(Err.find("warning"), std::string::npos) << Err;
    ExpectErrLinesNamed();
    EXPECT_FALSE(Exists(Path("strict")));
    // The built-in template knows all its tags: --strict passes it.
    EXPECT_EQ(Run("--folder store/Saved --out strict --strict -q"), 0) << Err;
    EXPECT_EQ(Err, "");
}

TEST_F(CliRun, JsonSummaryIsOneObjectAlone) {
    ASSERT_EQ(Run("--folder store/Inbox --out out --json"), 0) << Err;
    ASSERT_EQ(Lines(Out).size(), 1u) << Out; // no per-mail lines in between
    EXPECT_EQ(Out.front(), '{');
    // A real JSON reader takes it, with the counts of the run.
    WriteFile(Path("summary.json"), Out);
    ASSERT_EQ(Shell("python3 -c 'import json,sys; d=json.load(open(\"summary.json\")); "
                    "print(d[\"result\"], d[\"exported\"], d[\"items\"], d[\"exitCode\"], d[\"folder\"])'"),
              0)
        << Err;
    EXPECT_EQ(Out, "ok 11 11 0 store/Inbox\n");
    // Run again: the pages are there; the archive's mails are passed over with --resume.
    ASSERT_EQ(Run("--folder store/Inbox --out out --json --resume"), 0) << Err;
    EXPECT_NE(Out.find("\"exported\":0,"), std::string::npos) << Out;
    EXPECT_NE(Out.find("\"alreadyArchived\":11,"), std::string::npos) << Out;
    EXPECT_NE(Out.find("\"nextResumeFrom\":\"2026-"), std::string::npos) << Out;
}

TEST_F(CliRun, MailLinesWhenNotOnATerminal) {
    ASSERT_EQ(Run("--folder store/Inbox --out out --subject '^Rota'"), 0) << Err;
    const auto lines = Lines(Out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("skipped #1 | 2026-01-06", 0), 0u) << Out;
    EXPECT_EQ(lines[1].rfind("#2 | 2026-01-12", 0), 0u) << Out;
    for (const auto& line : lines) EXPECT_NE(line, "ok") << "the end of the run is in the summary only";
    EXPECT_NE(Out.find("Result:             ok\n"), std::string::npos);
    EXPECT_EQ(Err, "");
}

// ---- examples and the manual ----

// The example command lines of a text: its lines that start with the program's name, after
// the indentation, without a trailing "# comment".
std::vector<std::string> ExampleLines(const std::string& text, bool inCodeBlocksOnly) {
    std::vector<std::string> examples;
    bool inBlock = false;
    for (std::string line : Lines(text)) {
        if (line.rfind("```", 0) == 0) {
            inBlock = !inBlock;
            continue;
        }
        if (inCodeBlocksOnly && !inBlock) continue;
        const auto start = line.find_first_not_of(' ');
        if (start == std::string::npos || line.compare(start, ProgramName.size() + 1, ProgramName + " ") != 0) continue;
        line = line.substr(start);
        const auto comment = line.find("  #");
        if (comment != std::string::npos) line.resize(comment);
        while (!line.empty() && line.back() == ' ') line.pop_back();
        examples.push_back(line);
    }
    return examples;
}

// The paragraph of the help text that holds the examples.
std::string HelpExamples(const std::string& help) {
    const auto start = help.find("\nExamples");
    if (start == std::string::npos) return {};
    return help.substr(start, help.find("\n\n", start + 1) - start);
}

TEST_F(CliRun, HelpExamplesRunAsPrinted) {
    ASSERT_EQ(Run("--help"), 0);
    const auto examples = ExampleLines(HelpExamples(Out), false);
    ASSERT_GE(examples.size(), 5u) << Out;
    for (const auto& example : examples) {
        EXPECT_EQ(Shell(example), 0) << example << "\n" << Err;
        EXPECT_EQ(Err.find(ProgramName + ":"), std::string::npos) << example << "\n" << Err;
    }
    // The folders the options' descriptions give as examples are folders of the sample.
    const std::string help = cli::HelpText(ProgramName);
    static const std::regex folderExample("e\\.g\\. \"([^\"]+)\"");
    int folders = 0;
    for (auto it = std::sregex_iterator(help.begin(), help.end(), folderExample); it != std::sregex_iterator(); ++it) {
        ++folders;
        EXPECT_EQ(Run("--folder " + Quote((*it)[1]) + " --out eg -q"), 0) << (*it)[1] << "\n" << Err;
    }
    EXPECT_GE(folders, 1);
}

TEST_F(CliRun, ReadmeExamplesRunAsPrinted) {
    const auto examples = ExampleLines(ReadFile(std::string(QUILLMARK_SOURCE_DIR) + "/README.md"), true);
    ASSERT_GE(examples.size(), 5u);
    for (const auto& example : examples) {
        EXPECT_EQ(Shell(example), 0) << example << "\n" << Err;
        EXPECT_EQ(Err.find(ProgramName + ":"), std::string::npos) << example << "\n" << Err;
    }
}

// The long options a text names ("--from").
std::set<std::string> LongOptions(const std::string& text) {
    std::set<std::string> names;
    static const std::regex option("(^|[^-\\w])(--[a-z][a-z-]*[a-z])");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
        names.insert((*it)[2]);
    return names;
}

// An mbox of n mails, each with a small attachment, dated in year.
std::string TreeMbox(const std::string& folder, int n, int year) {
    std::string m;
    for (int i = 1; i <= n; ++i) {
        const std::string id = "<" + folder + "-" + std::to_string(i) + "@tree.test>";
        m += "From a@tree.test Sat Mar  5 10:00:00 " + std::to_string(year) + "\n"
             "From: A <a@tree.test>\nTo: b@tree.test\nSubject: " + folder + " mail " + std::to_string(i) +
             "\nDate: Sat, 5 Mar " + std::to_string(year) + " 10:0" + std::to_string(i) + ":00 +0000\n"
             "Message-ID: " + id + "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n\n"
             "--b\nContent-Type: text/plain\n\nbody of " + folder + " " + std::to_string(i) + "\n"
             "--b\nContent-Type: text/plain; name=\"" + folder + std::to_string(i) + ".txt\"\n"
             "Content-Disposition: attachment; filename=\"" + folder + std::to_string(i) + ".txt\"\n\n"
             "attached " + std::to_string(i) + "\n--b--\n\n";
    }
    return m;
}

// The relative links (href, src) of an HTML text, without their fragments.
std::vector<std::string> RelativeLinks(const std::string& html) {
    std::vector<std::string> links;
    static const std::regex link("(?:href|src)=\"([^\"#?]+)");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), link); it != std::sregex_iterator(); ++it) {
        const std::string target = (*it)[1];
        if (target.find(':') == std::string::npos) links.push_back(target);
    }
    return links;
}

TEST_F(CliRun, RecursiveExportsTheTreeIntoOneArchive) {
    // A Thunderbird-style tree: Top, its subfolders (one named like a year folder, two whose
    // names come out alike as file names) and one two levels down.
    WriteFile(Path("tree/Top"), TreeMbox("top", 2, 2005));
    WriteFile(Path("tree/Top.sbd/Sub"), TreeMbox("sub", 3, 2006));
    WriteFile(Path("tree/Top.sbd/Sub.sbd/Deep"), TreeMbox("deep", 2, 2007));
    WriteFile(Path("tree/Top.sbd/2005"), TreeMbox("year", 1, 2008));
    WriteFile(Path("tree/Top.sbd/a b"), TreeMbox("space", 1, 2009));
    WriteFile(Path("tree/Top.sbd/a_b"), TreeMbox("under", 1, 2010));
    ASSERT_EQ(Run("--store tree --folder tree/Top --out out --recursive --template builtin:browse --json"), 0) << Err;
    EXPECT_NE(Out.find("\"folders\":6,\"items\":10,"), std::string::npos) << Out;
    EXPECT_NE(Out.find("\"exported\":10,"), std::string::npos) << Out;

    // Each folder's pages in its own place; the top folder's as without --recursive.
    const std::vector<std::pair<std::string, std::size_t>> places = {
        {"out/2005", 2}, {"out/Sub/2006", 3}, {"out/Sub/Deep/2007", 2},
        {"out/2005-2/2008", 1}, {"out/a_b/2009", 1}, {"out/a_b-2/2010", 1}};
    for (const auto& [dir, pages] : places) {
        std::size_t n = 0;
        for (const auto& name : Listing(Path(dir))) n += name.size() > 4 && name.substr(name.size() - 4) == ".htm";
        EXPECT_EQ(n, pages) << dir;
    }

    // From a page two folders below the top's place, every relative link (the start page,
    // the archive's script, the attachment) leads to a file that is there.
    const std::string deepDir = Path("out/Sub/Deep/2007");
    const auto deepPages = Listing(deepDir);
    ASSERT_FALSE(deepPages.empty());
    const std::string deep = ReadFile(deepDir + "/" + deepPages.front());
    const auto links = RelativeLinks(deep);
    EXPECT_GE(links.size(), 3u) << deep;
    for (const auto& link : links)
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::path(deepDir) / link)) << link;
    EXPECT_NE(deep.find("../../../atts/deep"), std::string::npos) << "the attachment's link";

    // Every page is reached from index.htm by links.
    ASSERT_EQ(Shell("python3 -c \"import importlib.util as u, sys; s = u.spec_from_file_location('c', '" +
                    std::string(QUILLMARK_SOURCE_DIR) + "/scripts/archive-check.py'); m = u.module_from_spec(s); "
                    "s.loader.exec_module(m); m.check_reachable('out'); sys.exit(1 if m.failures else 0)\""),
              0)
        << Out << Err;
    // The start page lists every folder.
    const std::string index = ReadFile(Path("out/index.htm"));
    for (const char* folder : {"Top (2)", "Top/Sub (3)", "Top/Sub/Deep (2)", "Top/2005 (1)", "Top/a b (1)", "Top/a_b (1)"})
        EXPECT_NE(index.find(folder), std::string::npos) << folder;

    // A resumed run over the unchanged tree finds everything archived, in every folder.
    ASSERT_EQ(Run("--store tree --folder tree/Top --out out --recursive --resume --json"), 0) << Err;
    EXPECT_NE(Out.find("\"exported\":0,"), std::string::npos) << Out;
    EXPECT_NE(Out.find("\"alreadyArchived\":10,"), std::string::npos) << Out;
    // A mail new in the deep folder is the one that is exported, into its place.
    WriteFile(Path("tree/Top.sbd/Sub.sbd/Deep"), TreeMbox("deep", 3, 2007));
    ASSERT_EQ(Run("--store tree --folder tree/Top --out out --recursive --resume --json"), 0) << Err;
    EXPECT_NE(Out.find("\"exported\":1,"), std::string::npos) << Out;
    EXPECT_EQ(Listing(deepDir).size(), 3u);
}

TEST(CliManual, SaysWhatHelpSays) {
    std::string man = ReadFile(std::string(QUILLMARK_SOURCE_DIR) + "/dist/quillmark-export.1");
    ASSERT_FALSE(man.empty());
    // The page's own escapes: "\-" is a hyphen.
    man = std::regex_replace(man, std::regex("\\\\-"), "-");
    const std::string help = cli::HelpText(ProgramName);
    EXPECT_EQ(LongOptions(help), LongOptions(man));
    EXPECT_GE(LongOptions(help).size(), 17u);
    for (const char* shortOption : {"-q", "-h"}) {
        EXPECT_NE(help.find(std::string(shortOption) + " "), std::string::npos) << shortOption;
        EXPECT_NE(man.find(std::string(shortOption) + "\n"), std::string::npos) << shortOption;
    }
    // Every exit status, in both.
    for (const char* status : {"0", "1", "2", "3", "4", "130"}) {
        EXPECT_NE(help.find("\n  " + std::string(status) + " "), std::string::npos) << status;
        EXPECT_NE(man.find(".B " + std::string(status) + "\n"), std::string::npos) << status;
    }
    // And the same examples.
    const auto examples = man.find(".SH EXAMPLES");
    ASSERT_NE(examples, std::string::npos);
    EXPECT_EQ(ExampleLines(HelpExamples(help), false),
              ExampleLines(man.substr(examples, man.find(".SH", examples + 1) - examples), false));
}

} // namespace
} // namespace quillmark::testing
