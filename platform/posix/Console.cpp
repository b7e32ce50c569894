#include "platform/Console.h"

namespace quillmark::platform {

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i] ? argv[i] : "");
    return args;
}

void UseUtf8Console() {}

} // namespace quillmark::platform
