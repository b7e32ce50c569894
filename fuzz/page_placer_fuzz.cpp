// Fuzz target for page names and clashes: a sequence of mails (a few minutes, subjects and
// owners, so that names clash often) placed into one folder that may already hold pages of
// earlier runs, some with markers made of the input's bytes. However they come, no mail's
// page replaces another mail's, each mail has exactly one page, and every page written
// reads back its owner.
#include "export/PagePlacer.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>

using namespace quillmark;

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

const std::filesystem::path& WorkDir() {
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() /
                 ("quillmark-placer-fuzz-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 512) return 0;
    std::error_code ec;
    const auto dir = WorkDir() / "pages";
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir);
    const std::string d = dir.string() + "/";
    static const char* const names[] = {"m200503011402_Offer.htm", "m200503011402_.htm", "m200503011403_Offer.htm"};

    std::size_t i = 0;
    auto next = [&]() -> int { return i < size ? data[i++] : -1; };
    // Pages of earlier runs: a name, then a first line of the input's bytes.
    const int earlier = size > 0 ? data[i++] % 4 : 0;
    // (Each earlier page: which name, which number, how many bytes of marker line follow.)
    for (int k = 0; k < earlier; ++k) {
        const int which = next(), n = next(), len = next();
        if (len < 0) break;
        std::string line;
        for (int b = 0; b < len % 24 && i < size; ++b) line += static_cast<char>(data[i++]);
        std::ofstream(d + NumberedPageName(names[which % 3], n % 3), std::ios::binary) << line << "\r\nold\r\n";
    }
    std::set<std::string> before;
    for (const auto& e : std::filesystem::directory_iterator(dir)) before.insert(e.path().filename().string());

    PagePlacer placer;
    std::map<std::string, std::string> pageOf; // owner -> the name its page was written under
    for (int step = 0; step < 12; ++step) {
        const int who = next();
        if (who < 0) break;
        // Ten mails of two stores whose identities clash across the stores; a mail's page
        // name is always the same (its minute and subject do not change).
        const int id = who % 5, store = who / 5 % 2;
        const std::string owner = PageOwner("id" + std::to_string(id), "store-k" + std::to_string(store));
        const std::string name = names[(id + store) % 3];
        const std::string written = placer.Place(d, name, owner, PageMarkerLine(owner) + "\r\nbody\r\n", 38412.5);
        Check(ReadPageMarker(d + written) == owner, "the page written does not name its owner");
        const auto it = pageOf.find(owner);
        Check(it == pageOf.end() || it->second == written, "a mail exported again got a second page");
        pageOf[owner] = written;
        for (const auto& [o, page] : pageOf)
            Check(ReadPageMarker(d + page) == o, "a page was replaced by another mail's");
    }
    // Pages are replaced, never removed.
    for (const auto& name : before) Check(std::filesystem::exists(d + name), "an earlier page vanished");
    return 0;
}
