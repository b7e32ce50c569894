// The system's own regular-expression engine. An expression is compiled by a two-pass
// compiler into a program of nodes (one byte block, marker byte 216 first) and run by a
// backtracking matcher over 8-bit ANSI text. The subject filter of the export run uses it
// through MatchExpression only; the class is public so that tests and tools can reach the
// groups, the switches and the line-separator settings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Exceptions.h"

namespace quillmark {

// Raised for every compile and run-time error of the engine. ErrorPosition is the number of
// expression characters before the parse cursor while compiling, 0 at any other time.
class ERegExpr : public Exception {
public:
    ERegExpr(const std::string& message, std::int32_t errorNumber, std::int32_t errorPosition)
        : Exception(message), ErrorNumber(errorNumber), ErrorPosition(errorPosition) {}
    std::int32_t ErrorNumber;
    std::int32_t ErrorPosition;
};

// Modifier bits; the letters are those of the (?imsx-imsx) switch syntax.
enum TRegExprModifier : std::uint32_t {
    ModifierI = 1,  // case-insensitive literals, classes and back-references
    ModifierR = 2,  // Windows-1251 Cyrillic letter ranges in classes
    ModifierS = 4,  // "." also matches line separators
    ModifierG = 8,  // quantifiers are greedy; off: every quantifier is lazy
    ModifierM = 16, // "^" and "$" work at line separators
    ModifierX = 32, // extended syntax: blanks and "#" comments are ignored
};

using TSwapCaseFunction = unsigned char (*)(unsigned char);

class TRegExpr {
public:
    static constexpr int NSUBEXP = 15;      // group 0 (whole match) and groups 1-14
    static constexpr int LoopStackMax = 10; // nested complex loops
    static constexpr std::uint8_t ProgramMarker = 216;

    TRegExpr();
    virtual ~TRegExpr();
    TRegExpr(const TRegExpr&) = delete;
    TRegExpr& operator=(const TRegExpr&) = delete;

    // ---- the expression and its program ----
    const std::string& Expression() const { return expression_; }
    // A different text (or any text while nothing is compiled) discards the program; the
    // text is taken up to its first zero byte; the empty text leaves no expression stored.
    void SetExpression(const std::string& text);
    // Compiles the stored expression now (1003 without one). Exec does this on demand.
    void Compile();
    // The compiled program (empty when none), for tools and tests.
    const std::vector<std::uint8_t>& Program() const { return program_; }

    // ---- settings ----
    std::uint32_t Modifiers() const { return modifiers_; }
    void SetModifiers(std::uint32_t modifiers) { modifiers_ = modifiers & 63u; }
    bool Modifier(char letter) const;
    void SetModifier(char letter, bool on); // an unknown letter reports 127
    // "irsg-mx" style: the set letters, then "-" and the cleared ones.
    std::string ModifierStr() const;
    void SetModifierStr(const std::string& text); // parsed like a switch; 127 on a bad letter

    const std::string& SpaceCharacters() const { return spaceChars_; }
    void SetSpaceCharacters(const std::string& chars);
    const std::string& WordCharacters() const;
    void SetWordCharacters(const std::string& chars);
    const std::string& LineSeparatorChars() const { return lineSeparators_; }
    void SetLineSeparatorChars(const std::string& chars);
    std::string LinePairedSeparator() const;
    // The empty text or two different bytes; anything else reports 128.
    void SetLinePairedSeparator(const std::string& pair);

    // Case inversion of one byte: its upper-case form when that differs, else its lower-case
    // form; by default the system code page's own mapping.
    unsigned char SwapCase(unsigned char c) const { return swapTable_[c]; }
    void SetSwapCase(TSwapCaseFunction function);

    // ---- matching ----
    bool Exec(const std::string& input);
    bool ExecFrom(std::ptrdiff_t offset); // 1-based; length + 1 searches the empty tail
    // Group n of the last successful match: 1-based position and length, -1 when unset.
    std::ptrdiff_t MatchPos(int n) const;
    std::ptrdiff_t MatchLen(int n) const;
    std::string Match(int n) const;
    const std::string& InputString() const { return input_; }

