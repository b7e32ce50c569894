// The archive's own pages: a start page (index.htm in the root) and, under _archive/, the
// mails by date, by conversation and by sender, the data the search and the mail pages'
// navigation read, and the style sheet and script they share. All of it is made again from
// the manifest after every run, so it always lists exactly what the archive holds; the
// mail pages themselves are never touched.
//
// Everything works opened from disk: the data files are scripts that hand their content to
// a function (file:// allows <script src> but no fetch), and nothing refers to the network.
#pragma once

#include "archive/Manifest.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillmark {

// The folder below the root that holds the archive's pages, data and assets.
constexpr const char* ArchiveDirName = "_archive";

struct IndexBuildStats {
    int Mails = 0;
    int Threads = 0;
    int Senders = 0;
    int Files = 0;             // files written (pages, data, assets)
    std::int64_t Bytes = 0;    // their size
    std::int64_t SearchBytes = 0; // of which the search's word lists
    int FilesRemoved = 0;      // files of an earlier build no longer needed
    // The root holds an index.htm that is not the archive's (the user's own): it is left as
    // it is, and the start page is not written.
    bool StartPageKept = false;
    // The index on disk was made from the same rows by this layout: nothing was written.
    bool Unchanged = false;
};

// Writes index.htm and the _archive folder of root for mails (any order). Files of an
// earlier build that this one does not write again are removed. Throws what writing throws
// (EFileError and its kin).
IndexBuildStats WriteArchiveIndex(const std::string& root, const std::vector<ManifestMail>& mails);

// Writes root's index from its manifest, unless (force aside) the index on disk was made
// from the same rows by this layout of the index: then nothing is read or written and
// Unchanged is set. Either way the manifest notes what the index on disk was made from.
IndexBuildStats WriteArchiveIndexFrom(const std::string& root, Manifest& manifest, bool force);

// Reads root's manifest and writes its index, whatever is there. A root without a manifest
// gets an index of no mails.
IndexBuildStats RebuildArchiveIndex(const std::string& root);

// ---- pieces, public for their tests ----

// The words a mail's text is found by: split at everything that is neither letter nor
// digit, folded to lower case (ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic), words
// of 2 to 40 characters. The browser's script splits a query by the same rules.
std::vector<std::string> SearchWords(const std::string& utf8);

// Text for a JavaScript string literal, quotes included; safe inside any script file.
std::string JsString(const std::string& utf8);

// Element text and attribute values; "&", "<", ">", '"' and "'" as references.
std::string HtmlText(const std::string& text);

// A path relative to the page, every byte that is unsafe in a URL percent-encoded.
std::string UrlPath(const std::string& path);

} // namespace quillmark
