// GMime for the mailbox backend: the header and its one-time start-up.
#pragma once

#include <gmime/gmime.h>

namespace quillmark::outlook::mailbox {

// Starts GMime once per process (safe to call from anywhere, any number of times).
void EnsureGMime();

} // namespace quillmark::outlook::mailbox
