#include "outlook/mailbox/MailboxStore.h"

#include "outlook/mailbox/MboxIndex.h"
#include "outlook/mailbox/MimeMessage.h"
#include "outlook/mailbox/ReadAhead.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string_view>

namespace quillmark::outlook::mailbox {

namespace fs = std::filesystem;

namespace {

enum class Kind : char { Mbox = 'm', Maildir = 'M', MaildirPlus = 'P', Directory = 'd', Message = 'e' };

struct FolderRef {
    Kind kind = Kind::Directory;
    std::string rel; // relative to the store root, "/" separated; "" for the root itself
    std::string sub; // Maildir++ only: the dotted folder name below the Maildir at rel
};

struct StoreContext {
    fs::path root;
    std::string pathText; // as the user gave it (ANSI)
    WideString storeId;
    std::shared_ptr<WarningSink> warnings;
    Kind rootKind = Kind::Directory;
    std::string rootName; // UTF-8 display name of the top folder
    // The top folder's path relative to root: "" when the store is a directory or a single
    // message; the file's name when it is an mbox, whose root is then the directory holding
    // it, so that Thunderbird's "Name.sbd" beside the file can be its subfolders.
    std::string topRel;

    fs::path PathOf(const std::string& rel) const { return rel.empty() ? root : root / fs::path(rel); }
    void Warn(const std::string& text) const { warnings->Warn(text); }
};

std::string LowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool IsDir(const fs::path& p) {
    std::error_code ec;
    return fs::is_directory(p, ec);
}

bool IsFile(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

bool IsMaildir(const fs::path& p) { return IsDir(p / "cur") || IsDir(p / "new"); }

std::string FirstBytes(const fs::path& p, std::size_t n) {
    std::ifstream in(p, std::ios::binary);
    std::string s(n, '\0');
    in.read(s.data(), static_cast<std::streamsize>(n));
    s.resize(static_cast<std::size_t>(std::max<std::streamsize>(0, in.gcount())));
    return s;
}

std::uintmax_t SizeOf(const fs::path& p) {
    std::error_code ec;
    auto n = fs::file_size(p, ec);
    return ec ? 0 : n;
}

// Directory entries by name (bytes), "." entries and unreadable directories give nothing.
std::vector<std::string> SortedNames(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// An mbox begins with a "From " line; blank lines before it (left by some tools) are allowed.
bool StartsLikeMbox(const fs::path& p) {
    const std::string head = FirstBytes(p, 4096);
    const auto first = head.find_first_not_of(" \t\r\n");
    return first != std::string::npos && head.compare(first, 5, "From ") == 0;
}

bool IsMboxFile(const fs::path& p) {
    if (!IsFile(p)) return false;
    if (StartsLikeMbox(p)) return true;
    // Thunderbird keeps a folder that holds no mail (or only subfolders) as an empty file.
    if (SizeOf(p) == 0) {
        fs::path msf = p, sbd = p;
        msf += ".msf";
        sbd += ".sbd";
        return IsFile(msf) || IsDir(sbd);
    }
    return false;
}

// Maildir++ folder names are written in IMAP's modified UTF-7 by the servers that make them
// ("K&APY-ln" is "Köln"); anything that is not valid modified UTF-7 is shown as it is.
std::string DecodeModifiedUtf7(const std::string& name) {
    std::string out;
    std::u16string units;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '&') {
            out += name[i];
            continue;
        }
        const auto end = name.find('-', i + 1);
        if (end == std::string::npos) return name;
        if (end == i + 1) { // "&-" is "&"
            out += '&';
            i = end;
            continue;
        }
        units.clear();
        std::uint32_t bits = 0;
        int nbits = 0;
        for (std::size_t k = i + 1; k < end; ++k) {
            const char c = name[k];
            int v;
            if (c >= 'A' && c <= 'Z') v = c - 'A';
            else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
            else if (c >= '0' && c <= '9') v = c - '0' + 52;
            else if (c == '+') v = 62;
            else if (c == ',') v = 63;
            else return name;
            bits = (bits << 6) | static_cast<std::uint32_t>(v);
            nbits += 6;
            if (nbits >= 16) {
                nbits -= 16;
                units.push_back(static_cast<char16_t>((bits >> nbits) & 0xFFFF));
            }
        }
        if (units.empty()) return name;
        out += platform::Utf8FromUtf16(units);
        i = end;
    }
    return out;
}

std::string StripSuffix(std::string name, const std::string& suffix) {
    if (name.size() > suffix.size() && LowerAscii(name.substr(name.size() - suffix.size())) == suffix)
        name.resize(name.size() - suffix.size());
    return name;
}

std::string JoinRel(const std::string& rel, const std::string& name) { return rel.empty() ? name : rel + "/" + name; }

std::string LastComponent(const std::string& rel) {
    const auto slash = rel.rfind('/');
    return slash == std::string::npos ? rel : rel.substr(slash + 1);
}

// ---- folder identifiers ----

std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '%' || c == '|') {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(c));
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

bool Unescape(const std::string& s, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (i + 2 >= s.size()) return false;
        const std::string hex = s.substr(i + 1, 2);
        if (hex != "25" && hex != "7C") return false;
        out += hex == "25" ? '%' : '|';
        i += 2;
    }
    return true;
}

