#include "export/Attachments.h"

#include "SrcLib/DateTime.h"
#include "SrcLib/uLib.h"
#include "export/HtmlText.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#include <exception>
#include <optional>
#include <string_view>

namespace quillmark {

namespace {

constexpr std::size_t MaxBaseNameLength = 54;

struct SavedFile {
    std::string FinalName;
    bool Reused = false;
    platform::FileInfo Info; // of the final file, for the link's title
};

// Saves one attachment and settles its final name. Returns nothing when no final file exists
// afterwards (the rename was refused, say): such an attachment must not be linked as if it
// had been saved.
//
// The first name of the chain base + ext, base_1 + ext, ... that is either free or holds
// the same content (same size, then same CRC-32) is the attachment's.
//
// The content is what the store holds in memory when it has it (a mail read from a file),
// else the temporary file the store saves it to. The names are the same either way.
std::optional<SavedFile> SaveOne(outlook::Attachment& attachment, const std::string& dir, const std::string& tempName,
                                 const std::string& base, const std::string& ext, SavedFileIndex& index) {
    const std::optional<std::string_view> content = attachment.Content();
    const std::string tempPath = dir + tempName;
    std::optional<platform::FileInfo> temp;
    if (!content) {
        platform::DeleteFilePath(tempPath); // a leftover of an interrupted run, if any
        attachment.SaveAsFile(tempPath);
        temp = platform::GetFileInfo(tempPath);
        if (!temp || temp->IsDirectory) return std::nullopt;
    }
    const std::int64_t size = content ? static_cast<std::int64_t>(content->size()) : temp->Size;
    std::optional<std::uint32_t> crc; // computed only when a size matches
    auto contentCrc = [&] {
        if (!crc) crc = content ? Crc32(*content) : FileCrc32(tempPath);
        return *crc;
    };
    // No entry means free. A directory of that name counts as taken, so the file never aims
    // at one.
    const auto sameSize = [size](const platform::FileInfo& c) { return !c.IsDirectory && c.Size == size; };
    std::string name;
    for (int counter = 0;; ++counter) {
        name = base + (counter == 0 ? std::string() : "_" + std::to_string(counter)) + ext;
        // An attachment that is itself called "_tempatt.xyz" must not land on the temporary
        // name: the clean-up below would delete it again.
        if (name == tempName) continue;
        const std::string path = dir + name;
        bool lookedNow = false;
        auto candidate = index.Look(path, &lookedNow);
        // Remembered facts may be old: a same-size candidate is looked at afresh.
        if (candidate && !lookedNow && sameSize(*candidate)) candidate = index.LookAgain(path);
        if (!candidate) break;
        if (!sameSize(*candidate)) continue;
        if (index.Crc(path, *candidate) == contentCrc()) {
            if (!content) platform::DeleteFilePath(tempPath);
            return SavedFile{name, true, *candidate};
        }
    }
    const std::string finalPath = dir + name;
    if (content) {
        // Written under its final name in one step, never over a file that appeared meanwhile.
        platform::AtomicWriteOptions once;
        once.KeepExisting = true;
        if (!platform::WriteFileAtomic(finalPath, *content, once)) return std::nullopt;
        const auto info = platform::GetFileInfo(finalPath);
        if (!info) return std::nullopt;
        index.Remember(finalPath, *info);
        return SavedFile{name, false, *info};
    }
    // A rename keeps the file's size and time: the temporary file's facts are the final's.
    if (platform::RenameFilePath(tempPath, finalPath)) {
        index.Remember(finalPath, *temp);
        return SavedFile{name, false, *temp};
    }
    platform::DeleteFilePath(tempPath);
    return std::nullopt;
}

enum class Share { Links, Pictures };

std::string SaveAll(outlook::AttachmentCollection& collection, Share share, const std::string& dir,
                    const std::string& linkPrefix, AttachmentCounts* counts, SavedFileIndex* savedFiles) {
    // Without a run's index, one for these attachments only: the search is the same.
    SavedFileIndex ownIndex;
    SavedFileIndex& files = savedFiles ? *savedFiles : ownIndex;
    std::string result;
    const int count = collection.Count();
    for (int index = 1; index <= count; ++index) {
        // Each attachment on its own: whatever goes wrong with one (the store refuses it, the
        // directory is missing, a file cannot be read) costs that attachment only.
        try {
            auto attachment = collection.Item(index);
            if (!attachment) continue;
            const std::string fileName = platform::Utf8FromUtf16(attachment->FileName());
            const std::string ext = AttachmentExtension(fileName);
            const bool picture = IsPictureExtension(ext);
            if (picture != (share == Share::Pictures)) continue;

            const std::string base = AttachmentBaseName(fileName);
            const std::string tempName = (picture ? "_tempimg" : "_tempatt") + ext;
            if (picture) CreateDirectoryPath(dir);

            auto saved = SaveOne(*attachment, dir, tempName, base, ext, files);
            if (!saved) continue;

            std::string fragment;
            if (picture) {
                fragment = "<BR><IMG src=\"./attsimgs/" + UrlEncodePath(saved->FinalName) + "\" title=\"";
                AppendHtmlEscaped(fragment, fileName);
                fragment += "\" vspace=2>";
            } else {
                const std::string title = DateTimeToText(saved->Info.LastWriteUtc) + " (" +
                                          FormatByteSize(saved->Info.Size) + ")";
                fragment = "<A href=\"" + linkPrefix + UrlEncodePath(saved->FinalName) + "\" title=\"";
                AppendHtmlEscaped(fragment, title);
                fragment += "\">";
                AppendHtmlEscaped(fragment, fileName);
                fragment += "</A>";
            }
            if (!result.empty()) result += "; ";
            result += fragment;
            if (counts) ++(saved->Reused ? counts->Reused : counts->Saved);
        } catch (const std::exception&) {
            // absorbed: see above
        }
    }
    return result;
}

} // namespace

SavedFileIndex::Entry& SavedFileIndex::Slot(const std::string& path) {
    if (entries_.size() >= MaxEntries && entries_.find(path) == entries_.end()) entries_.clear();
    return entries_[path];
}

std::optional<platform::FileInfo> SavedFileIndex::Look(const std::string& path, bool* lookedNow) {
    auto it = entries_.find(path);
    if (lookedNow) *lookedNow = it == entries_.end();
    if (it != entries_.end()) return it->second.Info;
    return LookAgain(path);
}

std::optional<platform::FileInfo> SavedFileIndex::LookAgain(const std::string& path) {
    const auto info = platform::GetFileInfo(path);
    if (info)
        Remember(path, *info);
    else
        entries_.erase(path);
    return info;
}

void SavedFileIndex::Remember(const std::string& path, const platform::FileInfo& info) {
    Entry& entry = Slot(path);
    if (entry.Crc && (entry.Info.Size != info.Size || entry.Info.LastWriteUtc != info.LastWriteUtc)) entry.Crc.reset();
    entry.Info = info;
}

std::uint32_t SavedFileIndex::Crc(const std::string& path, const platform::FileInfo& info) {
    Entry& entry = Slot(path);
    // A time of 0 means "unknown": then a change could not be told, so the file is read.
    if (entry.Crc && entry.Info.Size == info.Size && entry.Info.LastWriteUtc == info.LastWriteUtc &&
        info.LastWriteUtc != 0)
        return *entry.Crc;
    const std::uint32_t crc = FileCrc32(path);
    entry.Info = info;
    entry.Crc = crc;
    return crc;
}

std::string AttachmentExtension(const std::string& fileName) {
    std::size_t start = 0;
    for (std::size_t i = fileName.size(); i > 0; --i) {
        const char c = fileName[i - 1];
        if (c == '\\' || c == '/' || c == ':') {
            start = i;
            break;
        }
    }
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || dot < start) return {};
    return LowerCaseText(fileName.substr(dot));
}

