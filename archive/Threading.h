// Conversations: mails grouped into reply trees the way mail readers do it. The links come
// from Message-ID, In-Reply-To and References; a mail whose parents are not in the archive
// still joins the others that name the same missing parent, and mails with no usable links
// are grouped by their subject with the reply and forward prefixes taken off.
#pragma once

#include <string>
#include <vector>

namespace quillmark {

// What threading needs of a mail.
struct ThreadInput {
    std::string MessageId;  // with or without the angle brackets
    std::string InReplyTo;  // the header as it stands (may hold several ids and comments)
    std::string References; // the header as it stands
    std::string Subject;
    double Date = 0; // orders siblings and threads
};

// A node of a reply tree: a mail (Mail is its index in the input), or a mail that is not
// there but was replied to by more than one that is (Mail == -1), which keeps its replies
// together as siblings.
struct ThreadNode {
    int Mail = -1;
    std::vector<ThreadNode> Children;
};

// The ids of a References / In-Reply-To header in the order they stand, without brackets.
// Text outside angle brackets (comments, a bare word) is ignored; a header without any
// bracketed id that is itself one token counts as that id.
std::vector<std::string> ParseMessageIds(const std::string& header);

// A subject without its leading "Re:", "Fwd:", "Fw:", "AW:", "WG:", "SV:", "VS:", "Antw:",
// "Ref:", "Re[2]:", "[list]" tags and the spaces around them, in lower case: two mails of
// one conversation give the same text.
std::string BaseSubject(const std::string& subject);

// True when the subject carries a reply or forward prefix (it is not the start of a
// conversation).
bool IsReplySubject(const std::string& subject);

// The threads of mails: roots ordered by their newest mail, newest first; children ordered
// by date, oldest first. Every mail appears exactly once. A chain of References that loops
// is cut where the loop would close; a Message-ID used by two mails is kept by the first,
// the second becomes a mail of its own. A chain of replies deeper than 1000 mails goes on
// as a new thread.
std::vector<ThreadNode> BuildThreads(const std::vector<ThreadInput>& mails);

} // namespace quillmark
