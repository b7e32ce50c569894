#include "platform/VersionBlock.h"

#include "platform/FileSystem.h"

#include <algorithm>
#include <fstream>
#include <functional>

namespace quillmark::platform {

namespace {

constexpr std::uint32_t FixedInfoSignature = 0xFEEF04BD;
constexpr std::size_t FixedInfoSize = 52; // VS_FIXEDFILEINFO
constexpr std::size_t NodeHeaderSize = 6; // wLength, wValueLength, wType
constexpr char RootKey[] = "VS_VERSION_INFO";

std::size_t Align4(std::size_t n) { return (n + 3) & ~std::size_t(3); }

std::uint16_t Word(std::string_view b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) | (static_cast<unsigned char>(b[at + 1]) << 8));
}

std::uint32_t DWord(std::string_view b, std::size_t at) {
    return Word(b, at) | (static_cast<std::uint32_t>(Word(b, at + 2)) << 16);
}

// ---- building ----

class Writer {
public:
    std::size_t Begin(const std::u16string& key, std::uint16_t valueLength, std::uint16_t type) {
        Pad();
        std::size_t start = out_.size();
        PutWord(0); // length, patched by End
        PutWord(valueLength);
        PutWord(type);
        for (char16_t c : key) PutWord(c);
        PutWord(0);
        Pad();
        return start;
    }
    void End(std::size_t start) {
        std::size_t length = out_.size() - start;
        out_[start] = static_cast<char>(length & 0xFF);
        out_[start + 1] = static_cast<char>((length >> 8) & 0xFF);
    }
    void PutWord(std::uint16_t w) {
        out_ += static_cast<char>(w & 0xFF);
        out_ += static_cast<char>(w >> 8);
    }
    void PutDWord(std::uint32_t d) {
        PutWord(static_cast<std::uint16_t>(d & 0xFFFF));
        PutWord(static_cast<std::uint16_t>(d >> 16));
    }
    void Pad() {
        while (out_.size() % 4 != 0) out_ += '\0';
    }
    std::string& Bytes() { return out_; }

private:
    std::string out_;
};

std::u16string Wide(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// ---- parsing ----

struct Node {
    std::size_t Start = 0, End = 0;
    std::size_t ValueStart = 0, ValueEnd = 0;
    std::size_t ChildrenStart = 0;
    std::uint16_t Type = 0;
    std::u16string Key;
};

// The node at offset 'at', which must end within 'limit'.
std::optional<Node> ReadNode(std::string_view b, std::size_t at, std::size_t limit) {
    if (at > limit || limit - at < NodeHeaderSize) return std::nullopt;
    Node n;
    n.Start = at;
    std::size_t length = Word(b, at);
    if (length < NodeHeaderSize || length > limit - at) return std::nullopt;
    n.End = at + length;
    std::uint16_t valueLength = Word(b, at + 2);
    n.Type = Word(b, at + 4);
    std::size_t p = at + NodeHeaderSize;
    while (true) {
        if (p + 2 > n.End) return std::nullopt;
        char16_t c = Word(b, p);
        p += 2;
        if (c == 0) break;
        n.Key += c;
    }
    n.ValueStart = std::min(at + Align4(p - at), n.End);
    // Text values count their length in characters, binary ones in bytes; some tools write
    // bytes for text too, so a text value simply runs to its NUL within the node.
    std::size_t valueBytes = n.Type == 1 ? std::size_t(valueLength) * 2 : valueLength;
    n.ValueEnd = std::min(n.ValueStart + valueBytes, n.End);
    n.ChildrenStart = std::min(n.ValueStart + Align4(n.ValueEnd - n.ValueStart), n.End);
    return n;
}

bool SameKey(const std::u16string& key, std::string_view name) {
    if (key.size() != name.size()) return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        char16_t a = key[i];
        char16_t c = static_cast<unsigned char>(name[i]);
        if (a >= u'a' && a <= u'z') a = static_cast<char16_t>(a - 32);
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
        if (a != c) return false;
    }
    return true;
}

} // namespace

