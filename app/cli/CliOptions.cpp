#include "app/cli/CliOptions.h"

#include "SrcLib/DateTime.h"

namespace quillmark::cli {

namespace {

bool TakesValue(const std::string& name) {
    static const char* const withValue[] = {"--store", "--folder", "--template", "--out",     "--atts",
                                            "--from",  "--to",     "--min-body", "--subject", "--write-default-template"};
    for (const char* n : withValue)
        if (name == n) return true;
    return false;
}

} // namespace

CliOptions ParseCliOptions(const std::vector<std::string>& args) {
    CliOptions o;
    bool folderGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (name.rfind("--", 0) == 0) {
            const auto eq = name.find('=');
            if (eq != std::string::npos) {
                value = name.substr(eq + 1);
                name.resize(eq);
            }
        }
        if (name == "-h" || name == "--help") {
            o.Help = true;
            continue;
        }
        if (TakesValue(name)) {
            if (!value) {
                if (i + 1 >= args.size()) throw EUsage("option " + name + " needs a value");
                value = args[++i];
            }
        } else if (value) {
            throw EUsage("option " + name + " takes no value");
        }

        if (name == "--version") o.Version = true;
        else if (name == "--list") o.List = true;
        else if (name == "--quiet" || name == "-q") o.Quiet = true;
        else if (name == "--resume") o.Resume = true;
        else if (name == "--json") o.Json = true;
        else if (name == "--strict") o.Strict = true;
        else if (name == "--rebuild-index") o.RebuildIndex = true;
        else if (name == "--recursive") o.Recursive = true;
        else if (name == "--store") o.Stores.push_back(*value);
        else if (name == "--folder") {
            o.Folder = *value;
            folderGiven = true;
        } else if (name == "--template") o.Template = *value;
        else if (name == "--out") o.Out = *value;
        else if (name == "--atts") o.Atts = *value;
        else if (name == "--from") o.From = *value;
        else if (name == "--to") o.To = *value;
        else if (name == "--min-body") o.MinBody = *value;
        else if (name == "--subject") o.Subjects.push_back(*value);
        else if (name == "--write-default-template") o.WriteDefaultTemplate = *value;
        else throw EUsage("unknown option " + name);
    }

    // The window falls back silently on an unreadable bound (the field turns no colour for
    // it); a script should rather hear that its --from was not understood.
    if (o.From && !o.From->empty() && !TryParseDateTime(*o.From))
        throw EUsage("--from: not a date-time (yyyy-mm-dd [hh:nn[:ss]]): " + *o.From);
    if (!o.To.empty() && !TryParseDateTime(o.To))
        throw EUsage("--to: not a date-time (yyyy-mm-dd [hh:nn[:ss]]): " + o.To);
    if (!o.MinBody.empty() && !TryParseInt(o.MinBody)) throw EUsage("--min-body: not a whole number: " + o.MinBody);
    if (o.Out.empty()) throw EUsage("--out needs a directory");

    const bool exporting = !o.Help && !o.Version && !o.List && o.WriteDefaultTemplate.empty() && !o.RebuildIndex;
    if (exporting && (!folderGiven || SplitFolderPath(o.Folder).empty()))
        throw EUsage("which folder? Give --folder PATH (see --list)");
    return o;
}

