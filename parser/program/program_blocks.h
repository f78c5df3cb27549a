// The derived program run over many points at once: the instruction
// outside, a block of points inside, so that each instruction is chosen
// once per block rather than once per point. Each point's value is the one
// the program gives at that point: the same operations on the same
// operands, in the same order for that point.
//
// A block's frame holds one row of points per slot:
//
//   row     holds                                      length
//   ------  -----------------------------------------  -------------------
//   0       nothing (slot 0 is never written)          points of a block
//   k >= 1  slot k's value at each point of the block  points of a block
//
// An operand is read as a row (a slot, or the array of a listed variable
// from the block's first point on) or as one value for the whole block (a
// number of the instruction, or a variable that is not listed).
//
// Only a program whose calls are all of built-ins runs this way
// (Program::CallsBack is false): built-ins are pure, so calling them
// instruction by instruction over a block gives what calling them point by
// point gives. Callbacks of the user's are called point by point, in point
// order, by the caller's own loop.
#pragma once

#include <cstddef>
#include <span>

#include "parser/core/types.h"
#include "parser/program/program.h"

namespace MathUtils::detail {

// The points of a block for a program whose highest slot is highestSlot:
// as many as keep its frame within a few pages of the stack, at least 16.
std::size_t BlockPoints(int highestSlot);

// Runs the program at every point from first on, writing results[i] for
// point i. written counts the points done, block by block: where a
// built-in throws, the points of the block under way are not counted.
void RunBlocks(const Program& program, std::span<const VariableArray> variables, std::span<double> results,
               std::size_t first, std::size_t& written);

}  // namespace MathUtils::detail
