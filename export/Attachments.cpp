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

std::string ChainName(const std::string& base, const std::string& ext, int number) {
    return base + (number == 0 ? std::string() : "_" + std::to_string(number)) + ext;
}

// Saves one attachment and settles its final name. Throws when no final file exists
// afterwards (the store refused the content, the file system the name or the bytes): such
// an attachment must not be linked as if it had been saved.
//
// The first name of the chain base + ext, base_1 + ext, ... that holds the same content
// (same size and CRC-32) is the attachment's; else the chain's next free name.
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
    const std::uint32_t crc = content ? Crc32(*content) : FileCrc32(tempPath);

    const auto write = [&](const std::string& path) -> std::optional<platform::FileInfo> {
        if (content) {
            // Written under its final name in one step, never over a file that appeared
            // meanwhile.
            platform::AtomicWriteOptions once;
            once.KeepExisting = true;
            if (!platform::WriteFileAtomic(path, *content, once)) return std::nullopt;
            const auto info = platform::GetFileInfo(path);
            if (!info) throw EWriteError("The saved attachment is gone: " + path);
            return info;
        }
        // A rename would replace a file someone made meanwhile: the name is looked at first.
        if (platform::GetFileInfo(path)) return std::nullopt;
        if (!platform::RenameFilePath(tempPath, path)) throw EWriteError("Cannot save the attachment as " + path);
        removeTemporary.path = nullptr;
        // A rename keeps the file's size and time: the temporary file's facts are the final's.
        return temp;
    };
    const SavedFileIndex::Placed placed = index.Place(dir, base, ext, tempName, size, crc, write);
    return SavedFile{placed.Name, placed.Reused, placed.Info, crc};
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

SavedFileIndex::Chain& SavedFileIndex::ChainOf(const std::string& dir, const std::string& base,
                                                const std::string& ext, const std::string& skipName) {
    std::string key = dir + base;
    key += '\n';
    key += ext;
    auto found = chains_.find(key);
    if (found != chains_.end()) return found->second;
    Chain& chain = chains_[key];
    // The first time this run meets the chain: what the folder holds of it already, up to
    // its first free name (the names a run makes are contiguous from there).
    for (;; ++chain.NextFree) {
        const std::string name = ChainName(base, ext, chain.NextFree);
        if (name == skipName) continue;
        const auto info = platform::GetFileInfo(dir + name);
        if (!info) break;
        Add(chain, chain.NextFree, *info, std::nullopt);
    }
    return chain;
}

void SavedFileIndex::Add(Chain& chain, int number, const platform::FileInfo& info,
                         std::optional<std::uint32_t> crc) {
    const std::size_t at = chain.Members.size();
    chain.Members.push_back({number, info, info.IsDirectory});
    ++files_;
    if (info.IsDirectory) return; // takes the name, never a copy
    if (crc)
        chain.ByContent[{info.Size, *crc}].push_back(at);
    else
        chain.Unread[info.Size].push_back(at);
}

SavedFileIndex::Placed SavedFileIndex::Place(const std::string& dir, const std::string& base,
                                             const std::string& ext, const std::string& skipName,
                                             std::int64_t size, std::uint32_t crc, const WriteFunction& write) {
    Chain& chain = ChainOf(dir, base, ext, skipName);
    const auto pathOf = [&](const Member& m) { return dir + ChainName(base, ext, m.Number); };
    // Files met on disk and of this size are read once, then known by their content.
    if (auto unread = chain.Unread.find(size); unread != chain.Unread.end()) {
        const std::vector<std::size_t> members = std::move(unread->second);
        chain.Unread.erase(unread);
        for (std::size_t at : members) {
            Member& m = chain.Members[at];
            const std::string path = pathOf(m);
            const auto now = platform::GetFileInfo(path);
            if (!now || now->IsDirectory) {
                m.Gone = true;
                continue;
            }
            m.Info = *now;
            if (now->Size == size)
                chain.ByContent[{now->Size, FileCrc32(path)}].push_back(at);
            else
                chain.Unread[now->Size].push_back(at); // changed meanwhile; read when its size is asked for
        }
    }
    // The first file of the same content, confirmed by a fresh look: a file whose size or
    // time changed since its CRC was taken is read again (a time of 0 means "unknown", so
    // such a file is always read).
    if (auto same = chain.ByContent.find({size, crc}); same != chain.ByContent.end()) {
        std::vector<std::size_t> candidates = same->second;
        std::sort(candidates.begin(), candidates.end(),
                  [&](std::size_t a, std::size_t b) { return chain.Members[a].Number < chain.Members[b].Number; });
        for (std::size_t at : candidates) {
            Member& m = chain.Members[at];
            if (m.Gone) continue;
            const std::string path = pathOf(m);
            const auto now = platform::GetFileInfo(path);
            if (!now || now->IsDirectory) {
                m.Gone = true;
                continue;
            }
            const bool unchanged =
                now->Size == m.Info.Size && now->LastWriteUtc == m.Info.LastWriteUtc && now->LastWriteUtc != 0;
            std::optional<std::uint32_t> nowCrc;
            if (!unchanged && now->Size == size) nowCrc = FileCrc32(path);
            if (unchanged || nowCrc == crc) {
                m.Info = *now;
                return {ChainName(base, ext, m.Number), true, *now};
            }
            // Changed into something else: filed under what it holds now.
            m.Gone = true;
            const int number = m.Number;
            --files_;
            Add(chain, number, *now, nowCrc);
        }
        // Drop the entries that are no copies of this content any more.
        auto& list = chain.ByContent[{size, crc}];
        list.erase(std::remove_if(list.begin(), list.end(), [&](std::size_t at) { return chain.Members[at].Gone; }),
                   list.end());
    }
    // A new file at the next free name; a name someone took meanwhile is passed over (and is
    // the copy when it holds the same content).
    for (;; ++chain.NextFree) {
        const std::string name = ChainName(base, ext, chain.NextFree);
        if (name == skipName) continue;
        const std::string path = dir + name;
        if (const auto written = write(path)) {
            Add(chain, chain.NextFree++, *written, crc);
            return {name, false, *written};
        }
        const auto there = platform::GetFileInfo(path);
        if (!there) continue; // gone again: the name is passed over all the same
        if (!there->IsDirectory && there->Size == size && FileCrc32(path) == crc) {
            Add(chain, chain.NextFree++, *there, crc);
            return {name, true, *there};
        }
        Add(chain, chain.NextFree, *there, std::nullopt);
    }
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
                            std::vector<AttachmentFailure>* failures, std::vector<SavedAttachment>* saved,
                            int pageDepth) {
    const std::string dir = IncludeTrailingPathDelimiter(IncludeTrailingPathDelimiter(exportRoot) + attachmentsDir);
    // With no attachments name the files lie in the root itself.
    std::string up;
    for (int i = 0; i < pageDepth; ++i) up += "../";
    const std::string linkPrefix = attachmentsDir.empty() ? up : up + UrlEncodePath(attachmentsDir) + "/";
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
