// Outlook data files (.pst and .ost) as mail stores, read through libpff.
//
// One store per file. Its top folder carries the store's display name ("Personal
// Folders"; the file's name when it has none) and holds the IPM subtree: Inbox, Sent Items
// and the user's own folders, to any depth. The system folders beside the IPM subtree
// (search folders, views, reminders, free/busy data) are not shown, as Outlook does not
// show them either.
//
// StoreID is the file's path. EntryIDs are MAPI entry identifiers as Outlook shows them:
// hex of 4 flag bytes, the store's record key and the node id, so GetFolderFromID finds a
// folder by its node id. Items of class IPM.Note and its sub-classes (and reports on them)
// offer the mail-item interface; appointments, contacts and the like do not.
#pragma once

#include "outlook/Store.h"

#include <memory>
#include <string>

namespace quillmark::outlook::pst {

// Opens the data file at path (an 8-bit ANSI path). Throws EStoreError naming the file
// when it cannot be opened at all (missing, not a data file, damaged beyond reading).
// Problems the store can read past (an unreadable message, a damaged body) go to warnings.
std::shared_ptr<Store> OpenPstStore(const std::string& path, std::shared_ptr<WarningSink> warnings);

// The same for a file's bytes held in memory; name stands for the file in messages and
// is the StoreID.
std::shared_ptr<Store> OpenPstStoreFromMemory(std::string bytes, const std::string& name,
                                              std::shared_ptr<WarningSink> warnings);

} // namespace quillmark::outlook::pst