// Bytes as wide text, one unit per byte, so that any file name goes back unchanged.
WideString WideOfBytes(const std::string& bytes) {
    WideString w;
    w.reserve(bytes.size());
    for (unsigned char c : bytes) w.push_back(static_cast<char16_t>(c));
    return w;
}

WideString EncodeEntryId(const FolderRef& ref) {
    return WideOfBytes(std::string(1, static_cast<char>(ref.kind)) + "|" + Escape(ref.rel) + "|" + Escape(ref.sub));
}

// A relative path that stays inside the store: no root, no "..", no empty or "." parts.
bool SafeRel(const std::string& rel) {
    if (rel.empty()) return true;
    if (rel.front() == '/' || rel.find('\\') != std::string::npos || rel.find('\0') != std::string::npos ||
        rel.find(':') != std::string::npos)
        return false;
    std::size_t pos = 0;
    while (pos <= rel.size()) {
        std::size_t slash = rel.find('/', pos);
        if (slash == std::string::npos) slash = rel.size();
        const std::string part = rel.substr(pos, slash - pos);
        if (part.empty() || part == "." || part == "..") return false;
        pos = slash + 1;
    }
    return true;
}

bool DecodeEntryId(const WideString& id, FolderRef& ref) {
    std::string bytes;
    for (char16_t u : id) {
        if (u > 0xFF) return false;
        bytes.push_back(static_cast<char>(u));
    }
    if (bytes.size() < 3 || bytes[1] != '|') return false;
    const auto bar = bytes.find('|', 2);
    if (bar == std::string::npos) return false;
    switch (bytes[0]) {
    case 'm': ref.kind = Kind::Mbox; break;
    case 'M': ref.kind = Kind::Maildir; break;
    case 'P': ref.kind = Kind::MaildirPlus; break;
    case 'd': ref.kind = Kind::Directory; break;
    case 'e': ref.kind = Kind::Message; break;
    default: return false;
    }
    if (!Unescape(bytes.substr(2, bar - 2), ref.rel) || !Unescape(bytes.substr(bar + 1), ref.sub)) return false;
    if (!SafeRel(ref.rel)) return false;
    if (ref.kind == Kind::MaildirPlus) {
        if (ref.sub.empty() || ref.sub.find('/') != std::string::npos || ref.sub.find("..") != std::string::npos ||
            ref.sub.front() == '.' || ref.sub.back() == '.')
            return false;
    } else if (!ref.sub.empty()) {
        return false;
    }
    return true;
}

// ---- item indexes ----

struct Loaded {
    std::string raw;
    ItemMeta meta;
};

// Load is called by one thread at a time (the folder's reading thread); Count by any.
class FolderIndex {
public:
    virtual ~FolderIndex() = default;
    virtual int Count() const = 0;
    virtual Loaded Load(int index, WarningSink& warnings) = 0; // 0-based
    // The mail's EntryID as Load will give it, without reading it (0-based).
    virtual std::string KeyOf(int index) const = 0;
};

// Warnings name the folder and the mail by its place in the folder.
std::string Where(const std::string& folderName, int index) {
    return folderName + ", mail " + std::to_string(index + 1);
}

