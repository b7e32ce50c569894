// The matcher: runs a compiled program against the input. The search tries start positions
// (filtered by the hints the compiler left); each attempt is a backtracking walk over the
// nodes. Where a recursive walk would call itself for a choice (an alternative, a repetition
// count, a loop iteration), this one pushes a choice point; where it would restore a group or
// a loop counter after a failed call, it records the old value on an undo trail. Failing pops
// the newest choice point, undoes the trail down to its height and resumes there. Results
// are those of the recursive walk, without its depth limit.
#include "regex/RegExprMatcher.h"
#include "regex/RegExpr.h"
#include "regex/RegExprProgram.h"

#include <cstring>
#include <string_view>

namespace quillmark {

using namespace regexprogram;

namespace {

// Memory the choice points and the undo trail of one attempt may take before it gives up with
// 1017 instead of exhausting the machine; far beyond any subject line (a 1 MiB input through
// fourteen nested groups in a loop needs about a quarter of it).
constexpr std::size_t MaxBacktrackBytes = std::size_t(1) << 30;

inline bool InSet(const std::uint8_t* set, unsigned char c) {
    return (set[c >> 3] >> (c & 7)) & 1;
}

} // namespace

bool TRegExpr::Exec(const std::string& input) {
    // The text ends at its first zero byte: that byte is the end-of-input marker.
    const void* zero = std::memchr(input.data(), 0, input.size());
    std::size_t length =
        zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - input.data()) : input.size();
    input_.assign(input.data(), length); // keeps the buffer when it is large enough
    hasInput_ = true;
    return ExecFrom(1);
}

bool TRegExpr::ExecFrom(std::ptrdiff_t offset) {
    ClearGroups();
    if (modifiers_ != programModifiers_) DiscardProgram();
    // The line-separator set is rebuilt whenever LineSeparatorChars changes.
    if (!compiled_) Compile();
    if (program_.empty() || program_[0] != ProgramMarker) Fail(1004);
    if (!hasInput_) Fail(1005);
    if (offset < 1) Fail(1006);
    inputLength_ = static_cast<std::ptrdiff_t>(input_.size());
    if (offset > inputLength_ + 1) return false;
    in_ = reinterpret_cast<const unsigned char*>(input_.c_str());
    const unsigned char* in = in_;
    const std::ptrdiff_t start = offset - 1;

    if (requiredText_ != 0) {
        std::string_view rest(input_.data() + start, input_.size() - static_cast<std::size_t>(start));
        std::string_view required(reinterpret_cast<const char*>(program_.data() + requiredText_),
                                  static_cast<std::size_t>(requiredLength_));
        if (rest.find(required) == std::string_view::npos) return false;
    } else if (requiredFoldText_ != 0) {
        const std::uint8_t* required = program_.data() + requiredFoldText_;
        const std::ptrdiff_t n = requiredFoldLength_;
        const unsigned char head = required[0], headOther = swapTable_[head];
        bool found = false;
        for (std::ptrdiff_t at = start; at + n <= inputLength_ && !found; ++at) {
            if (in[at] != head && in[at] != headOther) continue;
            std::ptrdiff_t k = 1;
            while (k < n && (in[at + k] == required[k] || in[at + k] == swapTable_[required[k]]))
                ++k;
            found = k == n;
        }
        if (!found) return false;
    }
    backtrackSteps_ = 0;

    auto attempt = [&](std::ptrdiff_t at) {
        // Loop counters are set on entering a loop before they are read; only the level
        // must start at 0.
        regs_[RegLoopLevel] = 0;
        pos_ = at;
        if (MatchPrim(1)) {
            regs_[RegGroupStart] = at;
            regs_[RegGroupEnd] = pos_;
            return true;
        }
        // A failed attempt may leave groups set where no choice point was there to undo them.
        for (int n = 1; n <= groupCount_; ++n) {
            regs_[RegGroupStart + n] = -1;
            regs_[RegGroupEnd + n] = -1;
        }
        return false;
    };

    if (anchored_) return attempt(start);
    if (firstByte_ != 0 || firstCharOnly_ > 0) {
        const int wanted = firstByte_ != 0 ? firstByte_ : firstCharOnly_;
        const unsigned char* p = in + start;
        const unsigned char* end = in + inputLength_;
        while (p < end) {
            p = static_cast<const unsigned char*>(std::memchr(p, wanted, static_cast<std::size_t>(end - p)));
            if (p == nullptr) return false;
            if (attempt(p - in)) return true;
            ++p;
        }
        return false;
    }
    for (std::ptrdiff_t at = start; at <= inputLength_; ++at) {
        if (!InSet(firstCharSet_, in[at])) continue; // in[inputLength_] is the zero marker
        if (attempt(at)) return true;
    }
    return false;
}

