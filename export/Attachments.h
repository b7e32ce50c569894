// Saving a mail's attachments next to its page: pictures (by extension) into the year's
// "attsimgs" folder, shown inline; everything else into the shared attachments folder,
// linked. A file whose content is already saved under its name (same size, then same
// CRC-32) is not written again; a different file of the same name gets "_1", "_2", ...
#pragma once

#include "outlook/ObjectModel.h"
#include "platform/FileSystem.h"

#include <cstdint>
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

// Saves the non-picture attachments into exportRoot + attachmentsDir and returns their
// links, joined by "; ". params is the tag's parameter list, accepted and not used.
// Every failure of one attachment is absorbed; that attachment gets no link.
std::string SaveAttachments(outlook::AttachmentCollection& collection, const std::vector<std::string>& params,
                            const std::string& exportRoot, const std::string& attachmentsDir,
                            AttachmentCounts* counts = nullptr, SavedFileIndex* index = nullptr);

// Saves the picture attachments into yearDir + "/attsimgs/" and returns picture tags,
// joined by "; ".
std::string SaveInlineImages(outlook::AttachmentCollection& collection, const std::vector<std::string>& params,
                             const std::string& yearDir, AttachmentCounts* counts = nullptr,
                             SavedFileIndex* index = nullptr);

} // namespace quillmark
