// FindSubstring / ReplaceAll beside the standard library's searches, on subject-sized texts
// (~60 bytes) and on 64 KiB texts. Each search finds the last occurrence so that the whole
// text is scanned.
#include "SrcLib/FastStrings.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>

using namespace quillmark;

namespace {

std::string MakeText(std::size_t size, const std::string& tailPattern) {
    static const char* words[] = {"Re:", "offer", "meeting", "report", "quarterly", "the", "and", "invoice",
                                  "Fw:", "project", "status", "update", "2005", "draft", "minutes", "budget"};
    std::mt19937 rng(42);
    std::string s;
    while (s.size() + tailPattern.size() < size) {
        s += words[rng() % 16];
        s += ' ';
    }
    s.resize(size - tailPattern.size(), ' ');
    return s + tailPattern;
}

const std::string kPattern = "conference";

void Args(benchmark::internal::Benchmark* b) { b->Arg(60)->Arg(64 * 1024); }

void BM_FindSubstring(benchmark::State& state) {
    std::string text = MakeText(static_cast<std::size_t>(state.range(0)), kPattern);
    for (auto _ : state) benchmark::DoNotOptimize(FindSubstring(kPattern, text, 1));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
void BM_StdStringFind(benchmark::State& state) {
    std::string text = MakeText(static_cast<std::size_t>(state.range(0)), kPattern);
    for (auto _ : state) benchmark::DoNotOptimize(text.find(kPattern));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
void BM_Memmem(benchmark::State& state) {
    std::string text = MakeText(static_cast<std::size_t>(state.range(0)), kPattern);
    for (auto _ : state) benchmark::DoNotOptimize(memmem(text.data(), text.size(), kPattern.data(), kPattern.size()));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
void BM_StdBoyerMooreHorspool(benchmark::State& state) {
    std::string text = MakeText(static_cast<std::size_t>(state.range(0)), kPattern);
    for (auto _ : state) {
        // Built per search, as FindSubstring builds its table per search.
        std::boyer_moore_horspool_searcher searcher(kPattern.begin(), kPattern.end());
        benchmark::DoNotOptimize(std::search(text.begin(), text.end(), searcher));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

// Replace-all of a two-byte find with many occurrences ("__" -> "_", as file names do)
// and of a rare word.
std::string ManyUnderscores(std::size_t size) {
    std::string s;
    for (std::size_t i = 0; s.size() < size; ++i) s += (i % 3 == 0) ? "ab" : "__";
    s.resize(size);
    return s;
}
void BM_ReplaceAllMany(benchmark::State& state) {
    std::string text = ManyUnderscores(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(ReplaceAll("__", "_", text));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
std::string StdReplaceAll(const std::string& find, const std::string& repl, const std::string& src) {
    std::string out;
    std::size_t from = 0, pos;
    while ((pos = src.find(find, from)) != std::string::npos) {
        out.append(src, from, pos - from);
        out += repl;
        from = pos + find.size();
    }
    out.append(src, from, std::string::npos);
    return out;
}
void BM_StdFindReplaceMany(benchmark::State& state) {
    std::string text = ManyUnderscores(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(StdReplaceAll("__", "_", text));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
void BM_ReplaceAllRare(benchmark::State& state) {
    std::string text = MakeText(static_cast<std::size_t>(state.range(0)), kPattern);
    for (auto _ : state) benchmark::DoNotOptimize(ReplaceAll(kPattern, "talk", text));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
void BM_StdFindReplaceRare(benchmark::State& state) {
    std::string text = MakeText(static_cast<std::size_t>(state.range(0)), kPattern);
    for (auto _ : state) benchmark::DoNotOptimize(StdReplaceAll(kPattern, "talk", text));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

} // namespace

BENCHMARK(BM_FindSubstring)->Apply(Args);
BENCHMARK(BM_StdStringFind)->Apply(Args);
BENCHMARK(BM_Memmem)->Apply(Args);
BENCHMARK(BM_StdBoyerMooreHorspool)->Apply(Args);
BENCHMARK(BM_ReplaceAllMany)->Apply(Args);
BENCHMARK(BM_StdFindReplaceMany)->Apply(Args);
BENCHMARK(BM_ReplaceAllRare)->Apply(Args);
BENCHMARK(BM_StdFindReplaceRare)->Apply(Args);
BENCHMARK_MAIN();
