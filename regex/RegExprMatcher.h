// The matcher's backtracking records (not a public header). The matcher keeps its choice
// points and an undo trail in two vectors instead of on the machine stack, so that a long
// input cannot exhaust the stack whatever the expression.
#pragma once

#include <cstdint>

#include "regex/RegExpr.h"

namespace quillmark {

struct TRegExpr::Choice {
    enum Type : std::uint8_t {
        Alternative,  // node: the next alternative to try
        RepeatGreedy, // node: what follows; pos: start s; count: current i; bound: min
        RepeatLazy,   // node: what follows; pos: start s; count: current i; bound: count
        LoopExit,     // node: the OpLoop node; level: its loop level (greedy: leave the loop)
        LoopMore,     // node: the OpLoop node; level: its loop level (lazy: one more iteration)
    };
    Type type;
    std::int16_t lookahead; // simple repetitions: the byte what follows must begin with, -1 none
    std::int32_t node;
    std::uint32_t trail; // trail height to undo to
    std::int32_t level;  // loops: the loop level; simple repetitions: bytes per repetition
    std::int64_t pos;    // the input position to restore
    std::int64_t count;
    std::int64_t bound;
};

// One undo record in 8 bytes (the trail grows by one per group boundary passed, so its size
// matters on long inputs): the register slot in the top byte, its old value + 1 below
// (registers hold positions and counts, -1 at the least).
struct TRegExpr::TrailEntry {
    std::uint64_t packed;
    static TrailEntry Make(int slot, std::int64_t old) {
        return TrailEntry{(std::uint64_t(slot) << 56) |
                          (std::uint64_t(old + 1) & ((std::uint64_t(1) << 56) - 1))};
    }
    int Slot() const { return static_cast<int>(packed >> 56); }
    std::int64_t Old() const {
        return static_cast<std::int64_t>(packed & ((std::uint64_t(1) << 56) - 1)) - 1;
    }
};

} // namespace quillmark
