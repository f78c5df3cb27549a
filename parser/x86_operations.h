// How the x86 code generators emit the binary operators that they lower to
// instructions (see Lowering in parser/commands.h): one row per operator,
// its columns everything the generator asks of it.
//
//   Apply       the vector form (Form) of + - * /, and of "and"/"or" the form
//               that joins the two compares' masks (andpd orpd)
//   Compare     a comparison's predicate: cmp(s|p)d's LE LT EQ are ordered,
//               false on NaN as C++'s <=, <, ==; NEQ_UQ is true on NaN as
//               C++'s !=; the mask, all ones or zero, becomes 1.0 or 0.0
//   Join        how 8-lane code joins "and"/"or"'s masks in k registers
//               (kandw korw)
//   Reciprocal  a number divisor whose reciprocal is exact (a power of two
//               with a normal reciprocal) multiplies by that reciprocal: the
//               same quotient rounded once, for every dividend
//
// A row that lacks the column its lowering needs makes the generator fail
// (no machine code), never emit something else.
#pragma once

#include <cstdint>
#include <iterator>

#include "parser/builtins.h"
#include "parser/code_helpers.h"
#include "parser/commands.h"
#include "parser/math_library.h"
#include "parser/program.h"

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
  bool Reciprocal = false;
};

// clang-format off
inline constexpr X86Operation X86Operations[] = {
//   op           Apply       Compare       Join            Reciprocal
    {cdLessEq,    Form::None, Le},
    {cdGreaterEq, Form::None, Le},                          // reversed: b <= a
    {cdNotEqual,  Form::None, NeqUnordered},
    {cdEqual,     Form::None, Eq},
    {cdLess,      Form::None, Lt},
    {cdGreater,   Form::None, Lt},                          // reversed: b < a
    {cdAdd,       Form::Add},
    {cdSub,       Form::Sub},
    {cdMul,       Form::Mul},
    {cdDiv,       Form::Div,  NoCompare,    MaskJoin::None, true},
    {cdPow},
    {cdAnd,       Form::And,  NoCompare,    MaskJoin::And},
    {cdOr,        Form::Or,   NoCompare,    MaskJoin::Or},
};
// clang-format on

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
  X86Operation Row{};
};

constexpr Emission EmissionOf(std::int32_t op) {
  if (!IsBinaryOperator(op)) return {LoweringOf(op)};
  return {LoweringOf(op), X86Operations[op]};
}

// Slots 1..RegisterSlots live in vector registers, the two next registers
// are scratch: the registers of the calling convention that a call may
// clobber, at every width alike.
#ifdef __x86_64__
inline constexpr int RegisterSlots = 14;
#else
inline constexpr int RegisterSlots = 6;
#endif

// What one instruction of the program becomes, decided once, before any
// width is known, for the one-point code and the lanes alike:
//
//   Step         emits                                        when
//   -----------  -------------------------------------------  -------------------------------------
//   Operation    t = Left <op> Right, as the row's Shape says  a binary operator (its row above)
//                (Scalar/Reversed/BothNonZero)
//   Reciprocal   t = Left * Number                            a division by a number whose
//                                                             reciprocal is exact
//   Square       t = Left * Left                              a square, or a power by the number 2
//   Load         t = Left                                     a load, or a power by the number 1
//   CallTwo      t = Function(Left, Right) * After            any other power; a math library
//                (from the slots t and t+1 where FromSlots)     function of two arguments
//   CallUnary    t = Function(Left * Before) * After          a call of a callback, of a built-in
//                                                             or of its math library function
//                (both: in lanes, Lanes' vector form of the width (VectorForm), where it has one,
//                called once with the whole registers)
//   Sqrt, Abs, Negate                                         a built-in computed inline
//   Sum, Avg, Min, Max  of the Count slots from t on          a built-in list function of register
//                                                             slots, with at least one argument
//   Where        of the slots t, t+1, t+2                     where() of three register slots
//   CallList     Function(the pointers, the slots, Count)     any other list function
//   CallContext  Callback(Context, Left)                      a callback defined with a context
//   None         nothing                                      no operation of the program
// clang-format off
enum class Step : std::uint8_t {
  None, Operation, Reciprocal, Square, Load, Sqrt, Abs, Negate, Sum, Avg, Min, Max, Where,  // inline
  CallTwo, CallUnary, CallList, CallContext                                                // calls
};
// clang-format on

