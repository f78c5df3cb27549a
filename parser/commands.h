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

// The numbers are fixed: the bytecode stores them, and Commands below is
// indexed by them.
enum CmdCode : std::int32_t {
  cdLessEq = 0,
  cdGreaterEq = 1,
  cdNotEqual = 2,
  cdEqual = 3,
  cdLess = 4,
  cdGreater = 5,
  cdAdd = 6,
  cdSub = 7,
  cdMul = 8,
  cdDiv = 9,
  cdPow = 10,
  cdAnd = 11,
  cdOr = 12,
  cdOpenBracket = 13,
  cdCloseBracket = 14,
  cdComma = 15,
  cdVariable = 16,   // Addr: the variable's double
  cdValue = 17,      // Val: the number itself
  cdFunction = 18,   // Addr: callback, ArgCount: 1 or -1 (any number)
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

inline constexpr std::int32_t NoPriority = -1000;

struct Command {
  CmdCode Code;
  std::string_view Text;     // as the reader matches it in a formula; empty for codes it does not
  std::string_view Listing;  // the entry's name in a disassembly; empty for codes never in the bytecode
  std::int32_t Priority;     // for unwinding the operator stack; NoPriority where none applies
  int Cells;                 // size of the bytecode entry; 0 for codes never in the bytecode
  Computes Family;
};

// Prefix operators are written as cdPostfixOp entries: both are one call of
// one argument. A call with a context is listed as its plain form is.
inline constexpr Command Commands[] = {
    {cdLessEq, "<=", "LE", 2, BinaryEntryCells, Computes::Comparison},
    {cdGreaterEq, ">=", "GE", 2, BinaryEntryCells, Computes::Comparison},
    {cdNotEqual, "!=", "NE", 2, BinaryEntryCells, Computes::Comparison},
    {cdEqual, "==", "EQ", 2, BinaryEntryCells, Computes::Comparison},
    {cdLess, "<", "LT", 2, BinaryEntryCells, Computes::Comparison},
    {cdGreater, ">", "GT", 2, BinaryEntryCells, Computes::Comparison},
    {cdAdd, "+", "ADD", 3, BinaryEntryCells, Computes::Arithmetic},
    {cdSub, "-", "SUB", 3, BinaryEntryCells, Computes::Arithmetic},
    {cdMul, "*", "MUL", 4, BinaryEntryCells, Computes::Arithmetic},
    {cdDiv, "/", "DIV", 4, BinaryEntryCells, Computes::Arithmetic},
    {cdPow, "^", "POW", 5, BinaryEntryCells, Computes::Power},
    {cdAnd, "and", "AND", 1, BinaryEntryCells, Computes::Logical},
    {cdOr, "or", "OR", 1, BinaryEntryCells, Computes::Logical},
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

// Expands CASE(code) for every binary operator. The dispatch loops build
// one case per operator with it, each calling ComputeBinary with its code
// as a constant, so that every case compiles to the bare instruction.
// clang-format off
#define MATHUTILS_FOR_EACH_BINARY_OPERATOR(CASE)                                                 \
  CASE(cdLessEq) CASE(cdGreaterEq) CASE(cdNotEqual) CASE(cdEqual) CASE(cdLess) CASE(cdGreater) \
  CASE(cdAdd) CASE(cdSub) CASE(cdMul) CASE(cdDiv) CASE(cdPow) CASE(cdAnd) CASE(cdOr)
// clang-format on

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

constexpr bool EachBinaryOperatorOnceInOrder() {
#define MATHUTILS_CODE_ELEMENT(code) code,
  constexpr CmdCode Codes[] = {MATHUTILS_FOR_EACH_BINARY_OPERATOR(MATHUTILS_CODE_ELEMENT)};
#undef MATHUTILS_CODE_ELEMENT
  if (std::size(Codes) != BinaryOperatorCount) return false;
  for (std::size_t i = 0; i < std::size(Codes); ++i)
    if (Codes[i] != static_cast<CmdCode>(i)) return false;
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
static_assert(detail::EachBinaryOperatorOnceInOrder());
static_assert(detail::LongerOperatorsFirst());

// "^": the C library's pow, but a square is the product x * x. That is the
// exact square rounded once, the value C++ compilers themselves put in for
// pow(x, 2); glibc's pow can miss it by one unit in the last place. The
// first power is the base itself, as compilers make pow(x, 1) too.
inline double Power(double base, double exponent) {
  if (exponent == 2) return base * base;
  if (exponent == 1) return base;
  return std::pow(base, exponent);
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
// interpreter loop. Called with a constant code it inlines to the bare
// operation; the code must be a binary operator.
[[gnu::always_inline]] inline double ComputeBinary(std::int32_t code, double left, double right) {
  switch (code) {
    case cdLessEq: return left <= right;
    case cdGreaterEq: return left >= right;
    case cdNotEqual: return left != right;
    case cdEqual: return left == right;
    case cdLess: return left < right;
    case cdGreater: return left > right;
    case cdAdd: return AddInOrder(left, right);
    case cdSub: return left - right;
    case cdMul: return MultiplyInOrder(left, right);
    case cdDiv: return left / right;
    case cdPow: return Power(left, right);
    case cdAnd: return left != 0 && right != 0;
    case cdOr: return left != 0 || right != 0;
    default: return std::nan("");
  }
}

}  // namespace MathUtils
