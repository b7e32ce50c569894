// Expansion throughput of the template expander beside a plain stream copy of the same bytes.
// Every case streams 1 MiB through an istream over bytes in memory, so the numbers compare the
// expander's work with the cost of just moving the bytes.
#include "template/DefaultTemplate.h"
#include "template/PageProducer.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <istream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

constexpr std::size_t TemplateSize = 1 << 20;

class MemoryInput : public std::streambuf {
public:
    explicit MemoryInput(const std::string& data) {
        char* p = const_cast<char*>(data.data());
        setg(p, p, p + data.size());
    }
};

// Lines of words, optionally in HTML markup, optionally with a "<#Name>" tag about every 100
// bytes; about 90 bytes a line.
std::string MakeTemplate(bool withTags, bool withMarkup) {
    static const char* const words[] = {"archive", "mail", "folder", "subject", "sender", "page", "year",
                                        "attachment", "picture", "template", "export", "store"};
    static const char* const tags[] = {"<#Subject>", "<#SenderName>", "<#ReceivedTime>", "<#Body>",
                                       "<#To size=\"small\">"};
    std::string text;
    std::size_t lastTag = 0, word = 0, tag = 0, line = 0;
    while (text.size() < TemplateSize) {
        std::size_t lineStart = text.size();
        if (withMarkup) text += (line % 2) ? "<TR><TD>" : "<P class=note>";
        while (text.size() - lineStart < 70) {
            if (withTags && text.size() - lastTag >= 100) {
                text += tags[tag++ % 5];
                lastTag = text.size();
            }
            text += words[word++ % 12];
            text += ' ';
        }
        if (withMarkup) text += (line % 2) ? "</TD></TR>" : "</P>";
        text += "\r\n";
        ++line;
    }
    text.resize(TemplateSize);
    // End on a whole line so that every case ends the same way.
    text.replace(text.size() - 2, 2, "\r\n");
    return text;
}

const std::string& Template(int kind) {
    static const std::string texts[3] = {MakeTemplate(false, false), MakeTemplate(false, true),
                                         MakeTemplate(true, true)};
    return texts[kind];
}

const char* const KindNames[3] = {"plain text", "HTML, no tags", "HTML, tag every ~100 bytes"};

void BM_PlainStreamCopy(benchmark::State& state) {
    const std::string& text = Template(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        MemoryInput buffer(text);
        std::istream input(&buffer);
        std::string out;
        char window[4096];
        while (input.read(window, sizeof window) || input.gcount() > 0)
            out.append(window, static_cast<std::size_t>(input.gcount()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.SetLabel(KindNames[state.range(0)]);
}

void BM_ExpandStream(benchmark::State& state) {
    const std::string& text = Template(static_cast<int>(state.range(0)));
    quillmark::TPageProducer producer;
    producer.OnHTMLTag = [](quillmark::TPageProducer&, quillmark::TTag, const std::string& name,
                            quillmark::TStrings&, std::string& replaceText) { replaceText = name; };
    std::size_t outSize = 0;
    for (auto _ : state) {
        MemoryInput buffer(text);
        std::istream input(&buffer);
        std::string out = producer.ExpandStream(input);
        outSize = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.SetLabel(KindNames[state.range(0)]);
    state.counters["out_bytes"] = static_cast<double>(outSize);
    std::size_t tags = 0;
    for (std::size_t i = text.find("<#"); i != std::string::npos; i = text.find("<#", i + 2)) ++tags;
    state.counters["tags"] = static_cast<double>(tags);
}

// One page from the built-in template: the per-mail cost the export run pays.
void BM_ExpandDefaultPage(benchmark::State& state) {
    quillmark::TPageProducer producer;
    producer.SetHTMLDoc(quillmark::DefaultTemplateLines());
    producer.OnHTMLTag = [](quillmark::TPageProducer&, quillmark::TTag, const std::string&, quillmark::TStrings&,
                            std::string& replaceText) { replaceText = "value of the tag"; };
    for (auto _ : state) {
        std::string page = producer.ExpandTemplate();
        benchmark::DoNotOptimize(page.data());
    }
}
BENCHMARK(BM_PlainStreamCopy)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ExpandStream)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ExpandDefaultPage)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    // A 1 MiB page is far above the allocator's initial threshold for mapping fresh memory from
    // the system, so a cold process pays page faults for every output buffer, in the copy and
    // the expander alike, and on this virtual machine that cost swamps both. One large
    // allocation freed at the start moves the threshold up (as a long-running process gets it
    // anyway), so what is measured is the work on the bytes. Run with --cold to skip it.
    bool cold = false;
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--cold") cold = true;
    if (!cold) {
        char* block = static_cast<char*>(std::malloc(16u << 20));
        benchmark::DoNotOptimize(block);
        std::free(block);
    }
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i)
        if (std::string(argv[i]) != "--cold") args.push_back(argv[i]);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