std::string ReadFileBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) throw EStoreError("Cannot read mail " + platform::Utf8Path(p));
    std::string data;
    const auto size = SizeOf(p);
    data.resize(static_cast<std::size_t>(size));
    in.read(data.data(), static_cast<std::streamsize>(size));
    data.resize(static_cast<std::size_t>(std::max<std::streamsize>(0, in.gcount())));
    return data;
}

double FileTimeUtc(const fs::path& p) {
    auto t = platform::FileLastWriteUtc(platform::Utf8Path(p));
    return t ? *t : 0.0;
}

class MboxFolderIndex : public FolderIndex {
public:
    MboxFolderIndex(fs::path file, std::string name, const StoreContext& ctx)
        : file_(std::move(file)), name_(std::move(name)) {
        entries_ = IndexMboxFile(file_);
        fileTime_ = FileTimeUtc(file_);
        if (entries_.size() == 1 && !entries_[0].HadFromLine)
            ctx.Warn(name_ + ": the file holds no \"From \" line; it is read as one mail");
        else if (!entries_.empty() && !entries_[0].HadFromLine)
            ctx.Warn(name_ + ": text before the first \"From \" line is read as a mail of its own");
    }
    int Count() const override { return static_cast<int>(std::min<std::size_t>(entries_.size(), INT32_MAX)); }
    Loaded Load(int index, WarningSink& warnings) override {
        const MboxEntry& e = entries_[static_cast<std::size_t>(index)];
        if (!in_) {
            try {
                in_ = std::make_unique<platform::ReadOnlyFile>(file_);
            } catch (const Exception&) {
                throw EStoreError("Cannot read mailbox " + platform::Utf8Path(file_));
            }
        }
        std::string raw(static_cast<std::size_t>(e.Length), '\0');
        try {
            raw.resize(in_->ReadAt(e.Offset, raw.data(), raw.size()));
        } catch (const Exception&) {
            throw EStoreError("Cannot read mailbox " + platform::Utf8Path(file_));
        }
        if (raw.size() < e.Length)
            warnings.Warn(Where(name_, index) + ": the mailbox file became shorter since it was opened; the mail is cut short");
        Loaded out;
        out.raw = UnquoteFromLines(std::move(raw));
        out.meta.EntryId = KeyOf(index);
        out.meta.FromLineUtc = e.FromLineTime;
        out.meta.StoreTimeUtc = e.FromLineTime != 0.0 ? e.FromLineTime : fileTime_;
        out.meta.Where = Where(name_, index);
        return out;
    }

    std::string KeyOf(int index) const override {
        char key[32];
        std::snprintf(key, sizeof key, "%012llX",
                      static_cast<unsigned long long>(entries_[static_cast<std::size_t>(index)].Offset));
        return key;
    }

private:
    fs::path file_;
    std::string name_;
    std::vector<MboxEntry> entries_;
    double fileTime_ = 0.0;
    std::unique_ptr<platform::ReadOnlyFile> in_; // opened on first use
};

// Mail kept one message per file: Maildir (cur/ and new/) or .eml files in a directory.
class FilesFolderIndex : public FolderIndex {
public:
    struct File {
        fs::path path;
        std::string key;
        ReadFlag flag;
    };
    FilesFolderIndex(std::vector<File> files, std::string name) : files_(std::move(files)), name_(std::move(name)) {}
    int Count() const override { return static_cast<int>(std::min<std::size_t>(files_.size(), INT32_MAX)); }
    Loaded Load(int index, WarningSink&) override {
        const File& f = files_[static_cast<std::size_t>(index)];
        Loaded out;
        out.raw = ReadFileBytes(f.path);
        out.meta.EntryId = f.key;
        out.meta.Flag = f.flag;
        out.meta.StoreTimeUtc = FileTimeUtc(f.path);
        out.meta.Where = Where(name_, index);
        return out;
    }
    std::string KeyOf(int index) const override { return files_[static_cast<std::size_t>(index)].key; }

private:
    std::vector<File> files_;
    std::string name_;
};

