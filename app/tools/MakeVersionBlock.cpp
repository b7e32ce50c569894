// Build step: writes a C++ source holding the executable's version block, so that the block
// sits in the executable file as the Windows version resource would.
//
//   quillmark-make-version-block OUT.cpp FILEVERSION PRODUCTVERSION TABLE [Name=Value ...]
//
// Values are UTF-8; TABLE is the string table's language and code page, e.g. 041D04E4.
#include "platform/CodePage.h"
#include "platform/VersionBlock.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

using namespace quillmark::platform;

int main(int argc, char** argv) {
    if (argc < 5) {
        std::cerr << "usage: " << argv[0] << " OUT.cpp FILEVERSION PRODUCTVERSION TABLE [Name=Value ...]\n";
        return 2;
    }
    VersionBlockContents contents;
    auto fileVersion = ParseVersionNumber(argv[2]);
    auto productVersion = ParseVersionNumber(argv[3]);
    std::string table = argv[4];
    if (!fileVersion || !productVersion || table.size() != 8) {
        std::cerr << argv[0] << ": bad version number or table name\n";
        return 2;
    }
    contents.FileVersion = *fileVersion;
    contents.ProductVersion = *productVersion;
    VersionStringTable strings{table, {}};
    for (int i = 5; i < argc; ++i) {
        std::string arg = argv[i];
        auto eq = arg.find('=');
        if (eq == std::string::npos || eq == 0) {
            std::cerr << argv[0] << ": expected Name=Value, got " << arg << "\n";
            return 2;
        }
        strings.Strings.emplace_back(arg.substr(0, eq), Utf16FromUtf8(arg.substr(eq + 1)));
    }
    contents.Tables.push_back(strings);
    auto lang = static_cast<std::uint16_t>(std::stoul(table.substr(0, 4), nullptr, 16));
    auto cp = static_cast<std::uint16_t>(std::stoul(table.substr(4, 4), nullptr, 16));
    contents.Translations.emplace_back(lang, cp);

    const std::string block = BuildVersionBlock(contents);
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << "// Generated at build time: the executable's version block (VS_VERSIONINFO).\n"
           "// It is never referenced; the program finds it in its own file.\n"
           "namespace quillmark_version_block {\n"
           "extern const unsigned char Bytes[" << block.size() << "];\n"
           "[[gnu::used]] alignas(4) const unsigned char Bytes[" << block.size() << "] = {";
    for (std::size_t i = 0; i < block.size(); ++i) {
        if (i % 16 == 0) out << "\n   ";
        char buf[8];
        std::snprintf(buf, sizeof buf, " 0x%02x,", static_cast<unsigned char>(block[i]));
        out << buf;
    }
    out << "\n};\n}\n";
    out.close();
    if (!out) {
        std::cerr << argv[0] << ": cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
