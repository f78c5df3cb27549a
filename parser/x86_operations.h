// The x86 instructions of the operations that the code generators lower to
// one instruction (see Lowering in parser/commands.h), one row per binary
// operator:
//
//   Instruction  addsd subsd mulsd divsd; cmplesd cmpltsd cmpeqsd cmpneqsd
//                (ordered, false on NaN as C++'s <=, <, ==; NEQ is unordered-
//                or-unequal, true on NaN as C++'s !=); andpd orpd
//   ToOne        the compare's mask, all ones or zero, becomes 1.0 or 0.0
//   Reciprocal   a number divisor whose reciprocal is exact (a power of two
//                with a normal reciprocal) multiplies by that reciprocal: the
//                same quotient rounded once, for every dividend
#pragma once

#include <cstdint>
#include <iterator>

#include "parser/commands.h"
#include "parser/program.h"

namespace MathUtils::detail {

enum class Sse : std::uint8_t { None, Add, Sub, Mul, Div, CmpLe, CmpLt, CmpEq, CmpNeq, And, Or };

struct X86Operation {
  std::int32_t Op;
  Sse Instruction = Sse::None;
  bool ToOne = false;
  bool Reciprocal = false;
};

inline constexpr X86Operation X86Operations[] = {
    {cdLessEq, Sse::CmpLe, true},
    {cdGreaterEq, Sse::CmpLe, true},
    {cdNotEqual, Sse::CmpNeq, true},
    {cdEqual, Sse::CmpEq, true},
    {cdLess, Sse::CmpLt, true},
    {cdGreater, Sse::CmpLt, true},
    {cdAdd, Sse::Add},
    {cdSub, Sse::Sub},
    {cdMul, Sse::Mul},
    {cdDiv, Sse::Div, false, true},
    {cdPow},
    {cdAnd, Sse::And, true},
    {cdOr, Sse::Or, true},
};

constexpr bool X86OperationsInCodeOrder() {
  if (std::size(X86Operations) != BinaryOperatorCount) return false;
  for (std::size_t i = 0; i < std::size(X86Operations); ++i)
    if (X86Operations[i].Op != static_cast<std::int32_t>(i)) return false;
  return true;
}
static_assert(X86OperationsInCodeOrder(), "one row per binary operator, in the order of the codes");

// An operation of the program as an x86 generator emits it: its lowering,
// and for a binary operator its row above.
struct Emission {
  Lowering Shape;
  Sse Instruction = Sse::None;
  bool ToOne = false;
  bool Reciprocal = false;
};

constexpr Emission EmissionOf(std::int32_t op) {
  if (!IsBinaryOperator(op)) return {LoweringOf(op)};
  const X86Operation& row = X86Operations[op];
  return {LoweringOf(op), row.Instruction, row.ToOne, row.Reciprocal};
}

}  // namespace MathUtils::detail