// A file with a Maildir message name ("unique:2,FLAGS", or "!" for ":"): a mail by that
// convention. The key is the unique part; the flags say whether it was read.
bool MaildirMessage(const fs::path& dir, const std::string& n, bool isNew, FilesFolderIndex::File& file) {
    if (n.empty() || n[0] == '.') return false;
    if (!IsFile(dir / n)) return false;
    auto colon = n.find(":2,");
    if (colon == std::string::npos) colon = n.find("!2,");
    const std::string flags = colon == std::string::npos ? "" : n.substr(colon + 3);
    const ReadFlag flag =
        isNew ? ReadFlag::Unread : (flags.find('S') != std::string::npos ? ReadFlag::Read : ReadFlag::Unread);
    file = {dir / n, colon == std::string::npos ? n : n.substr(0, colon), flag};
    return true;
}

// Mail files with Maildir names lying in the folder itself rather than in cur/ or new/, as
// some tools keep them (notmuch's trees do): they are mail all the same, and an archiver
// that passed over them would lose them.
void AddLooseMaildirMessages(const fs::path& dir, std::vector<FilesFolderIndex::File>& files) {
    for (const auto& n : SortedNames(dir)) {
        if (n.find(":2,") == std::string::npos && n.find("!2,") == std::string::npos) continue;
        FilesFolderIndex::File file;
        if (MaildirMessage(dir, n, false, file)) files.push_back(std::move(file));
    }
}

std::unique_ptr<FolderIndex> MaildirIndex(const fs::path& dir, const std::string& name) {
    std::vector<FilesFolderIndex::File> files;
    for (const char* sub : {"cur", "new"}) {
        const bool isNew = std::string(sub) == "new";
        for (const auto& n : SortedNames(dir / sub)) {
            FilesFolderIndex::File file;
            if (MaildirMessage(dir / sub, n, isNew, file)) files.push_back(std::move(file));
        }
    }
    AddLooseMaildirMessages(dir, files);
    std::sort(files.begin(), files.end(),
              [](const auto& a, const auto& b) { return a.path.filename().string() < b.path.filename().string(); });
    return std::make_unique<FilesFolderIndex>(std::move(files), name);
}

std::unique_ptr<FolderIndex> EmlIndex(const fs::path& dir, const std::string& name) {
    std::vector<FilesFolderIndex::File> files;
    for (const auto& n : SortedNames(dir)) {
        if (n.empty() || n[0] == '.') continue;
        if (n.size() < 5 || LowerAscii(n.substr(n.size() - 4)) != ".eml") continue;
        if (!IsFile(dir / n)) continue;
        files.push_back({dir / n, n, ReadFlag::Unknown});
    }
    AddLooseMaildirMessages(dir, files);
    return std::make_unique<FilesFolderIndex>(std::move(files), name);
}

// ---- folders ----

class MailboxFolder;

struct ChildRef {
    FolderRef ref;
    std::string name;
};

std::string DisplayName(const StoreContext& ctx, const FolderRef& ref) {
    if (ref.kind == Kind::MaildirPlus) {
        const auto dot = ref.sub.rfind('.');
        return DecodeModifiedUtf7(dot == std::string::npos ? ref.sub : ref.sub.substr(dot + 1));
    }
    if (ref.rel == ctx.topRel) return ctx.rootName;
    std::string name = LastComponent(ref.rel);
    switch (ref.kind) {
    case Kind::Mbox: return StripSuffix(name, ".mbox");
    case Kind::Directory: return StripSuffix(name, ".sbd");
    case Kind::Message: return StripSuffix(name, ".eml");
    default: return name;
    }
}

// Thunderbird leaves deleted mail in the mbox, marked "expunged" (bit 0x0008 of
// X-Mozilla-Status), until the folder is compacted. Such a message is no mail of the folder
// any more; exporting it would bring deleted mail back.
bool IsExpunged(std::string_view raw) {
    // Header lines up to the first empty one, within the first 64 KiB.
    static const std::string_view name = "X-Mozilla-Status:";
    raw = raw.substr(0, 64 * 1024);
    std::size_t pos = 0;
    while (pos < raw.size()) {
        const std::size_t eol = std::min(raw.find('\n', pos), raw.size());
        std::string_view line = raw.substr(pos, eol - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) break;
        if (line.substr(0, name.size()) == name) {
            const unsigned long bits = std::strtoul(std::string(line.substr(name.size(), 16)).c_str(), nullptr, 16);
            if (bits & 0x0008u) return true;
        }
        pos = eol + 1;
    }
    return false;
}

