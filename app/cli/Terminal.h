// The little the command line needs to know about where its output goes.
#pragma once

namespace quillmark::cli {

// True when standard error is an interactive terminal (progress bar) rather than a file
// or a pipe (plain lines).
bool StderrIsTerminal();

} // namespace quillmark::cli
