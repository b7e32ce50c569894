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
// ... that every new attachment of that name walks from the start; asking the file system
// about every link of the chain each time makes a run quadratic in the length of the
// chains. The index remembers the files it has seen, so that a walk asks the file system
// only about names it has never seen and about files whose size matches (their facts are
// taken afresh before they are compared). It also keeps the CRC-32 of files it has read,
// valid while their size and last-write time are those it was read with.
//
// The file system stays the judge of everything that decides a name: a name is free only
// when a look says so, and a match is confirmed by a fresh look and the CRC. A file deleted
// by someone else during the run may be passed over as if still there (the mail then gets
// a later number, nothing is lost). Bounded: it starts afresh when full.
class SavedFileIndex {
public:
    // The facts about path: from memory when this run has seen the file, else by a look
    // (and remembered when it exists; lookedNow then says so).
    std::optional<platform::FileInfo> Look(const std::string& path, bool* lookedNow = nullptr);
    // The facts as they are now, by a look (and remembered, or forgotten when gone).
    std::optional<platform::FileInfo> LookAgain(const std::string& path);
    void Remember(const std::string& path, const platform::FileInfo& info);
    // info: what a look at path just said (its size and time decide whether a CRC held holds).
    std::uint32_t Crc(const std::string& path, const platform::FileInfo& info);
    void Clear() { entries_.clear(); }
    std::size_t Size() const { return entries_.size(); }
    static constexpr std::size_t MaxEntries = 1u << 14;

private:
    struct Entry {
        platform::FileInfo Info;
        std::optional<std::uint32_t> Crc; // of the file as Info describes it
    };
    Entry& Slot(const std::string& path);
    std::unordered_map<std::string, Entry> entries_;
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
// file linked is added to saved, when given.
std::string SaveAttachments(outlook::AttachmentCollection& collection, const std::vector<std::string>& params,
                            const std::string& exportRoot, const std::string& attachmentsDir,
                            AttachmentCounts* counts = nullptr, SavedFileIndex* index = nullptr,
                            std::vector<AttachmentFailure>* failures = nullptr,
                            std::vector<SavedAttachment>* saved = nullptr);

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
