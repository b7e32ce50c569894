// Saving a mail's attachments next to its page: pictures (by extension) into the year's
// "attsimgs" folder, shown inline; everything else into the shared attachments folder,
// linked. A file whose content is already saved under its name (same size, then same
// CRC-32) is not written again; a different file of the same name gets "_1", "_2", ...
#pragma once

#include "outlook/ObjectModel.h"

#include <string>
#include <vector>

namespace quillmark {

struct AttachmentCounts {
    int Saved = 0;  // files newly written
    int Reused = 0; // attachments found already saved
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
                            AttachmentCounts* counts = nullptr);

// Saves the picture attachments into yearDir + "/attsimgs/" and returns picture tags,
// joined by "; ".
std::string SaveInlineImages(outlook::AttachmentCollection& collection, const std::vector<std::string>& params,
                             const std::string& yearDir, AttachmentCounts* counts = nullptr);

} // namespace quillmark
