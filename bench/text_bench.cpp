// HTML to text on a large generated HTML mail.
#include "text/HtmlText.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

std::string BigHtml(std::size_t bytes) {
    std::string html = "<html><head><title>News</title><style>td { font: 10pt Arial } p { margin: 0 }</style>"
                       "<script>var x = '<p>' + (a < b);</script></head><body>";
    for (int row = 0; html.size() < bytes; ++row)
        html += "<table width=\"100%\" cellpadding=\"4\"><tr><td class=\"c\" style=\"color:#333\">Item " +
                std::to_string(row) +
                "&nbsp;&ndash; caf&eacute; &amp; cr&egrave;me&hellip;</td><td><a href=\"https://example.org/?a=1&amp;b=" +
                std::to_string(row) +
                "\">Read more</a></td></tr></table>\n<p>Lorem ipsum dolor sit amet, <b>consectetur</b> adipiscing "
                "elit, sed do eiusmod tempor incididunt ut labore et dolore magna aliqua.<br>\n"
                "<!-- tracking pixel --><img src=\"https://example.org/p.gif\" width=1 height=1></p>\n";
    return html + "</body></html>";
}

void HtmlToTextLarge(benchmark::State& state) {
    const std::string html = BigHtml(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(quillmark::text::HtmlToText(html));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(html.size()));
}
BENCHMARK(HtmlToTextLarge)->Arg(64 << 10)->Arg(1 << 20);

} // namespace

BENCHMARK_MAIN();