// Counts how often the one-byte node matches from pos_ on, at most max times and never past
// the input end, and moves pos_ past the repetitions.
std::ptrdiff_t TRegExpr::RegRepeat(std::int32_t node, std::ptrdiff_t max) {
    const std::uint8_t* prog = program_.data();
    const std::uint8_t* operand = prog + node + NodeHeaderSize;
    const unsigned char* p = in_ + pos_;
    std::ptrdiff_t available = inputLength_ - pos_;
    std::ptrdiff_t limit = max < available ? max : available;
    std::ptrdiff_t n = 0;
    switch (prog[node]) {
    case OpAnyChar:
        n = limit;
        break;
    case OpLiteral: {
        unsigned char c = operand[0];
        while (n < limit && p[n] == c)
            ++n;
        break;
    }
    case OpLiteralFold: {
        unsigned char c = operand[0], other = SwapCase(c);
        while (n < limit && (p[n] == c || p[n] == other))
            ++n;
        break;
    }
    case OpDigit:
        while (n < limit && p[n] >= '0' && p[n] <= '9')
            ++n;
        break;
    case OpNonDigit:
        while (n < limit && (p[n] < '0' || p[n] > '9'))
            ++n;
        break;
    case OpSetSmall:
        while (n < limit && (p[n] == operand[0] || p[n] == operand[1] || p[n] == operand[2]))
            ++n;
        break;
    case OpSetSmallNot:
        while (n < limit && p[n] != operand[0] && p[n] != operand[1] && p[n] != operand[2])
            ++n;
        break;
    case OpSetBits:
        while (n < limit && InSet(operand, p[n]))
            ++n;
        break;
    case OpBackref:
    case OpBackrefFold: {
        // Whole repetitions of the group's text. An empty text would repeat without end; the
        // caller handles it before counting.
        int group = operand[0];
        std::int64_t s = group < NSUBEXP ? regs_[RegGroupStart + group] : -1;
        std::int64_t e = group < NSUBEXP ? regs_[RegGroupEnd + group] : -1;
        if (s < 0 || e <= s) return 0;
        std::ptrdiff_t length = static_cast<std::ptrdiff_t>(e - s);
        bool fold = prog[node] == OpBackrefFold;
        while (n < max && BackrefAt(group, fold, pos_)) {
            pos_ += length;
            ++n;
        }
        return n;
    }
    default:
        Fail(1000);
    }
    pos_ += n;
    return n;
}

// Whether the text of group (set, start <= end) stands at input position at.
bool TRegExpr::BackrefAt(int group, bool fold, std::ptrdiff_t at) const {
    std::int64_t s = regs_[RegGroupStart + group], e = regs_[RegGroupEnd + group];
    std::ptrdiff_t length = static_cast<std::ptrdiff_t>(e - s);
    if (length > inputLength_ - at) return false;
    const unsigned char* text = in_ + s;
    const unsigned char* here = in_ + at;
    if (!fold) return std::memcmp(text, here, static_cast<std::size_t>(length)) == 0;
    for (std::ptrdiff_t k = 0; k < length; ++k)
        if (here[k] != text[k] && here[k] != swapTable_[text[k]]) return false;
    return true;
}

