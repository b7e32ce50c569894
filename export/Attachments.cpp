#include "export/Attachments.h"

#include "SrcLib/DateTime.h"
#include "SrcLib/uLib.h"
#include "export/HtmlText.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#include <algorithm>
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
    std::uint32_t Crc = 0;   // of its bytes, for the archive's manifest
};

// Saves one attachment and settles its final name. Throws when no final file exists
// afterwards (the store refused the content, the file system the name or the bytes): such
// an attachment must not be linked as if it had been saved.
//
// The first name of the chain base + ext, base_1 + ext, ... that is either free or holds
// the same content (same size, then same CRC-32) is the attachment's.
//
// The content is what the store holds in memory when it has it (a mail read from a file),
// else the temporary file the store saves it to. The names are the same either way.
SavedFile SaveOne(outlook::Attachment& attachment, const std::string& dir, const std::string& tempName,
                  const std::string& base, const std::string& ext, SavedFileIndex& index) {
    const std::optional<std::string_view> content = attachment.Content();
    const std::string tempPath = dir + tempName;
    std::optional<platform::FileInfo> temp;
    if (!content) {
        platform::DeleteFilePath(tempPath); // a leftover of an interrupted run, if any
        attachment.SaveAsFile(tempPath);
        temp = platform::GetFileInfo(tempPath);
        if (!temp || temp->IsDirectory) throw EWriteError("The store did not save the attachment to " + tempPath);
    }
    // Whatever happens below, the temporary file does not stay.
    struct RemoveTemporary {
        const std::string* path;
        ~RemoveTemporary() {
            if (path) platform::DeleteFilePath(*path);
        }
    } removeTemporary{content ? nullptr : &tempPath};
    const std::int64_t size = content ? static_cast<std::int64_t>(content->size()) : temp->Size;
    std::optional<std::uint32_t> crc; // computed only when a size matches
    auto contentCrc = [&] {
        if (!crc) crc = content ? Crc32(*content) : FileCrc32(tempPath);
        return *crc;
    };
    // No entry means free. A directory of that name counts as taken, so the file never aims
    // at one.
    const auto sameSize = [size](const platform::FileInfo& c) { return !c.IsDirectory && c.Size == size; };
    for (int counter = 0;; ++counter) {
        const std::string name = base + (counter == 0 ? std::string() : "_" + std::to_string(counter)) + ext;
        // An attachment that is itself called "_tempatt.xyz" must not land on the temporary
        // name: the clean-up below would delete it again.
        if (name == tempName) continue;
        const std::string path = dir + name;
        bool lookedNow = false;
        auto candidate = index.Look(path, &lookedNow);
        // Remembered facts may be old: a same-size candidate is looked at afresh.
        if (candidate && !lookedNow && sameSize(*candidate)) candidate = index.LookAgain(path);
        if (candidate) {
            if (sameSize(*candidate) && index.Crc(path, *candidate) == contentCrc())
                return SavedFile{name, true, *candidate, contentCrc()};
            continue;
        }
        if (content) {
            // Written under its final name in one step, never over a file that appeared
            // meanwhile; such a name is passed over like any taken one.
            platform::AtomicWriteOptions once;
            once.KeepExisting = true;
            if (!platform::WriteFileAtomic(path, *content, once)) {
                index.LookAgain(path);
                continue;
            }
            const auto info = platform::GetFileInfo(path);
            if (!info) throw EWriteError("The saved attachment is gone: " + path);
            index.Remember(path, *info);
            return SavedFile{name, false, *info, contentCrc()};
        }
        // A rename keeps the file's size and time: the temporary file's facts are the final's.
        const std::uint32_t finalCrc = contentCrc();
        if (!platform::RenameFilePath(tempPath, path)) throw EWriteError("Cannot save the attachment as " + path);
        removeTemporary.path = nullptr;
        index.Remember(path, *temp);
        return SavedFile{name, false, *temp, finalCrc};
    }
}

enum class Share { Links, Pictures };

