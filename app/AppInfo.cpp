#include "app/AppInfo.h"

#include "SrcLib/uLib.h"
#include "platform/CodePage.h"
#include "platform/VersionBlock.h"

namespace quillmark {

TAppInfo::TAppInfo() : LanguageId("0409") {}

void TAppInfo::Read() {
    const std::string block = platform::LoadVersionBlock(VersionFile);
    if (block.empty()) return;
    // Only the table of the chosen language in code page 1252 is read; there is no fallback
    // to another language.
    const std::string table = "StringFileInfo\\" + LanguageId + "04E4\\";
    const struct {
        const char* Name;
        std::string TAppInfo::*Field;
    } entries[] = {
        {"CompanyName", &TAppInfo::CompanyName},         {"FileDescription", &TAppInfo::FileDescription},
        {"FileVersion", &TAppInfo::FileVersion},         {"InternalName", &TAppInfo::InternalName},
        {"LegalCopyright", &TAppInfo::LegalCopyright},   {"LegalTradeMarks", &TAppInfo::LegalTradeMarks},
        {"OriginalFilename", &TAppInfo::OriginalFilename}, {"ProductName", &TAppInfo::ProductName},
        {"ProductVersion", &TAppInfo::ProductVersion},   {"Comments", &TAppInfo::Comments},
    };
    for (const auto& e : entries) {
        // An entry the table lacks reads as empty text.
        auto text = platform::QueryVersionString(block, table + e.Name);
        this->*e.Field = text ? platform::Utf8FromUtf16(*text) : std::string();
    }
}

TAppInfo& AppInfo() {
    static TAppInfo instance;
    return instance;
}

void InitAppInfo() {
    TAppInfo& info = AppInfo();
    info.LanguageId = "041D";
    info.VersionFile = ExecutablePath();
    info.Read();
}

} // namespace quillmark