bool TRegExpr::MatchPrim(std::int32_t start) {
    const std::uint8_t* prog = program_.data();
    const unsigned char* in = in_;
    const std::ptrdiff_t length = inputLength_;
    std::int64_t* regs = regs_;
    // A long run may have left large vectors behind; an engine kept for short subjects gives
    // that memory back.
    if (choices_.capacity() > 65536) std::vector<Choice>().swap(choices_);
    if (trail_.capacity() > 65536) std::vector<TrailEntry>().swap(trail_);
    choices_.clear();
    trail_.clear();
    std::ptrdiff_t pos = pos_;
    std::int32_t node = start;

    // What the two vectors hold; checked only when one of them is about to grow.
    auto backtrackBytes = [&] {
        return choices_.capacity() * sizeof(Choice) + trail_.capacity() * sizeof(TrailEntry);
    };
    // A change of a register is recorded only while a choice point could need it undone.
    auto setReg = [&](int slot, std::int64_t value) {
        if (!choices_.empty()) {
            if (trail_.size() == trail_.capacity() && backtrackBytes() >= MaxBacktrackBytes / 2) Fail(1017);
            trail_.push_back(TrailEntry::Make(slot, regs[slot]));
        }
        regs[slot] = value;
    };
    auto push = [&](Choice::Type type, std::int32_t at, std::int64_t count, std::int64_t bound,
                    std::int32_t level, std::int16_t lookahead) {
        if (choices_.size() == choices_.capacity() && backtrackBytes() >= MaxBacktrackBytes / 2) Fail(1017);
        choices_.push_back(
            Choice{type, lookahead, at, static_cast<std::uint32_t>(trail_.size()), level, pos, count, bound});
    };
    auto kindOf = [&](std::int32_t n) { return prog[n]; };
    auto nextOf = [&](std::int32_t n) {
        std::int32_t offset = ReadInt(prog + n + 1);
        return offset == 0 ? 0 : n + offset;
    };
    auto isLineSeparator = [&](unsigned char c) { return InSet(lineSeparatorSet_, c); };

    for (;;) {
        std::uint8_t kind = prog[node];
        std::int32_t next = nextOf(node);
        switch (kind) {
        case OpEnd:
            pos_ = pos;
            return true;
        case OpTextStart:
            if (pos != 0) goto fail;
            break;
        case OpTextEnd:
            if (pos != length) goto fail;
            break;
        case OpAnyChar:
            if (pos >= length) goto fail;
            ++pos;
            break;
        case OpAnyInLine: {
            if (pos >= length) goto fail;
            unsigned char c = in[pos];
            if (isLineSeparator(c) || (pairedSet_ && c == pairedHead_ && in[pos + 1] == pairedTail_))
                goto fail;
            ++pos;
            break;
        }
        case OpLiteral: {
            const std::uint8_t* literal = prog + node + NodeHeaderSize;
            if (in[pos] != literal[0]) goto fail; // in[length] is 0, never a literal byte
            std::ptrdiff_t k = 1;
            while (literal[k] != 0) {
                if (in[pos + k] != literal[k]) goto fail; // stops at the zero marker at the latest
                ++k;
            }
            pos += k;
            break;
        }
        case OpLiteralFold: {
            const std::uint8_t* literal = prog + node + NodeHeaderSize;
            std::ptrdiff_t k = 0;
            for (; literal[k] != 0; ++k) {
                unsigned char c = in[pos + k];
                if (c == 0 || (c != literal[k] && c != swapTable_[literal[k]])) goto fail;
            }
            pos += k;
            break;
        }
        case OpDigit:
            if (pos >= length || in[pos] < '0' || in[pos] > '9') goto fail;
            ++pos;
            break;
        case OpNonDigit:
            if (pos >= length || (in[pos] >= '0' && in[pos] <= '9')) goto fail;
            ++pos;
            break;
        case OpSetSmall: {
            const std::uint8_t* set = prog + node + NodeHeaderSize;
            unsigned char c = in[pos];
            if (pos >= length || (c != set[0] && c != set[1] && c != set[2])) goto fail;
            ++pos;
            break;
        }
        case OpSetSmallNot: {
            const std::uint8_t* set = prog + node + NodeHeaderSize;
            unsigned char c = in[pos];
            if (pos >= length || c == set[0] || c == set[1] || c == set[2]) goto fail;
            ++pos;
            break;
        }
        case OpSetBits:
            if (pos >= length || !InSet(prog + node + NodeHeaderSize, in[pos])) goto fail;
            ++pos;
            break;
        case OpEmpty:
        case OpSkip:
            break;
        case OpBack: {
            // The end of one iteration of a "*" or "+" loop over a group. An iteration that
            // consumed nothing would repeat for ever; it ends the loop instead, going on with
            // the loop's exit alternative, which follows this node directly.
            std::int32_t atom = kindOf(next) == OpAlt ? next + NodeHeaderSize : next;
            std::uint8_t atomKind = kindOf(atom);
            if (IsGroupOpen(atomKind) && regs[RegGroupStart + (atomKind - OpGroupOpenBase)] == pos) {
                next = node + NodeHeaderSize;
                if (kindOf(next) != OpAlt) Fail(1001);
            }
            break;
        }
        case OpAlt:
            if (next == 0 || kindOf(next) != OpAlt) {
                next = node + NodeHeaderSize;
            } else {
                push(Choice::Alternative, next, 0, 0, 0, -1);
                next = node + NodeHeaderSize;
            }
            break;
        case OpBackref:
        case OpBackrefFold: {
            int group = prog[node + NodeHeaderSize];
            if (group >= NSUBEXP) goto fail;
            std::int64_t s = regs[RegGroupStart + group], e = regs[RegGroupEnd + group];
            // An end before the start is a group whose later iteration has begun but not
            // closed yet: it has no text to compare.
            if (s < 0 || e < s) goto fail;
            if (!BackrefAt(group, kind == OpBackrefFold, pos)) goto fail;
            pos += static_cast<std::ptrdiff_t>(e - s);
            break;
        }
        case OpWordBoundary:
        case OpNotWordBoundary: {
            bool before = pos > 0 && InSet(wordSet_, in[pos - 1]);
            bool after = pos < length && InSet(wordSet_, in[pos]);
            if ((before != after) != (kind == OpWordBoundary)) goto fail;
            break;
        }
        case OpLineStart: {
            if (pos == 0) break;
            unsigned char previous = in[pos - 1];
            if (pairedSet_) {
                if (pos >= 2 && in[pos - 2] == pairedHead_ && previous == pairedTail_) break;
                if (previous == pairedHead_ && in[pos] == pairedTail_) goto fail;
            }
            if (!isLineSeparator(previous)) goto fail;
            break;
        }
        case OpLineEnd: {
            if (pos >= length) break;
            unsigned char c = in[pos];
            if (pairedSet_) {
                if (c == pairedHead_ && in[pos + 1] == pairedTail_) break;
                if (c == pairedTail_ && pos > 0 && in[pos - 1] == pairedHead_) goto fail;
            }
            if (!isLineSeparator(c)) goto fail;
            break;
        }
        case OpStarSimple:
        case OpPlusSimple:
        case OpCountSimple:
        case OpStarSimpleLazy:
        case OpPlusSimpleLazy:
        case OpCountSimpleLazy: {
            std::int64_t minCount = 0, maxCount = 2147483647;
            std::int32_t repeated = node + NodeHeaderSize;
            if (kind == OpPlusSimple || kind == OpPlusSimpleLazy) minCount = 1;
            if (kind == OpCountSimple || kind == OpCountSimpleLazy) {
                minCount = ReadInt(prog + repeated);
                maxCount = ReadInt(prog + repeated + 4);
                repeated += CountOperandSize;
            }
            std::int16_t lookahead = -1;
            if (next != 0 && kindOf(next) == OpLiteral) lookahead = prog[next + NodeHeaderSize];
            std::ptrdiff_t s = pos;
            std::ptrdiff_t count;
            std::int32_t step = 1;
            std::uint8_t repeatedKind = kindOf(repeated);
            if (repeatedKind == OpBackref || repeatedKind == OpBackrefFold) {
                // A repeated back-reference steps by whole repetitions of the group's text.
                // An empty text matches any number of times without moving: one try, at the
                // minimum, is all there is.
                int group = prog[repeated + NodeHeaderSize];
                std::int64_t gs = group < NSUBEXP ? regs[RegGroupStart + group] : -1;
                std::int64_t ge = group < NSUBEXP ? regs[RegGroupEnd + group] : -1;
                if (gs >= 0 && ge == gs) {
                    step = 0;
                    count = static_cast<std::ptrdiff_t>(minCount);
                } else {
                    step = gs >= 0 && ge > gs ? static_cast<std::int32_t>(ge - gs) : 1;
                    pos_ = pos;
                    count = RegRepeat(repeated, static_cast<std::ptrdiff_t>(maxCount));
                }
            } else {
                pos_ = pos;
                count = RegRepeat(repeated, static_cast<std::ptrdiff_t>(maxCount));
            }
            if (count < minCount) goto fail;
            auto fits = [&](std::int64_t i) { return lookahead < 0 || in[s + i * step] == lookahead; };
            bool greedy = kind == OpStarSimple || kind == OpPlusSimple || kind == OpCountSimple;
            std::int64_t i;
            if (greedy) {
                i = count;
                while (i >= minCount && !fits(i))
                    --i;
                if (i < minCount) goto fail;
                pos = s;
                if (i > minCount) push(Choice::RepeatGreedy, next, i, minCount, step, lookahead);
            } else {
                i = minCount;
                while (i <= count && !fits(i))
                    ++i;
                if (i > count) goto fail;
                pos = s;
                if (i < count) push(Choice::RepeatLazy, next, i, count, step, lookahead);
            }
            pos = s + static_cast<std::ptrdiff_t>(i) * step;
            break;
        }
        case OpLoopEnter: {
            std::int64_t level = regs[RegLoopLevel] + 1;
            if (level > LoopStackMax) Fail(1014);
            setReg(RegLoopLevel, level);
            setReg(RegLoopCounter + static_cast<int>(level), 0);
            break;
        }
        case OpLoop:
        case OpLoopLazy: {
            std::int64_t level = regs[RegLoopLevel];
            if (level <= 0) Fail(1015);
            int L = static_cast<int>(level);
            std::int64_t c = regs[RegLoopCounter + L];
            const std::uint8_t* operand = prog + node + NodeHeaderSize;
            std::int64_t minCount = ReadInt(operand), maxCount = ReadInt(operand + 4);
            std::int32_t body = node + ReadInt(operand + 8);
            bool iterate;
            // An optional iteration that consumed nothing ends the loop: more would not
            // consume either, and would count without end. Required iterations (below the
            // minimum) are all run, since a later one may still consume where an earlier one
            // matched the empty string.
            if (c >= minCount && c > 0 && regs[RegLoopIterStart + L] == pos) {
                iterate = false;
            } else if (c < minCount) {
                iterate = true;
            } else if (kind == OpLoop) {
                iterate = c < maxCount;
                if (iterate) push(Choice::LoopExit, node, 0, 0, L, -1);
            } else {
                iterate = false;
                if (c < maxCount) push(Choice::LoopMore, node, 0, 0, L, -1);
            }
            if (iterate) {
                setReg(RegLoopCounter + L, c + 1);
                setReg(RegLoopIterStart + L, pos);
                next = body;
            } else {
                setReg(RegLoopLevel, level - 1);
            }
            break;
        }
        default:
            if (IsGroupOpen(kind)) {
                setReg(RegGroupStart + (kind - OpGroupOpenBase), pos);
                break;
            }
            if (IsGroupClose(kind)) {
                setReg(RegGroupEnd + (kind - OpGroupCloseBase), pos);
                break;
            }
            Fail(1001);
        }
        if (next == 0) Fail(1002);
        node = next;
        continue;

    fail:
        for (;;) {
            if (choices_.empty()) return false;
            if (backtrackLimit_ != 0 && ++backtrackSteps_ > backtrackLimit_) Fail(1016);
            Choice& choice = choices_.back();
            for (std::size_t k = trail_.size(); k > choice.trail; --k)
                regs[trail_[k - 1].Slot()] = trail_[k - 1].Old();
            trail_.resize(choice.trail);
            pos = static_cast<std::ptrdiff_t>(choice.pos);
            switch (choice.type) {
            case Choice::Alternative: {
                std::int32_t alternative = choice.node;
                std::int32_t following = nextOf(alternative);
                if (following != 0 && kindOf(following) == OpAlt)
                    choice.node = following;
                else
                    choices_.pop_back();
                node = alternative + NodeHeaderSize;
                break;
            }
            case Choice::RepeatGreedy:
            case Choice::RepeatLazy: {
                bool greedy = choice.type == Choice::RepeatGreedy;
                std::int64_t i = choice.count;
                std::int64_t step = choice.level;
                auto fits = [&](std::int64_t k) {
                    return choice.lookahead < 0 || in[choice.pos + k * step] == choice.lookahead;
                };
                if (greedy) {
                    do
                        --i;
                    while (i >= choice.bound && !fits(i));
                    if (i < choice.bound) {
                        choices_.pop_back();
                        continue;
                    }
                } else {
                    do
                        ++i;
                    while (i <= choice.bound && !fits(i));
                    if (i > choice.bound) {
                        choices_.pop_back();
                        continue;
                    }
                }
                choice.count = i;
                pos = static_cast<std::ptrdiff_t>(choice.pos + i * step);
                node = choice.node;
                if (i == choice.bound) choices_.pop_back();
                break;
            }
            case Choice::LoopExit: {
                int L = choice.level;
                std::int32_t loop = choice.node;
                choices_.pop_back();
                setReg(RegLoopLevel, L - 1);
                node = nextOf(loop);
                if (node == 0) Fail(1002);
                break;
            }
            case Choice::LoopMore: {
                int L = choice.level;
                std::int32_t loop = choice.node;
                choices_.pop_back();
                setReg(RegLoopCounter + L, regs[RegLoopCounter + L] + 1);
                setReg(RegLoopIterStart + L, pos);
                node = loop + ReadInt(prog + loop + NodeHeaderSize + 8);
                break;
            }
            }
            break;
        }
    }
}

} // namespace quillmark
