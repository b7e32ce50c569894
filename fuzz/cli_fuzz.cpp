// Fuzz target for what quillmark-export reads besides mail: its arguments and its resume
// file. Arguments (the input split at NUL bytes) either parse or are refused with EUsage,
// nothing else. A resume file of any bytes is read without harm, and a bound saved into it
// reads back as saved while the other folders' bounds stay.
#include "app/cli/CliOptions.h"
#include "app/cli/ResumeState.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace quillmark;
using namespace quillmark::cli;

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

const std::string& StateFile() {
    static const std::string file = [] {
        auto d = std::filesystem::temp_directory_path() / ("quillmark-cli-fuzz-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(d);
        return (d / ResumeStateFileName).string();
    }();
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::vector<std::string> args;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i)
        if (i == text.size() || text[i] == '\0') {
            args.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    try {
        const CliOptions o = ParseCliOptions(args);
        Check(!o.Out.empty(), "an empty --out was taken");
    } catch (const EUsage&) {
    }

    // The resume file: the input as the file, then a bound saved for a key made of its first
    // line (keys with tabs or line breaks are stored with blanks in their place).
    {
        std::ofstream(StateFile(), std::ios::binary | std::ios::trunc) << text;
    }
    const std::string key = text.substr(0, text.find('\n')).substr(0, 40);
    const auto otherBefore = LoadResumeFrom(StateFile(), "other folder");
    (void)LoadResumeFrom(StateFile(), key);
    SaveResumeFrom(StateFile(), key, "2005-03-01 14:02:10");
    Check(LoadResumeFrom(StateFile(), key).value_or("") == "2005-03-01 14:02:10", "a saved bound is not read back");
    if (key != "other folder")
        Check(LoadResumeFrom(StateFile(), "other folder") == otherBefore, "another folder's bound changed");
    return 0;
}
