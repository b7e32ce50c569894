// Settling the name of a page and writing it, so that no mail's page is ever replaced by
// another mail's, and a mail exported again replaces its own page.
//
// A page's name is made of the mail's minute and subject, so different mails can share it.
// The first line of every page is a marker naming the mail it belongs to: its identity in
// its folder and the key of its store and folder. A name taken by another mail's page makes
// the mail take the next free numbered name ("_1", "_2", ... before ".htm").
//
// A run keeps what it learns about a folder of pages (its names, the owners of the pages
// that share a stem, the numbers each stem has taken), so that a name shared by thousands
// of mails costs one look at the folder, not one look at every earlier page per mail. A new
// number is the lowest free one (a gap left by a deleted page is filled). Used
// from one thread at a time (the run's page writer).
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quillmark {

// How a page is recognised as the page of a given mail: a comment as the first line.
constexpr const char* PageMarkerPrefix = "<!-- quillmark-mail: ";
constexpr const char* PageMarkerSuffix = " -->";

// The owner of a page as its marker names it: the mail's identity in its folder, a blank,
// then "store-" and a key of the store and folder. Earlier versions wrote the identity alone;
// such a page found under the mail's own name (its minute and subject) with the same
// identity is taken to be the mail's page (store unknown, but name and identity agree).
std::string PageOwner(const std::string& identity, const std::string& storeKey);
// A hash of the store's and the folder's identifiers (no path or account name of the user's
// is written into every page).
std::string StoreKey(const std::u16string& storeId, const std::u16string& folderEntryId);
// The marker line for an owner, and the marker read back from a page file ("" when the page
// has no marker or cannot be read).
std::string PageMarkerLine(const std::string& owner);
std::string ReadPageMarker(const std::string& pagePath);

// The page name with "_1", "_2", ... before ".htm" (n = 0 gives the name itself).
std::string NumberedPageName(const std::string& pageName, int n);

class PagePlacer {
public:
    // Writes a page's bytes into dir (with its delimiter) under pageName, or under the mail's
    // own numbered name when pageName is another mail's page, atomically and with the mail's
    // time as the file's time. A page an earlier version wrote for the mail under legacyName
    // (or a numbered sibling of it) is replaced where it is, so a re-run never makes a second
    // page for that mail. Returns the name the page was written under.
    std::string Place(const std::string& dir, const std::string& pageName, const std::string& owner,
                      const std::string& data, double mailTime, const std::string& legacyName = {});

private:
    struct Stem {
        std::unordered_map<std::string, std::string> NameOfOwner; // marker -> page name
        std::unordered_set<int> Used;                             // numbers of the stem's pages known
        int NextFree = 1;                                         // the lowest number not in Used
        void Take(int n) {
            Used.insert(n);
            while (Used.count(NextFree))
                ++NextFree;
        }
    };
    struct Folder {
        bool Listed = false;
        std::unordered_map<std::string, std::vector<std::string>> NamesOfStem; // from the one listing
        std::unordered_map<std::string, Stem> Stems;
    };
    Stem& StemOf(const std::string& dir, const std::string& pageName);
    void Remember(const std::string& dir, const std::string& name, const std::string& owner);
    std::string FindOwn(const std::string& dir, const std::string& pageName, const std::string& owner);

    std::unordered_map<std::string, Folder> folders_;
};

// A placer for one page (tests and callers outside a run).
std::string PlacePage(const std::string& dir, const std::string& pageName, const std::string& owner,
                      const std::string& data, double mailTime, const std::string& legacyName = {});

} // namespace quillmark
