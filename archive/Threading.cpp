#include "archive/Threading.h"

#include <algorithm>
#include <functional>
#include <unordered_map>

namespace quillmark {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The length of a reply or forward prefix at the start of s ("re:", "aw: ", "re[2]:",
// "fwd:"), or 0. Prefixes of the common mail readers in English and the Nordic and German
// languages.
std::size_t PrefixLength(const std::string& s) {
    static const char* const words[] = {"re", "fwd", "fw", "aw", "wg", "sv", "vs", "antw", "ref", "tr", "rif"};
    for (const char* w : words) {
        const std::size_t n = std::char_traits<char>::length(w);
        if (s.size() <= n) continue;
        bool same = true;
        for (std::size_t i = 0; i < n && same; ++i) same = Lower(s[i]) == w[i];
        if (!same) continue;
        std::size_t at = n;
        // A counter some readers add: "Re[2]:", "Re(2):".
        if (at < s.size() && (s[at] == '[' || s[at] == '(')) {
            const char close = s[at] == '[' ? ']' : ')';
            std::size_t j = at + 1;
            while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j;
            if (j > at + 1 && j < s.size() && s[j] == close) at = j + 1;
        }
        while (at < s.size() && s[at] == ' ') ++at;
        if (at < s.size() && (s[at] == ':' || s[at] == '\xEF')) {
            if (s[at] == ':') return at + 1;
            // The full-width colon (U+FF1A) some East Asian readers write.
            if (s.compare(at, 3, "\xEF\xBC\x9A") == 0) return at + 3;
        }
    }
    return 0;
}

// Strips leading blanks, "[list]" tags and reply prefixes; tells whether a prefix was seen.
std::string Strip(const std::string& subject, bool& reply) {
    std::string s = subject;
    reply = false;
    for (;;) {
        std::size_t i = 0;
        while (i < s.size() && IsSpace(s[i])) ++i;
        s.erase(0, i);
        if (!s.empty() && s[0] == '[') {
            const auto close = s.find(']');
            if (close != std::string::npos && close < 40) {
                s.erase(0, close + 1);
                continue;
            }
        }
        const std::size_t n = PrefixLength(s);
        if (n == 0) break;
        reply = true;
        s.erase(0, n);
    }
    while (!s.empty() && IsSpace(s.back())) s.pop_back();
    return s;
}

struct Container {
    int Mail = -1;
    int Parent = -1;
    std::vector<int> Children;
    double Date = 0; // the earliest date in the subtree, for ordering siblings
    double Newest = 0;
};

class Threader {
public:
    explicit Threader(const std::vector<ThreadInput>& mails) : mails_(mails) {}

    std::vector<ThreadNode> Run() {
        for (int i = 0; i < static_cast<int>(mails_.size()); ++i) Link(i);
        std::vector<int> roots;
        for (int c = 0; c < static_cast<int>(all_.size()); ++c)
            if (all_[c].Parent == -1) roots.push_back(c);
        roots = Prune(roots, true);
        roots = GroupBySubject(roots);
        for (int r : roots) Dates(r);
        std::sort(roots.begin(), roots.end(), [this](int a, int b) {
            if (all_[a].Newest != all_[b].Newest) return all_[a].Newest > all_[b].Newest;
            return a < b;
        });
        std::vector<ThreadNode> out;
        out.reserve(roots.size());
        for (int r : roots) out.push_back(Node(r));
        return out;
    }

private:
    int NewContainer() {
        all_.emplace_back();
        return static_cast<int>(all_.size()) - 1;
    }
    int ContainerOf(const std::string& id) {
        auto it = byId_.find(id);
        if (it != byId_.end()) return it->second;
        const int c = NewContainer();
        byId_.emplace(id, c);
        return c;
    }
    // True when a is b or lies below b, or lies so deep that b must not go below it: a
    // chain of replies is cut at kMaxDepth, which bounds both the walks up the tree here
    // and the depth of the trees the pages show (and of the recursion that writes them).
    bool Below(int a, int b) const {
        int depth = 0;
        for (int x = a; x != -1; x = all_[x].Parent)
            if (x == b || ++depth > kMaxDepth) return true;
        return false;
    }
    static constexpr int kMaxDepth = 1000;
    void Detach(int c) {
        const int p = all_[c].Parent;
        if (p == -1) return;
        auto& siblings = all_[p].Children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), c), siblings.end());
        all_[c].Parent = -1;
    }
    void Attach(int child, int parent) {
        Detach(child);
        all_[child].Parent = parent;
        all_[parent].Children.push_back(child);
    }

    void Link(int i) {
        const ThreadInput& m = mails_[static_cast<std::size_t>(i)];
        const auto own = ParseMessageIds(m.MessageId);
        int self;
        if (own.empty() || (byId_.count(own[0]) && all_[byId_[own[0]]].Mail != -1)) {
            // No id, or an id a mail before already holds: a mail of its own, which no
            // reference can name.
            self = NewContainer();
        } else {
            self = ContainerOf(own[0]);
        }
        all_[self].Mail = i;

        std::vector<std::string> refs = ParseMessageIds(m.References);
        const auto reply = ParseMessageIds(m.InReplyTo);
        // In-Reply-To names the direct parent; References may be cut short by a mail reader.
        if (!reply.empty() && (refs.empty() || refs.back() != reply[0])) refs.push_back(reply[0]);

        // Each reference is the parent of the next, unless that would close a loop or
        // undo a link an earlier mail made.
        int previous = -1;
        for (const auto& ref : refs) {
            const int c = ContainerOf(ref);
            if (previous != -1 && c != previous && all_[c].Parent == -1 && !Below(previous, c)) Attach(c, previous);
            previous = c;
        }
        // The mail's own references are the word on its parent.
        if (previous != -1 && previous != self && !Below(previous, self)) {
            Attach(self, previous);
        } else if (previous == -1) {
            Detach(self);
        }
    }

    // Drops empty containers without children and lifts the children of empty ones into
    // their place, except at the top where an empty container keeps two or more replies to
    // a missing mail together.
    std::vector<int> Prune(const std::vector<int>& level, bool top) {
        std::vector<int> kept;
        for (int c : level) {
            all_[c].Children = Prune(all_[c].Children, false);
            for (int k : all_[c].Children) all_[k].Parent = c;
            if (all_[c].Mail != -1) {
                kept.push_back(c);
            } else if (all_[c].Children.empty()) {
                continue;
            } else if (!top || all_[c].Children.size() == 1) {
                for (int k : all_[c].Children) {
                    all_[k].Parent = all_[c].Parent;
                    kept.push_back(k);
                }
                all_[c].Children.clear();
            } else {
                kept.push_back(c);
            }
        }
        if (top)
            for (int c : kept) all_[c].Parent = -1;
        return kept;
    }

    const std::string& SubjectOf(int c) const {
        static const std::string none;
        if (all_[c].Mail != -1) return mails_[static_cast<std::size_t>(all_[c].Mail)].Subject;
        return all_[c].Children.empty() ? none : SubjectOf(all_[c].Children.front());
    }

    // Replies whose links lead nowhere join the conversation of their subject. Two mails
    // that are not replies stay apart even with the same subject: two mails called
    // "Lunch" years apart are two conversations.
    std::vector<int> GroupBySubject(const std::vector<int>& roots) {
        std::unordered_map<std::string, int> table;
        for (int r : roots) {
            bool reply = false;
            const std::string base = Lower(Strip(SubjectOf(r), reply));
            if (base.empty()) continue;
            auto it = table.find(base);
            if (it == table.end()) {
                table.emplace(base, r);
                continue;
            }
            const int held = it->second;
            bool heldReply = false;
            Strip(SubjectOf(held), heldReply);
            // Prefer the start of the conversation, then a container that groups replies.
            if ((heldReply && !reply && all_[r].Mail != -1) ||
                (all_[held].Mail != -1 && all_[r].Mail == -1 && heldReply))
                it->second = r;
        }
        std::vector<int> out;
        for (int r : roots) {
            bool reply = false;
            const std::string base = Lower(Strip(SubjectOf(r), reply));
            auto it = base.empty() ? table.end() : table.find(base);
            if (it == table.end() || it->second == r || all_[r].Mail == -1 || !reply) {
                out.push_back(r);
                continue;
            }
            int& held = it->second;
            bool heldReply = false;
            Strip(SubjectOf(held), heldReply);
            if (all_[held].Mail != -1 && heldReply) {
                // Two replies and no start: siblings below a new empty container, which
                // takes the first one's place among the roots.
                const int group = NewContainer();
                const int first = held;
                auto at = std::find(out.begin(), out.end(), first);
                if (at != out.end())
                    *at = group;
                else
                    out.push_back(group);
                Attach(first, group);
                held = group;
            }
            Attach(r, held);
        }
        return out;
    }

    static std::string Lower(std::string s) {
        for (char& c : s) c = quillmark::Lower(c);
        return s;
    }

    void Dates(int c) {
        Container& k = all_[c];
        const double own = k.Mail != -1 ? mails_[static_cast<std::size_t>(k.Mail)].Date : 0;
        k.Date = k.Mail != -1 ? own : 1e300;
        k.Newest = k.Mail != -1 ? own : -1e300;
        for (int child : all_[c].Children) {
            Dates(child);
            all_[c].Date = std::min(all_[c].Date, all_[child].Date);
            all_[c].Newest = std::max(all_[c].Newest, all_[child].Newest);
        }
        auto& kids = all_[c].Children;
        std::sort(kids.begin(), kids.end(), [this](int a, int b) {
            if (all_[a].Date != all_[b].Date) return all_[a].Date < all_[b].Date;
            return a < b;
        });
    }

    ThreadNode Node(int c) const {
        ThreadNode n;
        n.Mail = all_[c].Mail;
        n.Children.reserve(all_[c].Children.size());
        for (int k : all_[c].Children) n.Children.push_back(Node(k));
        return n;
    }

    const std::vector<ThreadInput>& mails_;
    std::vector<Container> all_;
    std::unordered_map<std::string, int> byId_;
};

} // namespace

