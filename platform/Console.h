// The command line and the console as the program's UTF-8 text.
#pragma once

#include <string>
#include <vector>

namespace quillmark::platform {

// The program's arguments after its name, as UTF-8. On Windows they are taken from the
// wide command line (argv holds them in the ANSI code page, which loses what it lacks: a
// folder named 日本 would arrive as "??"); elsewhere argv is the bytes the user typed.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Makes the console show UTF-8 output as text (Windows: its output code page); elsewhere
// terminals take UTF-8 already.
void UseUtf8Console();

} // namespace quillmark::platform
