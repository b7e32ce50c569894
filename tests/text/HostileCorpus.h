// The hostile strings of tests/data/hostile/corpus.txt, one per line ("\n" for a line
// break, "#" lines left out). The text and export tests run them through every place a mail
// reaches a page; scripts/hostile-check.py opens the resulting pages in a browser.
#pragma once

#include <fstream>
#include <string>
#include <vector>

namespace quillmark::testing {

inline std::vector<std::string> HostileCorpus() {
    std::ifstream in(std::string(QUILLMARK_TEST_DATA) + "/hostile/corpus.txt", std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::string s;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == 'n') {
                s += '\n';
                ++i;
            } else {
                s += line[i];
            }
        }
        lines.push_back(s);
    }
    return lines;
}

} // namespace quillmark::testing
