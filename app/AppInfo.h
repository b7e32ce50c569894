// The executable's version strings, read once at program start from its own version block.
// The window title, the page footer and the application tags take the program's name and
// version from here.
#pragma once

#include <string>

namespace quillmark {

class TAppInfo {
public:
    // LanguageId "0409", everything else empty.
    TAppInfo();

    // Fills the ten version fields from the string table LanguageId + "04E4" of the version
    // block in VersionFile. With no block (or no file) every field keeps its value; an entry
    // missing from a present table gives the empty text. Nothing is reported.
    void Read();

    std::string LanguageId;
    std::string VersionFile;
    std::string CompanyName;
    std::string FileDescription;
    std::string FileVersion;
    std::string InternalName;
    std::string LegalCopyright;
    std::string LegalTradeMarks;
    std::string OriginalFilename;
    std::string ProductName;
    std::string ProductVersion;
    std::string Comments;
};

// The program's one instance.
TAppInfo& AppInfo();

// Program start: LanguageId := "041D", VersionFile := ExecutablePath, Read().
void InitAppInfo();

} // namespace quillmark
