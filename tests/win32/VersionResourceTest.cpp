// The version resource of the built Windows programs, read two ways: through the program's
// own parser (the one TAppInfo uses on every platform) and through the system's
// GetFileVersionInfo / VerQueryValue. Both must agree.
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/VersionBlock.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <optional>

using namespace quillmark::platform;

namespace {

const char* const Entries[] = {"CompanyName",      "FileDescription", "FileVersion", "InternalName",
                               "LegalCopyright",   "LegalTradeMarks", "OriginalFilename", "ProductName",
                               "ProductVersion",   "Comments"};

struct SystemVersionInfo {
    std::vector<BYTE> Block;
    std::optional<std::string> Query(const std::string& path) {
        std::wstring wide;
        for (char c : path) wide += static_cast<wchar_t>(c);
        void* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(Block.data(), wide.c_str(), &value, &length) || !value) return std::nullopt;
        if (path == "\\") return std::string(static_cast<const char*>(value), length);
        // Strings: length counts characters, with the terminating NUL where there is one.
        std::u16string text(static_cast<const char16_t*>(value), length);
        if (auto nul = text.find(u'\0'); nul != std::u16string::npos) text.resize(nul);
        return Utf8FromUtf16(text);
    }
};

std::optional<SystemVersionInfo> SystemRead(const std::string& file) {
    std::u16string w = Utf16FromUtf8(file);
    std::wstring wide(w.begin(), w.end());
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(wide.c_str(), &handle);
    if (size == 0) return std::nullopt;
    SystemVersionInfo info;
    info.Block.resize(size);
    if (!GetFileVersionInfoW(wide.c_str(), 0, size, info.Block.data())) return std::nullopt;
    return info;
}

std::optional<std::string> OwnRead(const std::string& block, const std::string& path) {
    auto text = QueryVersionString(block, path);
    if (!text) return std::nullopt;
    return Utf8FromUtf16(*text);
}

// How often the UTF-16 key "VS_VERSION_INFO" occurs in the file (built at run time, so
// that this test's own constant data never holds it).
int BlockKeyCount(const std::string& bytes) {
    std::string key;
    for (char c : std::string("VS_VERSION") + "_INFO") {
        key += c;
        key += '\0';
    }
    int n = 0;
    for (auto at = bytes.find(key); at != std::string::npos; at = bytes.find(key, at + 1)) ++n;
    return n;
}

void CheckProgram(const std::string& file, const std::string& fileName) {
    SCOPED_TRACE(file);
    const std::string block = LoadVersionBlock(file);
    ASSERT_FALSE(block.empty());
    auto system = SystemRead(file);
    ASSERT_TRUE(system.has_value());

    const std::string table = "StringFileInfo\\041D04E4\\";
    for (const char* entry : Entries) {
        auto own = OwnRead(block, table + entry);
        ASSERT_TRUE(own.has_value()) << entry;
        EXPECT_EQ(own, system->Query("\\" + table + entry)) << entry;
    }
    EXPECT_EQ(OwnRead(block, table + "FileVersion"), "1.2.4.9");
    // One version number for the product and the file.
    EXPECT_EQ(OwnRead(block, table + "ProductVersion"), "1.2.4.9");
    EXPECT_EQ(OwnRead(block, table + "ProductName"), "Quillmark");
    EXPECT_EQ(OwnRead(block, table + "OriginalFilename"), fileName);
    EXPECT_EQ(OwnRead(block, table + "LegalTradeMarks"), "");
    // Only the Swedish table is there: the English one gives nothing either way.
    EXPECT_EQ(OwnRead(block, "StringFileInfo\\040904E4\\FileVersion"), std::nullopt);
    EXPECT_EQ(system->Query("\\StringFileInfo\\040904E4\\FileVersion"), std::nullopt);

    // The fixed part: 1.2.4.9 as numbers too, for the file and the product.
    auto fixed = system->Query("\\");
    ASSERT_TRUE(fixed.has_value());
    ASSERT_GE(fixed->size(), sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, fixed->data(), sizeof info);
    EXPECT_EQ(info.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(info.dwFileVersionMS, 0x00010002u);
    EXPECT_EQ(info.dwFileVersionLS, 0x00040009u);
    EXPECT_EQ(info.dwProductVersionMS, 0x00010002u);
    EXPECT_EQ(info.dwProductVersionLS, 0x00040009u);

    // One block in the file: the resource, not a second copy beside it.
    EXPECT_EQ(BlockKeyCount(ReadWholeFile(file)), 1);
}

} // namespace

TEST(VersionResource, TheTestProgramCarriesTheBlock) {
    CheckProgram(ExecutableFilePath(), "win32_tests.exe");
}

TEST(VersionResource, TheCommandLineProgramCarriesTheBlock) {
#ifdef QUILLMARK_EXPORT_EXE
    std::string exe = QUILLMARK_EXPORT_EXE;
    CheckProgram(exe, "quillmark-export.exe");
#else
    GTEST_SKIP() << "quillmark-export is not part of this build";
#endif
}
