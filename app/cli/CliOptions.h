// The command line of quillmark-export: what the user asked for, read from the arguments.
#pragma once

#include "platform/Exceptions.h"

#include <optional>
#include <string>
#include <vector>

namespace quillmark::cli {

// The program's exit status; --help and the README list them.
enum ExitCode : int {
    ExitOk = 0,           // every mail that passed the filters was written
    ExitError = 1,        // an error ended the program (a full disk among them); message on standard error
    ExitUsage = 2,        // wrong arguments
    ExitFailures = 3,     // the run went through the folder, but some mails were not written (named on standard error)
    ExitRootInUse = 4,    // another run holds the export root; nothing was done
    ExitStopped = 130,    // stopped by Ctrl-C
};

// A mistake in the arguments: the program prints the message and a hint, and ends with 2.
class EUsage : public Exception {
public:
    using Exception::Exception;
};

struct CliOptions {
    bool Help = false;
    bool Version = false;
    bool List = false;
    bool Quiet = false;
    bool Resume = false;
    bool Json = false;   // the summary as one JSON object, no per-mail lines
    bool Strict = false; // a template tag that does not exist is an error, not a warning
    bool RebuildIndex = false;       // only write the archive's index pages of --out
    bool Recursive = false;          // the folder and every folder below it
    std::vector<std::string> Stores; // none given: the bundled sample store
    std::string Folder;              // display names from the top of the tree, joined by "/"
    std::string Template;            // none given: the built-in template, from memory
    std::string Out = "export";
    std::string Atts = "atts";
    std::optional<std::string> From;
    std::string To;
    std::string MinBody;
    std::vector<std::string> Subjects;
    std::string WriteDefaultTemplate;
};

// Reads the arguments after the program name. Options take their value as the next
// argument or after "=" (--out=DIR). Throws EUsage for an unknown option, a missing value,
// an unreadable date or number, or an export without --folder.
CliOptions ParseCliOptions(const std::vector<std::string>& args);

// The text of --help.
std::string HelpText(const std::string& programName);

// The folder path split at "/" into display names ("" parts dropped).
std::vector<std::string> SplitFolderPath(const std::string& path);

} // namespace quillmark::cli
