#include "export/PagePlacer.h"

#include "platform/CodePage.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"

#include <cstdint>
#include <cstdio>
#include <fstream>

namespace quillmark {

namespace {

const std::string kStorePrefix = " store-";

std::string StemOfName(const std::string& pageName) {
    return pageName.substr(0, pageName.size() - 4);
}

bool EndsWithHtm(const std::string& name) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".htm") == 0;
}

// The stem and number of a page name: "x_12.htm" is number 12 of stem "x"; every name is
// also number 0 of its own stem.
bool SplitNumbered(const std::string& name, std::string& stem, int& number) {
    const std::string base = StemOfName(name);
    const std::size_t us = base.rfind('_');
    if (us == std::string::npos || us + 1 >= base.size() || base.size() - us - 1 > 9) return false;
    int n = 0;
    for (std::size_t i = us + 1; i < base.size(); ++i) {
        if (base[i] < '0' || base[i] > '9') return false;
        n = n * 10 + (base[i] - '0');
    }
    // "_0" and "_01" are no names this program makes.
    if (n == 0 || base[us + 1] == '0') return false;
    stem = base.substr(0, us);
    number = n;
    return true;
}

} // namespace

std::string PageOwner(const std::string& identity, const std::string& storeKey) {
    return identity + kStorePrefix + storeKey;
}

std::string StoreKey(const std::u16string& storeId, const std::u16string& folderEntryId) {
    // 64-bit FNV-1a over both identifiers: stable across runs and platforms.
    std::uint64_t h = 0xcbf29ce484222325ULL;
    auto feed = [&h](const std::string& s) {
        for (unsigned char c : s) {
            h ^= c;
            h *= 0x100000001b3ULL;
        }
        h ^= 0xFF; // a separator that no UTF-8 text holds
        h *= 0x100000001b3ULL;
    };
    feed(platform::Utf8FromUtf16(storeId));
    feed(platform::Utf8FromUtf16(folderEntryId));
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llX", static_cast<unsigned long long>(h));
    return buf;
}

std::string PageMarkerLine(const std::string& owner) {
    return std::string(PageMarkerPrefix) + owner + PageMarkerSuffix;
}

std::string ReadPageMarker(const std::string& pagePath) {
    std::ifstream in(platform::NativePath(pagePath), std::ios::binary);
    if (!in) return {};
    // The marker is short; a first line longer than this is no marker (and a page whose
    // first line is huge costs no more than this to look at).
    std::string first(512, '\0');
    in.read(first.data(), static_cast<std::streamsize>(first.size()));
    first.resize(static_cast<std::size_t>(in.gcount()));
    const std::size_t end = first.find('\n');
    if (end == std::string::npos && first.size() == 512) return {};
    if (end != std::string::npos) first.resize(end);
    if (!first.empty() && first.back() == '\r') first.pop_back();
    const std::string prefix = PageMarkerPrefix, suffix = PageMarkerSuffix;
    if (first.size() < prefix.size() + suffix.size() || first.compare(0, prefix.size(), prefix) != 0 ||
        first.compare(first.size() - suffix.size(), suffix.size(), suffix) != 0)
        return {};
    return first.substr(prefix.size(), first.size() - prefix.size() - suffix.size());
}

std::string NumberedPageName(const std::string& pageName, int n) {
    if (n == 0) return pageName;
    return StemOfName(pageName) + "_" + std::to_string(n) + ".htm";
}

PagePlacer::Stem& PagePlacer::StemOf(const std::string& dir, const std::string& pageName) {
    Folder& folder = folders_[dir];
    if (!folder.Listed) {
        // One look at the folder per run; the pages this run writes afterwards are recorded
        // as they are written.
        for (const auto& name : platform::ListDirectory(dir)) {
            if (!EndsWithHtm(name)) continue;
            folder.NamesOfStem[StemOfName(name)].push_back(name);
            std::string stem;
            int number = 0;
            if (SplitNumbered(name, stem, number)) folder.NamesOfStem[stem].push_back(name);
        }
        folder.Listed = true;
    }
    const std::string stem = StemOfName(pageName);
    auto found = folder.Stems.find(stem);
    if (found != folder.Stems.end()) return found->second;
    Stem& s = folder.Stems[stem];
    auto names = folder.NamesOfStem.find(stem);
    if (names != folder.NamesOfStem.end()) {
        for (const auto& name : names->second) {
            std::string otherStem;
            int number = 0;
            if (SplitNumbered(name, otherStem, number) && otherStem == stem) s.Take(number);
            const std::string marker = ReadPageMarker(dir + name);
            if (!marker.empty()) s.NameOfOwner.emplace(marker, name);
        }
        folder.NamesOfStem.erase(names);
    }
    return s;
}

