// The mail template the program carries in its code, written to disk when the template file
// the window names does not exist, so that a first export has a template to use.
#pragma once

#include <string>
#include <vector>

namespace quillmark {

// The 40 lines of the built-in template, without line ends. Line 23 holds the single byte
// 0xE5 ("å" in ISO-8859-1, the character set the template declares).
std::vector<std::string> DefaultTemplateLines();

// The template as it is written to disk: every line followed by CR LF (1140 bytes).
std::string DefaultTemplateText();

// Writes the template to path, replacing a file that is there. Throws EFCreateError
// "Cannot create file %s" when the file cannot be created and EWriteError
// "Stream write error" when writing fails; in both cases no file is left at path.
void WriteDefaultTemplate(const std::string& path);

} // namespace quillmark