std::vector<std::string> ParseMessageIds(const std::string& header) {
    std::vector<std::string> ids;
    std::size_t i = 0;
    bool bracketed = false;
    while (i < header.size()) {
        const auto open = header.find('<', i);
        if (open == std::string::npos) break;
        const auto close = header.find('>', open + 1);
        if (close == std::string::npos) break;
        std::string id = header.substr(open + 1, close - open - 1);
        std::string clean;
        for (char c : id)
            if (!IsSpace(c)) clean += c;
        if (!clean.empty()) ids.push_back(clean);
        bracketed = true;
        i = close + 1;
    }
    if (!bracketed && header.find('<') == std::string::npos) {
        // A bare id, as some stores hand it over without its brackets.
        std::size_t b = 0, e = header.size();
        while (b < e && IsSpace(header[b])) ++b;
        while (e > b && IsSpace(header[e - 1])) --e;
        const std::string word = header.substr(b, e - b);
        if (!word.empty() && word.find_first_of(" \t\r\n") == std::string::npos && word.find('@') != std::string::npos)
            ids.push_back(word);
    }
    return ids;
}

std::string BaseSubject(const std::string& subject) {
    bool reply = false;
    std::string s = Strip(subject, reply);
    for (char& c : s) c = Lower(c);
    return s;
}

bool IsReplySubject(const std::string& subject) {
    bool reply = false;
    Strip(subject, reply);
    return reply;
}

std::vector<ThreadNode> BuildThreads(const std::vector<ThreadInput>& mails) { return Threader(mails).Run(); }

} // namespace quillmark
