#include "outlook/FolderTree.h"

#include "platform/CodePage.h"

namespace quillmark::outlook {

FolderNode* FolderTreeModel::AddNode(FolderNode* parent, std::string text, TOLFolder folder) {
    auto& siblings = parent ? parent->Children : top_;
    siblings.push_back(std::make_unique<FolderNode>(std::move(text), std::move(folder), parent));
    return siblings.back().get();
}

namespace {
std::size_t CountNodes(const std::vector<std::unique_ptr<FolderNode>>& nodes) {
    std::size_t n = nodes.size();
    for (const auto& node : nodes) n += CountNodes(node->Children);
    return n;
}
} // namespace

std::size_t FolderTreeModel::NodeCount() const { return CountNodes(top_); }

bool IsPublicFolderName(const std::string& ansiName) {
    // Only A-Z are lowered: the test must not depend on the code page's own case rules.
    std::string lowered = ansiName;
    for (char& c : lowered)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lowered.find("publi") != std::string::npos;
}

void FolderTreeModel::ScanFolders(FolderCollection& collection, FolderNode* parent) {
    const int count = collection.Count();
    if (count <= 0) return;
    for (int i = 1; i <= count; ++i) {
        // The folder is fetched afresh by index for every read, as Outlook's collections are
        // used by name; the reads go StoreID, EntryID, name.
        WideString storeId = collection.Item(i)->StoreID();
        WideString entryId = collection.Item(i)->EntryID();
        // Characters the ANSI code page lacks become "?", like every other store text; the
        // node only shows the name, the folder is found again by its identifiers.
        std::string name = platform::Utf8FromUtf16(collection.Item(i)->Name());
        if (IsPublicFolderName(name)) continue; // its subfolders are never touched
        FolderNode* node = AddNode(parent, name, TOLFolder(std::move(entryId), std::move(storeId)));
        auto subfolders = collection.Item(i)->Folders();
        if (subfolders->Count() > 0) ScanFolders(*subfolders, node);
    }
}

} // namespace quillmark::outlook
