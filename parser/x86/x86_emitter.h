// The x86 backend's emitter for one lane width: the width's registers and
// instruction forms, where each operand of an instruction is read from,
// the values held in upper registers, the slots in registers and memory,
// and how a group's result is stored. The kinds of step build on it
// (parser/x86/x86_inline_steps.h, parser/x86/x86_call_steps.h), and the generator
// (parser/x86/machine_code.cpp) drives them over the lowered program.
#pragma once

#include <xbyak/xbyak.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "parser/lowering/code_helpers.h"
#include "parser/lowering/lowering.h"
#include "parser/lowering/slot_allocator.h"
#include "parser/program/program.h"
#include "parser/x86/constant_pool.h"
#include "parser/x86/x86_conventions.h"
#include "parser/x86/x86_operations.h"

namespace MathUtils::detail {

using Xbyak::Xmm;

// The width's instructions of the forms from Form::Add on, in that order.
constexpr std::size_t FormCount = static_cast<std::size_t>(Form::Count) - 1;

using TwoOperands = void (*)(Xbyak::CodeGenerator&, const Xmm&, const Xbyak::Operand&);
using StoreForm = void (*)(Xbyak::CodeGenerator&, const Xbyak::Address&, const Xmm&);
using CompareForm = void (*)(Xbyak::CodeGenerator&, const Xmm&, const Xbyak::Operand&, std::uint8_t);

// A row per width: the lanes, the register class and the instruction forms.
//
//   lanes  registers  arithmetic  bit operations         moves: register, memory; stream  compare
//   1      xmm        addsd ..    andpd orpd xorpd andnpd  movapd, movsd                  cmpsd
//   2      xmm        addpd ..    andpd ..                 movapd, movupd; movntpd        cmppd
//   4      ymm        vaddpd ..   vandpd ..                vmovapd, vmovupd; vmovntpd     vcmppd
//   8      zmm        vaddpd ..   vpandq vporq vpxorq      vmovapd, vmovupd; vmovntpd     vcmppd into k
//                                 vpandnq (AVX-512F has them as integer ones)
//
// Vex code clears the upper halves before a call and at its end; Masks
// code compares into k registers and picks by blending; Upper code has
// zmm16-31 besides the slots' registers.
struct WidthRow {
  int Lanes;
  Xmm (*Register)(int index);
  TwoOperands Forms[FormCount];
  StoreForm Store, Stream;
  CompareForm Compare;  // into a mask of all ones or zeros; null where Masks
  bool Vex, Masks, Upper;
};

// The row of 1, 2, 4 or 8 lanes.
const WidthRow& RowOf(int lanes);

constexpr std::uint64_t QuietBit = 0x0008000000000000;

// Where an instruction reads an operand.
struct Source {
  enum Kind : std::uint8_t { Slot, Variable, Number } Is;
  int SlotIndex;
  int VariableIndex;
  double Value;
};

class X86Emitter : public Xbyak::CodeGenerator {
 protected:
  // Into the buffer, which must hold the code; while measuring, into a
  // buffer that grows as needed.
  X86Emitter(const Program& program, int lanes, bool loop, void* at, std::size_t size,
             Xbyak::Allocator* allocator)
      : CodeGenerator(size, at ? at : Xbyak::AutoGrow, allocator),
        In(program),
        Row(RowOf(lanes)),
        Constants(Row.Lanes),
        Abi(*this, Shape, Pool, FrameSteps) {
    Shape.Loop = loop;
    Shape.Measuring = at == nullptr;
    Shape.SlotBytes = 8 * Row.Lanes;
  }

  Source SourceOf(const Instruction& instruction, const Operand& operand) {
    if (operand.IsSlot()) return SlotSource(operand.Slot());
    if (instruction.IsConstant(operand)) return {Source::Number, 0, 0, *operand.Address()};
    return {Source::Variable, 0, VariableIndex(operand.Address()), 0};
  }
  static Source SlotSource(int slot) { return {Source::Slot, slot, 0, 0}; }
  Source ResultSource() { return SourceOf(Instruction{}, In.Result); }

  int VariableIndex(const double* address) {
    std::vector<const double*>& variables = Shape.Variables;
    const auto known = std::find(variables.begin(), variables.end(), address);
    if (known != variables.end()) return static_cast<int>(known - variables.begin());
    variables.push_back(address);
    return static_cast<int>(variables.size() - 1);
  }

  // ---- registers and memory of the lane width ----

  Xmm V(int index) const { return Row.Register(index); }

  Xmm RegisterOf(int slot) const { return V(slot - 1); }
  Xmm ScratchA() const { return V(RegisterSlots); }
  Xmm ScratchB() const { return V(RegisterSlots + 1); }
  // The register that computes a slot's value.
  Xmm Target(int slot) const { return SlotAllocator::InRegister(slot) ? RegisterOf(slot) : ScratchA(); }

