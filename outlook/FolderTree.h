// The folder tree the window shows: every folder of every store, built once at start-up
// by ScanFolders, each node carrying the two identifiers that reopen its folder later.
// The model knows no widget toolkit; the window mirrors it into its tree view.
#pragma once

#include "outlook/ObjectModel.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace quillmark::outlook {

// The record behind a tree node: the identifiers Outlook gives for the folder, kept
// unchanged and handed back to GetFolderFromID.
class TOLFolder {
public:
    TOLFolder(WideString entryId, WideString storeId) : EntryID(std::move(entryId)), StoreID(std::move(storeId)) {}

    WideString EntryID;
    WideString StoreID;
};

struct FolderNode {
    FolderNode(std::string text, TOLFolder folder, FolderNode* parent)
        : Text(std::move(text)), Folder(std::move(folder)), Parent(parent) {}

    std::string Text;  // the folder's display name in the ANSI code page
    TOLFolder Folder;  // held for the life of the tree
    FolderNode* Parent; // null at the top level
    std::vector<std::unique_ptr<FolderNode>> Children;
};

class FolderTreeModel {
public:
    // Adds a node as the last child of parent, or as the last top-level node when parent is
    // null. The node's address stays valid for the life of the model.
    FolderNode* AddNode(FolderNode* parent, std::string text, TOLFolder folder);

    // Walks a folder collection (the namespace's Folders or a folder's Folders) and adds a
    // node below parent for every folder, to any depth, leaving out each folder whose name
    // contains "publi" in any ASCII letter case together with everything below it.
    // A store error ends the scan where it happened: the nodes added so far stay and the
    // error goes on to the caller.
    void ScanFolders(FolderCollection& collection, FolderNode* parent);

    const std::vector<std::unique_ptr<FolderNode>>& TopLevel() const { return top_; }
    void Clear() { top_.clear(); }
    std::size_t NodeCount() const;

private:
    std::vector<std::unique_ptr<FolderNode>> top_;
};

// True when the name, with A-Z lowered, contains "publi" (Outlook's Public Folders and
// anything named like them are kept out of the tree).
bool IsPublicFolderName(const std::string& ansiName);

} // namespace quillmark::outlook
