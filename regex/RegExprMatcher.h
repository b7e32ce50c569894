// The matcher's backtracking records (not a public header). The matcher keeps its choice
// points and an undo trail in two vectors instead of on the machine stack, so that a long
// input cannot exhaust the stack whatever the expression.
#pragma once

#include <cstdint>

#include "regex/RegExpr.h"

namespace quillmark {

struct TRegExpr::Choice {
    enum Type : std::uint8_t {
        Alternative, // node: the next alternative to try
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

struct TRegExpr::TrailEntry {
    std::int32_t slot;
    std::int64_t old;
};

} // namespace quillmark
