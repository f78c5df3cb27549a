// Command codes and what each one means: one record per code, read by the
// token reader, the compiler, the folding apply steps, both interpreters,
// the disassembler and the derived program.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "parser/core/cells.h"

namespace MathUtils {

// The binary operators, one row each; every other part of the library
// reads them from here: the codes, the reader's texts, the listing names,
// the priorities, how each computes (for folding and every interpreter,
// which expand the last column) and how a code generator lowers it. An
// operator added later takes the next number from FirstLaterOperator (25)
// on: the numbers of the codes below never move, and the program's own
// operations begin at 32 (parser/program/program.h). Its row goes where its text
// must be tried (a longer text before every shorter one that begins it).
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
  ROW(cdDiv,       9,  "/",   "DIV", 4, Arithmetic, Divide,      left / right)                    \
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
// target's own instructions are its own table's, see parser/x86/x86_operations.h):
//   Scalar       t = Left <op> Right
//   Divide       as Scalar; a number divisor whose reciprocal is exact (a
//                power of two with a normal reciprocal) multiplies by that
//                reciprocal instead: the same quotient rounded once
//   Reversed     t = Right <op'> Left   (a >= b as b <= a)
//   BothNonZero  t = (Left != 0) <op> (Right != 0)
//   Power        a product for the numbers 2 and 1, else a call of pow
//   Square       t = Left * Left
//   Load         t = Left
//   CallUnary    what the callback's built-in row says (parser/math/builtins.h): a
//                call of it, of its C library function, or its inline form
//   CallList     the same for a callback of any number of arguments
//   CallUnaryContext, CallListContext  a call with the context first
enum class Lowering : std::uint8_t {
  None,
  Scalar,
  Divide,
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

inline constexpr std::int32_t FirstLaterOperator = 25;
inline constexpr std::int32_t LastLaterOperator = 31;

// Prefix operators are written as cdPostfixOp entries: both are one call of
// one argument. A call with a context is listed as its plain form is.
inline constexpr Command BinaryCommands[] = {
#define MATHUTILS_COMMAND(code, number, text, listing, priority, family, lowering, value) \
  {code, text, listing, priority, BinaryEntryCells, Computes::family, Lowering::lowering},
    MATHUTILS_BINARY_OPERATIONS(MATHUTILS_COMMAND)
#undef MATHUTILS_COMMAND
};

inline constexpr Command OtherCommands[] = {
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

inline constexpr std::size_t BinaryOperatorCount = std::size(BinaryCommands);

namespace detail {
constexpr std::size_t HighestCode() {
  std::int32_t highest = 0;
  for (const Command& command : BinaryCommands) highest = command.Code > highest ? command.Code : highest;
  for (const Command& command : OtherCommands) highest = command.Code > highest ? command.Code : highest;
  return static_cast<std::size_t>(highest);
}
}  // namespace detail

inline constexpr std::size_t CommandCount = detail::HighestCode() + 1;

// The records indexed by their codes; a number between them that no row
// takes (none yet) has a record that the reader never matches and no
// entry may hold.
inline constexpr auto Commands = [] {
  std::array<Command, CommandCount> table{};
  for (std::size_t i = 0; i < CommandCount; ++i)
    table[i] = {static_cast<CmdCode>(i), "", "", NoPriority, 0, Computes::Nothing};
  for (const Command& command : BinaryCommands) table[static_cast<std::size_t>(command.Code)] = command;
  for (const Command& command : OtherCommands) table[static_cast<std::size_t>(command.Code)] = command;
  return table;
}();

// The record of a code, or null for a number that is no code of the table.
constexpr const Command* FindCommand(std::int32_t code) {
  return code >= 0 && static_cast<std::size_t>(code) < CommandCount ? &Commands[code] : nullptr;
}

constexpr bool IsBinaryOperator(std::int32_t code) {
  const Command* command = FindCommand(code);
  return command && command->Family != Computes::Nothing;
}

// What the reader matches, in the order it tries them: the binary
// operators in the order of their rows, then the brackets and the comma.
inline constexpr std::size_t ReaderOperatorCount = BinaryOperatorCount + 3;
inline constexpr auto ReaderOperatorCodes = [] {
  std::array<CmdCode, ReaderOperatorCount> codes{};
  for (std::size_t i = 0; i < BinaryOperatorCount; ++i) codes[i] = BinaryCommands[i].Code;
  codes[BinaryOperatorCount] = cdOpenBracket;
  codes[BinaryOperatorCount + 1] = cdCloseBracket;
  codes[BinaryOperatorCount + 2] = cdComma;
  return codes;
}();

namespace detail {

constexpr bool TableIsInCodeOrder() {
  for (std::size_t i = 0; i < CommandCount; ++i)
    if (Commands[i].Code != static_cast<CmdCode>(i)) return false;
  return true;
}

// Exactly the operator rows compute, each with a two-cell entry, at the
// numbers kept for them; no two rows take one code.
constexpr bool BinaryOperatorsKeepTheirNumbers() {
  std::size_t computing = 0;
  for (const Command& command : Commands) {
    if (command.Family == Computes::Nothing) continue;
    ++computing;
    if (command.Cells != BinaryEntryCells) return false;
    const bool first = command.Code >= cdLessEq && command.Code <= cdOr;
    if (!first && (command.Code < FirstLaterOperator || command.Code > LastLaterOperator)) return false;
  }
  for (const Command& command : OtherCommands)
    if (Commands[static_cast<std::size_t>(command.Code)].Family != Computes::Nothing) return false;
  return computing == BinaryOperatorCount;
}

// The reader takes the first entry that the text begins with, so a text
// must come before every shorter text that begins it ("<=" before "<").
constexpr bool LongerOperatorsFirst() {
  for (std::size_t i = 0; i < ReaderOperatorCount; ++i) {
    const std::string_view text = Commands[ReaderOperatorCodes[i]].Text;
    if (text.empty()) return false;
    for (std::size_t j = i + 1; j < ReaderOperatorCount; ++j) {
      const std::string_view later = Commands[ReaderOperatorCodes[j]].Text;
      if (later.size() > text.size() && later.starts_with(text)) return false;
    }
  }
  return true;
}

}  // namespace detail

static_assert(CommandCount <= LastLaterOperator + 1, "the program's own operations begin above");
static_assert(detail::TableIsInCodeOrder(), "Commands is indexed by CmdCode");
static_assert(detail::BinaryOperatorsKeepTheirNumbers());
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
