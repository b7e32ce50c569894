#include "app/Libraries.h"

namespace quillmark {

std::vector<std::string> LinkedLibraries() {
    // Which backends a build has is decided at configure time (app/CMakeLists.txt passes it
    // in); the list names only what this program really carries.
    std::vector<std::string> libs;
#ifdef QUILLMARK_LINKS_GMIME
    libs.push_back("GMime 3 and GLib - GNU LGPL 2.1 or later");
#endif
#ifdef QUILLMARK_LINKS_PFF
    libs.push_back("libpff and libbfio - GNU LGPL 3 or later");
#endif
#ifdef QUILLMARK_LINKS_SQLITE
    libs.push_back("SQLite - public domain");
#endif
#ifdef QUILLMARK_LINKS_GUMBO
    libs.push_back("Gumbo HTML parser - Apache License 2.0");
#endif
#ifdef _WIN32
    libs.push_back("MinGW-w64 runtime - ZPL 2.1 and public domain; libstdc++ and libgcc - GNU GPL 3 with the GCC "
                   "Runtime Library Exception");
#endif
    return libs;
}

} // namespace quillmark
