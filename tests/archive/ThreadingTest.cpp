// Threading: reply trees from Message-ID / In-Reply-To / References, the subject fall-back,
// and the sets that break naive threading (missing parents, loops, ids used twice).
#include "archive/Threading.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace quillmark {
namespace {

struct Mail {
    std::string Name; // the test's name for it; its Message-ID is <Name@x>
    std::string Refs; // names, space separated (References)
    std::string Reply; // name for In-Reply-To
    std::string Subject;
    std::string Id = "-"; // "-": derived from Name; "" : none
};

std::string IdOf(const std::string& name) { return "<" + name + "@x>"; }

// The forest as text: "a(b(c) d) e" -- children in parentheses, "*" for a mail not there.
std::string Shape(const std::vector<Mail>& mails) {
    std::vector<ThreadInput> in;
    double date = 1;
    for (const auto& m : mails) {
        ThreadInput t;
        t.MessageId = m.Id == "-" ? IdOf(m.Name) : m.Id;
        std::string refs;
        std::size_t i = 0;
        while (i < m.Refs.size()) {
            auto sp = m.Refs.find(' ', i);
            if (sp == std::string::npos) sp = m.Refs.size();
            if (sp > i) refs += IdOf(m.Refs.substr(i, sp - i)) + " ";
            i = sp + 1;
        }
        t.References = refs;
        t.InReplyTo = m.Reply.empty() ? "" : IdOf(m.Reply);
        t.Subject = m.Subject;
        t.Date = date++;
        in.push_back(t);
    }
    const auto threads = BuildThreads(in);
    std::string out;
    auto walk = [&](auto&& self, const ThreadNode& n) -> void {
        out += n.Mail < 0 ? "*" : mails[static_cast<std::size_t>(n.Mail)].Name;
        if (!n.Children.empty()) {
            out += "(";
            for (std::size_t k = 0; k < n.Children.size(); ++k) {
                if (k) out += " ";
                self(self, n.Children[k]);
            }
            out += ")";
        }
    };
    for (std::size_t k = 0; k < threads.size(); ++k) {
        if (k) out += " ";
        walk(walk, threads[k]);
    }
    return out;
}

struct Case {
    const char* What;
    std::vector<Mail> Mails;
    const char* Expected; // threads newest activity first; children oldest first
};

TEST(Threading, TreesFromTheHeaders) {
    const std::vector<Case> cases = {
        {"a plain chain", {{"a", "", "", "Plan"}, {"b", "a", "a", "Re: Plan"}, {"c", "a b", "b", "Re: Plan"}}, "a(b(c))"},
        {"replies in any order of arrival",
         {{"c", "a b", "", "Re: Plan"}, {"b", "a", "", "Re: Plan"}, {"a", "", "", "Plan"}},
         "a(b(c))"},
        {"In-Reply-To alone", {{"a", "", "", "x"}, {"b", "", "a", "y"}}, "a(b)"},
        {"References cut short by a mail reader: In-Reply-To names the parent",
         {{"a", "", "", "x"}, {"b", "a", "a", "y"}, {"c", "a", "b", "z"}},
         "a(b(c))"},
        {"a missing middle: the reply hangs from the nearest mail there",
         {{"a", "", "", "x"}, {"c", "a b", "b", "y"}},
         "a(c)"},
        {"two replies to a missing start stay together below an empty node",
         {{"b", "a", "a", "Re: Lost"}, {"c", "a", "a", "Re: Lost"}},
         "*(b c)"},
        {"one reply to a missing start is a thread of its own", {{"b", "a", "a", "Re: x"}}, "b"},
        {"a loop in References is cut, every mail kept once",
         {{"a", "b", "", "x"}, {"b", "a", "", "y"}},
         "b(a)"},
        {"a mail naming itself", {{"a", "a", "a", "x"}}, "a"},
        {"a Message-ID used twice: the second is a mail of its own, replies go to the first",
         {{"a", "", "", "x"}, {"a", "", "", "other"}, {"b", "a", "", "Re: x"}},
         "a(b) a"},
        {"no Message-ID at all", {{"a", "", "", "x", ""}, {"b", "", "", "y", ""}}, "b a"},
        {"a reply without links joins its subject",
         {{"a", "", "", "Budget"}, {"z", "", "", "Other"}, {"b", "", "", "Re: budget"}},
         "a(b) z"},
        {"prefixes of other languages and counters are reply prefixes",
         {{"a", "", "", "Budget"}, {"b", "", "", "AW: Budget"}, {"c", "", "", "SV: Re[2]: Budget"},
          {"d", "", "", "Fwd: [team] Budget"}},
         "a(b c d)"},
        {"two mails with one subject and no prefix stay apart",
         {{"a", "", "", "Lunch"}, {"b", "", "", "Lunch"}},
         "b a"},
        {"replies without their start are grouped by subject",
         {{"b", "", "", "Re: Trip"}, {"c", "", "", "Re: Trip"}},
         "*(b c)"},
        {"threads ordered by their newest mail",
         {{"a", "", "", "x"}, {"b", "", "", "y"}, {"c", "a", "a", "z"}},
         "a(c) b"},
        {"an earlier mail's References cannot move a later mail's own parent",
         {{"p", "", "", "1"}, {"q", "", "", "2"}, {"c", "p", "p", "3"}, {"d", "q c", "c", "4"}},
         "p(c(d)) q"},
    };
    for (const auto& c : cases) EXPECT_EQ(Shape(c.Mails), c.Expected) << c.What;
}

TEST(Threading, SubjectsAndIds) {
    const std::vector<std::pair<std::string, std::string>> subjects = {
        {"Re: Re: Offer", "offer"},   {"RE:Offer", "offer"},       {"Fwd: Fw: Offer ", "offer"},
        {"Aw: Offer", "offer"},       {"Re[3]: Offer", "offer"},   {"[list] Re: Offer", "offer"},
        {"Re : Offer", "offer"},      {"Regarding offer", "regarding offer"},
        {"Reply", "reply"},           {"", ""},
    };
    for (const auto& [in, out] : subjects) EXPECT_EQ(BaseSubject(in), out) << in;
    EXPECT_TRUE(IsReplySubject("SV: x"));
    EXPECT_FALSE(IsReplySubject("Svar"));

    EXPECT_EQ(ParseMessageIds("<a@x> (comment) <b@x>\r\n\t<c @x>"), (std::vector<std::string>{"a@x", "b@x", "c@x"}));
    EXPECT_EQ(ParseMessageIds("bare@id"), (std::vector<std::string>{"bare@id"}));
    EXPECT_TRUE(ParseMessageIds("no id here").empty());
    EXPECT_TRUE(ParseMessageIds("<unclosed@x").empty());
}

TEST(Threading, EveryMailOnceInALargeTangle) {
    // Random references over few ids (loops, self references, ids used twice): whatever
    // the tangle, every mail is in the forest exactly once.
    std::vector<ThreadInput> in;
    unsigned seed = 7;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    for (int i = 0; i < 400; ++i) {
        ThreadInput t;
        t.MessageId = "<" + std::to_string(next() % 150) + "@x>";
        for (int k = next() % 5; k > 0; --k) t.References += "<" + std::to_string(next() % 150) + "@x> ";
        if (next() % 2) t.InReplyTo = "<" + std::to_string(next() % 150) + "@x>";
        t.Subject = (next() % 2 ? "Re: " : "") + std::to_string(next() % 20);
        t.Date = next() % 1000;
        in.push_back(t);
    }
    const auto threads = BuildThreads(in);
    std::map<int, int> seen;
    auto walk = [&](auto&& self, const ThreadNode& n) -> void {
        if (n.Mail >= 0) ++seen[n.Mail];
        else EXPECT_FALSE(n.Children.empty()) << "an empty node without replies";
        for (const auto& c : n.Children) self(self, c);
    };
    for (const auto& t : threads) walk(walk, t);
    EXPECT_EQ(seen.size(), in.size());
    for (const auto& [mail, count] : seen) EXPECT_EQ(count, 1) << mail;
}

TEST(Threading, AVeryLongChainIsCutNotRecursedInto) {
    // Each mail answers the one before: 5000 deep. Threading stays linear and the trees
    // shallow enough for the pages' writer.
    std::vector<ThreadInput> in(5000);
    for (int i = 0; i < 5000; ++i) {
        in[static_cast<std::size_t>(i)].MessageId = "<" + std::to_string(i) + "@x>";
        if (i) in[static_cast<std::size_t>(i)].InReplyTo = "<" + std::to_string(i - 1) + "@x>";
        in[static_cast<std::size_t>(i)].Date = i;
    }
    const auto threads = BuildThreads(in);
    int count = 0, deepest = 0;
    auto walk = [&](auto&& self, const ThreadNode& n, int depth) -> void {
        count += n.Mail >= 0;
        deepest = std::max(deepest, depth);
        for (const auto& c : n.Children) self(self, c, depth + 1);
    };
    for (const auto& t : threads) walk(walk, t, 0);
    EXPECT_EQ(count, 5000);
    EXPECT_LE(deepest, 1001);
    EXPECT_GE(threads.size(), 5u);
}

} // namespace
} // namespace quillmark