  Xbyak::Address NumberMemory(double value) { return Abi.Pool(Constants.OffsetOf(value)); }
  Xbyak::Address MaskMemory(std::uint64_t bits) { return Abi.Pool(Constants.OffsetOf(bits)); }

  // A row without the form its lowering needs makes no code at all.
  void EmitForm(Form form, const Xmm& to, const Xbyak::Operand& operand) {
    if (form == Form::None || form == Form::Count) throw Xbyak::Error(Xbyak::ERR_INTERNAL);
    Row.Forms[static_cast<std::size_t>(form) - 1](*this, to, operand);
  }
  void Move(const Xmm& to, const Xmm& from) {
    if (to.getIdx() != from.getIdx()) EmitForm(Form::Move, to, from);
  }
  void Load(const Xmm& to, const Xbyak::Address& from) { EmitForm(Form::Load, to, from); }
  void StoreTo(const Xbyak::Address& to, const Xmm& from) { Row.Store(*this, to, from); }
  void Zero(const Xmm& to) { EmitForm(Form::Xor, to, to); }

  // to = (to <predicate> operand) ? 1.0 : 0.0
  void CompareToOne(Predicate predicate, const Xmm& to, const Xbyak::Operand& operand) {
    if (predicate == NoCompare) throw Xbyak::Error(Xbyak::ERR_INTERNAL);
    if (Row.Masks) {
      vcmppd(k1, to, operand, predicate);
      MaskToOne(to, k1);
      return;
    }
    CompareToMask(predicate, to, operand);
    EmitForm(Form::And, to, MaskMemory(OneBits()));
  }

  // to = all ones where to <predicate> operand, else 0 (not where Masks).
  void CompareToMask(Predicate predicate, const Xmm& to, const Xbyak::Operand& operand) {
    Row.Compare(*this, to, operand, predicate);
  }

  void MaskToOne(const Xmm& to, const Xbyak::Opmask& mask) {
    vmovupd(to | mask | T_z, MaskMemory(OneBits()));
  }

  static std::uint64_t OneBits() { return std::bit_cast<std::uint64_t>(1.0); }

  // ---- sources ----

  // Calls use(operand) with the source as an operand of an instruction of
  // the width.
  template <typename Use>
  void WithOperand(const Source& source, Use&& use) {
    switch (source.Is) {
      case Source::Slot:
        if (Slots.InRegisterNow(source.SlotIndex))
          use(RegisterOf(source.SlotIndex));
        else
          use(Abi.Slot(source.SlotIndex));
        return;
      case Source::Variable:
        if (HeldVariable(source.VariableIndex)) {
          use(HeldVariableRegister(source.VariableIndex));
        } else if (!Shape.Loop) {
          use(Abi.VariableMemory(Shape.Variables[static_cast<std::size_t>(source.VariableIndex)]));
        } else {
          LoadVariable(ScratchB(), source.VariableIndex);
          use(ScratchB());
        }
        return;
      case Source::Number: WithNumber(source.Value, use); return;
    }
  }

  template <typename Use>
  void WithNumber(double value, Use&& use) {
    if (const int held = HeldNumberIndex(value); held >= 0)
      use(HeldNumberRegister(held));
    else
      use(NumberMemory(value));
  }

  void LoadInto(const Xmm& into, const Source& source) {
    switch (source.Is) {
      case Source::Slot:
        if (Slots.InRegisterNow(source.SlotIndex))
          Move(into, RegisterOf(source.SlotIndex));
        else
          Load(into, Abi.Slot(source.SlotIndex));
        return;
      case Source::Variable:
        if (HeldVariable(source.VariableIndex))
          Move(into, HeldVariableRegister(source.VariableIndex));
        else
          LoadVariable(into, source.VariableIndex);
        return;
      case Source::Number:
        if (const int held = HeldNumberIndex(source.Value); held >= 0)
          Move(into, HeldNumberRegister(held));
        else
          Load(into, NumberMemory(source.Value));
        return;
    }
  }

  // ---- values held in the upper registers ----
  //
  // AVX-512 code that calls nothing has zmm16-zmm31 to itself: zmm16-23
  // hold the group's values of the first eight variables, loaded once at
  // the top of the group however often the program reads them, and
  // zmm24-31 the first eight numbers it reads, loaded once before the
  // loop. Either way the loop loads less; everything else reads memory.

  static constexpr int HeldVariables = 8, HeldNumbers = 8;
  bool HoldsValues() const { return Row.Upper && !Shape.Calls; }
  bool HeldVariable(int index) const { return HoldsValues() && index < HeldVariables; }
  static Xbyak::Zmm HeldVariableRegister(int index) { return Xbyak::Zmm(16 + index); }
  static Xbyak::Zmm HeldNumberRegister(int index) { return Xbyak::Zmm(16 + HeldVariables + index); }

