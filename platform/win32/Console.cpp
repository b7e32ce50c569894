#include "platform/Console.h"
#include "platform/CodePage.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

namespace quillmark::platform {

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide) {
        for (int i = 1; i < count; ++i)
            args.push_back(Utf8FromUtf16(reinterpret_cast<const char16_t*>(wide[i])));
        LocalFree(wide);
        return args;
    }
    // Without the wide command line, what the C runtime made of it is still better than nothing.
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i] ? argv[i] : "");
    return args;
}

void UseUtf8Console() {
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);
}

} // namespace quillmark::platform
