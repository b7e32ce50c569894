// The files inside a winmail.dat (TNEF, application/ms-tnef), read with libytnef where the
// build has it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillmark::outlook::mailbox {

struct TnefFile {
    std::string Name;  // UTF-8, as the sender named it; may be empty
    std::string Bytes;
};

// The attached files of a TNEF stream, in order; nothing when it holds none or cannot be
// read (the winmail.dat is kept as an attachment either way).
std::vector<TnefFile> ReadTnef(std::string_view data);

} // namespace quillmark::outlook::mailbox