  int HeldNumberIndex(double value) const {
    if (!HoldsValues()) return -1;
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    const auto at = std::find(HeldNumberBits.begin(), HeldNumberBits.end(), bits);
    return at == HeldNumberBits.end() ? -1 : static_cast<int>(at - HeldNumberBits.begin());
  }

  void HoldNumber(double value) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    if (HeldNumberBits.size() < HeldNumbers &&
        std::find(HeldNumberBits.begin(), HeldNumberBits.end(), bits) == HeldNumberBits.end())
      HeldNumberBits.push_back(bits);
  }

  // The numbers an instruction reads, as it reads them: a divisor with an
  // exact reciprocal as that reciprocal.
  void NoteNumbers(const Instruction& instruction, const Lowered& lowered) {
    if (instruction.IsConstant(instruction.Left)) HoldNumber(*instruction.Left.Address());
    if (!instruction.IsConstant(instruction.Right)) return;
    HoldNumber(lowered.Is == Step::Reciprocal ? lowered.Number : *instruction.Right.Address());
  }

  void LoadHeldNumbers() {
    if (!HoldsValues()) return;
    for (std::size_t k = 0; k < HeldNumberBits.size(); ++k)
      Load(HeldNumberRegister(static_cast<int>(k)), NumberMemory(std::bit_cast<double>(HeldNumberBits[k])));
  }

  void LoadVariable(const Xmm& into, int index) {
    const double* variable = Shape.Variables[static_cast<std::size_t>(index)];
    Load(into, Shape.Loop ? Abi.LoopVariable(index) : Abi.VariableMemory(variable));
  }

  void LoadHeldVariables() {
    for (int k = 0; k < Shape.VariableCount() && HeldVariable(k); ++k)
      LoadVariable(HeldVariableRegister(k), k);
  }

  // ---- the slots ----

  // The value computed in from becomes the slot's.
  void Store(int slot, const Xmm& from) {
    if (SlotAllocator::InRegister(slot))
      Move(RegisterOf(slot), from);
    else
      StoreTo(Abi.Slot(slot), from);
    Slots.Written(slot);
  }

  // A call clobbers every vector register: the live slots below the limit
  // go to memory, to be reloaded when read.
  void SpillBelow(int limit) {
    Slots.SpillBelow(limit, [&](int slot) { StoreTo(Abi.Slot(slot), RegisterOf(slot)); });
  }

  // A register slot's own register, holding its value.
  Xmm Reloaded(int slot) {
    if (Slots.Reload(slot)) Load(RegisterOf(slot), Abi.Slot(slot));
    return RegisterOf(slot);
  }

  // The right operand in a register that may be overwritten: its own slot's
  // register (the operation consumes it), else the second scratch register.
  Xmm RightInRegister(const Source& right) {
    if (right.Is == Source::Slot && Slots.InRegisterNow(right.SlotIndex)) return RegisterOf(right.SlotIndex);
    LoadInto(ScratchB(), right);
    return ScratchB();
  }

  void BeforeCall() {
    if (Row.Vex) vzeroupper();
  }

  // ---- the loop's results ----

  // Results that will not fit in the caches go around them (non-temporal
  // stores, to aligned vectors), where the run asks for it: the loop then
  // neither reads them in first nor pushes the arrays out.
  void StoreResultTo(const Xbyak::Address& at, const Xmm& value, bool stream) {
    (stream ? Row.Stream : Row.Store)(*this, at, value);
  }

  // The group's results, where a one-point result would pass an x87
  // register, with the quiet bit that it sets in a signaling NaN.
  void StoreResult(const Xmm& value, bool stream) {
    if constexpr (NativeConvention::QuietsResults) {
      const Xmm nan = ScratchB();
      Move(nan, value);
      CompareToMask(Unordered, nan, nan);
      EmitForm(Form::And, nan, MaskMemory(QuietBit));
      EmitForm(Form::Or, value, nan);
    }
    StoreResultTo(Abi.Results(), value, stream);
  }

  const Program& In;
  const WidthRow& Row;
  CodeShape Shape;
  Xbyak::Label Pool;
  ConstantPool Constants;
  std::vector<Lowered> Lowerings;  // one per instruction
  std::vector<FrameStep> FrameSteps;
  NativeConvention Abi;
  std::size_t InstructionBytes = 0;
  std::vector<std::uint64_t> HeldNumberBits;  // of the numbers in HeldNumberRegister(0..)
  SlotAllocator Slots;
};

}  // namespace MathUtils::detail
