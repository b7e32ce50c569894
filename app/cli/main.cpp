// quillmark-export: the export run from the command line, for scripts, schedules and
// machines without a desktop. This file only reads the arguments and hands over to the
// command they name (ExportCommand.cpp, ListCommand.cpp, WriteTemplateCommand.cpp).
#ifdef QUILLMARK_HAVE_APPINFO
#include "app/AppInfo.h"
#endif
#include "app/cli/CliHost.h"
#include "cli/BuildInfo.h"

#include "SrcLib/uLib.h"
#include "platform/CodePage.h"
#include "platform/Console.h"
#include "platform/FileSystem.h"

#include <iostream>

namespace quillmark::cli {
namespace {

AppIdentity BuildIdentity() {
    AppIdentity id;
#ifdef QUILLMARK_HAVE_APPINFO
    InitAppInfo();
    const TAppInfo& info = AppInfo();
    if (!info.ProductName.empty()) {
        id.ProductName = info.ProductName;
        id.ProductVersion = info.ProductVersion;
        id.FileVersion = info.FileVersion;
        id.Comments = info.Comments;
        id.ExecutableBaseName = ExecutableBaseName();
        return id;
    }
#endif
    // No readable version block (a stripped or foreign-built executable): the values the
    // build states, rather than a footer reading " v".
    id.ProductName = QUILLMARK_BUILD_PRODUCT_NAME;
    id.ProductVersion = QUILLMARK_BUILD_PRODUCT_VERSION;
    id.FileVersion = QUILLMARK_BUILD_FILE_VERSION;
    id.Comments = QUILLMARK_BUILD_COMMENTS;
    id.ExecutableBaseName = ExecutableBaseName();
    return id;
}

int Run(const std::string& program, int argc, char** argv) {
    InitStartupPaths();
    platform::UseUtf8Console();

    CliOptions o;
    try {
        o = ParseCliOptions(platform::CommandLineArguments(argc, argv));
    } catch (const EUsage& e) {
        std::cerr << program << ": " << e.Message() << "\nTry '" << program << " --help'.\n";
        return ExitUsage;
    }
    if (o.Help) {
        std::cout << HelpText(program);
        return ExitOk;
    }
    CliHost host(program, o, BuildIdentity(), std::cout, std::cerr);
    if (o.Version) {
        std::cout << host.Identity().ProductName << " v" << host.Identity().ProductVersion << " (" << program << ")\n";
        return ExitOk;
    }
    if (!o.WriteDefaultTemplate.empty()) return RunWriteTemplateCommand(host);
    if (o.RebuildIndex) return RunRebuildIndexCommand(host);
    if (o.List) return RunListCommand(host);
    return RunExportCommand(host);
}

} // namespace
} // namespace quillmark::cli

int main(int argc, char** argv) {
    quillmark::platform::PinLocalTimeZone();
    const std::string program =
        argc > 0 && argv[0] && *argv[0] ? quillmark::FileBaseName(argv[0]) : std::string("quillmark-export");
    try {
        return quillmark::cli::Run(program, argc, argv);
    } catch (const std::exception& e) {
        std::cerr << program << ": " << e.what() << '\n';
        return quillmark::cli::ExitError;
    }
}
