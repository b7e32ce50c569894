// --rebuild-index: the index pages of a root written again from its manifest, without a store.
#include "app/cli/CliHost.h"

#include "SrcLib/uLib.h"
#include "platform/FileSystem.h"
#ifdef QUILLMARK_HAVE_ARCHIVE
#include "archive/IndexPages.h"
#include "archive/Manifest.h"
#endif

#include <chrono>
#include <filesystem>
#include <ostream>

namespace quillmark::cli {

int RunRebuildIndexCommand(CliHost& host) {
    const CliOptions& o = host.Options();
    const std::string root = platform::Utf8Path(std::filesystem::absolute(platform::NativePath(o.Out)));
#ifdef QUILLMARK_HAVE_ARCHIVE
    if (!platform::FileExists(IncludeTrailingPathDelimiter(root) + Manifest::RelativePath))
        return host.Fail(ExitError, o.Out + " holds no archive (" + Manifest::RelativePath + ")");
    const auto start = std::chrono::steady_clock::now();
    const IndexBuildStats s = RebuildArchiveIndex(root);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!o.Quiet && !o.Json)
        host.Out() << "Index of " << o.Out << ": " << s.Mails << " mails, " << s.Threads << " threads, " << s.Senders
                   << " senders; " << s.Files << " files, " << s.Bytes << " bytes (search data " << s.SearchBytes
                   << "), " << s.FilesRemoved << " old files removed, in " << seconds << " s\n";
    if (s.StartPageKept)
        host.Warn(o.Out + "/index.htm is not the archive's; left as it is (the index pages are in " +
                  std::string(ArchiveDirName) + "/)");
    return ExitOk;
#else
    (void)root;
    return host.Fail(ExitError, "this build keeps no archive manifest (built without SQLite)");
#endif
}

} // namespace quillmark::cli