// What the folder's reading thread does for one item: load it, tell mail from no mail, parse.
ReadMail ReadItem(FolderIndex& index, int at) {
    ReadMail out;
    out.Warnings = std::make_shared<WarningSink>();
    Loaded loaded = index.Load(at, *out.Warnings);
    out.Bytes = loaded.raw.size();
    if (!IsExpunged(loaded.raw)) out.Mail = ParseMailItem(std::move(loaded.raw), std::move(loaded.meta), out.Warnings);
    return out;
}

class MailboxItem : public ItemObject {
public:
    explicit MailboxItem(std::shared_ptr<MailItem> mail) : mail_(std::move(mail)) {}
    std::shared_ptr<MailItem> QueryMailItem() override { return mail_; }

private:
    std::shared_ptr<MailItem> mail_;
};

class MailboxItems : public ItemCollection {
public:
    MailboxItems(std::shared_ptr<ReadAhead> reader, std::shared_ptr<const FolderIndex> index,
                 std::shared_ptr<WarningSink> warnings)
        : reader_(std::move(reader)), index_(std::move(index)), warnings_(std::move(warnings)) {}
    int Count() override { return reader_->Count(); }
    WideString EntryIdOf(int index) override {
        if (index < 1 || index > Count()) return {};
        WideString id; // byte by byte, as the mail's own EntryID is made
        for (unsigned char c : index_->KeyOf(index - 1)) id.push_back(static_cast<char16_t>(c));
        return id;
    }
    std::shared_ptr<ItemObject> Item(int index) override {
        if (index < 1 || index > Count()) throw EStoreError("Array index out of bounds.");
        ReadMail read = reader_->Take(index - 1);
        // The mail's warnings go to the store's sink from now on, those of its reading first.
        if (read.Warnings) read.Warnings->SetHandler([sink = warnings_](const std::string& m) { sink->Warn(m); });
        if (read.Error) std::rethrow_exception(read.Error);
        return std::make_shared<MailboxItem>(std::move(read.Mail));
    }

private:
    std::shared_ptr<ReadAhead> reader_;
    std::shared_ptr<const FolderIndex> index_;
    std::shared_ptr<WarningSink> warnings_;
};

class MailboxFolders : public FolderCollection {
public:
    MailboxFolders(std::shared_ptr<const StoreContext> ctx, std::vector<ChildRef> children)
        : ctx_(std::move(ctx)), children_(std::move(children)) {}
    int Count() override { return static_cast<int>(children_.size()); }
    std::shared_ptr<Folder> Item(int index) override;

private:
    std::shared_ptr<const StoreContext> ctx_;
    std::vector<ChildRef> children_;
};

class MailboxFolder : public Folder {
public:
    MailboxFolder(std::shared_ptr<const StoreContext> ctx, FolderRef ref, std::string name)
        : ctx_(std::move(ctx)), ref_(std::move(ref)), name_(std::move(name)) {}

    WideString Name() override { return platform::Utf16FromUtf8(name_); }
    WideString EntryID() override { return EncodeEntryId(ref_); }
    WideString StoreID() override { return ctx_->storeId; }
    std::shared_ptr<FolderCollection> Folders() override { return std::make_shared<MailboxFolders>(ctx_, Children()); }
    std::shared_ptr<ItemCollection> Items() override {
        // Indexed once per opened folder: every Items() of this folder shares the index and
        // its reading thread (which starts when the first mail is asked for).
        if (!reader_) {
            std::shared_ptr<FolderIndex> index = BuildIndex();
            const int count = index->Count();
            reader_ = std::make_shared<ReadAhead>(count, [index](int at) { return ReadItem(*index, at); });
            index_ = index;
        }
        return std::make_shared<MailboxItems>(reader_, index_, ctx_->warnings);
    }

private:
    std::shared_ptr<FolderIndex> BuildIndex() {
        const fs::path p = ctx_->PathOf(ref_.rel);
        switch (ref_.kind) {
        case Kind::Mbox: return std::make_shared<MboxFolderIndex>(p, name_, *ctx_);
        case Kind::Maildir: return MaildirIndex(p, name_);
        case Kind::MaildirPlus: return MaildirIndex(p / ("." + ref_.sub), name_);
        case Kind::Directory: return EmlIndex(p, name_);
        case Kind::Message: {
            std::vector<FilesFolderIndex::File> one{{p, p.filename().string(), ReadFlag::Unknown}};
            return std::make_shared<FilesFolderIndex>(std::move(one), name_);
        }
        }
        return nullptr;
    }