std::string SaveAll(outlook::AttachmentCollection& collection, Share share, const std::string& dir,
                    const std::string& linkPrefix, AttachmentCounts* counts, SavedFileIndex* savedFiles,
                    std::vector<AttachmentFailure>* failures, std::vector<SavedAttachment>* savedList,
                    const std::vector<int>* skip = nullptr) {
    // Without a run's index, one for these attachments only: the search is the same.
    SavedFileIndex ownIndex;
    SavedFileIndex& files = savedFiles ? *savedFiles : ownIndex;
    std::string result;
    const int count = collection.Count();
    for (int index = 1; index <= count; ++index) {
        // Each attachment on its own: whatever goes wrong with one (the store refuses it, the
        // directory is missing, the file system refuses the name) costs that attachment only,
        // and is reported to the caller, which then does not write the page without it.
        std::string fileName;
        if (skip && std::find(skip->begin(), skip->end(), index) != skip->end()) continue;
        try {
            auto attachment = collection.Item(index);
            if (!attachment) continue;
            fileName = platform::Utf8FromUtf16(attachment->FileName());
            const std::string ext = AttachmentExtension(fileName);
            const bool picture = IsPictureExtension(ext);
            if (picture != (share == Share::Pictures)) continue;

            const SafeAttachmentName safe = SafeNameOf(fileName);
            const std::string tempName = (picture ? "_tempimg" : "_tempatt") + safe.Extension;
            if (picture) CreateDirectoryPath(dir);

            const SavedFile saved = SaveOne(*attachment, dir, tempName, safe.Base, safe.Extension, files);

            std::string fragment;
            if (picture) {
                fragment = "<BR><IMG src=\"./attsimgs/" + UrlEncodePath(saved.FinalName) + "\" title=\"";
                AppendHtmlEscaped(fragment, fileName);
                fragment += "\" vspace=2>";
            } else {
                const std::string title = DateTimeToText(saved.Info.LastWriteUtc) + " (" +
                                          FormatByteSize(saved.Info.Size) + ")";
                fragment = "<A href=\"" + linkPrefix + UrlEncodePath(saved.FinalName) + "\" title=\"";
                AppendHtmlEscaped(fragment, title);
                fragment += "\">";
                AppendHtmlEscaped(fragment, fileName);
                fragment += "</A>";
            }
            if (!result.empty()) result += "; ";
            result += fragment;
            if (counts) ++(saved.Reused ? counts->Reused : counts->Saved);
            if (savedList) savedList->push_back({dir + saved.FinalName, saved.Info.Size, saved.Crc, picture});
        } catch (const EFileError& e) {
            if (e.DiskFull()) throw; // nothing more can be saved: the run stops
            if (failures) failures->push_back({fileName, e.what()});
        } catch (const std::exception& e) {
            if (failures) failures->push_back({fileName, e.what()});
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

bool IsActiveExtension(const std::string& extension) {
    // Pages and what a browser treats as one (HTML, XHTML, SVG, XML with its style sheets,
    // MHTML, HTML applications), scripts, and what web servers run or obey (server pages,
    // CGI, IIS's per-folder web.config).
    static const char* const active[] = {
        ".htm",  ".html", ".xhtml", ".xht",  ".shtml", ".shtm",  ".stm",   ".mht",  ".mhtml", ".hta",
        ".svg",  ".svgz", ".xml",   ".xsl",  ".xslt",  ".rdf",   ".js",    ".mjs",  ".cjs",   ".jsx",
        ".vbs",  ".wsf",  ".php",   ".php3", ".php4",  ".php5",  ".php7",  ".phtml", ".phar", ".asp",
        ".aspx", ".asa",  ".ashx",  ".asmx", ".jsp",   ".jspx",  ".cfm",   ".cgi",  ".pl",    ".config",
        ".swf",  ".xbl",  ".htc",   ".appcache", ".manifest", ".webmanifest"};
    for (const char* a : active)
        if (extension == a) return true;
    return false;
}

bool IsReservedDeviceName(const std::string& name) {
    // Windows takes the part before the first dot, without trailing blanks and dots.
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && (stem.back() == ' ' || stem.back() == '.')) stem.pop_back();
    std::string upper;
    for (char c : stem) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") return true;
    if (upper.size() < 4 || (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0)) return false;
    const std::string number = upper.substr(3);
    // COM1-COM9, LPT1-LPT9; Windows also takes the superscript digits 1, 2 and 3 (UTF-8 and
    // Windows-1252 forms alike).
    if (number.size() == 1) return number[0] >= '1' && number[0] <= '9';
    return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3" || number == "\xB9" ||
           number == "\xB2" || number == "\xB3";
}

SafeAttachmentName SafeNameOf(const std::string& name) {
    SafeAttachmentName safe;
    // Windows drops trailing dots and blanks from a name ("page.html." opens as "page.html"),
    // so they do not hide an extension here either.
    std::string fileName = name;
    while (!fileName.empty() && (fileName.back() == '.' || fileName.back() == ' ')) fileName.pop_back();
    // The extension is kept to lower-case letters, digits and "_": a dash could make a name
    // look like one of our own temporary files (".tmp-123-4"), and blanks, dots and the
    // characters Windows refuses at the end of a name would make Windows change it.
    std::string ext = AttachmentExtension(fileName);
    while (!ext.empty() && (ext.back() == '.' || ext.back() == ' ')) ext.pop_back();
    if (ext.size() > 1) {
        safe.Extension = ".";
        for (std::size_t i = 1; i < ext.size() && safe.Extension.size() < 17; ++i) {
            const char c = ext[i];
            const bool keep = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
            if (keep)
                safe.Extension += c;
            else if (safe.Extension.back() != '_')
                safe.Extension += '_';
        }
        if (safe.Extension == "." || safe.Extension == "._") safe.Extension.clear();
    }
    std::string base = AttachmentBaseName(fileName);
    while (!base.empty() && base.front() == '.') base.erase(0, 1);
    if (IsActiveExtension(safe.Extension)) {
        const std::string kind = safe.Extension.substr(1);
        base = base.empty() ? kind : base + "_" + kind;
        safe.Extension = ".txt";
        safe.Neutral = true;
    }
    // Nothing before the extension (".htaccess", ".png"): the name would start with a dot.
    if (base.empty()) base = "_";
    if (IsReservedDeviceName(base)) base += "_";
    safe.Base = base;
    return safe;
}

std::string SaveAttachments(outlook::AttachmentCollection& collection, const std::vector<std::string>& /*params*/,
                            const std::string& exportRoot, const std::string& attachmentsDir,
                            AttachmentCounts* counts, SavedFileIndex* index,
                            std::vector<AttachmentFailure>* failures, std::vector<SavedAttachment>* saved) {
    const std::string dir = IncludeTrailingPathDelimiter(IncludeTrailingPathDelimiter(exportRoot) + attachmentsDir);
    // With no attachments name the files lie in the root itself, one level above the page.
    const std::string linkPrefix = attachmentsDir.empty() ? "../" : "../" + UrlEncodePath(attachmentsDir) + "/";
    return SaveAll(collection, Share::Links, dir, linkPrefix, counts, index, failures, saved);
}

std::string SaveInlineImages(outlook::AttachmentCollection& collection, const std::vector<std::string>& /*params*/,
                             const std::string& yearDir, AttachmentCounts* counts, SavedFileIndex* index,
                             std::vector<AttachmentFailure>* failures, std::vector<SavedAttachment>* saved,
                             const std::vector<int>* skip) {
    const std::string dir = IncludeTrailingPathDelimiter(yearDir) + "attsimgs" + platform::PathDelim;
    return SaveAll(collection, Share::Pictures, dir, std::string(), counts, index, failures, saved, skip);
}

namespace {

std::string LowerAscii(std::string s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Whether a "cid:" address names this attachment. Content-IDs compare as written, then
// without regard to case (mailers differ in the case of the host part); a part without a
// Content-ID may be named by its file name, as some mailers do ("cid:image001.png", also
// with "@..." after it).
bool NamesAttachment(const std::string& cid, const std::string& contentId, const std::string& fileName) {
    if (!contentId.empty()) return cid == contentId || LowerAscii(cid) == LowerAscii(contentId);
    if (fileName.empty()) return false;
    const std::string lower = LowerAscii(cid);
    const std::string name = LowerAscii(fileName);
    return lower == name || lower.substr(0, lower.find('@')) == name;
}

} // namespace

std::map<std::string, std::string> SaveContentIdPictures(outlook::AttachmentCollection& collection,
                                                         const std::vector<std::string>& contentIds,
                                                         const std::string& yearDir, std::vector<int>& shown,
                                                         AttachmentCounts* counts, SavedFileIndex* savedFiles,
                                                         std::vector<AttachmentFailure>* failures,
                                                         std::vector<SavedAttachment>* savedList) {
    std::map<std::string, std::string> urls;
    if (contentIds.empty()) return urls;
    SavedFileIndex ownIndex;
    SavedFileIndex& files = savedFiles ? *savedFiles : ownIndex;
    const std::string dir = IncludeTrailingPathDelimiter(yearDir) + "attsimgs" + platform::PathDelim;
    const int count = collection.Count();
    for (int index = 1; index <= count; ++index) {
        std::string fileName;
        try {
            auto attachment = collection.Item(index);
            if (!attachment) continue;
            const std::string contentId = attachment->ContentId();
            fileName = platform::Utf8FromUtf16(attachment->FileName());
            std::vector<std::string> named;
            for (const auto& cid : contentIds)
                if (NamesAttachment(cid, contentId, fileName)) named.push_back(cid);
            if (named.empty()) continue;
            // Saved like the picture list's files (same folder, same names): a picture shown
            // in place and listed by another page is one file.
            const SafeAttachmentName safe = SafeNameOf(fileName);
            CreateDirectoryPath(dir);
            const SavedFile saved = SaveOne(*attachment, dir, "_tempimg" + safe.Extension, safe.Base,
                                            safe.Extension, files);
            for (const auto& cid : named) urls[cid] = "./attsimgs/" + UrlEncodePath(saved.FinalName);
            shown.push_back(index);
            if (counts) ++(saved.Reused ? counts->Reused : counts->Saved);
            if (savedList) savedList->push_back({dir + saved.FinalName, saved.Info.Size, saved.Crc, true});
        } catch (const EFileError& e) {
            if (e.DiskFull()) throw;
            if (failures) failures->push_back({fileName, e.what()});
        } catch (const std::exception& e) {
            if (failures) failures->push_back({fileName, e.what()});
        }
    }
    return urls;
}

} // namespace quillmark
