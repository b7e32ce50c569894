// Saving a mail's attachments next to its page: pictures (by extension) into the year's
// "attsimgs" folder, shown inline; everything else into the shared attachments folder,
// linked. A file whose content is already saved under its name (same size, then same
// CRC-32) is not written again; a different file of the same name gets "_1", "_2", ...
//
// The names saved are made so that an attachment cannot act on the archive: no name starts
// with a dot (".htaccess" is obeyed by web servers), no name is one Windows reserves for a
// device (the archive must survive a copy to Windows whole), and a file of a type a browser
// or web server would run (HTML, SVG, XML, scripts, server pages) is saved under a ".txt"
// name, so that opening it shows its text; the page's link still shows the original name.
#pragma once

#include "outlook/ObjectModel.h"
#include "platform/FileSystem.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace quillmark {

struct AttachmentCounts {
    int Saved = 0;  // files newly written
    int Reused = 0; // attachments found already saved
};

// What one run has learned about the files in the folders it saves attachments into.
//
// Attachments with a common name ("report.pdf") form chains "report.pdf", "report_1.pdf",
// ... . Walking a chain from its start for every new attachment, asking the file system
// about each link, makes a run quadratic in the length of its chains (thousands of mails
// with an "image001.png" each). The index keeps, per chain, the files it holds by size and
// CRC-32 and the next number not taken, so that saving an attachment costs the same however
// long its chain is: it looks only at files of the same size and content, and writes at the
// next number.
//
// The file system stays the judge: a chain is listed from the disk the first time a run
// meets it, a file is taken for a copy only after a fresh look shows it unchanged since its
// CRC was taken (or after it is read again), and a file is written only where no file is
// (a name someone else took meanwhile is passed over, never written over). A file changed
// or deleted by someone else during the run may be passed over as if it were still what it
// was: the attachment then gets a later number, nothing is lost. Not bounded: a run's
// chains hold one small entry per file it saved or met.
class SavedFileIndex {
public:
    // Where one attachment went: an existing file of the same content, or a new file.
    struct Placed {
        std::string Name;
        bool Reused = false;
        platform::FileInfo Info; // of the final file
    };
    // Writes a new file at path; returns its facts, or nullopt when the name turned out to be
    // taken (nothing was written then). May throw.
    using WriteFunction = std::function<std::optional<platform::FileInfo>(const std::string& path)>;

    // Settles the attachment of the given size and CRC-32 in the chain dir + base [+ "_n"] + ext:
    // the first file of the chain with the same content, else a new file written by write at
    // the chain's next free name. skipName is never used (the run's temporary file).
    Placed Place(const std::string& dir, const std::string& base, const std::string& ext,
                 const std::string& skipName, std::int64_t size, std::uint32_t crc, const WriteFunction& write);

    void Clear() {
        chains_.clear();
        files_ = 0;
    }
    // Files known in all chains.
    std::size_t Size() const { return files_; }

private:
    struct Member {
        int Number = 0;
        platform::FileInfo Info;
        bool Gone = false; // deleted or replaced by a directory since: never a copy again
    };
    struct ContentKey {
        std::int64_t Size;
        std::uint32_t Crc;
        bool operator==(const ContentKey& o) const { return Size == o.Size && Crc == o.Crc; }
    };
    struct ContentHash {
        std::size_t operator()(const ContentKey& k) const {
            return std::hash<std::int64_t>()(k.Size) * 31 + k.Crc;
        }
    };
    struct Chain {
        std::vector<Member> Members;
        // Members whose CRC is known, by size and CRC; members met on disk and not read yet, by size.
        std::unordered_map<ContentKey, std::vector<std::size_t>, ContentHash> ByContent;
        std::unordered_map<std::int64_t, std::vector<std::size_t>> Unread;
        int NextFree = 0;
    };
    Chain& ChainOf(const std::string& dir, const std::string& base, const std::string& ext,
                   const std::string& skipName);
    void Add(Chain& chain, int number, const platform::FileInfo& info, std::optional<std::uint32_t> crc);
    std::unordered_map<std::string, Chain> chains_; // by dir + base + "\n" + ext
    std::size_t files_ = 0;
};