struct Lowered {
  Step Is = Step::None;
  Emission Row{Lowering::None};
  const void* Function = nullptr;               // what a call calls
  double Before = 0, After = 0;                 // CallUnary's and CallTwo's scales; 0 for none
  double Number = 0;                            // Reciprocal's factor
  bool CallsUser = false;                       // a callback of the user's: may touch the parser, throw
  VectorFunction Lanes = VectorFunction::None;  // the call's vector forms, if any
  bool FromSlots = false;                       // CallTwo of a list function's two slots
  bool Calls() const { return Is >= Step::CallTwo; }
  // A list function reads its arguments from the slots, no operand.
  bool ReadsSlotsOnly() const {
    return (Is >= Step::Sum && Is <= Step::Where) || Is == Step::CallList || FromSlots;
  }
};

// In the deterministic library, a number exponent calls its pow, any other
// the choice of Power() with that pow.
inline Lowered LowerPower(const Instruction& instruction, bool deterministic) {
  const bool number = instruction.IsConstant(instruction.Right);
  const double exponent = number ? *instruction.Right.Address() : 0;
  if (number && exponent == 2) return {Step::Square};
  if (number && exponent == 1) return {Step::Load};
  Lowered call{Step::CallTwo, {Lowering::Power}};
  if (deterministic) {
    call.Function = reinterpret_cast<const void*>(number ? Deterministic::Pow : Deterministic::Raise);
    call.Lanes = number ? VectorFunction::Pow : VectorFunction::Raise;
  } else {
    call.Function =
        number ? reinterpret_cast<const void*>(LibraryPow) : reinterpret_cast<const void*>(RaiseToPower);
  }
  return call;
}

inline Lowered LowerUnary(const Instruction& instruction) {
  const MachineForm form = MachineFormOf(instruction.Callback);
  switch (form.Form) {
    case CallForm::Library: {
      Lowered call{Step::CallUnary, {}, reinterpret_cast<const void*>(form.Library), form.Before, form.After};
      call.Lanes = form.Lanes;
      return call;
    }
    case CallForm::Sqrt: return {Step::Sqrt};
    case CallForm::Abs: return {Step::Abs};
    case CallForm::Negate: return {Step::Negate};
    default: break;
  }
  Lowered call{Step::CallUnary, {}, instruction.Callback};
  call.CallsUser = form.Form == CallForm::Callback;
  return call;
}

// A math library function of two arguments is called as "^" calls pow;
// sum, avg, min, max and where of register slots are computed in place.
inline Lowered LowerList(const Instruction& instruction) {
  const MachineForm machine = MachineFormOf(instruction.Callback);
  const CallForm form = machine.Form;
  if (form == CallForm::Library && machine.Pair && instruction.ArgCount == 2) {
    Lowered call{Step::CallTwo, {}, reinterpret_cast<const void*>(machine.Pair), 0, machine.After};
    call.Lanes = machine.Lanes;
    call.FromSlots = true;
    return call;
  }
  const int last = instruction.Slot + instruction.ArgCount - 1;
  const bool inRegisters = instruction.ArgCount >= 1 && last <= RegisterSlots;
  if (inRegisters && form >= CallForm::Sum && form <= CallForm::Max)
    return {static_cast<Step>(static_cast<int>(Step::Sum) + static_cast<int>(form) -
                              static_cast<int>(CallForm::Sum))};
  if (inRegisters && form == CallForm::Where && instruction.ArgCount == 3) return {Step::Where};
  Lowered call{Step::CallList, {}, reinterpret_cast<const void*>(CallList)};
  call.CallsUser = form == CallForm::Callback;
  return call;
}

inline Lowered LowerBinary(const Instruction& instruction) {
  const Emission row = EmissionOf(instruction.Op);
  double reciprocal = 0;
  if (row.Row.Reciprocal && instruction.IsConstant(instruction.Right) &&
      ExactReciprocal(*instruction.Right.Address(), reciprocal)) {
    Lowered product{Step::Reciprocal, row};
    product.Number = reciprocal;
    return product;
  }
  return {Step::Operation, row};
}

// deterministic: whether the program's math library is the deterministic one.
inline Lowered Lower(const Instruction& instruction, bool deterministic) {
  switch (LoweringOf(instruction.Op)) {
    case Lowering::Scalar:
    case Lowering::Reversed:
    case Lowering::BothNonZero: return LowerBinary(instruction);
    case Lowering::Power: return LowerPower(instruction, deterministic);
    case Lowering::Square: return {Step::Square};
    case Lowering::Load: return {Step::Load};
    case Lowering::CallUnary: return LowerUnary(instruction);
    case Lowering::CallList: return LowerList(instruction);
    case Lowering::CallUnaryContext: return {Step::CallContext, {}, instruction.Callback, 0, 0, 0, true};
    case Lowering::CallListContext: {
      const auto helper = reinterpret_cast<const void*>(CallListWithContext);
      return {Step::CallList, {Lowering::CallListContext}, helper, 0, 0, 0, true};
    }
    case Lowering::None: break;
  }
  return {};
}

}  // namespace MathUtils::detail