std::vector<std::string> SplitFolderPath(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto slash = path.find('/', start);
        const auto end = slash == std::string::npos ? path.size() : slash;
        if (end > start) parts.push_back(path.substr(start, end - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return parts;
}

std::string HelpText(const std::string& p) {
    return "Usage: " + p + " --folder PATH [options]\n"
           "       " + p + " --list [--store PATH]...\n"
           "       " + p + " --write-default-template FILE [--template builtin:browse]\n"
           "       " + p + " --rebuild-index --out DIR\n"
           "\n"
           "Turns the mail of one folder of a mail store into a static archive of HTML pages:\n"
           "one page per mail, named m<yyyymmddhhnn>_<subject>.htm, in a folder per year below\n"
           "the output directory; attachments are saved once into the attachments directory and\n"
           "linked, pictures into <year>/attsimgs/ and shown in the page.\n"
           "\n"
           "Store and folder:\n"
           "  --store PATH      a mail store to open: an mbox file, a Maildir or Thunderbird-style\n"
           "                    tree, a directory of .eml files, or an Outlook .pst/.ost file.\n"
           "                    Repeatable; each store is one top folder. Default: the bundled\n"
           "                    sample store.\n"
#ifdef _WIN32
           "                    \"outlook:\" (given alone) opens Outlook itself through COM\n"
           "                    automation: the running Outlook, else a new one; every store\n"
           "                    of its profile is a top folder, Public Folders left out.\n"
#endif
           "  --folder PATH     the folder to export, by its display names from the top of the\n"
           "                    tree joined by \"/\", e.g. \"store/Inbox\". Only that folder,\n"
           "                    not its subfolders. Names holding \"/\" are matched as they stand.\n"
           "  --recursive       export the folder and every folder below it in one run: the\n"
           "                    folder into the output directory as without this, each\n"
           "                    subfolder into <out>/<its path>/<year>/ (names made safe as\n"
           "                    for pages), one archive and one index over all of them. The\n"
           "                    filters and --resume apply to each folder as to one alone.\n"
           "  --list            print the folder tree with the number of items of each folder\n"
           "                    and end.\n"
           "\n"
           "Output:\n"
           "  --template FILE   the page template (<#Tag> placeholders). Default: the built-in\n"
           "                    template, used from memory. \"builtin:browse\" is the second\n"
           "                    built-in template: UTF-8, fits a phone, with links to the\n"
           "                    previous and next mail by date and in the thread, and the\n"
           "                    thread's tree.\n"
           "  --write-default-template FILE\n"
           "                    write the built-in template to FILE, byte for byte, to start a\n"
           "                    template of your own, and end. With --template builtin:browse,\n"
           "                    that one. An existing FILE is not replaced.\n"
           "  --rebuild-index   write the archive's index pages of --out again from its\n"
           "                    manifest, and end. Every run does this when it ends:\n"
           "                    index.htm in the root (start page and search) and the folder\n"
           "                    _archive/ (by date, threads, senders, search data).\n"
           "  --out DIR         the export root. Default: ./export. Created when missing.\n"
           "  --atts NAME       the attachments directory below the root. Default: atts.\n"
           "                    Created when missing.\n"
           "\n"
           "Which mail (a mail is exported when it passes all of these):\n"
           "  --from DATETIME   only mail at or after this time: yyyy-mm-dd [hh:nn[:ss]].\n"
           "  --to DATETIME     only mail at or before this time. Default: 2099-12-31 00:00.\n"
           "                    The time of a mail is its received time, else its creation time.\n"
           "  --min-body N      only mail whose plain-text body has at least N characters.\n"
           "  --subject EXPR    only mail whose subject matches the regular expression EXPR\n"
           "                    somewhere. Repeatable: a mail passes when any one matches. An\n"
           "                    expression that does not compile is a usage error (exit\n"
           "                    status 2, nothing is read).\n"
           "  --resume          export only the mails the root's archive does not hold yet\n"
           "                    (.quillmark/archive.sqlite: every page written into the\n"
           "                    root, by mail and store), whatever their dates and their\n"
           "                    order in the folder. In a root made by an earlier version,\n"
           "                    the run starts at the From bound that version kept in\n"
           "                    .quillmark-state instead.\n"
           "\n"
           "Other:\n"
           "  --strict          a template tag that does not exist is an error (exit status 2)\n"
           "                    instead of a warning; the pages would show \"tag not found\".\n"
           "  --json            print the summary of the run as one JSON object on standard\n"
           "                    output (no per-mail lines), for scripts.\n"
           "  --quiet, -q       no progress, no per-mail lines, no summary; errors still go\n"
           "                    to standard error.\n"
           "  --version         print the program's name and version and end.\n"
           "  --help, -h        print this text and end.\n"
           "\n"
           "On a terminal a progress line shows the mails done of all, the mails per second\n"
           "and the time left; otherwise every mail examined is printed as a line\n"
           "(\"#17 | 2005-03-01 14:02:10 | Offer\", with \"skipped\" in front of mail a filter\n"
           "left out). A summary follows the run. Ctrl-C stops the run between two mails:\n"
           "the pages written so far stay.\n"
           "\n"
           "A page already in the archive is replaced only by the same mail exported again;\n"
           "a different mail whose page name is taken gets the next free name (_1, _2, ...).\n"
           "The same mail twice in the folder (same Message-ID and content) makes one page.\n"
           "Every character of a mail is kept: pages in the template's character set hold\n"
           "what it cannot as character references, and names keep the letters of every\n"
           "script.\n"
           "\n"
           "Mail that cannot be written whole (its page, or one of its attachments, refused by\n"
           "the file system or the store) is named on standard error, its page is not written,\n"
           "and the run goes on with the next mail; --resume tries it again next time (it is\n"
           "not in the archive). A full disk stops the run: the pages written before are\n"
           "whole, none links to an attachment that is missing. One run at a time writes\n"
           "into an export root (the lock file .quillmark-lock in it says which); files\n"
           "half-written by a run that was killed are removed by the next run.\n"
           "\n"
           "Errors and warnings go to standard error, each once, after the program's name.\n"
           "A template tag that does not exist is named with its line in the template (the\n"
           "pages show \"tag not found\" in its place); --strict refuses the template.\n"
           "\n"
           "Examples (on the bundled sample store, the default when no --store is given):\n"
           "  " + p + " --list\n"
           "  " + p + " --folder store/Inbox --out archive\n"
           "  " + p + " --folder store/Inbox/Projects --from 2022-01-01 --subject '^Re:'\n"
           "  " + p + " --folder store/Inbox --out archive --resume --json\n"
           "  " + p + " --write-default-template my-template.htm\n"
           "  " + p + " --folder store/Saved --out archive --template my-template.htm --strict\n"
           "\n"
           "Exit status:\n"
           "  0    complete: every mail that passed the filters was written\n"
           "  1    error: the run ended early (message on standard error), e.g. the disk is\n"
           "       full or the store cannot be read\n"
           "  2    wrong arguments: an unknown option, a date or number that cannot be read,\n"
           "       a folder that is not there, a --subject expression that does not compile,\n"
           "       or (with --strict) a template tag that does not exist; no mail was read\n"
           "  3    finished with failures: every mail was visited, but some could not be\n"
           "       written (each named on standard error)\n"
           "  4    the export root is in use by another run (its process is named); nothing\n"
           "       was done\n"
           "  130  stopped by Ctrl-C\n";
}

} // namespace quillmark::cli
