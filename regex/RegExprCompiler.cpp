// The compiler: expression text -> program of nodes, in two passes over the text. The first
// pass only counts the bytes every emission would take; the second writes them into a block
// of exactly that size. Both passes run the same code, so an invalid expression fails in the
// first one. After the second pass the search hints are computed from the finished program.
#include "regex/RegExpr.h"
#include "regex/RegExprMatcher.h"
#include "regex/RegExprProgram.h"

#include <bit>
#include <cstring>

namespace quillmark {

using namespace regexprogram;

namespace {

// Parse flags returned by every parse step.
constexpr int HasWidth = 1;       // cannot match the empty string
constexpr int SimpleNode = 2;     // matches exactly one byte: the fast repetitions may be used
constexpr int StartsWithStar = 4; // begins with a "*"-like repetition

// Returned for every node during the sizing pass, where nothing is written.
constexpr std::int32_t SizingMarker = -1;

bool IsMeta(char c) {
    switch (c) {
    case '^':
    case '$':
    case '.':
    case '[':
    case '(':
    case ')':
    case '|':
    case '?':
    case '+':
    case '*':
    case '\\':
    case '{':
        return true;
    default:
        return false;
    }
}

bool IsQuantifierChar(char c) {
    return c == '*' || c == '+' || c == '?' || c == '{';
}

bool IsExtendedBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void SetBit(std::uint8_t* set, unsigned char c) {
    set[c >> 3] |= std::uint8_t(1u << (c & 7));
}
bool HasBit(const std::uint8_t* set, unsigned char c) {
    return (set[c >> 3] >> (c & 7)) & 1;
}

// Bit count without relying on a popcount instruction (which the default target lacks, making
// std::popcount a library call on the compiler's hot path).
int PopCount(std::uint64_t w) {
    w = w - ((w >> 1) & 0x5555555555555555ull);
    w = (w & 0x3333333333333333ull) + ((w >> 2) & 0x3333333333333333ull);
    w = (w + (w >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<int>((w * 0x0101010101010101ull) >> 56);
}

} // namespace

// The modifiers are left as they were when the text holds a character that is not a switch.
bool ParseModifierText(const std::string& text, std::uint32_t& modifiers) {
    std::uint32_t result = modifiers;
    bool on = true;
    for (char c : text) {
        std::uint32_t bit = 0;
        switch (c) {
        case '-':
            on = false;
            continue;
        case 'i':
        case 'I':
            bit = ModifierI;
            break;
        case 'r':
        case 'R':
            bit = ModifierR;
            break;
        case 's':
        case 'S':
            bit = ModifierS;
            break;
        case 'g':
        case 'G':
            bit = ModifierG;
            break;
        case 'm':
        case 'M':
            bit = ModifierM;
            break;
        case 'x':
        case 'X':
            bit = ModifierX;
            break;
        default:
            return false;
        }
        if (on)
            result |= bit;
        else
            result &= ~bit;
    }
    modifiers = result;
    return true;
}

class TRegExprCompiler {
public:
    TRegExprCompiler(TRegExpr& engine, const std::string& text) : re_(engine), text_(text) {}

    // One pass over the whole expression; returns the top-level parse flags.
    int Pass(bool sizing) {
        sizing_ = sizing;
        pos_ = 0;
        groupCount_ = 1;
        compileModifiers_ = re_.modifiers_;
        if (sizing_) size_ = 1; // the marker byte
        if (!sizing_) {
            re_.program_[0] = TRegExpr::ProgramMarker;
            emit_ = 1;
        }
        int flags = 0;
        ParseReg(false, flags);
        return flags;
    }

    std::int32_t Size() const { return size_; }
    int GroupCount() const { return groupCount_ - 1; }
    std::int32_t Emitted() const { return emit_; }

private:
    TRegExpr& re_;
    const std::string& text_;
    std::size_t pos_ = 0;
    bool sizing_ = true;
    int groupCount_ = 1;
    std::uint32_t compileModifiers_ = 0;
    std::int32_t size_ = 0;
    std::int32_t emit_ = 0;

    bool AtEnd() const { return pos_ >= text_.size(); }
    char Cur() const { return AtEnd() ? '\0' : text_[pos_]; }
    bool On(std::uint32_t bit) const { return (compileModifiers_ & bit) != 0; }

    [[noreturn]] void Error(std::int32_t code) {
        re_.parsePosition_ = static_cast<std::int32_t>(pos_);
        re_.Fail(code);
    }

    std::uint8_t* P(std::int32_t at) { return re_.program_.data() + at; }
    std::uint8_t Kind(std::int32_t node) { return *P(node); }
    std::int32_t Next(std::int32_t node) {
        std::int32_t offset = ReadInt(P(node) + 1);
        return offset == 0 ? 0 : node + offset;
    }

    // ---- emission ----
    std::int32_t EmitNode(std::uint8_t kind) {
        if (sizing_) {
            size_ += NodeHeaderSize;
            return SizingMarker;
        }
        std::int32_t at = emit_;
        *P(at) = kind;
        WriteInt(P(at) + 1, 0);
        emit_ += NodeHeaderSize;
        return at;
    }
    void EmitByte(std::uint8_t b) {
        if (sizing_) {
            ++size_;
            return;
        }
        *P(emit_++) = b;
    }
    void EmitInt(std::int32_t v) {
        if (sizing_) {
            size_ += 4;
            return;
        }
        WriteInt(P(emit_), v);
        emit_ += 4;
    }
    // Puts an operator node (with extra operand bytes, left zero) in front of an already
    // emitted operand, moving the operand up.
    void InsertOperator(std::uint8_t kind, std::int32_t operand, std::int32_t extra) {
        std::int32_t width = NodeHeaderSize + extra;
        if (sizing_) {
            size_ += width;
            return;
        }
        std::memmove(P(operand) + width, P(operand), static_cast<std::size_t>(emit_ - operand));
        emit_ += width;
        *P(operand) = kind;
        std::memset(P(operand) + 1, 0, static_cast<std::size_t>(width - 1));
    }
    // Links the last node of the next-chain starting at p to val.
    void Tail(std::int32_t p, std::int32_t val) {
        if (sizing_ || p == SizingMarker) return;
        std::int32_t scan = p;
        for (;;) {
            std::int32_t next = Next(scan);
            if (next == 0) break;
            scan = next;
        }
        WriteInt(P(scan) + 1, val - scan);
    }
    // Tail on the operand of an alternative node; nothing for other nodes.
    void OpTail(std::int32_t p, std::int32_t val) {
        if (sizing_ || p == SizingMarker || Kind(p) != OpAlt) return;
        Tail(p + NodeHeaderSize, val);
    }

    void EmitSet(const std::uint8_t* members, bool negate) {
        // The set as four 64-bit words, without the zero byte (the end-of-input marker).
        std::uint64_t words[4];
        std::memcpy(words, members, sizeof words);
        words[0] &= ~std::uint64_t(1);
        int count = 0;
        for (std::uint64_t w : words)
            count += PopCount(w);
        unsigned char small[3] = {0, 0, 0};
        if (count <= 3) {
            int found = 0;
            for (int k = 0; k < 4; ++k)
                for (std::uint64_t w = words[k]; w != 0; w &= w - 1)
                    small[found++] = static_cast<unsigned char>(k * 64 + std::countr_zero(w));
        }
        if (count <= 3) {
            EmitNode(negate ? OpSetSmallNot : OpSetSmall);
            // The members in increasing order, the largest repeated to fill.
            for (int k = count; k < 3 && count > 0; ++k)
                small[k] = small[count - 1];
            for (unsigned char b : small)
                EmitByte(b);
            return;
        }
        EmitNode(OpSetBits);
        for (int k = 0; k < 32; ++k) {
            std::uint8_t bits = negate ? std::uint8_t(~members[k]) : members[k];
            // The zero byte is the end-of-input marker and never matches a set.
            if (k == 0) bits &= 0xFE;
            EmitByte(bits);
        }
    }

    void SetOfChars(const std::string& chars, std::uint8_t* set) {
        for (char c : chars)
            if (c != '\0') SetBit(set, static_cast<unsigned char>(c));
    }

    // ---- parsing ----
    std::int32_t ParseReg(bool inGroup, int& flagp) {
        std::uint32_t savedModifiers = compileModifiers_;
        flagp = HasWidth;
        std::int32_t ret = 0;
        int groupNumber = 0;
        if (inGroup) {
            if (groupCount_ >= TRegExpr::NSUBEXP) Error(102);
            groupNumber = groupCount_++;
            ret = EmitNode(std::uint8_t(OpGroupOpenBase + groupNumber));
        }
        int flags = 0;
        std::int32_t branch = ParseSequence(flags);
        if (ret != 0)
            Tail(ret, branch);
        else
            ret = branch;
        if (!(flags & HasWidth)) flagp &= ~HasWidth;
        flagp |= flags & StartsWithStar;
        while (Cur() == '|' && !AtEnd()) {
            ++pos_;
            branch = ParseSequence(flags);
            Tail(ret, branch);
            if (!(flags & HasWidth)) flagp &= ~HasWidth;
            flagp |= flags & StartsWithStar;
        }
        std::int32_t ender =
            EmitNode(inGroup ? std::uint8_t(OpGroupCloseBase + groupNumber) : std::uint8_t(OpEnd));
        Tail(ret, ender);
        if (!sizing_)
            for (std::int32_t br = ret; br != 0; br = Next(br))
                OpTail(br, ender);
        if (inGroup) {
            if (AtEnd() || Cur() != ')') Error(103);
            ++pos_;
        } else if (!AtEnd()) {
            Error(Cur() == ')' ? 104 : 105);
        }
        compileModifiers_ = savedModifiers;
        return ret;
    }

    std::int32_t ParseSequence(int& flagp) {
        flagp = 0;
        std::int32_t ret = EmitNode(OpAlt);
        std::int32_t chain = 0;
        while (!AtEnd() && Cur() != '|' && Cur() != ')') {
            int flags = 0;
            std::int32_t latest = ParseQuantified(flags);
            flagp |= flags & HasWidth;
            if (chain == 0)
                flagp |= flags & StartsWithStar;
            else
                Tail(chain, latest);
            chain = latest;
        }
        if (chain == 0) EmitNode(OpEmpty);
        return ret;
    }

    // Reads "{n}", "{n,}" or "{n,m}" at the cursor (which is at "{"). False, with the cursor
    // unmoved, when the text is not such a count: the brace is then a literal.
    bool ParseBraces(std::int32_t& minCount, std::int32_t& maxCount) {
        std::size_t p = pos_ + 1;
        std::size_t minStart = p;
        while (p < text_.size() && text_[p] >= '0' && text_[p] <= '9')
            ++p;
        std::size_t minEnd = p;
        if (minEnd == minStart || p >= text_.size()) return false;
        std::size_t maxStart = 0, maxEnd = 0;
        bool hasComma = false;
        if (text_[p] == ',') {
            hasComma = true;
            ++p;
            maxStart = p;
            while (p < text_.size() && text_[p] >= '0' && text_[p] <= '9')
                ++p;
            maxEnd = p;
            if (p >= text_.size() || text_[p] != '}') return false;
        } else if (text_[p] != '}') {
            return false;
        }
        // A valid count: read the numbers, reporting with the cursor after each.
        auto number = [&](std::size_t from, std::size_t to) {
            pos_ = to;
            if (to - from > 8) Error(122);
            std::int32_t v = 0;
            for (std::size_t k = from; k < to; ++k)
                v = v * 10 + (text_[k] - '0');
            return v;
        };
        minCount = number(minStart, minEnd);
        if (!hasComma)
            maxCount = minCount;
        else if (maxEnd == maxStart) {
            pos_ = maxEnd;
            maxCount = MaxCount;
        } else
            maxCount = number(maxStart, maxEnd);
        if (maxCount < minCount) Error(124);
        pos_ = p + 1; // past "}"
        return true;
    }

    void EmitComplexLoop(std::uint8_t loopKind, std::int32_t atom, std::int32_t minCount,
                         std::int32_t maxCount) {
        InsertOperator(OpLoopEnter, atom, 0);
        std::int32_t loop = EmitNode(loopKind);
        EmitInt(minCount);
        EmitInt(maxCount);
        EmitInt(0);
        if (sizing_) return;
        std::int32_t body = atom + NodeHeaderSize;
        WriteInt(P(loop) + NodeHeaderSize + 8, body - loop);
        Tail(body, loop);
        Tail(atom, loop);
    }

    std::int32_t ParseQuantified(int& flagp) {
        int flags = 0;
        std::int32_t ret = ParseAtom(flags);
        char op = Cur();
        if (AtEnd() || !IsQuantifierChar(op)) {
            flagp = flags;
            return ret;
        }
        // A "{" counts here even when it turns out to be a literal brace.
        if (!(flags & HasWidth) && op != '?') Error(106);

        std::int32_t minCount = 0, maxCount = 0;
        if (op == '{') {
            if (!ParseBraces(minCount, maxCount)) {
                flagp = flags;
                return ret;
            }
        } else {
            ++pos_;
        }
        bool lazy = !On(ModifierG);
        if (Cur() == '?' && !AtEnd()) {
            lazy = true;
            ++pos_;
        }
        bool simple = (flags & SimpleNode) != 0;

        switch (op) {
        case '*':
            flagp = StartsWithStar;
            if (simple)
                InsertOperator(lazy ? OpStarSimpleLazy : OpStarSimple, ret, 0);
            else if (!lazy) {
                // (x then back to here | empty)
                InsertOperator(OpAlt, ret, 0);
                OpTail(ret, EmitNode(OpBack));
                OpTail(ret, ret);
                Tail(ret, EmitNode(OpAlt));
                Tail(ret, EmitNode(OpEmpty));
            } else
                EmitComplexLoop(OpLoopLazy, ret, 0, MaxCount);
            break;
        case '+':
            flagp = HasWidth | StartsWithStar;
            if (simple)
                InsertOperator(lazy ? OpPlusSimpleLazy : OpPlusSimple, ret, 0);
            else if (!lazy) {
                // x (back to x | empty)
                std::int32_t next = EmitNode(OpAlt);
                Tail(ret, next);
                Tail(EmitNode(OpBack), ret);
                Tail(next, EmitNode(OpAlt));
                Tail(ret, EmitNode(OpEmpty));
            } else
                EmitComplexLoop(OpLoopLazy, ret, 1, MaxCount);
            break;
        case '?':
            flagp = 0;
            if (simple && lazy) {
                InsertOperator(OpCountSimpleLazy, ret, CountOperandSize);
                if (!sizing_) {
                    WriteInt(P(ret) + NodeHeaderSize, 0);
                    WriteInt(P(ret) + NodeHeaderSize + 4, 1);
                }
            } else if (!lazy) {
                // (x | empty)
                InsertOperator(OpAlt, ret, 0);
                Tail(ret, EmitNode(OpAlt));
                std::int32_t next = EmitNode(OpEmpty);
                Tail(ret, next);
                OpTail(ret, next);
            } else
                EmitComplexLoop(OpLoopLazy, ret, 0, 1);
            break;
        default: // '{'
            flagp = maxCount > 0 ? (HasWidth | StartsWithStar) : 0;
            if (simple) {
                InsertOperator(lazy ? OpCountSimpleLazy : OpCountSimple, ret, CountOperandSize);
                if (!sizing_) {
                    WriteInt(P(ret) + NodeHeaderSize, minCount);
                    WriteInt(P(ret) + NodeHeaderSize + 4, maxCount);
                }
            } else
                EmitComplexLoop(lazy ? OpLoopLazy : OpLoop, ret, minCount, maxCount);
            break;
        }
        if (!AtEnd() && IsQuantifierChar(Cur())) Error(107);
        return ret;
    }

    // The character after "\" (already consumed); reads the digits of \x.
    unsigned char TranslateEscape(char c) {
        switch (c) {
        case 'a':
            return 7;
        case 'e':
            return 27;
        case 'f':
            return 12;
        case 'n':
            return 10;
        case 'r':
            return 13;
        case 't':
            return 9;
        case 'x': {
            if (AtEnd()) Error(111);
            int value = 0;
            if (Cur() == '{') {
                ++pos_;
                for (;;) {
                    if (AtEnd()) Error(111);
                    if (Cur() == '}') {
                        ++pos_;
                        break;
                    }
                    int digit = HexValue(Cur());
                    if (digit < 0) Error(108);
                    value = value * 16 + digit;
                    if (value > 0xFF) Error(112);
                    ++pos_;
                }
            } else {
                for (int k = 0; k < 2; ++k) {
                    if (AtEnd()) Error(111);
                    int digit = HexValue(Cur());
                    if (digit < 0) Error(108);
                    value = value * 16 + digit;
                    ++pos_;
                }
            }
            return static_cast<unsigned char>(value);
        }
        default:
            return static_cast<unsigned char>(c);
        }
    }

    // Bits from..to (never the zero byte), a byte at a time where whole bytes are covered.
    void AddRange(std::uint8_t* set, int from, int to) {
        int c = from < 1 ? 1 : from;
        while (c <= to && (c & 7) != 0)
            SetBit(set, static_cast<unsigned char>(c++));
        while (c + 7 <= to) {
            set[c >> 3] = 0xFF;
            c += 8;
        }
        while (c <= to)
            SetBit(set, static_cast<unsigned char>(c++));
    }

    // After "[" (consumed).
    void ParseClass() {
        std::uint8_t set[32] = {};
        bool negate = false;
        if (Cur() == '^' && !AtEnd()) {
            negate = true;
            ++pos_;
        }
        bool first = true;
        bool rangeAllowed = false; // a plain member or a completed range came before
        int last = 0;              // the most recent plain member, or the end of that range
        auto member = [&](unsigned char v) {
            if (v == 0) {
                // The zero byte is the end-of-input marker and cannot be a member.
                if (first)
                    throw EAssertionFailed(
                        "TRegExpr.ParseAtom(subroutine EmitRangeC): empty range (RegExpr.cpp, line " +
                        std::to_string(__LINE__) + ")");
            } else {
                SetBit(set, v);
            }
            last = v;
            rangeAllowed = true;
            first = false;
        };
        if (Cur() == ']' && !AtEnd()) {
            member(']');
            ++pos_;
        }
        while (!AtEnd() && Cur() != ']') {
            char c = Cur();
            if (c == '-' && rangeAllowed && pos_ + 1 < text_.size() && text_[pos_ + 1] != ']') {
                int end = 0;
                bool plainEnd = false;
                if (text_[pos_ + 1] == '\\') {
                    if (pos_ + 2 >= text_.size()) {
                        pos_ = text_.size();
                        Error(110);
                    }
                    char e = text_[pos_ + 2];
                    if (e == 'd' || e == 's' || e == 'w' || e == 'D' || e == 'S' || e == 'W') {
                        // "[a-\d]": the "-" is a member and the escape is read normally.
                        member('-');
                        ++pos_;
                        continue;
                    }
                    pos_ += 3;
                    end = TranslateEscape(e);
                } else {
                    ++pos_; // the cursor stays on the end character while the range is checked
                    end = static_cast<unsigned char>(Cur());
                    plainEnd = true;
                }
                int start = last;
                bool cyrillic = false;
                if (On(ModifierR)) {
                    // Windows-1251 letter ranges: lower-case a..ya with yo, upper-case A..YA
                    // with YO, and lower-case a..upper-case YA for both.
                    if (start == 0xE0 && end == 0xFF) {
                        AddRange(set, 0xE0, 0xFF);
                        SetBit(set, 0xB8);
                        cyrillic = true;
                    } else if (start == 0xC0 && end == 0xDF) {
                        AddRange(set, 0xC0, 0xDF);
                        SetBit(set, 0xA8);
                        cyrillic = true;
                    } else if (start == 0xE0 && end == 0xDF) {
                        AddRange(set, 0xC0, 0xFF);
                        SetBit(set, 0xA8);
                        SetBit(set, 0xB8);
                        cyrillic = true;
                    }
                }
                if (!cyrillic) {
                    if (end < start) Error(109);
                    AddRange(set, start, end);
                }
                if (plainEnd) ++pos_;
                last = end;
                rangeAllowed = true;
                first = false;
                continue;
            }
            if (c == '\\') {
                ++pos_;
                if (AtEnd()) Error(110);
                char e = Cur();
                ++pos_;
                if (e == 'd') {
                    AddRange(set, '0', '9');
                } else if (e == 's') {
                    SetOfChars(re_.spaceChars_, set);
                } else if (e == 'w') {
                    SetOfChars(re_.WordCharacters(), set);
                } else {
                    member(TranslateEscape(e));
                    continue;
                }
                rangeAllowed = false;
                first = false;
                continue;
            }
            ++pos_;
            member(static_cast<unsigned char>(c));
        }
        if (AtEnd()) Error(113);
        ++pos_; // "]"
        if (On(ModifierI)) {
            std::uint8_t folded[32];
            std::memcpy(folded, set, sizeof folded);
            for (int c = 1; c < 256; ++c)
                if (HasBit(set, static_cast<unsigned char>(c))) {
                    unsigned char partner = re_.SwapCase(static_cast<unsigned char>(c));
                    if (partner != 0) SetBit(folded, partner);
                }
            std::memcpy(set, folded, sizeof set);
        }
        EmitSet(set, negate);
    }

    std::int32_t ParseAtom(int& flagp) {
        flagp = 0;
        if (AtEnd()) Error(114);
        std::int32_t ret = 0;
        std::size_t atomStart = pos_;
        char c = text_[pos_++];
        bool separatorConfigured = !re_.lineSeparators_.empty() || re_.pairedSet_;
        switch (c) {
        case '^':
            ret = EmitNode(On(ModifierM) && separatorConfigured ? OpLineStart : OpTextStart);
            break;
        case '$':
            ret = EmitNode(On(ModifierM) && separatorConfigured ? OpLineEnd : OpTextEnd);
            break;
        case '.':
            if (On(ModifierS)) {
                ret = EmitNode(OpAnyChar);
                flagp = HasWidth | SimpleNode;
            } else {
                ret = EmitNode(OpAnyInLine);
                flagp = HasWidth;
            }
            break;
        case '[':
            ret = sizing_ ? SizingMarker : emit_;
            ParseClass();
            flagp = HasWidth | SimpleNode;
            break;
        case '(':
            if (Cur() == '?' && !AtEnd()) {
                if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '#') {
                    pos_ += 2;
                    while (!AtEnd() && Cur() != ')')
                        ++pos_;
                    if (AtEnd()) Error(125);
                    ++pos_;
                } else {
                    ++pos_;
                    std::size_t close = text_.find(')', pos_);
                    if (close == std::string::npos) {
                        pos_ = text_.size();
                        Error(127);
                    }
                    std::string switches = text_.substr(pos_, close - pos_);
                    pos_ = close;
                    if (!ParseModifierText(switches, compileModifiers_)) Error(127);
                    ++pos_;
                }
                ret = EmitNode(OpSkip);
            } else {
                int flags = 0;
                ret = ParseReg(true, flags);
                flagp = flags & (HasWidth | StartsWithStar);
            }
            break;
        case '|':
        case ')':
            Error(114);
        case '?':
        case '+':
        case '*':
            Error(115);
        case '\\': {
            if (AtEnd()) Error(116);
            char e = text_[pos_++];
            if (e >= '1' && e <= '9') {
                ret = EmitNode(On(ModifierI) ? OpBackrefFold : OpBackref);
                EmitByte(static_cast<std::uint8_t>(e - '0'));
                flagp = HasWidth | SimpleNode;
                break;
            }
            switch (e) {
            case 'A':
                ret = EmitNode(OpTextStart);
                break;
            case 'Z':
                ret = EmitNode(OpTextEnd);
                break;
            case 'b':
                ret = EmitNode(OpWordBoundary);
                break;
            case 'B':
                ret = EmitNode(OpNotWordBoundary);
                break;
            case 'd':
                ret = EmitNode(OpDigit);
                flagp = HasWidth | SimpleNode;
                break;
            case 'D':
                ret = EmitNode(OpNonDigit);
                flagp = HasWidth | SimpleNode;
                break;
            case 's':
            case 'S':
            case 'w':
            case 'W': {
                std::uint8_t set[32] = {};
                SetOfChars(e == 's' || e == 'S' ? re_.spaceChars_ : re_.WordCharacters(), set);
                ret = sizing_ ? SizingMarker : emit_;
                EmitSet(set, e == 'S' || e == 'W');
                flagp = HasWidth | SimpleNode;
                break;
            }
            default: {
                unsigned char v = TranslateEscape(e);
                if (v == 0) {
                    // \x00 stands for the byte 0, which is the end-of-input marker and never
                    // part of the text; a literal cannot hold it (its text ends at a zero), so
                    // it becomes a one-byte set of that byte: it matches nothing.
                    ret = EmitNode(OpSetSmall);
                    EmitByte(0);
                    EmitByte(0);
                    EmitByte(0);
                } else {
                    ret = EmitNode(On(ModifierI) ? OpLiteralFold : OpLiteral);
                    EmitByte(v);
                    EmitByte(0);
                }
                flagp = HasWidth | SimpleNode;
                break;
            }
            }
            break;
        }
        default:
            if (On(ModifierX) && IsExtendedBlank(c)) {
                while (!AtEnd() && IsExtendedBlank(Cur()))
                    ++pos_;
                ret = EmitNode(OpSkip);
                break;
            }
            if (On(ModifierX) && c == '#') {
                while (!AtEnd() && Cur() != '\r' && Cur() != '\n')
                    ++pos_;
                while (!AtEnd() && (Cur() == '\r' || Cur() == '\n'))
                    ++pos_;
                ret = EmitNode(OpSkip);
                break;
            }
            ret = ParseLiteralRun(atomStart, flagp);
            break;
        }
        return ret;
    }

    // The longest stretch without metacharacters (a "{" at its start belongs to it). A run
    // longer than one byte gives up its last byte when a quantifier follows, so that the
    // quantifier applies to that byte alone.
    std::int32_t ParseLiteralRun(std::size_t start, int& flagp) {
        bool extended = On(ModifierX);
        std::size_t end = start;
        if (text_[end] == '{') ++end;
        while (end < text_.size() && !IsMeta(text_[end]) && !(extended && text_[end] == '#'))
            ++end;
        std::size_t length = end - start;
        if (length == 0) Error(119);
        if (length > 1 && end < text_.size() && IsQuantifierChar(text_[end])) --length;
        flagp = HasWidth | (length == 1 ? SimpleNode : 0);
        std::int32_t ret = EmitNode(On(ModifierI) ? OpLiteralFold : OpLiteral);
        for (std::size_t k = start; k < start + length; ++k) {
            char c = text_[k];
            if (extended && IsExtendedBlank(c)) continue;
            EmitByte(static_cast<std::uint8_t>(c));
        }
        EmitByte(0);
        pos_ = start + length;
        return ret;
    }
};

void TRegExpr::BuildProgram(const std::string& expression) {
    DiscardProgram();
    programModifiers_ = modifiers_;
    try {
        TRegExprCompiler compiler(*this, expression);
        compiler.Pass(true);
        program_.assign(static_cast<std::size_t>(compiler.Size()), 0);
        int flags = compiler.Pass(false);
        if (compiler.Emitted() != compiler.Size())
            throw EAssertionFailed("TRegExpr.BuildProgram: program size mismatch (RegExpr.cpp)");
        parsePosition_ = 0;

        // Search hints.
        const std::uint8_t* prog = program_.data();
        auto next = [&](std::int32_t node) {
            std::int32_t offset = ReadInt(prog + node + 1);
            return offset == 0 ? 0 : node + offset;
        };
        std::vector<std::uint8_t> visited(program_.size(), 0);
        std::memset(firstCharSet_, 0, sizeof firstCharSet_);
        FillFirstCharSet(1, visited);
        std::int32_t scan = 1;
        if (prog[next(scan)] == OpEnd) { // a single top-level alternative
            scan += NodeHeaderSize;
            // Switches leave OpSkip nodes, which match the empty string: the first node that
            // matters comes after them.
            std::int32_t first = scan;
            while (prog[first] == OpSkip && next(first) != 0)
                first = next(first);
            if (prog[first] == OpLiteral)
                firstByte_ = prog[first + NodeHeaderSize];
            else if (prog[first] == OpTextStart)
                anchored_ = true;
            else if ((prog[first] == OpStarSimple || prog[first] == OpStarSimpleLazy) &&
                     prog[first + NodeHeaderSize] == OpAnyChar)
                // A leading ".*" (with s) that fails from the first position fails from every
                // later one too: that attempt already tries every way the rest can begin.
                anchored_ = true;
            // The required text: the longest literal every match must hold. Looking for it
            // before any attempt rejects most subjects a filter does not match with one quick
            // scan, so it is taken whenever the search is not anchored (and, as before, for
            // a sequence beginning with a star).
            if ((flags & StartsWithStar) || !anchored_) {
                std::int32_t longest = 0, longestFold = 0;
                std::size_t length = 0, lengthFold = 0;
                for (; scan != 0 && prog[scan] != OpBack; scan = next(scan)) {
                    if (prog[scan] != OpLiteral && prog[scan] != OpLiteralFold) continue;
                    std::size_t n = std::strlen(reinterpret_cast<const char*>(prog + scan + NodeHeaderSize));
                    if (prog[scan] == OpLiteral && n >= length) {
                        longest = scan + NodeHeaderSize;
                        length = n;
                    } else if (prog[scan] == OpLiteralFold && n >= lengthFold) {
                        longestFold = scan + NodeHeaderSize;
                        lengthFold = n;
                    }
                }
                requiredText_ = longest;
                requiredLength_ = static_cast<std::int32_t>(length);
                if (longest == 0 && !anchored_) {
                    requiredFoldText_ = longestFold;
                    requiredFoldLength_ = static_cast<std::int32_t>(lengthFold);
                }
            }
        }
        // A single byte that must begin every match is searched like the first byte.
        std::uint64_t words[4];
        std::memcpy(words, firstCharSet_, sizeof words);
        int members = 0;
        for (std::uint64_t w : words)
            members += PopCount(w);
        firstCharOnly_ = -1;
        if (members == 1 && !(words[0] & 1))
            for (int k = 0; k < 4; ++k)
                if (words[k] != 0) firstCharOnly_ = k * 64 + std::countr_zero(words[k]);
        groupCount_ = compiler.GroupCount();
        compiled_ = true;
    } catch (...) {
        DiscardProgram();
        parsePosition_ = 0;
        throw;
    }
}

// Bytes that can begin a match from node on. The walk follows next links and recurses into
// the alternatives; a node met a second time adds nothing new (its contribution is already
// being collected), which also ends the walk around loops.
void TRegExpr::FillFirstCharSet(std::int32_t node, std::vector<std::uint8_t>& visited) {
    const std::uint8_t* prog = program_.data();
    auto next = [&](std::int32_t n) {
        std::int32_t offset = ReadInt(prog + n + 1);
        return offset == 0 ? 0 : n + offset;
    };
    auto addAll = [&] { std::memset(firstCharSet_, 0xFF, sizeof firstCharSet_); };
    auto add = [&](unsigned char c) { SetBit(firstCharSet_, c); };
    // The set of a one-byte node (the operand of a simple repetition, or a set node).
    auto addNode = [&](std::int32_t n) {
        const std::uint8_t* operand = prog + n + NodeHeaderSize;
        switch (prog[n]) {
        case OpAnyChar:
        case OpAnyInLine:
        case OpBackref:
        case OpBackrefFold:
            addAll();
            break;
        case OpLiteral:
            add(operand[0]);
            break;
        case OpLiteralFold:
            add(operand[0]);
            add(SwapCase(operand[0]));
            break;
        case OpDigit:
            for (int c = '0'; c <= '9'; ++c)
                add(static_cast<unsigned char>(c));
            break;
        case OpNonDigit:
            for (int c = 0; c < 256; ++c)
                if (c < '0' || c > '9') add(static_cast<unsigned char>(c));
            break;
        case OpSetSmall:
            for (int k = 0; k < 3; ++k)
                add(operand[k]);
            break;
        case OpSetSmallNot:
            for (int c = 0; c < 256; ++c)
                if (c != operand[0] && c != operand[1] && c != operand[2]) add(static_cast<unsigned char>(c));
            break;
        case OpSetBits:
            for (int k = 0; k < 32; ++k)
                firstCharSet_[k] |= operand[k];
            break;
        default:
            Fail(1001);
        }
    };
    while (node != 0) {
        if (visited[static_cast<std::size_t>(node)]) return;
        visited[static_cast<std::size_t>(node)] = 1;
        std::uint8_t kind = prog[node];
        switch (kind) {
        case OpEnd:
        case OpAnyChar:
        case OpAnyInLine:
        case OpBackref:
        case OpBackrefFold:
            addAll();
            return;
        case OpTextEnd:
            add(0);
            return;
        case OpLineEnd:
            add(0);
            for (char c : lineSeparators_)
                add(static_cast<unsigned char>(c));
            // "$" also matches in front of a paired separator whose head is not among the
            // single separators; without it the search would skip that position.
            if (pairedSet_) add(pairedHead_);
            return;
        case OpAlt: {
            std::int32_t n = next(node);
            if (n != 0 && prog[n] == OpAlt) {
                for (std::int32_t alt = node; alt != 0 && prog[alt] == OpAlt; alt = next(alt)) {
                    visited[static_cast<std::size_t>(alt)] = 1;
                    FillFirstCharSet(alt + NodeHeaderSize, visited);
                }
                return;
            }
            node += NodeHeaderSize;
            continue;
        }
        case OpLiteral:
        case OpLiteralFold:
        case OpDigit:
        case OpNonDigit:
        case OpSetSmall:
        case OpSetSmallNot:
        case OpSetBits:
            addNode(node);
            return;
        case OpStarSimple:
        case OpStarSimpleLazy:
            addNode(node + NodeHeaderSize);
            break;
        case OpPlusSimple:
        case OpPlusSimpleLazy:
            addNode(node + NodeHeaderSize);
            return;
        case OpCountSimple:
        case OpCountSimpleLazy:
            addNode(node + NodeHeaderSize + CountOperandSize);
            if (ReadInt(prog + node + NodeHeaderSize) > 0) return;
            break;
        case OpLoop:
        case OpLoopLazy:
            FillFirstCharSet(node + ReadInt(prog + node + NodeHeaderSize + 8), visited);
            // What follows the loop is added even when its minimum is above 0: a body that
            // can match the empty string (such as "(x{0,3})") ends the loop at once, so the
            // following text may begin the match.
            break;
        case OpTextStart:
        case OpLineStart:
        case OpBack:
        case OpEmpty:
        case OpSkip:
        case OpWordBoundary:
        case OpNotWordBoundary:
        case OpLoopEnter:
            break;
        default:
            if (IsGroupOpen(kind) || IsGroupClose(kind)) break;
            Fail(1001);
        }
        node = next(node);
    }
}

} // namespace quillmark
