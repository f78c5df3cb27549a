// Command codes and what each one means: one record per code, read by the
// token reader, the compiler, the folding apply steps, both interpreters,
// the disassembler and the derived program.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "parser/cells.h"

namespace MathUtils {

// The binary operators, one row each; every other part of the library
// reads them from here: the codes, the reader's texts, the listing names,
// the priorities, how each computes (for folding and every interpreter,
// which expand the last column) and how a code generator lowers it.
//
//   code         number  text   listing  priority  family      lowering     value
// clang-format off
#define MATHUTILS_BINARY_OPERATIONS(ROW)                                                           \
  ROW(cdLessEq,    0,  "<=",  "LE",  2, Comparison, Scalar,      left <= right)                   \
  ROW(cdGreaterEq, 1,  ">=",  "GE",  2, Comparison, Reversed,    left >= right)                   \
  ROW(cdNotEqual,  2,  "!=",  "NE",  2, Comparison, Scalar,      left != right)                   \
  ROW(cdEqual,     3,  "==",  "EQ",  2, Comparison, Scalar,      left == right)                   \
  ROW(cdLess,      4,  "<",   "LT",  2, Comparison, Scalar,      left < right)                    \
  ROW(cdGreater,   5,  ">",   "GT",  2, Comparison, Reversed,    left > right)                    \
  ROW(cdAdd,       6,  "+",   "ADD", 3, Arithmetic, Scalar,      AddInOrder(left, right))         \
  ROW(cdSub,       7,  "-",   "SUB", 3, Arithmetic, Scalar,      left - right)                    \
  ROW(cdMul,       8,  "*",   "MUL", 4, Arithmetic, Scalar,      MultiplyInOrder(left, right))    \
  ROW(cdDiv,       9,  "/",   "DIV", 4, Arithmetic, Scalar,      left / right)                    \
  ROW(cdPow,       10, "^",   "POW", 5, Power,      Power,       Power(left, right, raise))       \
  ROW(cdAnd,       11, "and", "AND", 1, Logical,    BothNonZero, left != 0 && right != 0)         \
  ROW(cdOr,        12, "or",  "OR",  1, Logical,    BothNonZero, left != 0 || right != 0)
// clang-format on

// The numbers are fixed: the bytecode stores them, and Commands below is
// indexed by them.
enum CmdCode : std::int32_t {
#define MATHUTILS_CODE(code, number, ...) code = number,
  MATHUTILS_BINARY_OPERATIONS(MATHUTILS_CODE)
#undef MATHUTILS_CODE
      cdOpenBracket = 13,
  cdCloseBracket = 14,
  cdComma = 15,
  cdVariable = 16,   // Addr: the variable's double
  cdValue = 17,      // Val: the number itself
  cdFunction = 18,   // Addr: callback, ArgCount: 1, 2, 3 or -1 (any number)
  cdPostfixOp = 19,  // Addr: callback
  cdPrefixOp = 20,   // Addr: callback
  cdEnd = 21,
  cdUnknown = 22,          // a freshly constructed token
  cdContextFunction = 23,  // cdFunction's call with a context: the reader never returns it
  cdContextOp = 24,        // cdPostfixOp's call with a context: the reader never returns it
};

// How a binary operator computes its result, so that a code generator can
// pick its instruction family from the table:
//   Arithmetic  the IEEE operation itself (+ - * /)
//   Comparison  1 or 0 from an ordered or unordered compare (<= >= != == < >)
//   Logical     1 or 0 from both operands compared with 0 (and, or)
//   Power       Power() below: a product for a square, else the C library
enum class Computes : std::uint8_t { Nothing, Arithmetic, Comparison, Logical, Power };

// How a code generator lowers an operation, whatever its target (the
// target's own instructions are its own table's, see parser/x86_operations.h):
//   Scalar       t = Left <op> Right
//   Reversed     t = Right <op'> Left   (a >= b as b <= a)
//   BothNonZero  t = (Left != 0) <op> (Right != 0)
//   Power        a product for the numbers 2 and 1, else a call of pow
//   Square       t = Left * Left
//   Load         t = Left
//   CallUnary    what the callback's built-in row says (parser/builtins.h): a
//                call of it, of its C library function, or its inline form
//   CallList     the same for a callback of any number of arguments
//   CallUnaryContext, CallListContext  a call with the context first
enum class Lowering : std::uint8_t {
  None,
  Scalar,
  Reversed,
  BothNonZero,
  Power,
  Square,
  Load,
  CallUnary,
  CallList,
  CallUnaryContext,
  CallListContext
};

inline constexpr std::int32_t NoPriority = -1000;

struct Command {
  CmdCode Code;
  std::string_view Text;     // as the reader matches it in a formula; empty for codes it does not
  std::string_view Listing;  // the entry's name in a disassembly; empty for codes never in the bytecode
  std::int32_t Priority;     // for unwinding the operator stack; NoPriority where none applies
  int Cells;                 // size of the bytecode entry; 0 for codes never in the bytecode
  Computes Family;
  Lowering Lowers = Lowering::None;
};

// Prefix operators are written as cdPostfixOp entries: both are one call of
// one argument. A call with a context is listed as its plain form is.
inline constexpr Command Commands[] = {
#define MATHUTILS_COMMAND(code, number, text, listing, priority, family, lowering, value) \
  {code, text, listing, priority, BinaryEntryCells, Computes::family, Lowering::lowering},
    MATHUTILS_BINARY_OPERATIONS(MATHUTILS_COMMAND)
#undef MATHUTILS_COMMAND
        {cdOpenBracket, "(", "", 0, 0, Computes::Nothing},
    {cdCloseBracket, ")", "", 0, 0, Computes::Nothing},
    {cdComma, ",", "", -1, 0, Computes::Nothing},
    {cdVariable, "", "VAR", NoPriority, VariableEntryCells, Computes::Nothing},
    {cdValue, "", "VALUE", NoPriority, ValueEntryCells, Computes::Nothing},
    {cdFunction, "", "FUNC", NoPriority, FunctionEntryCells, Computes::Nothing},
    {cdPostfixOp, "", "CALL", NoPriority, CallEntryCells, Computes::Nothing},
    {cdPrefixOp, "", "", NoPriority, 0, Computes::Nothing},
    {cdEnd, "", "END", -2, EndEntryCells, Computes::Nothing},
    {cdUnknown, "", "", NoPriority, 0, Computes::Nothing},
    {cdContextFunction, "", "FUNC", NoPriority, ContextFunctionEntryCells, Computes::Nothing},
    {cdContextOp, "", "CALL", NoPriority, ContextCallEntryCells, Computes::Nothing},
};

inline constexpr std::size_t CommandCount = std::size(Commands);

// The record of a code, or null for a number that is no code of the table.
constexpr const Command* FindCommand(std::int32_t code) {
  return code >= 0 && static_cast<std::size_t>(code) < CommandCount ? &Commands[code] : nullptr;
}

// The binary operators are the codes 0 to cdOr; the reader's operator table
// runs on to the comma.
inline constexpr std::size_t BinaryOperatorCount = cdOr + 1;
inline constexpr std::size_t ReaderOperatorCount = cdComma + 1;

constexpr bool IsBinaryOperator(std::int32_t code) { return code >= cdLessEq && code <= cdOr; }

namespace detail {

constexpr bool TableIsInCodeOrder() {
  for (std::size_t i = 0; i < CommandCount; ++i)
    if (Commands[i].Code != static_cast<CmdCode>(i)) return false;
  return true;
}

// Exactly the codes 0 to cdOr compute, and each has a two-cell entry.
constexpr bool BinaryOperatorsLeadTheTable() {
  for (std::size_t i = 0; i < CommandCount; ++i) {
    const bool binary = Commands[i].Family != Computes::Nothing;
    if (binary != IsBinaryOperator(static_cast<std::int32_t>(i))) return false;
    if (binary && Commands[i].Cells != BinaryEntryCells) return false;
  }
  return true;
}

// The reader takes the first entry that the text begins with, so a text
// must come before every shorter text that begins it ("<=" before "<").
constexpr bool LongerOperatorsFirst() {
  for (std::size_t i = 0; i < ReaderOperatorCount; ++i) {
    if (Commands[i].Text.empty()) return false;
    for (std::size_t j = i + 1; j < ReaderOperatorCount; ++j)
      if (Commands[j].Text.size() > Commands[i].Text.size() && Commands[j].Text.starts_with(Commands[i].Text))
        return false;
  }
  return true;
}

}  // namespace detail

static_assert(CommandCount == cdContextOp + 1, "one record per code");
static_assert(detail::TableIsInCodeOrder(), "Commands is indexed by CmdCode");
static_assert(detail::BinaryOperatorsLeadTheTable());
static_assert(detail::LongerOperatorsFirst());

// The C library's pow, as "^" calls it.
inline double LibraryPower(double base, double exponent) { return std::pow(base, exponent); }

// "^": the math library's pow (the C library's by default), but a square is
// the product x * x. That is the exact square rounded once, the value C++
// compilers themselves put in for pow(x, 2); glibc's pow can miss it by one
// unit in the last place. The first power is the base itself, as compilers
// make pow(x, 1) too.
inline double Power(double base, double exponent, detail::PowFunction raise = LibraryPower) {
  if (exponent == 2) return base * base;
  if (exponent == 1) return base;
  return raise(base, exponent);
}

// Of two NaN operands, x86's addsd and mulsd return the left one. A compiler
// may swap the operands of + and *, which changes nothing but which NaN comes
// out; these keep the written order down to the instruction, so that every
// tier gives the same bits. Elsewhere the plain operators stand.
[[gnu::always_inline]] inline double AddInOrder(double left, double right) {
#ifdef __SSE2_MATH__
  asm("addsd %1, %0" : "+x"(left) : "xm"(right));
  return left;
#else
  return left + right;
#endif
}

[[gnu::always_inline]] inline double MultiplyInOrder(double left, double right) {
#ifdef __SSE2_MATH__
  asm("mulsd %1, %0" : "+x"(left) : "xm"(right));
  return left;
#else
  return left * right;
#endif
}

// The one definition of the binary operators, for folding and for every
// interpreter loop, expanded from the table's last column. Called with a
// constant code it inlines to the bare operation; the code must be a
// binary operator. The interpreters build one case per operator with
// MATHUTILS_BINARY_OPERATIONS, each calling this with its code as a
// constant, so that every case compiles to the bare instruction. raise is
// the pow of the formula's math library.
[[gnu::always_inline]] inline double ComputeBinary(std::int32_t code, double left, double right,
                                                   detail::PowFunction raise = LibraryPower) {
  switch (code) {
#define MATHUTILS_VALUE(code, number, text, listing, priority, family, lowering, value) \
  case code: return value;
    MATHUTILS_BINARY_OPERATIONS(MATHUTILS_VALUE)
#undef MATHUTILS_VALUE
    default: return std::nan("");
  }
}

}  // namespace MathUtils
