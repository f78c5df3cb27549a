// The steps that the x86 backend computes in place, without a call: the
// binary operators by their rows (parser/x86/x86_operations.h), products, the
// inline built-ins and list functions, where().
#pragma once

#include "parser/x86/x86_emitter.h"

namespace MathUtils::detail {

class X86InlineSteps : public X86Emitter {
 protected:
  using X86Emitter::X86Emitter;

  // Left times the exact reciprocal, Left squared, or Left itself; a binary
  // operator (a division, a power) consumes its right operand's slot.
  void Product(const Lowered& lowered, int slot, const Source& left, bool binary) {
    const Xmm target = Target(slot);
    LoadInto(target, left);
    if (lowered.Is == Step::Square) EmitForm(Form::Mul, target, target);
    if (lowered.Is == Step::Reciprocal)
      WithNumber(lowered.Number,
                 [&](const Xbyak::Operand& operand) { EmitForm(Form::Mul, target, operand); });
    if (binary) Slots.Consumed(slot + 1, 1);
    Store(slot, target);
  }

  void Binary(const Emission& emission, int slot, const Source& left, const Source& right) {
    const X86Operation& row = emission.Row;
    const Xmm target = Target(slot);
    LoadInto(target, left);
    if (emission.Shape == Lowering::Reversed) {
      const Xmm other = RightInRegister(right);
      CompareToOne(row.Compare, other, target);
      Move(target, other);
    } else if (emission.Shape == Lowering::BothNonZero) {
      BothNonZero(row, target, RightInRegister(right));
    } else if (row.Compare != NoCompare) {
      WithOperand(right, [&](const Xbyak::Operand& operand) { CompareToOne(row.Compare, target, operand); });
    } else {
      WithOperand(right, [&](const Xbyak::Operand& operand) { EmitForm(row.Apply, target, operand); });
    }
    Slots.Consumed(slot + 1, 1);
    Store(slot, target);
  }

  void BothNonZero(const X86Operation& row, const Xmm& target, const Xmm& other) {
    if (Row.Masks) {
      vcmppd(k1, target, NumberMemory(0.0), NeqUnordered);
      vcmppd(k2, other, NumberMemory(0.0), NeqUnordered);
      JoinMasks(row.Join);
      MaskToOne(target, k1);
      return;
    }
    CompareToMask(NeqUnordered, target, NumberMemory(0.0));
    CompareToMask(NeqUnordered, other, NumberMemory(0.0));
    EmitForm(row.Apply, target, other);
    EmitForm(Form::And, target, MaskMemory(OneBits()));
  }

  // k1 = k1 <join> k2
  void JoinMasks(MaskJoin join) {
    switch (join) {
      case MaskJoin::And: kandw(k1, k1, k2); return;
      case MaskJoin::Or: korw(k1, k1, k2); return;
      case MaskJoin::None: break;
    }
    throw Xbyak::Error(Xbyak::ERR_INTERNAL);
  }

  void InlineUnary(Step step, int slot, const Source& argument) {
    const Xmm target = Target(slot);
    LoadInto(target, argument);
    if (step == Step::Sqrt)
      EmitForm(Form::Sqrt, target, target);
    else if (step == Step::Abs)
      EmitForm(Form::And, target, MaskMemory(AbsMask));
    else
      EmitForm(Form::Xor, target, MaskMemory(SignMask));
    Store(slot, target);
  }

  // The total starts from 0, as the functions' own does: 0 + -0 is 0.
  void Total(int slot, int count, bool average) {
    const Xmm total = ScratchA();
    Zero(total);
    for (int k = slot; k < slot + count; ++k)
      WithOperand(SlotSource(k),
                  [&](const Xbyak::Operand& argument) { EmitForm(Form::Add, total, argument); });
    if (average) EmitForm(Form::Div, total, NumberMemory(static_cast<double>(count)));
    Store(slot, total);
  }

  // pick stays where argument >= pick (min) / pick >= argument (max), both
  // false on NaN as the functions' own comparisons, else becomes the
  // argument. The choice is made with bit operations or a blend, which pass
  // a denormal through unchanged; minsd and maxsd would return it as zero
  // under denormals-are-zero.
  void Pick(int slot, int count, bool minimum) {
    const Xmm pick = Reloaded(slot);
    for (int k = slot + 1; k < slot + count; ++k) {
      const Xmm argument = Reloaded(k);
      if (Row.Masks) {
        vcmppd(k1, minimum ? pick : argument, minimum ? argument : pick, Le);
        vblendmpd(pick | k1, argument, pick);
        continue;
      }
      const Xmm kept = ScratchA(), chosen = ScratchB();
      Move(kept, minimum ? pick : argument);
      CompareToMask(Le, kept, minimum ? argument : pick);
      Move(chosen, kept);
      EmitForm(Form::And, chosen, pick);
      EmitForm(Form::AndNot, kept, argument);
      EmitForm(Form::Or, chosen, kept);
      Move(pick, chosen);
    }
    Store(slot, pick);
  }

  // where(c, a, b) of the three slots from slot on: a where c is not 0 or
  // is NaN, else b; then c itself where it is NaN. Bit operations or blends
  // pass every value through unchanged, as the function's own choice does.
  void Where(int slot) {
    const Xmm condition = Reloaded(slot), chosen = Reloaded(slot + 1), other = Reloaded(slot + 2);
    if (Row.Masks) {
      vcmppd(k1, condition, NumberMemory(0.0), NeqUnordered);
      vblendmpd(chosen | k1, other, chosen);
      vcmppd(k2, condition, condition, Unordered);
      vblendmpd(condition | k2, chosen, condition);
      Store(slot, condition);
      return;
    }
    const Xmm mask = ScratchA();
    Move(mask, condition);
    CompareToMask(NeqUnordered, mask, NumberMemory(0.0));
    EmitForm(Form::And, chosen, mask);
    EmitForm(Form::AndNot, mask, other);
    EmitForm(Form::Or, chosen, mask);  // a or b
    Move(mask, condition);
    CompareToMask(Unordered, mask, mask);
    EmitForm(Form::And, condition, mask);
    EmitForm(Form::AndNot, mask, chosen);
    EmitForm(Form::Or, condition, mask);  // c where NaN, else a or b
    Store(slot, condition);
  }
};

}  // namespace MathUtils::detail