void PagePlacer::Remember(const std::string& dir, const std::string& name, const std::string& owner) {
    auto f = folders_.find(dir);
    if (f == folders_.end()) return; // not looked at yet: the listing will show it
    Folder& folder = f->second;
    std::string stem;
    int number = 0;
    const bool numbered = SplitNumbered(name, stem, number);
    for (const std::string& s : numbered ? std::vector<std::string>{StemOfName(name), stem}
                                         : std::vector<std::string>{StemOfName(name)}) {
        auto known = folder.Stems.find(s);
        if (known != folder.Stems.end()) {
            known->second.NameOfOwner[owner] = name;
            if (numbered && s == stem) known->second.Take(number);
        } else {
            folder.NamesOfStem[s].push_back(name);
        }
    }
}

std::string PagePlacer::FindOwn(const std::string& dir, const std::string& pageName,
                                const std::string& owner) {
    Stem& s = StemOf(dir, pageName);
    auto exact = s.NameOfOwner.find(owner);
    if (exact != s.NameOfOwner.end()) return exact->second;
    // A page of an earlier version names the mail without its store.
    const std::size_t at = owner.find(kStorePrefix);
    if (at != std::string::npos) {
        auto legacy = s.NameOfOwner.find(owner.substr(0, at));
        if (legacy != s.NameOfOwner.end()) return legacy->second;
    }
    return {};
}

std::string PagePlacer::Place(const std::string& dir, const std::string& pageName, const std::string& owner,
                              const std::string& data, double mailTime, const std::string& legacyName) {
    // Written to a temporary name and renamed over the target: a crash or a full disk never
    // leaves half a page where a good one was. The mail's time becomes the page's time; out
    // of the DOS range (1980-2099) the page keeps the time writing gave it.
    platform::AtomicWriteOptions replace;
    replace.LocalWriteTime = mailTime;
    if (!legacyName.empty() && platform::PathExists(dir + legacyName)) {
        const std::string own = FindOwn(dir, legacyName, owner);
        if (!own.empty()) {
            platform::WriteFileAtomic(dir + own, data, replace);
            Remember(dir, own, owner);
            return own;
        }
    }
    // A free name is taken at once (the file system refuses a taken one in the same step, so
    // the common case costs no look of its own).
    platform::AtomicWriteOptions options = replace;
    options.KeepExisting = true;
    std::string written; // the page under its temporary name, when the name was taken
    options.TakenTemporary = &written;
    if (platform::WriteFileAtomic(dir + pageName, data, options)) {
        Remember(dir, pageName, owner);
        return pageName;
    }
    // Whatever happens below, the temporary file does not stay.
    struct RemoveTemporary {
        std::string& path;
        ~RemoveTemporary() {
            if (!path.empty()) platform::DeleteFilePath(path);
        }
    } removeTemporary{written};
    // Taken: a page there is replaced only when it is this mail's own; otherwise the mail
    // takes the next free number.
    std::string own = FindOwn(dir, pageName, owner);
    if (own.empty()) {
        Stem& s = StemOf(dir, pageName);
        // Someone may have made a page meanwhile; the folder is the judge.
        while (platform::PathExists(dir + NumberedPageName(pageName, s.NextFree)))
            s.Take(s.NextFree);
        own = NumberedPageName(pageName, s.NextFree);
    }
    if (!platform::RenameFilePath(written, dir + own)) throw EWriteError("Cannot replace file " + dir + own);
    written.clear();
    Remember(dir, own, owner);
    return own;
}

std::string PlacePage(const std::string& dir, const std::string& pageName, const std::string& owner,
                      const std::string& data, double mailTime, const std::string& legacyName) {
    PagePlacer placer;
    return placer.Place(dir, pageName, owner, data, mailTime, legacyName);
}

} // namespace quillmark
