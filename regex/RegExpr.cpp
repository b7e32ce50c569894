// The engine object: settings, error reporting and the one-shot MatchExpression. The
// compiler is in RegExprCompiler.cpp, the matcher in RegExprMatcher.cpp.
#include "regex/RegExpr.h"
#include "regex/RegExprMatcher.h"
#include "regex/RegExprProgram.h"

#include <cstring>

#include "platform/CodePage.h"

namespace quillmark {

namespace {

const char* const DefaultSpaceCharacters = " \t\n\r\f";
const char* const DefaultWordCharacters = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_";
const char* const DefaultLineSeparators = "\r\n";

unsigned char DefaultSwapCase(unsigned char c) {
    unsigned char upper = platform::AnsiUpper(c);
    return upper != c ? upper : platform::AnsiLower(c);
}

// The default case-inversion table, filled once from the code page's own mapping.
const unsigned char* DefaultSwapTable() {
    static const struct Table {
        unsigned char bytes[256];
        Table() {
            for (int c = 0; c < 256; ++c)
                bytes[c] = DefaultSwapCase(static_cast<unsigned char>(c));
        }
    } table;
    return table.bytes;
}

void BuildByteSet(const std::string& chars, std::uint8_t* set) {
    std::memset(set, 0, 32);
    for (char ch : chars) {
        auto c = static_cast<unsigned char>(ch);
        set[c >> 3] |= std::uint8_t(1u << (c & 7));
    }
}

} // namespace

TRegExpr::TRegExpr() : spaceChars_(DefaultSpaceCharacters), lineSeparators_(DefaultLineSeparators) {
    modifiers_ = ModifierR | ModifierS | ModifierG;
    programModifiers_ = modifiers_;
    std::memcpy(swapTable_, DefaultSwapTable(), sizeof swapTable_);
    static const struct DefaultWordSet {
        std::uint8_t bits[32];
        DefaultWordSet() { BuildByteSet(DefaultWordCharacters, bits); }
    } defaultWordSet;
    std::memcpy(wordSet_, defaultWordSet.bits, sizeof wordSet_);
    RebuildLineSeparatorSet();
    ClearGroups();
    for (int k = RegLoopCounter; k < RegCount; ++k)
        regs_[k] = 0;
}

TRegExpr::~TRegExpr() = default;

void TRegExpr::ClearGroups() {
    for (int k = RegGroupStart; k < RegGroupEnd + NSUBEXP; ++k)
        regs_[k] = -1;
}

void TRegExpr::DiscardProgram() {
    program_.clear();
    compiled_ = false;
    firstByte_ = 0;
    anchored_ = false;
    requiredText_ = 0;
    requiredLength_ = 0;
    requiredFoldText_ = 0;
    requiredFoldLength_ = 0;
    std::memset(firstCharSet_, 0, sizeof firstCharSet_);
    firstCharOnly_ = -1;
    groupCount_ = 0;
}

void TRegExpr::SetExpression(const std::string& text) {
    std::string copy = text.substr(0, text.find('\0'));
    if (copy == expression_ && compiled_) return;
    DiscardProgram();
    expression_ = std::move(copy);
}

void TRegExpr::Compile() {
    if (expression_.empty()) Fail(1003);
    BuildProgram(expression_);
}

bool TRegExpr::Modifier(char letter) const {
    std::uint32_t bits = 0;
    if (!ParseModifierText(std::string(1, letter), bits) || letter == '-') return false;
    return (modifiers_ & bits) != 0;
}

void TRegExpr::SetModifier(char letter, bool on) {
    std::uint32_t bits = 0;
    if (letter == '-' || !ParseModifierText(std::string(1, letter), bits)) Fail(127);
    if (on)
        modifiers_ |= bits;
    else
        modifiers_ &= ~bits;
}

std::string TRegExpr::ModifierStr() const {
    static const char letters[] = "irsgmx";
    std::string set, cleared;
    for (int k = 0; k < 6; ++k)
        ((modifiers_ >> k) & 1 ? set : cleared) += letters[k];
    return cleared.empty() ? set : set + "-" + cleared;
}

void TRegExpr::SetModifierStr(const std::string& text) {
    std::uint32_t bits = modifiers_;
    if (!ParseModifierText(text, bits)) Fail(127);
    modifiers_ = bits;
}

// \s, \w and the classes are built into the program, and "^"/"$" and the search hints depend
// on the separators, so every change of these settings discards the compiled program.
void TRegExpr::SetSpaceCharacters(const std::string& chars) {
    spaceChars_ = chars;
    DiscardProgram();
}

void TRegExpr::SetWordCharacters(const std::string& chars) {
    wordChars_ = chars;
    customWordChars_ = true;
    BuildByteSet(wordChars_, wordSet_);
    DiscardProgram();
}

const std::string& TRegExpr::WordCharacters() const {
    static const std::string defaultWordChars(DefaultWordCharacters);
    return customWordChars_ ? wordChars_ : defaultWordChars;
}

void TRegExpr::SetLineSeparatorChars(const std::string& chars) {
    lineSeparators_ = chars;
    RebuildLineSeparatorSet();
    DiscardProgram();
}

std::string TRegExpr::LinePairedSeparator() const {
    if (!pairedSet_) return std::string();
    return std::string{static_cast<char>(pairedHead_), static_cast<char>(pairedTail_)};
}

void TRegExpr::SetLinePairedSeparator(const std::string& pair) {
    if (pair.empty()) {
        pairedSet_ = false;
    } else if (pair.size() == 2 && pair[0] != pair[1]) {
        pairedSet_ = true;
        pairedHead_ = static_cast<unsigned char>(pair[0]);
        pairedTail_ = static_cast<unsigned char>(pair[1]);
    } else {
        Fail(128);
    }
    DiscardProgram();
}

void TRegExpr::SetSwapCase(TSwapCaseFunction function) {
    for (int c = 0; c < 256; ++c)
        swapTable_[c] = function ? function(static_cast<unsigned char>(c)) : DefaultSwapTable()[c];
    DiscardProgram();
}

void TRegExpr::RebuildLineSeparatorSet() {
    BuildByteSet(lineSeparators_, lineSeparatorSet_);
}

std::string TRegExpr::RequiredText() const {
    if (requiredText_ == 0) return std::string();
    return std::string(reinterpret_cast<const char*>(program_.data() + requiredText_),
                       static_cast<std::size_t>(requiredLength_));
}

std::ptrdiff_t TRegExpr::MatchPos(int n) const {
    if (n < 0 || n >= NSUBEXP || regs_[RegGroupStart + n] < 0 || regs_[RegGroupEnd + n] < 0) return -1;
    return static_cast<std::ptrdiff_t>(regs_[RegGroupStart + n]) + 1;
}

std::ptrdiff_t TRegExpr::MatchLen(int n) const {
    if (n < 0 || n >= NSUBEXP) return -1;
    std::int64_t start = regs_[RegGroupStart + n], end = regs_[RegGroupEnd + n];
    if (start < 0 || end < start) return -1;
    return static_cast<std::ptrdiff_t>(end - start);
}

std::string TRegExpr::Match(int n) const {
    std::ptrdiff_t length = MatchLen(n);
    if (length < 0) return std::string();
    return input_.substr(static_cast<std::size_t>(regs_[RegGroupStart + n]),
                         static_cast<std::size_t>(length));
}

void TRegExpr::Fail(std::int32_t code) {
    ReportError(code);
    // ReportError may be overridden; the engine cannot go on after an error either way.
    throw ERegExpr(ErrorText(code), code, parsePosition_);
}

void TRegExpr::ReportError(std::int32_t code) {
    lastErrorCode_ = code;
    std::string message = ErrorText(code);
    if (code < 1000) message += " (pos " + std::to_string(parsePosition_) + ")";
    throw ERegExpr(message, code, parsePosition_);
}

std::string TRegExpr::ErrorText(std::int32_t code) const {
    switch (code) {
    case 0:
        return "No errors";
    case 102:
        return "TRegExpr(comp): ParseReg Too Many ()";
    case 103:
    case 104:
        return "TRegExpr(comp): ParseReg Unmatched ()";
    case 105:
        return "TRegExpr(comp): ParseReg Junk On End";
    case 106:
        return "TRegExpr(comp): *+ Operand Could Be Empty";
    case 107:
        return "TRegExpr(comp): Nested *?+";
    case 108:
        return "TRegExpr(comp): Bad Hex Digit";
    case 109:
        return "TRegExpr(comp): Invalid [] Range";
    case 110:
        return "TRegExpr(comp): Parse Atom Trailing \\";
    case 111:
        return "TRegExpr(comp): No Hex Code After \\x";
    case 112:
        return "TRegExpr(comp): Hex Code After \\x Is Too Big";
    case 113:
        return "TRegExpr(comp): Unmatched []";
    case 114:
        return "TRegExpr(comp): Internal Urp";
    case 115:
        return "TRegExpr(comp): ?+*{ Follows Nothing";
    case 116:
        return "TRegExpr(comp): Trailing \\";
    case 119:
        return "TRegExpr(comp): RarseAtom Internal Disaster";
    case 122:
        return "TRegExpr(comp): BRACES Argument Too Big";
    case 124:
        return "TRegExpr(comp): BRACE Min Param Greater then Max";
    case 125:
        return "TRegExpr(comp): Unclosed (?#Comment)";
    case 127:
        return "TRegExpr(comp): Urecognized Modifier";
    case 128:
        return "TRegExpr(comp): LinePairedSeparator must countain two different chars or no chars at all";
    case 1000:
        return "TRegExpr(exec): RegRepeat Called Inappropriately";
    case 1001:
        return "TRegExpr(exec): MatchPrim Memory Corruption";
    case 1002:
        return "TRegExpr(exec): MatchPrim Corrupted Pointers";
    case 1003:
        return "TRegExpr(exec): Not Assigned Expression Property";
    case 1004:
        return "TRegExpr(exec): Corrupted Program";
    case 1005:
        return "TRegExpr(exec): No Input String Specified";
    case 1006:
        return "TRegExpr(exec): Offset Must Be Greater Then 0";
    case 1014:
        return "TRegExpr(exec): Loop Stack Exceeded";
    case 1015:
        return "TRegExpr(exec): Loop Without LoopEntry !";
    case 1016:
        return "TRegExpr(exec): Backtrack Limit Exceeded";
    case 1017:
        return "TRegExpr(exec): Backtrack Stack Exceeded";
    default:
        return "Unknown error";
    }
}

bool MatchExpression(const std::string& expression, const std::string& input) {
    // The engine lives on this frame: it is destroyed on every path, exceptions included.
    TRegExpr engine;
    engine.SetExpression(expression);
    return engine.Exec(input);
}

} // namespace quillmark
