#!/usr/bin/env python3
"""Side-by-side table from a regex_bench JSON run (medians of the repetitions):
   ./build-release/bench/regex_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
       --benchmark_format=json > regex.json && bench/regex_table.py regex.json"""
import json
import sys

EXPRESSIONS = [
    "invoice", "quarterly report", "^(Re|Fw):", "^(Re|RE|Fw|FW|AW|WG): ", "(meeting|agenda|minutes)",
    "(invoice|receipt|payment|order) #?[0-9]+", "[0-9]{4}-[0-9]{2}-[0-9]{2}", "(?i)urgent",
    "(?i)newsletter|unsubscribe", "\\bPO[0-9]{5}\\b", "[A-Z]{4,}", "[0-9]+ ?%", "^\\[[a-z-]+\\]",
    "(?i)^(re|fw|aw|wg): *(re|fw): ", "sale|discount|offer|deal", "\\$[0-9]+(\\.[0-9]{2})?",
    "(?i)\\bteam\\s+(lunch|meeting|event)\\b", "[^ -~]", "(project|status) update: w(ee)?k ?[0-9]+",
    ".*(delayed|cancelled)$",
]
ENGINES = ["MatchExpression", "StdRegexCompile", "Pcre2Compile", "TRegExprExec", "StdRegex", "Pcre2"]

data = json.load(open(sys.argv[1]))
median = {}
for b in data["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    name, index = b["run_name"].split("/")
    median[(name.replace("BM_", ""), int(index))] = b["cpu_time"]  # microseconds per 10 000 subjects

def ns(engine, e):  # per subject
    return median[(engine, e)] * 1000.0 / 10000

print("| # | expression | MatchExpression | std::regex built + search | PCRE2 compile + match "
      "| TRegExpr::Exec | std::regex search | PCRE2 match | Exec / PCRE2 | Exec / std::regex |")
print("|---|---|---|---|---|---|---|---|---|---|")
for e, text in enumerate(EXPRESSIONS):
    cells = [f"{ns(engine, e):.0f}" for engine in ENGINES]
    exec_pcre = ns("TRegExprExec", e) / ns("Pcre2", e)
    exec_std = ns("TRegExprExec", e) / ns("StdRegex", e)
    shown = text.replace("|", "\\|")
    print(f"| {e} | `{shown}` | " + " | ".join(cells) + f" | {exec_pcre:.2f} | {exec_std:.2f} |")
