// Layout of a compiled program, shared by the compiler and the matcher (not a public header).
// Byte 0 is the marker 216; every node is a 1-byte kind, a signed 32-bit offset from the
// node's own first byte to the next node (0 = none), then its operand.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace quillmark::regexprogram {

enum TOpKind : std::uint8_t {
    OpEnd = 0,
    OpTextStart = 1,
    OpTextEnd = 2,
    OpAnyChar = 3,
    OpAlt = 6,
    OpBack = 7,
    OpLiteral = 8,
    OpEmpty = 9,
    OpStarSimple = 10,
    OpPlusSimple = 11,
    OpDigit = 12,
    OpNonDigit = 13,
    OpCountSimple = 18,
    OpSkip = 19,
    OpLiteralFold = 20,
    OpLoopEnter = 23,
    OpLoop = 24,
    OpSetSmall = 25,
    OpSetSmallNot = 26,
    OpSetBits = 27,
    OpBackref = 28,
    OpBackrefFold = 29,
    OpStarSimpleLazy = 30,
    OpPlusSimpleLazy = 31,
    OpCountSimpleLazy = 32,
    OpLoopLazy = 33,
    OpLineStart = 34,
    OpLineEnd = 35,
    OpAnyInLine = 36,
    OpWordBoundary = 37,
    OpNotWordBoundary = 38,
    OpGroupOpenBase = 39,  // OpGroupOpen n = 39 + n, n = 1..14
    OpGroupCloseBase = 54, // OpGroupClose n = 54 + n
};

constexpr int NodeHeaderSize = 5;   // kind + next offset
constexpr int CountOperandSize = 8; // min, max
constexpr int LoopOperandSize = 12; // min, max, offset back to the body
constexpr std::int32_t MaxCount = 2147483646;

inline std::int32_t ReadInt(const std::uint8_t* p) {
    std::int32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void WriteInt(std::uint8_t* p, std::int32_t v) {
    std::memcpy(p, &v, sizeof v);
}

inline bool IsGroupOpen(std::uint8_t kind) {
    return kind > OpGroupOpenBase && kind <= OpGroupOpenBase + 14;
}
inline bool IsGroupClose(std::uint8_t kind) {
    return kind > OpGroupCloseBase && kind <= OpGroupCloseBase + 14;
}

} // namespace quillmark::regexprogram

namespace quillmark {
// Sets or clears the modifier bits named by text ("i", "-m", "is-x", ...): the switch syntax,
// shared by the compiler and the engine's ModifierStr setter. False on any other character.
bool ParseModifierText(const std::string& text, std::uint32_t& modifiers);
} // namespace quillmark