    // Guard against runaway backtracking for callers that want one (0 = unlimited, the
    // default): a search (Exec/ExecFrom) that takes more than this many backtracking steps,
    // over all its start positions, reports 1016.
    void SetBacktrackLimit(std::uint64_t steps) { backtrackLimit_ = steps; }

    // ---- errors ----
    std::int32_t LastErrorCode() const { return lastErrorCode_; }
    // Stores LastErrorCode and raises ERegExpr with ErrorText and, below 1000, the position.
    virtual void ReportError(std::int32_t code);
    virtual std::string ErrorText(std::int32_t code) const;

    // ---- search hints of the compiled program ----
    std::uint8_t FirstByte() const { return firstByte_; }
    bool Anchored() const { return anchored_; }
    std::string RequiredText() const;
    bool InFirstCharSet(unsigned char c) const { return (firstCharSet_[c >> 3] >> (c & 7)) & 1; }

private:
    friend class TRegExprCompiler;
    struct Choice;
    struct TrailEntry;

    [[noreturn]] void Fail(std::int32_t code);
    void DiscardProgram();
    void BuildProgram(const std::string& expression);
    void FillFirstCharSet(std::int32_t node, std::vector<std::uint8_t>& visited);
    void RebuildLineSeparatorSet();
    bool MatchPrim(std::int32_t node);
    std::ptrdiff_t RegRepeat(std::int32_t node, std::ptrdiff_t max);
    bool BackrefAt(int group, bool fold, std::ptrdiff_t at) const;

    // Group starts and ends, loop counters, iteration starts of the complex loops and the
    // loop level live in one register file so that the matcher's undo trail can restore any
    // of them by index.
    enum : int {
        RegGroupStart = 0,
        RegGroupEnd = NSUBEXP,
        RegLoopCounter = 2 * NSUBEXP,                         // levels 1-10 at +1..+10
        RegLoopIterStart = RegLoopCounter + LoopStackMax + 1, // levels 1-10 at +1..+10
        RegLoopLevel = RegLoopIterStart + LoopStackMax + 1,
        RegCount
    };
    std::int64_t regs_[RegCount];
    void ClearGroups();

    std::string expression_;
    bool compiled_ = false;
    std::vector<std::uint8_t> program_;
    std::uint32_t modifiers_ = 0;
    std::uint32_t programModifiers_ = 0;

    std::uint8_t firstByte_ = 0;
    bool anchored_ = false;
    std::int32_t requiredText_ = 0; // program offset of the literal's text, 0 = none
    std::int32_t requiredLength_ = 0;
    // Without a case-sensitive required literal, the longest case-insensitive one (0 = none),
    // looked for with SwapCase as the alternative for each byte.
    std::int32_t requiredFoldText_ = 0;
    std::int32_t requiredFoldLength_ = 0;
    std::uint8_t firstCharSet_[32] = {};
    int firstCharOnly_ = -1; // the one member of FirstCharSet, -1 when it has more (or none)
    int groupCount_ = 0;     // groups 1..groupCount_ occur in the program

    std::string input_;
    bool hasInput_ = false;
    const unsigned char* in_ = nullptr; // input start; in_[inputLength_] is the zero marker
    std::ptrdiff_t inputLength_ = 0;
    std::ptrdiff_t pos_ = 0; // current input position (index)

    std::int32_t lastErrorCode_ = 0;
    std::int32_t parsePosition_ = 0; // reported with compile errors, 0 otherwise

    std::string spaceChars_;
    std::string wordChars_;        // used once set; until then the shared default (saves an allocation
    bool customWordChars_ = false; // per engine, and MatchExpression makes one per call)
    std::string lineSeparators_;
    bool pairedSet_ = true;
    unsigned char pairedHead_ = '\r';
    unsigned char pairedTail_ = '\n';
    std::uint8_t lineSeparatorSet_[32] = {};
    std::uint8_t wordSet_[32] = {};
    unsigned char swapTable_[256];

    std::uint64_t backtrackLimit_ = 0;
    std::uint64_t backtrackSteps_ = 0;
    std::vector<Choice> choices_;
    std::vector<TrailEntry> trail_;
};

// True when expression matches somewhere in input. A fresh engine with all defaults is made
// and destroyed per call; every failure (ERegExpr, EAssertionFailed) reaches the caller.
bool MatchExpression(const std::string& expression, const std::string& input);

} // namespace quillmark
