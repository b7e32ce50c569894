#include "app/cli/CliHost.h"

#include "outlook/FolderTree.h"
#include "outlook/StoreFactory.h"

#include <ostream>

namespace quillmark::cli {

namespace {

// The node whose display names, from the top of the tree, spell path. A name may itself
// hold "/": at each level the longest child name that fits the rest of the path wins.
const outlook::FolderNode* FindIn(const std::vector<std::unique_ptr<outlook::FolderNode>>& level,
                                  const std::string& rest) {
    const outlook::FolderNode* best = nullptr;
    const outlook::FolderNode* bestResult = nullptr;
    for (const auto& node : level) {
        const std::string& name = node->Text;
        if (rest.compare(0, name.size(), name) != 0) continue;
        if (best && best->Text.size() >= name.size()) continue;
        std::size_t next = name.size();
        if (next == rest.size()) {
            best = node.get();
            bestResult = node.get();
            continue;
        }
        if (rest[next] != '/') continue;
        while (next < rest.size() && rest[next] == '/') ++next;
        if (next == rest.size()) {
            best = node.get();
            bestResult = node.get();
            continue;
        }
        if (auto found = FindIn(node->Children, rest.substr(next))) {
            best = node.get();
            bestResult = found;
        }
    }
    return bestResult;
}

} // namespace

std::string TrimFolderPath(const std::string& path) {
    std::string trimmed = path;
    while (!trimmed.empty() && trimmed.front() == '/') trimmed.erase(0, 1);
    while (!trimmed.empty() && trimmed.back() == '/') trimmed.pop_back();
    return trimmed;
}

CliHost::CliHost(std::string programName, CliOptions options, AppIdentity identity, std::ostream& out,
                 std::ostream& err)
    : program_(std::move(programName)), options_(std::move(options)), identity_(std::move(identity)), out_(out),
      err_(err) {}

CliHost::~CliHost() {
    try {
        CloseStores();
    } catch (const std::exception&) {
        // Closing a store at the very end has nothing left to lose.
    }
}

int CliHost::Fail(int code, const std::string& text) {
    err_ << program_ << ": " << text << '\n';
    return code;
}

int CliHost::FailUsage(const std::string& text) {
    err_ << program_ << ": " << text << "\nTry '" << program_ << " --help'.\n";
    return ExitUsage;
}

void CliHost::Warn(const std::string& text) {
    if (!options_.Quiet) err_ << program_ << ": warning: " << text << '\n';
}

void CliHost::OpenStores() {
    std::vector<std::string> stores = options_.Stores;
    if (stores.empty()) {
        const std::string sample = outlook::DefaultSampleStorePath();
        if (sample.empty()) throw Exception("no --store given and the bundled sample store was not found");
        stores.push_back(sample);
    }
    // A store may warn about what then ends the program as an error ("The mail store x does
    // not exist."): the warnings of the opening are held back until it is known whether an
    // error says the same, so that each thing is said once.
    std::vector<std::string> held;
    app_ = outlook::ConnectApplication(stores);
    app_->SetWarningHandler([&held](const std::string& message) { held.push_back(message); });
    try {
        nameSpace_ = app_->GetNamespace("MAPI");
        nameSpace_->Logon();
        tree_ = std::make_unique<outlook::FolderTreeModel>();
        tree_->ScanFolders(*nameSpace_->Folders(), nullptr);
    } catch (const std::exception& e) {
        for (const auto& w : held)
            if (w != e.what()) Warn(w);
        app_->SetWarningHandler([this](const std::string& message) { Warn(message); });
        throw;
    }
    app_->SetWarningHandler([this](const std::string& message) { Warn(message); });
    for (const auto& w : held) Warn(w);
}

void CliHost::CloseStores() {
    if (nameSpace_) {
        auto ns = std::move(nameSpace_);
        ns->Logoff();
    }
    if (app_) {
        auto app = std::move(app_);
        app->Disconnect();
    }
}

const outlook::FolderNode* CliHost::FindFolder(const std::string& path) const {
    return tree_ ? FindIn(tree_->TopLevel(), TrimFolderPath(path)) : nullptr;
}

} // namespace quillmark::cli
