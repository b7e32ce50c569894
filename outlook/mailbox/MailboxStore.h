// The mailbox backend: a store is one path the user named.
//
// | the path is                          | the store's top folder                  | its items           |
// |--------------------------------------|-----------------------------------------|---------------------|
// | an mbox file                         | the file (Thunderbird "Name.sbd/" below) | mbox order          |
// | a Maildir (cur/ and new/ inside)     | the Maildir; ".A.B" Maildir++ folders    | by file name        |
// |                                      | and plain subdirectories below it       |                     |
// | any other directory                  | the directory; mbox files, Maildirs,    | its .eml files by   |
// |                                      | Thunderbird trees and subdirectories     | name                |
// |                                      | below it                                |                     |
// | a single message file (.eml)         | a folder with that one mail             | the message         |
//
// In a directory, a file is an mbox folder when it begins with "From " (or is empty and has
// Thunderbird's ".msf" index or ".sbd" directory beside it); other files are passed over.
// Hidden entries (".name") are passed over except as Maildir++ folders.
//
// StoreID is the path as the user gave it. A folder's EntryID names it within the store by
// kind and relative path, so GetFolderFromID reopens that very folder; an EntryID that
// leaves the store (absolute, "..") is refused. A mail's EntryID is its key in the folder:
// the byte offset in an mbox (stable while the file is only appended to), the unique part
// of a Maildir file name (stable when flags change), the .eml file name.
#pragma once

#include "outlook/Store.h"

#include <memory>
#include <string>

namespace quillmark::outlook::mailbox {

// Opens the store at path (8-bit ANSI); throws EStoreError when there is nothing there a
// mailbox reader can use.
std::shared_ptr<Store> OpenMailboxStore(const std::string& path, std::shared_ptr<WarningSink> warnings);

} // namespace quillmark::outlook::mailbox
