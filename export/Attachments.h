// Saving a mail's attachments next to its page: pictures (by extension) into the year's
// "attsimgs" folder, shown inline; everything else into the shared attachments folder,
// linked. A file whose content is already saved under its name (same size, then same
// CRC-32) is not written again; a different file of the same name gets "_1", "_2", ...
#pragma once

#include "outlook/ObjectModel.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace quillmark {

struct AttachmentCounts {
    int Saved = 0;  // files newly written
    int Reused = 0; // attachments found already saved
};

// CRC-32 values of files already read during one run, so that a file met again as a
// candidate name is not read again. An entry counts only while the file's size and
// last-write time are those it was read with. Bounded: it starts afresh when full.
class Crc32Cache {
public:
    std::uint32_t Crc(const std::string& path, std::int64_t size);
    void Clear() { entries_.clear(); }
    std::size_t Size() const { return entries_.size(); }
    static constexpr std::size_t MaxEntries = 4096;

private:
    struct Entry {
        std::int64_t Size;
        double WriteTime;
        std::uint32_t Crc;
    };
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
                            AttachmentCounts* counts = nullptr, Crc32Cache* cache = nullptr);

// Saves the picture attachments into yearDir + "/attsimgs/" and returns picture tags,
// joined by "; ".
std::string SaveInlineImages(outlook::AttachmentCollection& collection, const std::vector<std::string>& params,
                             const std::string& yearDir, AttachmentCounts* counts = nullptr,
                             Crc32Cache* cache = nullptr);

} // namespace quillmark
