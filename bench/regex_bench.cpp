// The subject filter's workload: 10 000 realistic mail subjects, each tested against one of
// 20 filter expressions. Four ways side by side, per expression:
//   MatchExpression     - compile + match per subject, exactly as the filter calls it
//   TRegExprExec        - one precompiled engine, Exec per subject
//   StdRegexCompile     - std::regex (ECMAScript) built + regex_search per subject
//   StdRegex            - one precompiled std::regex, regex_search per subject
//   Pcre2Compile        - pcre2_compile + pcre2_match per subject (interpreter, no JIT)
//   Pcre2               - one precompiled PCRE2 code, pcre2_match per subject
// PCRE2 runs with DOTALL | DOLLAR_ENDONLY, the engine's defaults; "(?i)" becomes icase for
// std::regex. Each benchmark also checks that its engine finds the same number of matching
// subjects as TRegExpr, so a faster wrong answer cannot pass unnoticed.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <benchmark/benchmark.h>

#include <random>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "regex/RegExpr.h"

using namespace quillmark;

namespace {

const char* const Expressions[] = {
    "invoice",                                  // 0 literal
    "quarterly report",                         // 1 literal with a blank
    "^(Re|Fw):",                                // 2 anchored prefix
    "^(Re|RE|Fw|FW|AW|WG): ",                   // 3 anchored alternation
    "(meeting|agenda|minutes)",                 // 4 alternation of words
    "(invoice|receipt|payment|order) #?[0-9]+", // 5 words then a number
    "[0-9]{4}-[0-9]{2}-[0-9]{2}",               // 6 a date
    "(?i)urgent",                               // 7 case-insensitive literal
    "(?i)newsletter|unsubscribe",               // 8 case-insensitive alternation
    "\\bPO[0-9]{5}\\b",                         // 9 word-bounded code
    "[A-Z]{4,}",                                // 10 shouting
    "[0-9]+ ?%",                                // 11 percentages
    "^\\[[a-z-]+\\]",                           // 12 mailing-list tag
    "(?i)^(re|fw|aw|wg): *(re|fw): ",           // 13 nested reply prefixes
    "sale|discount|offer|deal",                 // 14 spam words
    "\\$[0-9]+(\\.[0-9]{2})?",                  // 15 prices
    "(?i)\\bteam\\s+(lunch|meeting|event)\\b",  // 16 phrase
    "[^ -~]",                                   // 17 any byte outside printable ASCII
    "(project|status) update: w(ee)?k ?[0-9]+", // 18 structured subject
    ".*(delayed|cancelled)$",                   // 19 leading .* and an end anchor
};
constexpr int ExpressionCount = sizeof Expressions / sizeof Expressions[0];

const std::vector<std::string>& Subjects() {
    static const std::vector<std::string> subjects = [] {
        static const char* const prefixes[] = {
            "", "", "", "Re: ", "RE: ", "Fw: ", "AW: ", "Re: Fw: ", "[dev-list] "};
        static const char* const words[] = {"meeting",
                                            "invoice",
                                            "quarterly",
                                            "report",
                                            "project",
                                            "status",
                                            "update:",
                                            "team",
                                            "lunch",
                                            "budget",
                                            "draft",
                                            "minutes",
                                            "agenda",
                                            "for",
                                            "the",
                                            "and",
                                            "your",
                                            "order",
                                            "shipped",
                                            "payment",
                                            "receipt",
                                            "URGENT",
                                            "review",
                                            "offer",
                                            "Newsletter",
                                            "delayed",
                                            "cancelled",
                                            "sale",
                                            "PO12345",
                                            "2026-12-08",
                                            "$49.99",
                                            "20 %",
                                            "wk 49",
                                            "Gr\xfc\xdf"
                                            "e",
                                            "\xc4nderung",
                                            "caf\xe9",
                                            "schedule",
                                            "reminder",
                                            "call"};
        std::mt19937 rng(2026);
        std::vector<std::string> result;
        for (int k = 0; k < 10000; ++k) {
            std::string s = prefixes[rng() % (sizeof prefixes / sizeof prefixes[0])];
            int n = 3 + static_cast<int>(rng() % 7);
            for (int w = 0; w < n; ++w) {
                if (w) s += ' ';
                s += words[rng() % (sizeof words / sizeof words[0])];
            }
            result.push_back(s);
        }
        return result;
    }();
    return subjects;
}

std::string WithoutCaseSwitch(const std::string& expression, bool& icase) {
    icase = expression.rfind("(?i)", 0) == 0;
    return icase ? expression.substr(4) : expression;
}

int ReferenceCount(int e) {
    static std::vector<int> counts(ExpressionCount, -1);
    if (counts[e] < 0) {
        TRegExpr re;
        re.SetExpression(Expressions[e]);
        int n = 0;
        for (const std::string& s : Subjects())
            n += re.Exec(s) ? 1 : 0;
        counts[e] = n;
    }
    return counts[e];
}

void Check(benchmark::State& state, int e, int found) {
    state.counters["matches"] = found;
    if (found != ReferenceCount(e))
        state.SkipWithError("disagrees with TRegExpr on the number of matching subjects");
}

pcre2_code* Pcre2Compile(const std::string& expression) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(expression.c_str()), expression.size(),
                                     PCRE2_DOTALL | PCRE2_DOLLAR_ENDONLY, &error, &offset, nullptr);
    if (!code) throw std::runtime_error("pcre2_compile failed on " + expression);
    return code;
}

