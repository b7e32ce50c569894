// Fuzz target for the names the export makes from mail: page names, the file-name cleaning,
// and the names attachments are saved under. Whatever a mail's subject or attachment name
// holds, the name made must stay inside its folder, must not be one the file system treats
// specially, and must never look like one of the run's own temporary files (the next run
// would delete it).
#include "SrcLib/DateTime.h"
#include "SrcLib/uLib.h"
#include "export/Attachments.h"
#include "export/ExportRun.h"
#include "export/PagePlacer.h"
#include "export/RootGuard.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace quillmark;

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

bool HoldsDelimiterOrControl(const std::string& name) {
    for (unsigned char c : name)
        if (c == '/' || c == '\\' || c == ':' || c < 0x20 || c == 0x7F) return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > 4096) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);

    // A page name: "m" + minute + "_" + cleaned subject + ".htm", whatever the subject.
    const double time = EncodeDate(1990 + data[0] % 100, 1 + data[1] % 12, 1) + (data[1] / 256.0);
    const std::string page = PageFileName(time, text);
    Check(page.size() >= 18 && page[0] == 'm' && page.compare(page.size() - 4, 4, ".htm") == 0, "page name form");
    Check(!HoldsDelimiterOrControl(page), "page name holds a delimiter");
    Check(!IsLeftoverTemporaryName(page), "page name looks temporary");
    const std::string numbered = NumberedPageName(page, 1 + data[0] % 50);
    Check(numbered.compare(0, page.size() - 4, page, 0, page.size() - 4) == 0, "numbered name keeps the stem");
    Check(numbered.compare(numbered.size() - 4, 4, ".htm") == 0, "numbered name keeps .htm");

    const std::string clean = SanitizeFileName(text);
    Check(!HoldsDelimiterOrControl(clean), "cleaned name holds a delimiter");

    // An attachment's saved name.
    const SafeAttachmentName safe = SafeNameOf(text);
    const std::string saved = safe.Base + safe.Extension;
    Check(!safe.Base.empty() && saved[0] != '.', "saved name empty or hidden");
    Check(!HoldsDelimiterOrControl(saved), "saved name holds a delimiter");
    Check(!IsReservedDeviceName(saved), "saved name is a device name");
    Check(!IsActiveExtension(safe.Extension), "saved name keeps an active type");
    Check(safe.Extension.empty() || (safe.Extension[0] == '.' && safe.Extension.find('.', 1) == std::string::npos),
          "saved extension form");
    Check(saved.back() != ' ' && saved.back() != '.', "saved name ends in a blank or dot");
    for (const std::string& n : {saved, safe.Base + "_1" + safe.Extension}) {
        Check(!IsLeftoverTemporaryName(n), "saved name looks temporary");
        Check(!platform::IsOwnTemporaryName(n), "saved name looks like an atomic write's");
    }
    // A picture keeps its extension, so that the page can show it.
    const std::string ext = AttachmentExtension(text);
    if (IsPictureExtension(ext) && ext.size() > 1 && ext.back() != '.' && ext.back() != ' ')
        Check(safe.Extension == ext || text.find_last_of(". ") + 1 == text.size(), "a picture lost its extension");
    return 0;
}