    // Plain entries of a directory that are folders: mbox files (with their ".sbd"),
    // Maildirs, other directories. skipMaildirParts leaves out cur/new/tmp.
    void DirectoryChildren(const std::string& rel, bool skipMaildirParts, std::vector<ChildRef>& out) const {
        const fs::path dir = ctx_->PathOf(rel);
        const auto names = SortedNames(dir);
        const std::set<std::string> nameSet(names.begin(), names.end());
        for (const auto& n : names) {
            if (n.empty() || n[0] == '.') continue;
            if (skipMaildirParts && (n == "cur" || n == "new" || n == "tmp")) continue;
            const fs::path p = dir / n;
            std::error_code ec;
            // A linked directory may point back up the tree and make it endless; linked mbox
            // files are fine.
            if (fs::is_symlink(p, ec) && IsDir(p)) continue;
            const std::string childRel = JoinRel(rel, n);
            FolderRef ref;
            ref.rel = childRel;
            if (IsDir(p)) {
                if (n.size() > 4 && n.substr(n.size() - 4) == ".sbd") {
                    const std::string base = n.substr(0, n.size() - 4);
                    if (nameSet.count(base) && IsMboxFile(dir / base)) continue; // shown below its mbox
                    ref.kind = Kind::Directory;
                } else {
                    ref.kind = IsMaildir(p) ? Kind::Maildir : Kind::Directory;
                }
            } else if (n.find(":2,") == std::string::npos && n.find("!2,") == std::string::npos && IsMboxFile(p)) {
                // (A file with a Maildir message name is a mail of this folder, not an mbox.)
                ref.kind = Kind::Mbox;
            } else {
                continue;
            }
            out.push_back({ref, DisplayName(*ctx_, ref)});
        }
    }

    // Maildir++ folders one level below prefix ("" for the Maildir itself); a folder whose
    // parent has no directory of its own ("Lists.dev" without "Lists") still gets its parent.
    void MaildirPlusChildren(const std::string& rel, const std::string& prefix, std::vector<ChildRef>& out) const {
        const fs::path dir = ctx_->PathOf(rel);
        std::set<std::string> next;
        for (const auto& n : SortedNames(dir)) {
            if (n.size() < 2 || n[0] != '.' || n == "..") continue;
            if (!IsDir(dir / n)) continue;
            const std::string dotted = n.substr(1);
            std::string rest;
            if (prefix.empty()) {
                rest = dotted;
            } else {
                if (dotted.size() <= prefix.size() + 1 || dotted.compare(0, prefix.size(), prefix) != 0 ||
                    dotted[prefix.size()] != '.')
                    continue;
                rest = dotted.substr(prefix.size() + 1);
            }
            const std::string first = rest.substr(0, rest.find('.'));
            if (first.empty()) continue;
            next.insert(prefix.empty() ? first : prefix + "." + first);
        }
        for (const auto& sub : next) {
            FolderRef ref{Kind::MaildirPlus, rel, sub};
            out.push_back({ref, DisplayName(*ctx_, ref)});
        }
    }

    std::vector<ChildRef> Children() const {
        std::vector<ChildRef> out;
        switch (ref_.kind) {
        case Kind::Mbox:
            if (IsDir(ctx_->PathOf(ref_.rel + ".sbd"))) DirectoryChildren(ref_.rel + ".sbd", false, out);
            break;
        case Kind::Maildir:
            MaildirPlusChildren(ref_.rel, "", out);
            DirectoryChildren(ref_.rel, true, out);
            break;
        case Kind::MaildirPlus: MaildirPlusChildren(ref_.rel, ref_.sub, out); break;
        case Kind::Directory: DirectoryChildren(ref_.rel, false, out); break;
        case Kind::Message: break;
        }
        return out;
    }

    std::shared_ptr<const StoreContext> ctx_;
    FolderRef ref_;
    std::string name_;
    std::shared_ptr<ReadAhead> reader_; // holds the folder's index
    std::shared_ptr<const FolderIndex> index_;
};