void BM_MatchExpression(benchmark::State& state) {
    const int e = static_cast<int>(state.range(0));
    const std::string expression = Expressions[e];
    int found = 0;
    for (auto _ : state) {
        found = 0;
        for (const std::string& s : Subjects())
            found += MatchExpression(expression, s) ? 1 : 0;
        benchmark::DoNotOptimize(found);
    }
    Check(state, e, found);
}

void BM_TRegExprExec(benchmark::State& state) {
    const int e = static_cast<int>(state.range(0));
    TRegExpr re;
    re.SetExpression(Expressions[e]);
    re.Compile();
    int found = 0;
    for (auto _ : state) {
        found = 0;
        for (const std::string& s : Subjects())
            found += re.Exec(s) ? 1 : 0;
        benchmark::DoNotOptimize(found);
    }
    Check(state, e, found);
}

void BM_StdRegexCompile(benchmark::State& state) {
    const int e = static_cast<int>(state.range(0));
    bool icase = false;
    const std::string expression = WithoutCaseSwitch(Expressions[e], icase);
    const auto flags = std::regex::ECMAScript | (icase ? std::regex::icase : std::regex::ECMAScript);
    int found = 0;
    for (auto _ : state) {
        found = 0;
        for (const std::string& s : Subjects()) {
            std::regex re(expression, flags);
            found += std::regex_search(s, re) ? 1 : 0;
        }
        benchmark::DoNotOptimize(found);
    }
    Check(state, e, found);
}

void BM_StdRegex(benchmark::State& state) {
    const int e = static_cast<int>(state.range(0));
    bool icase = false;
    const std::string expression = WithoutCaseSwitch(Expressions[e], icase);
    const std::regex re(expression,
                        std::regex::ECMAScript | (icase ? std::regex::icase : std::regex::ECMAScript));
    int found = 0;
    for (auto _ : state) {
        found = 0;
        for (const std::string& s : Subjects())
            found += std::regex_search(s, re) ? 1 : 0;
        benchmark::DoNotOptimize(found);
    }
    Check(state, e, found);
}

void BM_Pcre2Compile(benchmark::State& state) {
    const int e = static_cast<int>(state.range(0));
    const std::string expression = Expressions[e];
    pcre2_match_data* data = pcre2_match_data_create(16, nullptr);
    int found = 0;
    for (auto _ : state) {
        found = 0;
        for (const std::string& s : Subjects()) {
            pcre2_code* code = Pcre2Compile(expression);
            found +=
                pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(s.data()), s.size(), 0, 0, data, nullptr) > 0;
            pcre2_code_free(code);
        }
        benchmark::DoNotOptimize(found);
    }
    pcre2_match_data_free(data);
    Check(state, e, found);
}

void BM_Pcre2(benchmark::State& state) {
    const int e = static_cast<int>(state.range(0));
    pcre2_code* code = Pcre2Compile(Expressions[e]);
    pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
    int found = 0;
    for (auto _ : state) {
        found = 0;
        for (const std::string& s : Subjects())
            found +=
                pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(s.data()), s.size(), 0, 0, data, nullptr) > 0;
        benchmark::DoNotOptimize(found);
    }
    pcre2_match_data_free(data);
    pcre2_code_free(code);
    Check(state, e, found);
}

void AllExpressions(benchmark::internal::Benchmark* b) {
    b->DenseRange(0, ExpressionCount - 1)->Unit(benchmark::kMicrosecond);
}

} // namespace

BENCHMARK(BM_MatchExpression)->Apply(AllExpressions);
BENCHMARK(BM_TRegExprExec)->Apply(AllExpressions);
BENCHMARK(BM_StdRegexCompile)->Apply(AllExpressions);
BENCHMARK(BM_StdRegex)->Apply(AllExpressions);
BENCHMARK(BM_Pcre2Compile)->Apply(AllExpressions);
BENCHMARK(BM_Pcre2)->Apply(AllExpressions);

BENCHMARK_MAIN();