bool IsPictureExtension(const std::string& extension) {
    return !extension.empty() && std::string_view(".png.jpg.jpeg.gif.").find(extension) != std::string_view::npos;
}

std::string AttachmentBaseName(const std::string& fileName) {
    // Cut by characters, never inside one; a name of other scripts (up to four bytes a
    // character) stays well inside the 255 bytes a file name may have.
    return Utf8Prefix(SanitizeFileName(FileBaseName(fileName)), MaxBaseNameLength);
}

std::string SaveAttachments(outlook::AttachmentCollection& collection, const std::vector<std::string>& /*params*/,
                            const std::string& exportRoot, const std::string& attachmentsDir,
                            AttachmentCounts* counts, SavedFileIndex* index) {
    const std::string dir = IncludeTrailingPathDelimiter(IncludeTrailingPathDelimiter(exportRoot) + attachmentsDir);
    // With no attachments name the files lie in the root itself, one level above the page.
    const std::string linkPrefix = attachmentsDir.empty() ? "../" : "../" + UrlEncodePath(attachmentsDir) + "/";
    return SaveAll(collection, Share::Links, dir, linkPrefix, counts, index);
}

std::string SaveInlineImages(outlook::AttachmentCollection& collection, const std::vector<std::string>& /*params*/,
                             const std::string& yearDir, AttachmentCounts* counts, SavedFileIndex* index) {
    const std::string dir = IncludeTrailingPathDelimiter(yearDir) + "attsimgs" + platform::PathDelim;
    return SaveAll(collection, Share::Pictures, dir, std::string(), counts, index);
}

} // namespace quillmark