std::shared_ptr<Folder> MailboxFolders::Item(int index) {
    if (index < 1 || index > Count()) throw EStoreError("Array index out of bounds.");
    const ChildRef& c = children_[static_cast<std::size_t>(index - 1)];
    return std::make_shared<MailboxFolder>(ctx_, c.ref, c.name);
}

class MailboxStore : public Store {
public:
    explicit MailboxStore(std::shared_ptr<StoreContext> ctx) : ctx_(std::move(ctx)) {}
    WideString StoreID() override { return ctx_->storeId; }
    std::shared_ptr<Folder> TopFolder() override {
        return std::make_shared<MailboxFolder>(ctx_, FolderRef{ctx_->rootKind, ctx_->topRel, ""}, ctx_->rootName);
    }
    std::shared_ptr<Folder> GetFolderFromID(const WideString& entryId) override {
        FolderRef ref;
        if (!DecodeEntryId(entryId, ref)) throw EStoreError("The folder identifier is not valid for " + ctx_->pathText + ".");
        // A store named as one mbox file holds that file and its ".sbd" tree, not the
        // other files of the directory the file lies in.
        const std::string& top = ctx_->topRel;
        if (!top.empty() && ref.rel != top && ref.rel.compare(0, top.size() + 5, top + ".sbd/") != 0)
            throw EStoreError("The folder cannot be found in " + ctx_->pathText + ".");
        const fs::path p = ctx_->PathOf(ref.rel);
        bool exists = false;
        switch (ref.kind) {
        case Kind::Mbox: exists = ref.rel == top ? ctx_->rootKind == Kind::Mbox : IsMboxFile(p); break;
        case Kind::Maildir: exists = IsMaildir(p); break;
        case Kind::MaildirPlus: {
            // Its own directory, or (for a parent implied by its children) a child's.
            exists = IsDir(p / ("." + ref.sub));
            const std::string childPrefix = "." + ref.sub + ".";
            if (!exists)
                for (const auto& n : SortedNames(p))
                    if (n.compare(0, childPrefix.size(), childPrefix) == 0 && IsDir(p / n)) exists = true;
            break;
        }
        case Kind::Directory: exists = IsDir(p); break;
        case Kind::Message: exists = ref.rel.empty() && ctx_->rootKind == Kind::Message; break;
        }
        if (!exists) throw EStoreError("The folder cannot be found in " + ctx_->pathText + ".");
        return std::make_shared<MailboxFolder>(ctx_, ref, DisplayName(*ctx_, ref));
    }

private:
    std::shared_ptr<StoreContext> ctx_;
};

} // namespace

std::shared_ptr<Store> OpenMailboxStore(const std::string& path, std::shared_ptr<WarningSink> warnings) {
    auto ctx = std::make_shared<StoreContext>();
    ctx->pathText = path;
    ctx->storeId = platform::Utf16FromUtf8(path);
    ctx->warnings = warnings ? std::move(warnings) : std::make_shared<WarningSink>();
    fs::path root = platform::NativePath(path).lexically_normal();
    if (root.has_filename() == false && root.has_parent_path()) root = root.parent_path(); // "dir/" -> "dir"
    ctx->root = root;
    std::string base = root.filename().string();
    if (IsDir(root)) {
        ctx->rootKind = IsMaildir(root) ? Kind::Maildir : Kind::Directory;
    } else if (IsFile(root)) {
        const std::string lower = LowerAscii(base);
        if (StartsLikeMbox(root) || SizeOf(root) == 0) {
            ctx->rootKind = Kind::Mbox;
            ctx->topRel = base;
            ctx->root = root.has_parent_path() ? root.parent_path() : fs::path(".");
            base = StripSuffix(base, ".mbox");
        } else {
            // Not an mbox: read as one message (an .eml file, or a message saved without one).
            ctx->rootKind = Kind::Message;
            if (lower.size() < 4 || lower.substr(lower.size() - 4) != ".eml")
                ctx->Warn(path + ": not an mbox file (no \"From \" line at the start); read as one message");
            base = StripSuffix(base, ".eml");
        }
    } else {
        throw EStoreError("Cannot open mail store " + path + ": no such file or directory.");
    }
    ctx->rootName = base.empty() ? root.string() : base;
    return std::make_shared<MailboxStore>(std::move(ctx));
}

} // namespace quillmark::outlook::mailbox
