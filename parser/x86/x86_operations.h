// How the x86 code generator emits the binary operators that it lowers to
// instructions (see Lowering in parser/core/commands.h and parser/lowering/lowering.h): one row per operator,
// its columns everything the generator asks of it.
//
//   Apply       the vector form (Form) of + - * /, and of "and"/"or" the form
//               that joins the two compares' masks (andpd orpd)
//   Compare     a comparison's predicate: cmp(s|p)d's LE LT EQ are ordered,
//               false on NaN as C++'s <=, <, ==; NEQ_UQ is true on NaN as
//               C++'s !=; the mask, all ones or zero, becomes 1.0 or 0.0
//   Join        how 8-lane code joins "and"/"or"'s masks in k registers
//               (kandw korw)
//
// A row that lacks the column its lowering needs makes the generator fail
// (no machine code), never emit something else.
#pragma once

#include <cstdint>
#include <iterator>

#include "parser/core/commands.h"
#include "parser/program/program.h"

namespace MathUtils::detail {

// The instruction forms that differ by lane width, by what they do (each
// width's instructions are machine_code.cpp's).
enum class Form : std::uint8_t { None, Add, Sub, Mul, Div, And, Or, Xor, AndNot, Sqrt, Move, Load, Count };

// The compare predicates of cmpsd, cmppd and vcmppd.
enum Predicate : std::uint8_t { Eq = 0, Lt = 1, Le = 2, Unordered = 3, NeqUnordered = 4, NoCompare = 0xff };

enum class MaskJoin : std::uint8_t { None, And, Or };

struct X86Operation {
  std::int32_t Op;
  Form Apply = Form::None;
  Predicate Compare = NoCompare;
  MaskJoin Join = MaskJoin::None;
};

// clang-format off
inline constexpr X86Operation X86Operations[] = {
//   op           Apply       Compare       Join
    {cdLessEq,    Form::None, Le},
    {cdGreaterEq, Form::None, Le},                          // reversed: b <= a
    {cdNotEqual,  Form::None, NeqUnordered},
    {cdEqual,     Form::None, Eq},
    {cdLess,      Form::None, Lt},
    {cdGreater,   Form::None, Lt},                          // reversed: b < a
    {cdAdd,       Form::Add},
    {cdSub,       Form::Sub},
    {cdMul,       Form::Mul},
    {cdDiv,       Form::Div},
    {cdPow},
    {cdAnd,       Form::And,  NoCompare,    MaskJoin::And},
    {cdOr,        Form::Or,   NoCompare,    MaskJoin::Or},
};
// clang-format on

constexpr bool X86OperationsFollowTheOperatorRows() {
  if (std::size(X86Operations) != BinaryOperatorCount) return false;
  for (std::size_t i = 0; i < std::size(X86Operations); ++i)
    if (X86Operations[i].Op != BinaryCommands[i].Code) return false;
  return true;
}
static_assert(X86OperationsFollowTheOperatorRows(), "one row per binary operator, in the order of its rows");

constexpr const X86Operation& X86OperationOf(std::int32_t op) {
  std::size_t i = 0;
  while (i + 1 < std::size(X86Operations) && X86Operations[i].Op != op) ++i;
  return X86Operations[i];
}

// An operation of the program as an x86 generator emits it: its lowering,
// and for a binary operator its row above.
struct Emission {
  Lowering Shape;
  X86Operation Row{};
};

constexpr Emission EmissionOf(std::int32_t op) {
  if (!IsBinaryOperator(op)) return {LoweringOf(op)};
  return {LoweringOf(op), X86OperationOf(op)};
}

}  // namespace MathUtils::detail