std::string BuildVersionBlock(const VersionBlockContents& contents) {
    Writer w;
    std::size_t root = w.Begin(Wide(RootKey), FixedInfoSize, 0);
    const auto& fv = contents.FileVersion;
    const auto& pv = contents.ProductVersion;
    w.PutDWord(FixedInfoSignature);
    w.PutDWord(0x00010000); // structure version 1.0
    w.PutDWord((std::uint32_t(fv[0]) << 16) | fv[1]);
    w.PutDWord((std::uint32_t(fv[2]) << 16) | fv[3]);
    w.PutDWord((std::uint32_t(pv[0]) << 16) | pv[1]);
    w.PutDWord((std::uint32_t(pv[2]) << 16) | pv[3]);
    w.PutDWord(0x3F);    // file flags mask
    w.PutDWord(0);       // file flags
    w.PutDWord(0x40004); // VOS_NT_WINDOWS32, as the Windows build states it
    w.PutDWord(1);       // VFT_APP
    w.PutDWord(0);       // subtype
    w.PutDWord(0);       // date (high)
    w.PutDWord(0);       // date (low)

    if (!contents.Tables.empty()) {
        std::size_t sfi = w.Begin(Wide("StringFileInfo"), 0, 1);
        for (const auto& table : contents.Tables) {
            std::size_t st = w.Begin(Wide(table.LanguageCodePage), 0, 1);
            for (const auto& [name, text] : table.Strings) {
                std::size_t s = w.Begin(Wide(name), static_cast<std::uint16_t>(text.size() + 1), 1);
                for (char16_t c : text) w.PutWord(c);
                w.PutWord(0);
                w.End(s);
            }
            w.End(st);
        }
        w.End(sfi);
    }
    if (!contents.Translations.empty()) {
        std::size_t vfi = w.Begin(Wide("VarFileInfo"), 0, 1);
        std::size_t var = w.Begin(Wide("Translation"), static_cast<std::uint16_t>(contents.Translations.size() * 4), 0);
        for (const auto& [lang, cp] : contents.Translations) {
            w.PutWord(lang);
            w.PutWord(cp);
        }
        w.End(var);
        w.End(vfi);
    }
    w.End(root);
    return w.Bytes();
}

std::optional<std::u16string> QueryVersionString(std::string_view block, std::string_view path) {
    auto node = ReadNode(block, 0, block.size());
    if (!node || !SameKey(node->Key, RootKey)) return std::nullopt;
    std::size_t pos = 0;
    while (pos < path.size()) {
        std::size_t next = path.find('\\', pos);
        if (next == std::string_view::npos) next = path.size();
        std::string_view name = path.substr(pos, next - pos);
        pos = next + 1;
        if (name.empty()) continue;
        std::optional<Node> found;
        std::size_t at = node->ChildrenStart;
        while (at < node->End) {
            auto child = ReadNode(block, at, node->End);
            if (!child) return std::nullopt;
            if (SameKey(child->Key, name)) {
                found = child;
                break;
            }
            at = Align4(child->End);
        }
        if (!found) return std::nullopt;
        node = found;
    }
    std::u16string text;
    for (std::size_t p = node->ValueStart; p + 1 < node->End; p += 2) {
        char16_t c = Word(block, p);
        if (c == 0) break;
        text += c;
    }
    return text;
}

std::optional<std::array<std::uint16_t, 4>> ParseVersionNumber(std::string_view text) {
    std::array<std::uint16_t, 4> parts{};
    std::size_t index = 0, pos = 0;
    if (text.empty()) return std::nullopt;
    while (true) {
        if (index == 4) return std::nullopt;
        std::uint32_t n = 0;
        std::size_t start = pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            n = n * 10 + static_cast<std::uint32_t>(text[pos++] - '0');
            if (n > 0xFFFF) return std::nullopt;
        }
        if (pos == start) return std::nullopt;
        parts[index++] = static_cast<std::uint16_t>(n);
        if (pos == text.size()) return parts;
        if (text[pos++] != '.') return std::nullopt;
    }
}

std::string FindVersionBlock(std::string_view bytes) {
    // The root key as UTF-16LE with its NUL, built here rather than written as a literal so
    // that this very code never looks like a block to the search.
    std::string pattern;
    for (char c : std::string_view(RootKey)) {
        pattern += c;
        pattern += '\0';
    }
    pattern += std::string(2, '\0');
    const std::boyer_moore_horspool_searcher searcher(pattern.begin(), pattern.end());
    auto it = bytes.begin();
    while (true) {
        it = std::search(it, bytes.end(), searcher);
        if (it == bytes.end()) return {};
        std::size_t keyAt = static_cast<std::size_t>(it - bytes.begin());
        ++it;
        if (keyAt < NodeHeaderSize) continue;
        std::size_t start = keyAt - NodeHeaderSize;
        std::string_view rest = bytes.substr(start);
        std::size_t length = Word(rest, 0);
        if (length > rest.size() || Word(rest, 2) != FixedInfoSize || Word(rest, 4) != 0) continue;
        std::size_t fixedAt = Align4(NodeHeaderSize + pattern.size());
        if (fixedAt + FixedInfoSize > length || DWord(rest, fixedAt) != FixedInfoSignature) continue;
        return std::string(rest.substr(0, length));
    }
}

std::string LoadVersionBlock(const std::string& path) {
    // The block sits among the program's constant data, near the front of the file; a build
    // with debugging information carries tens of megabytes after it, which every start of
    // the program used to read. So the file is read a piece at a time up to the first block.
    // A block is at most 64 KiB (its length is 16 bits): keeping that much of each piece for
    // the next finds a block that straddles two pieces whole.
    constexpr std::size_t kPiece = 1 << 20, kKeep = 0x10000 + 64;
    std::ifstream in(NativePath(path), std::ios::binary);
    if (!in) return {};
    std::string window;
    std::vector<char> piece(kPiece);
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0) break;
        window.append(piece.data(), got);
        std::string block = FindVersionBlock(window);
        if (!block.empty()) return block;
        if (window.size() > kKeep) window.erase(0, window.size() - kKeep);
    }
    return {};
}

} // namespace quillmark::platform
