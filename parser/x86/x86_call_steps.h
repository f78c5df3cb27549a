// The steps that the x86 backend makes calls for: the math library's
// functions (their vector forms in lanes, where they have them), the
// built-ins and the callbacks of the user's.
#pragma once

#include <array>

#include "parser/x86/x86_inline_steps.h"

namespace MathUtils::detail {

class X86CallSteps : public X86InlineSteps {
 protected:
  using X86InlineSteps::X86InlineSteps;

  // ---- calls: what a callback throws unwinds through the code's frame by
  // its unwind description ----

  // A callback of the user's, called one point at a time.
  void UnaryContextFunction(int slot, const Source& argument, const Instruction& instruction) {
    SpillBelow(slot);
    LoadInto(Abi.Argument(0), argument);
    Abi.PassWithContext(instruction.Context);
    Abi.Call(instruction.Callback);
    Store(slot, Abi.Returned());
  }

  // One point at a time, where the arguments lie side by side:
  // helper(the pointers, the address of the count slots from slot on, count).
  void CallListOfSlots(const Lowered& lowered, const Instruction& instruction) {
    const int slot = instruction.Slot, count = instruction.ArgCount;
    SpillBelow(slot + count);
    BeforeCall();
    if (lowered.Shape == Lowering::CallListContext)
      Abi.PassPointersAndSlots({instruction.Callback, instruction.Context}, slot, count);
    else
      Abi.PassPointersAndSlots({instruction.Callback}, slot, count);
    Abi.Call(lowered.Function);
    Store(slot, Abi.Returned());
  }

  // f(a) or f(a, b), scaled before and after where a scale is not 0: one
  // point at a time straight from the operands; in lanes, its vector form
  // of the width where it has one, else for each lane in turn, the results
  // to the slot's memory.
  void CallEachLane(int slot, std::array<Source, 2> arguments, int count, const Lowered& call) {
    const void* function = call.Function;
    const double before = call.Before, after = call.After;
    if (Row.Lanes == 1) {
      CallOnePoint(slot, arguments, count, function, before, after);
      return;
    }
    if (const void* vector = VectorForm(call.Lanes, Row.Lanes)) {
      CallVector(slot, arguments, count, vector, before, after);
      return;
    }
    for (int a = 0; a < count; ++a) {
      LoadInto(ScratchA(), arguments[a]);
      StoreTo(Abi.Arguments(a), ScratchA());
    }
    SpillBelow(slot);
    BeforeCall();
    for (int lane = 0; lane < Row.Lanes; ++lane) {
      for (int a = 0; a < count; ++a) Pass(a, Abi.ArgumentLane(a, lane), a == 0 ? before : 0);
      Abi.Call(function);
      movsd(Abi.SlotLane(slot, lane), Scaled(Abi.Returned(), after));
    }
    Slots.Written(slot);
    if (SlotAllocator::InRegister(slot)) GatherLanes(slot);
  }

  // The vector form takes its arguments in the width's first registers,
  // V(0) and V(1), and returns in V(0); it clobbers every vector register.
  // Its code is the width's own (VEX for 4 and 8 lanes): the upper halves
  // stay. The second argument is the slot above the first, or a variable
  // or a number: never in V(0), which the first argument fills first.
  void CallVector(int slot, const std::array<Source, 2>& arguments, int count, const void* function,
                  double before, double after) {
    SpillBelow(slot);
    for (int a = 0; a < count; ++a) LoadInto(V(a), arguments[a]);
    if (before != 0) EmitForm(Form::Mul, V(0), NumberMemory(before));
    Abi.Call(function);
    if (after != 0) EmitForm(Form::Mul, V(0), NumberMemory(after));
    Store(slot, V(0));
  }

  // x86-64: Argument(1) is slot 2's register, and slot 2 is the first
  // argument itself (moved to Argument(0) first), the second, or spilled.
  void CallOnePoint(int slot, const std::array<Source, 2>& arguments, int count, const void* function,
                    double before, double after) {
    SpillBelow(slot);
    for (int a = 0; a < count; ++a) {
      LoadInto(Abi.Argument(a), arguments[a]);
      Scaled(Abi.Argument(a), a == 0 ? before : 0);
      Abi.Pass(a);
    }
    Abi.Call(function);
    Store(slot, Scaled(Abi.Returned(), after));
  }

  void Pass(int which, const Xbyak::Address& from, double scale) {
    movsd(Abi.Argument(which), from);
    Scaled(Abi.Argument(which), scale);
    Abi.Pass(which);
  }

  // The value multiplied by the scale, where it is not 0.
  Xmm Scaled(const Xmm& value, double scale) {
    if (scale != 0) mulsd(value, NumberMemory(scale));
    return value;
  }

  // The results the calls stored one by one, back into the slot's register
  // one double at a time. A vector load of them would have to wait until
  // the scalar stores reach the cache; each scalar load is forwarded from
  // its store at once.
  void GatherLanes(int slot) {
    const Xmm target = RegisterOf(slot);
    if (Row.Lanes == 2) {
      movsd(target, Abi.SlotLane(slot, 0));
      movhpd(target, Abi.SlotLane(slot, 1));
      return;
    }
    const int low = target.getIdx(), scratch = ScratchA().getIdx(), other = ScratchB().getIdx();
    PairInto(Xmm(low), slot, 0);
    PairInto(Xmm(scratch), slot, 2);
    vinsertf128(Xbyak::Ymm(low), Xbyak::Ymm(low), Xmm(scratch), 1);
    if (Row.Lanes != 8) return;
    PairInto(Xmm(scratch), slot, 4);
    PairInto(Xmm(other), slot, 6);
    vinsertf128(Xbyak::Ymm(scratch), Xbyak::Ymm(scratch), Xmm(other), 1);
    vinsertf64x4(Xbyak::Zmm(low), Xbyak::Zmm(low), Xbyak::Ymm(scratch), 1);
  }

  // The two lanes from lane on, the upper part of the register cleared.
  void PairInto(const Xmm& to, int slot, int lane) {
    vmovsd(to, Abi.SlotLane(slot, lane));
    vmovhpd(to, to, Abi.SlotLane(slot, lane + 1));
  }
};

}  // namespace MathUtils::detail