// The extension of an attachment's file name in lower case with its ".", taken after the
// last "\", "/" or ":"; "" when there is none.
std::string AttachmentExtension(const std::string& fileName);
// True when the extension occurs in ".png.jpg.jpeg.gif." (so ".jp" and "." count too).
bool IsPictureExtension(const std::string& extension);
// The sanitised base name, cut to 54 characters.
std::string AttachmentBaseName(const std::string& fileName);

// The name an attachment is saved under, before any "_1", "_2", ... : Base + Extension.
struct SafeAttachmentName {
    std::string Base;      // never empty, no leading dot, never a device name Windows reserves
    std::string Extension; // "" or "." and lower-case letters, digits and "_"
    bool Neutral = false;  // an active type, saved as text (Base then ends in "_" + its extension)
};
SafeAttachmentName SafeNameOf(const std::string& fileName);
// True for an extension (lower case, with its ".") of a type that a browser or web server
// runs or interprets rather than shows: HTML, SVG, XML and style sheets, scripts, server pages.
bool IsActiveExtension(const std::string& extension);
// True for CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9 in any case, also with an extension
// and with trailing dots or blanks before it (Windows takes all of them for the device).
bool IsReservedDeviceName(const std::string& name);

// An attachment that could not be saved, and why. A page without it would lose it in silence.
struct AttachmentFailure {
    std::string FileName; // as the mail names it
    std::string Reason;
};

// A file an attachment was saved as (or found already saved as), for the archive's manifest.
struct SavedAttachment {
    std::string Path; // the file's full path
    std::int64_t Size = 0;
    std::uint32_t Crc = 0;
    bool Picture = false;
};

// Saves the non-picture attachments into exportRoot + attachmentsDir and returns their
// links, joined by "; ". params is the tag's parameter list, accepted and not used.
// A failure of one attachment costs that attachment its link and is added to failures
// (the others are saved all the same); without a failures list it goes unreported. A full
// disk is not absorbed: its EFileError ends the call, as nothing more can be saved. Every
// file linked is added to saved, when given. The links are made for a page pageDepth
// folders below the root.
std::string SaveAttachments(outlook::AttachmentCollection& collection, const std::vector<std::string>& params,
                            const std::string& exportRoot, const std::string& attachmentsDir,
                            AttachmentCounts* counts = nullptr, SavedFileIndex* index = nullptr,
                            std::vector<AttachmentFailure>* failures = nullptr,
                            std::vector<SavedAttachment>* saved = nullptr, int pageDepth = 1);

// Saves the picture attachments into yearDir + "/attsimgs/" and returns picture tags,
// joined by "; ". Failures and saved files as SaveAttachments. The attachments whose
// 1-based index is in skip (pictures the page already shows in place) are left out.
std::string SaveInlineImages(outlook::AttachmentCollection& collection, const std::vector<std::string>& params,
                             const std::string& yearDir, AttachmentCounts* counts = nullptr,
                             SavedFileIndex* index = nullptr, std::vector<AttachmentFailure>* failures = nullptr,
                             std::vector<SavedAttachment>* saved = nullptr, const std::vector<int>* skip = nullptr);

// The pictures an HTML body shows in place: saves each attachment that one of contentIds
// names ("cid:" addresses; by Content-ID, else by file name) into yearDir + "/attsimgs/",
// like SaveInlineImages, and gives for each Content-ID found the page's address of the
// saved file ("./attsimgs/name", URL-encoded). The indexes of the attachments saved are
// added to shown. Failures and saved files as SaveAttachments.
std::map<std::string, std::string> SaveContentIdPictures(outlook::AttachmentCollection& collection,
                                                         const std::vector<std::string>& contentIds,
                                                         const std::string& yearDir, std::vector<int>& shown,
                                                         AttachmentCounts* counts = nullptr,
                                                         SavedFileIndex* index = nullptr,
                                                         std::vector<AttachmentFailure>* failures = nullptr,
                                                         std::vector<SavedAttachment>* saved = nullptr);

} // namespace quillmark
