#include "outlook/mailbox/GMimeSupport.h"

#include <mutex>

namespace quillmark::outlook::mailbox {

void EnsureGMime() {
    // GMime is started once and never shut down: stores may be opened and closed many times
    // in one run, and g_mime_shutdown would pull the charset tables from under live messages.
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

} // namespace quillmark::outlook::mailbox
