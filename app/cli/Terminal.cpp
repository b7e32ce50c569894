#include "app/cli/Terminal.h"

// The one system call of the command line. It stays here, beside its only user, until the
// platform layer offers it.
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace quillmark::cli {

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(2) != 0;
#else
    return isatty(2) != 0;
#endif
}

} // namespace quillmark::cli
