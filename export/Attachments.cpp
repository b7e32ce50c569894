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
};

// Saves one attachment through its temporary name and settles its final name. Returns
// nothing when no final file exists afterwards (the rename was refused, say): such an
// attachment must not be linked as if it had been saved.
std::optional<SavedFile> SaveOne(outlook::Attachment& attachment, const std::string& dir, const std::string& tempName,
                                 const std::string& base, const std::string& ext, Crc32Cache* cache) {
    const std::string tempPath = dir + tempName;
    if (platform::FileExists(tempPath)) platform::DeleteFilePath(tempPath);
    attachment.SaveAsFile(tempPath);

    const std::int64_t tempSize = FileSizeOf(tempPath);
    std::optional<std::uint32_t> tempCrc; // computed only when a size matches
    std::string name;
    bool same = false;
    for (int counter = 0;; ++counter) {
        name = base + (counter == 0 ? std::string() : "_" + std::to_string(counter)) + ext;
        // An attachment that is itself called "_tempatt.xyz" must not land on the temporary
        // name: the clean-up below would delete it again.
        if (name == tempName) continue;
        const std::string path = dir + name;
        // One look per candidate: no entry means free. A directory of that name counts as
        // taken, so the rename never aims at one.
        const std::int64_t size = FileSizeOf(path);
        if (size < 0) break;
        if (size == tempSize && platform::FileExists(path)) {
            if (!tempCrc) tempCrc = FileCrc32(tempPath);
            if ((cache ? cache->Crc(path, tempSize) : FileCrc32(path)) == *tempCrc) {
                same = true;
                break;
            }
        }
    }
    const std::string finalPath = dir + name;
    if (!same) platform::RenameFilePath(tempPath, finalPath);
    if (platform::FileExists(tempPath)) platform::DeleteFilePath(tempPath);
    if (!platform::FileExists(finalPath)) return std::nullopt;
    return SavedFile{name, same};
}

enum class Share { Links, Pictures };

std::string SaveAll(outlook::AttachmentCollection& collection, Share share, const std::string& dir,
                    const std::string& linkPrefix, AttachmentCounts* counts, Crc32Cache* cache) {
    std::string result;
    const int count = collection.Count();
    for (int index = 1; index <= count; ++index) {
        // Each attachment on its own: whatever goes wrong with one (the store refuses it, the
        // directory is missing, a file cannot be read) costs that attachment only.
        try {
            auto attachment = collection.Item(index);
            if (!attachment) continue;
            const std::string fileName = platform::AnsiFromUtf16(attachment->FileName());
            const std::string ext = AttachmentExtension(fileName);
            const bool picture = IsPictureExtension(ext);
            if (picture != (share == Share::Pictures)) continue;

            const std::string base = AttachmentBaseName(fileName);
            const std::string tempName = (picture ? "_tempimg" : "_tempatt") + ext;
            if (picture) CreateDirectoryPath(dir);

            auto saved = SaveOne(*attachment, dir, tempName, base, ext, cache);
            if (!saved) continue;

            std::string fragment;
            if (picture) {
                fragment = "<BR><IMG src=\"./attsimgs/" + UrlEncodePath(saved->FinalName) + "\" title=\"";
                AppendHtmlEscaped(fragment, fileName);
                fragment += "\" vspace=2>";
            } else {
                const std::string finalPath = dir + saved->FinalName;
                const std::string title = DateTimeToText(FileWriteTime(finalPath)) + " (" +
                                          FormatByteSize(FileSizeOf(finalPath)) + ")";
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

std::uint32_t Crc32Cache::Crc(const std::string& path, std::int64_t size) {
    const double writeTime = FileWriteTime(path);
    auto it = entries_.find(path);
    if (it != entries_.end() && it->second.Size == size && it->second.WriteTime == writeTime && writeTime != 0)
        return it->second.Crc;
    const std::uint32_t crc = FileCrc32(path);
    if (entries_.size() >= MaxEntries) entries_.clear();
    entries_[path] = Entry{size, writeTime, crc};
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
    std::string ext = fileName.substr(dot);
    for (auto& c : ext) c = static_cast<char>(platform::AnsiLower(static_cast<unsigned char>(c)));
    return ext;
}

bool IsPictureExtension(const std::string& extension) {
    return !extension.empty() && std::string_view(".png.jpg.jpeg.gif.").find(extension) != std::string_view::npos;
}

std::string AttachmentBaseName(const std::string& fileName) {
    std::string base = SanitizeFileName(FileBaseName(fileName));
    if (base.size() > MaxBaseNameLength) base.resize(MaxBaseNameLength);
    return base;
}

std::string SaveAttachments(outlook::AttachmentCollection& collection, const std::vector<std::string>& /*params*/,
                            const std::string& exportRoot, const std::string& attachmentsDir,
                            AttachmentCounts* counts, Crc32Cache* cache) {
    const std::string dir = IncludeTrailingPathDelimiter(IncludeTrailingPathDelimiter(exportRoot) + attachmentsDir);
    // With no attachments name the files lie in the root itself, one level above the page.
    const std::string linkPrefix = attachmentsDir.empty() ? "../" : "../" + UrlEncodePath(attachmentsDir) + "/";
    return SaveAll(collection, Share::Links, dir, linkPrefix, counts, cache);
}

std::string SaveInlineImages(outlook::AttachmentCollection& collection, const std::vector<std::string>& /*params*/,
                             const std::string& yearDir, AttachmentCounts* counts, Crc32Cache* cache) {
    const std::string dir = IncludeTrailingPathDelimiter(yearDir) + "attsimgs" + platform::PathDelim;
    return SaveAll(collection, Share::Pictures, dir, std::string(), counts, cache);
}

} // namespace quillmark
