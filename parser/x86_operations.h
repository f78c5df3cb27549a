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

#include "parser/builtins.h"
#include "parser/code_helpers.h"
#include "parser/commands.h"
#include "parser/math_library.h"
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
//   Operation    t = Left <Row.Instruction> Right, as the     a binary operator (its row above)
//                row's Shape says (Scalar/Reversed/BothNonZero)
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
  if (row.Reciprocal && instruction.IsConstant(instruction.Right) &&
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
