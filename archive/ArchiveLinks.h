// What a mail page holds to reach the rest of the archive: links to the previous and next
// mail by date and in its conversation, to the start page, and a place for the
// conversation's tree. A page never names its neighbours itself: a small script in the
// archive finds them in the index data when the page is opened, so pages written by
// earlier runs keep right links as the archive grows. Without the script the links lead
// to the start page.
#pragma once

#include <string>
#include <vector>

namespace quillmark {

enum class ArchiveLink { PrevByDate, NextByDate, PrevInThread, NextInThread, Index, Thread, Script, Root };

// The tag names (lower case) of the links, for the tag catalogue: "prevbydate",
// "nextbydate", "previnthread", "nextinthread", "archiveindex", "thread", "archivescript",
// "archiveroot".
// False for any other name.
bool ArchiveLinkFromTag(const std::string& lowerName, ArchiveLink& link);

// The markup of a link for a page depth folders below the root (1 for the year folders).
// label (optional, the tag's first parameter) replaces the default text and is escaped
// here. Index gives the start page's URL alone, so that it can stand in an href; Root the
// way up to the root ("../../"), for the archive's other files (its style sheet). The
// links need the script once in the page: withScript adds it (the first link of a page).
std::string ArchiveLinkMarkup(ArchiveLink link, int depth, const std::string& label, bool withScript);

// True for the links that work through the script (and for Script itself): a page that has
// one of them needs the script once.
bool ArchiveLinkNeedsScript(ArchiveLink link);

} // namespace quillmark
