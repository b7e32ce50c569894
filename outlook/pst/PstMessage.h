// Messages of a data file as the object model shows them: the mail item with its
// properties by DispID, its attachments, and attached messages written out as .eml files.
#pragma once

#include "outlook/pst/PstFile.h"

#include <memory>
#include <string>

namespace quillmark::outlook::pst {

// The mail-item interface over one message of the store.
std::shared_ptr<MailItem> MakeMailItem(std::shared_ptr<StoreContext> store, std::shared_ptr<ItemHandle> message);

// The message's readable body: the plain-text body, else the text of the HTML body, else
// the text of the RTF body. problem receives what went wrong when a body was there but
// could not be read or decoded (the result is then the next form, or the empty text).
WideString BodyText(const ItemHandle& message, std::string& problem);

// The text of an HTML body property value (PR_HTML): UTF-16LE when the property is a
// Unicode string, else bytes in the message's Internet code page (Windows-1252 when it
// names none).
WideString HtmlBodyText(const RawProperty& html, std::uint32_t internetCodePage);

// The message as an RFC 5322 / MIME text: its own transport headers when it has them
// (else headers made from its properties), its bodies, and its attachments, attached
// messages included down to a fixed depth.
std::string BuildEml(const ItemHandle& message, int depth = 0);

} // namespace quillmark::outlook::pst
