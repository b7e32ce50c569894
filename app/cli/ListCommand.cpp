// --list: the folder tree of the stores, with the number of items of each folder.
#include "app/cli/CliHost.h"

#include "outlook/FolderTree.h"

#include <ostream>

namespace quillmark::cli {

namespace {

void PrintTree(CliHost& host, const std::vector<std::unique_ptr<outlook::FolderNode>>& level, int depth) {
    for (const auto& node : level) {
        // A folder the store cannot count is still listed: the tree is what the user asked for.
        std::string count = "?";
        try {
            auto folder = host.NameSpace()->GetFolderFromID(node->Folder.EntryID, node->Folder.StoreID);
            count = std::to_string(folder->Items()->Count());
        } catch (const std::exception&) {
        }
        host.Out() << std::string(static_cast<std::size_t>(depth) * 2, ' ') << node->Text << "  (" << count
                   << ")\n";
        PrintTree(host, node->Children, depth + 1);
    }
}

} // namespace

int RunListCommand(CliHost& host) {
    host.OpenStores();
    PrintTree(host, host.Tree().TopLevel(), 0);
    host.CloseStores();
    return ExitOk;
}

} // namespace quillmark::cli
