// --write-default-template: the built-in template as a file, to start a template of one's own.
#include "app/cli/CliHost.h"

#include "platform/FileSystem.h"
#include "template/BrowseTemplate.h"
#include "template/DefaultTemplate.h"

#include <ostream>

namespace quillmark::cli {

int RunWriteTemplateCommand(CliHost& host) {
    const std::string& path = host.Options().WriteDefaultTemplate;
    if (platform::PathExists(path)) return host.Fail(ExitError, path + " exists; not replaced");
    if (host.Options().Template == BrowseTemplateName) {
        platform::AtomicWriteOptions durable;
        durable.Durable = true;
        platform::WriteFileAtomic(path, BrowseTemplateText(), durable);
    } else {
        WriteDefaultTemplate(path);
    }
    if (!host.Options().Quiet && !host.Options().Json) host.Out() << "wrote the built-in template to " << path << '\n';
    return ExitOk;
}

} // namespace quillmark::cli
