#include "parser/machine_code.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "parser/builtins.h"
#include "parser/code_helpers.h"
#include "parser/commands.h"
#include "parser/executable_pages.h"
#include "parser/program.h"
#include "parser/unwind_info.h"
#include "parser/x86_operations.h"

#if VORNCALC_JIT
#if defined(__x86_64__) && !defined(_WIN32)
#define MATHUTILS_MACHINE_X64 1
#elif defined(__i386__)
#define MATHUTILS_MACHINE_IA32 1
#else
#error "machine code is generated for x86-64 (System V) and IA-32 only"
#endif
#include <xbyak/xbyak.h>

#include "parser/constant_pool.h"
#endif

namespace MathUtils::detail {

MachineCode::MachineCode(std::uint8_t* pages, std::size_t reserved, std::size_t size, std::size_t codeSize)
    : Pages(pages), ReservedBytes(reserved), TotalSize(size), CodeSize(codeSize) {}

#if !VORNCALC_JIT

bool MachineCode::Supported() { return false; }
std::size_t MachineCode::PageBytes() { return 0; }
std::unique_ptr<MachineCode> MachineCode::Generate(const Program&) { return nullptr; }
MachineCode::~MachineCode() = default;

#else

bool MachineCode::Supported() { return true; }

std::size_t MachineCode::PageBytes() { return detail::PageBytes(); }

namespace {

using Xbyak::Xmm;

// What a target's prologue needs to know of the code.
struct Shape {
  bool Calls;
  bool DeepSlots;
  int HighestSlot;
};

// ---- targets: the frame, calls and returns of each calling convention ----
//
// A target class offers:
//   RegisterSlots        slots 1..RegisterSlots live in xmm0.., the two next
//                        registers are scratch
//   Prologue, Epilogue   the frame, with its steps recorded for the unwind
//                        description; the result is in xmm0 at the epilogue
//   SlotMemory(k)        where slot k is kept in memory
//   NumberMemory(o)      the pool entry at offset o from the pool's label, as
//   MaskMemory(o)        a double / as 16 bytes for the packed operations
//   VariableMemory(p)    the double at p (may emit what the address needs)
//   Argument(i)          the register that receives the i-th double argument;
//                        Pass(i) after loading it, Returned() after the call
//   PassWithContext(c)   passes Argument(0) as the second argument, after
//                        the pointer c
//   Call(f)              a call of a C function
//   CallListHelper       helper(the pointers given, the address of the count
//                        slots from slot on, count): CallList and its
//                        context form

#ifdef MATHUTILS_MACHINE_X64

// x86-64 System V: doubles go in xmm0, xmm1 and come back in xmm0, every
// XMM register is clobbered by a call. The slots kept in memory live in
// the code's own frame, slot k at rsp + 8 k; the frame keeps the stack
// 16-byte aligned at every call. Code without calls or such slots has no
// frame.
class SystemV64 {
 public:
  static constexpr int RegisterSlots = 14;

  SystemV64(Xbyak::CodeGenerator& code, std::vector<FrameStep>& steps, const Xbyak::Label& pool,
            bool measuring)
      : C(code), Steps(steps), Pool(pool), Measuring(measuring) {}

  void Prologue(const Shape& shape) {
    Framed = shape.Calls || shape.DeepSlots;
    if (!Framed) return;
    FrameBytes = (8 * (shape.HighestSlot + 1) + 15) / 16 * 16 + 8;
    C.sub(C.rsp, FrameBytes);
    Step(FrameStep::CfaOffset, Rsp, FrameBytes + 8);
  }
  void Epilogue() {
    if (Framed) {
      C.add(C.rsp, FrameBytes);
      Step(FrameStep::CfaOffset, Rsp, 8);
    }
    C.ret();
  }

  Xbyak::Address SlotMemory(int slot) const { return C.qword[C.rsp + 8 * slot]; }
  Xbyak::Address NumberMemory(int offset) const { return C.qword[C.rip + Pool + offset]; }
  Xbyak::Address MaskMemory(int offset) const { return C.xword[C.rip + Pool + offset]; }
  Xbyak::Address VariableMemory(const double* variable) {
    C.mov(C.rax, reinterpret_cast<std::size_t>(variable));
    return C.qword[C.rax];
  }

  static Xmm Argument(int index) { return Xmm(index); }
  void Pass(int) {}
  static Xmm Returned() { return Xmm(0); }

  // Direct where the function lies within reach of a 32-bit displacement
  // (the C library usually does), else through rax. While measuring, the
  // address of the code is not yet known: the longer form is counted.
  void Call(const void* function) {
    const std::int64_t distance =
        reinterpret_cast<std::int64_t>(function) - reinterpret_cast<std::int64_t>(C.getCurr() + 5);
    if (!Measuring && distance >= INT32_MIN + 4096 && distance <= INT32_MAX - 4096) {
      C.call(function);
      return;
    }
    C.mov(C.rax, reinterpret_cast<std::size_t>(function));
    C.call(C.rax);
  }

  void PassWithContext(const void* context) { C.mov(C.rdi, reinterpret_cast<std::size_t>(context)); }

  void CallListHelper(const void* helper, std::initializer_list<const void*> pointers, int slot, int count) {
    const Xbyak::Reg64 arguments[] = {C.rdi, C.rsi, C.rdx, C.rcx};
    std::size_t next = 0;
    for (const void* pointer : pointers) C.mov(arguments[next++], reinterpret_cast<std::size_t>(pointer));
    C.lea(arguments[next++], C.ptr[C.rsp + 8 * slot]);
    C.mov(arguments[next], count);
    Call(helper);
  }

 private:
  static constexpr int Rsp = 7;  // DWARF's number

  void Step(FrameStep::Kind kind, int reg, int offset) { Steps.push_back({C.getSize(), kind, reg, offset}); }

  Xbyak::CodeGenerator& C;
  std::vector<FrameStep>& Steps;
  const Xbyak::Label& Pool;
  bool Measuring;
  bool Framed = false;
  int FrameBytes = 0;
};

using NativeTarget = SystemV64;

#else

// IA-32 cdecl: arguments on the stack, a double returned in st(0), every
// XMM register clobbered by a call. ebp frames the code; esi, saved, holds
// the address of the constants; the stack is aligned to 16 bytes with 32
// bytes of room for arguments and returned values, then the slots kept in
// memory (slot k at esp + 32 + 8 k).
class Cdecl32 {
 public:
  static constexpr int RegisterSlots = 6;

  Cdecl32(Xbyak::CodeGenerator& code, std::vector<FrameStep>& steps, const Xbyak::Label& pool, bool)
      : C(code), Steps(steps), Pool(pool) {}

  void Prologue(const Shape& shape) {
    C.push(C.ebp);
    Step(FrameStep::CfaOffset, Esp, 8);
    Step(FrameStep::Saved, Ebp, 8);
    C.mov(C.ebp, C.esp);
    Step(FrameStep::CfaRegister, Ebp);
    C.push(C.esi);
    Step(FrameStep::Saved, Esi, 12);
    C.mov(C.esi, Pool);
    C.and_(C.esp, -16);
    C.sub(C.esp, (SlotsAt + 8 * (shape.HighestSlot + 1) + 15) / 16 * 16);
  }
  void Epilogue() {
    C.movsd(C.qword[C.esp], C.xmm0);
    C.fld(C.qword[C.esp]);
    C.mov(C.esi, C.ptr[C.ebp - 4]);
    Step(FrameStep::Restored, Esi);
    C.mov(C.esp, C.ebp);
    C.pop(C.ebp);
    Step(FrameStep::Cfa, Esp, 4);
    Step(FrameStep::Restored, Ebp);
    C.ret();
  }

  Xbyak::Address SlotMemory(int slot) const { return C.qword[C.esp + SlotsAt + 8 * slot]; }
  Xbyak::Address NumberMemory(int offset) const { return C.qword[C.esi + offset]; }
  Xbyak::Address MaskMemory(int offset) const { return C.xword[C.esi + offset]; }
  Xbyak::Address VariableMemory(const double* variable) const {
    return C.qword[reinterpret_cast<std::size_t>(variable)];
  }

  static Xmm Argument(int) { return Xmm(RegisterSlots); }
  void Pass(int index) { C.movsd(C.qword[C.esp + 8 * index], Argument(index)); }
  Xmm Returned() {
    C.fstp(C.qword[C.esp]);
    C.movsd(Xmm(RegisterSlots), C.qword[C.esp]);
    return Xmm(RegisterSlots);
  }

  void Call(const void* function) {
    C.mov(C.eax, reinterpret_cast<std::size_t>(function));
    C.call(C.eax);
  }

  void PassWithContext(const void* context) {
    C.mov(C.dword[C.esp], reinterpret_cast<std::size_t>(context));
    C.movsd(C.qword[C.esp + 4], Argument(0));
  }

  void CallListHelper(const void* helper, std::initializer_list<const void*> pointers, int slot, int count) {
    int offset = 0;
    for (const void* pointer : pointers) {
      C.mov(C.dword[C.esp + offset], reinterpret_cast<std::size_t>(pointer));
      offset += 4;
    }
    C.lea(C.eax, C.ptr[C.esp + SlotsAt + 8 * slot]);
    C.mov(C.dword[C.esp + offset], C.eax);
    C.mov(C.dword[C.esp + offset + 4], count);
    Call(helper);
  }

 private:
  static constexpr int SlotsAt = 32;
  static constexpr int Esp = 4, Ebp = 5, Esi = 6;  // DWARF's numbers

  void Step(FrameStep::Kind kind, int reg, int offset = 0) {
    Steps.push_back({C.getSize(), kind, reg, offset});
  }

  Xbyak::CodeGenerator& C;
  std::vector<FrameStep>& Steps;
  const Xbyak::Label& Pool;
};

using NativeTarget = Cdecl32;

#endif

// Where an instruction's operand lives.
struct Source {
  enum Kind { Slot, Variable, Number } Is;
  int SlotIndex;
  const double* Address;
  double Value;
};

// Reads the program and the rows of its operations (parser/program.h) and
// emits the code for the target.
class Generator : public Xbyak::CodeGenerator {
 public:
  // Into the buffer, which must hold the code; while measuring, into a
  // buffer that grows as needed.
  Generator(const Program& program, std::uint8_t* buffer, std::size_t room, Xbyak::Allocator* growing)
      : Xbyak::CodeGenerator(room, buffer ? static_cast<void*>(buffer) : Xbyak::AutoGrow, growing),
        In(program),
        Abi(*this, FrameSteps, Pool, buffer == nullptr) {}

  // Emits the whole function; throws Xbyak::Error when it does not fit.
  void Emit() {
    ScanProgram();
    Abi.Prologue({Calls, DeepSlots, HighestSlot});
    for (const Instruction& instruction : In.Instructions) EmitInstruction(instruction);
    LoadResult();
    Abi.Epilogue();
    InstructionBytes = getSize();
    Constants.Place(*this, Pool);
  }

  // How the frame changes along the code, for its unwind description.
  std::span<const FrameStep> Frame() const { return FrameSteps; }
  // Whether the code calls anything, through which an exception may pass.
  bool MakesCalls() const { return Calls; }
  // Whether it calls a callback of the user's.
  bool CallsBack() const { return UserCalls; }
  // Bytes of instructions, before the constants.
  std::size_t Instructions() const { return InstructionBytes; }

 private:
  static constexpr int RegisterSlots = NativeTarget::RegisterSlots;

  // ---- the program's shape ----

  void ScanProgram() {
    for (const Instruction& instruction : In.Instructions) {
      if (IsCall(instruction)) Calls = true;
      if (instruction.Slot > RegisterSlots) DeepSlots = true;
      HighestSlot = std::max(HighestSlot, instruction.Slot);
    }
  }

  bool IsCall(const Instruction& instruction) const {
    switch (LoweringOf(instruction.Op)) {
      case Lowering::Power: return true;
      case Lowering::CallList: return !ListInline(instruction);
      case Lowering::CallUnary: return MachineFormOf(instruction.Callback).Form <= CallForm::Library;
      case Lowering::CallUnaryContext:
      case Lowering::CallListContext: return true;
      default: return false;
    }
  }

  static Source SourceOf(const Instruction& instruction, const Operand& operand) {
    if (operand.IsSlot()) return {Source::Slot, operand.Slot(), nullptr, 0};
    if (instruction.IsConstant(operand)) return {Source::Number, 0, operand.Address(), *operand.Address()};
    return {Source::Variable, 0, operand.Address(), 0};
  }
  static Source SlotSource(int slot) { return {Source::Slot, slot, nullptr, 0}; }

  // ---- where things are ----

  static bool InRegister(int slot) { return slot <= RegisterSlots; }
  static Xmm RegisterOf(int slot) { return Xmm(slot - 1); }
  static Xmm ScratchA() { return Xmm(RegisterSlots); }
  static Xmm ScratchB() { return Xmm(RegisterSlots + 1); }
  // The register that computes a slot's value.
  static Xmm Target(int slot) { return InRegister(slot) ? RegisterOf(slot) : ScratchA(); }

  bool InRegisterNow(int slot) const { return InRegister(slot) && !Stored[slot]; }

  Xbyak::Address NumberMemory(double value) { return Abi.NumberMemory(Constants.OffsetOf(value)); }
  Xbyak::Address MaskMemory(std::uint64_t bits) { return Abi.MaskMemory(Constants.OffsetOf(bits)); }
  Xbyak::Address MaskMemory(double value) { return Abi.MaskMemory(Constants.OffsetOf(value)); }

  // Calls use(operand) with the source as an operand of a scalar instruction.
  template <typename Use>
  void WithOperand(const Source& source, Use&& use) {
    switch (source.Is) {
      case Source::Slot:
        if (InRegisterNow(source.SlotIndex))
          use(RegisterOf(source.SlotIndex));
        else
          use(Abi.SlotMemory(source.SlotIndex));
        return;
      case Source::Variable: use(Abi.VariableMemory(source.Address)); return;
      case Source::Number: use(NumberMemory(source.Value)); return;
    }
  }

  void LoadInto(const Xmm& into, const Source& source) {
    if (source.Is == Source::Slot && InRegisterNow(source.SlotIndex)) {
      if (RegisterOf(source.SlotIndex).getIdx() != into.getIdx()) movapd(into, RegisterOf(source.SlotIndex));
      return;
    }
    WithOperand(source, [&](const Xbyak::Operand& operand) { movsd(into, operand); });
  }

  // The value computed in from becomes the slot's.
  void Store(int slot, const Xmm& from) {
    if (InRegister(slot)) {
      if (RegisterOf(slot).getIdx() != from.getIdx()) movapd(RegisterOf(slot), from);
    } else {
      movsd(Abi.SlotMemory(slot), from);
    }
    Stored[slot] = false;
    Live[slot] = true;
  }

  void Consume(int first, int count) {
    for (int k = first; k < first + count; ++k) Live[k] = false;
  }

  // A call clobbers every XMM register: the live slots below the limit go
  // to memory, to be reloaded when read.
  void SpillBelow(int limit) {
    for (int k = 1; k < limit && k <= RegisterSlots; ++k) {
      if (!Live[k] || Stored[k]) continue;
      movsd(Abi.SlotMemory(k), RegisterOf(k));
      Stored[k] = true;
    }
  }

  // A register slot's own register, holding its value.
  Xmm Reloaded(int slot) {
    if (Stored[slot]) {
      movsd(RegisterOf(slot), Abi.SlotMemory(slot));
      Stored[slot] = false;
    }
    return RegisterOf(slot);
  }

  // The right operand in a register that may be overwritten: its own slot's
  // register (the operation consumes it), else the second scratch register.
  Xmm RightInRegister(const Source& right) {
    if (right.Is == Source::Slot && InRegisterNow(right.SlotIndex)) return RegisterOf(right.SlotIndex);
    LoadInto(ScratchB(), right);
    return ScratchB();
  }

  // ---- calls: what a callback throws unwinds through the code's frame by
  // its unwind description ----

  // f(argument), scaled before and after where a scale is not 0.
  void CallOneArgument(int slot, const Source& argument, const void* function, double before = 0,
                       double after = 0) {
    SpillBelow(slot);
    const Xmm value = Abi.Argument(0);
    LoadInto(value, argument);
    if (before != 0) mulsd(value, NumberMemory(before));
    Abi.Pass(0);
    Abi.Call(function);
    const Xmm result = Abi.Returned();
    if (after != 0) mulsd(result, NumberMemory(after));
    Store(slot, result);
  }

  // x64: Argument(1) is slot 2's register, and slot 2 is the base itself
  // (moved to Argument(0) first), the exponent, or spilled.
  void PowerCall(int slot, const Source& base, const Source& exponent) {
    SpillBelow(slot);
    const void* function = exponent.Is == Source::Number ? reinterpret_cast<const void*>(LibraryPow)
                                                         : reinterpret_cast<const void*>(RaiseToPower);
    LoadInto(Abi.Argument(0), base);
    Abi.Pass(0);
    LoadInto(Abi.Argument(1), exponent);
    Abi.Pass(1);
    Abi.Call(function);
    Store(slot, Abi.Returned());
    Consume(slot + 1, 1);
  }

  // ---- the rows ----

  using ScalarInstruction = void (Xbyak::CodeGenerator::*)(const Xmm&, const Xbyak::Operand&);

  static ScalarInstruction InstructionOf(Sse sse) {
    static constexpr ScalarInstruction Instructions[] = {
        nullptr,
        &CodeGenerator::addsd,
        &CodeGenerator::subsd,
        &CodeGenerator::mulsd,
        &CodeGenerator::divsd,
        &CodeGenerator::cmplesd,
        &CodeGenerator::cmpltsd,
        &CodeGenerator::cmpeqsd,
        &CodeGenerator::cmpneqsd,
        &CodeGenerator::andpd,
        &CodeGenerator::orpd,
    };
    static_assert(std::size(Instructions) == static_cast<std::size_t>(Sse::Or) + 1);
    return Instructions[static_cast<std::size_t>(sse)];
  }

  void Apply(Sse sse, const Xmm& target, const Xbyak::Operand& operand) {
    (this->*InstructionOf(sse))(target, operand);
  }

  void EmitInstruction(const Instruction& instruction) {
    const Emission& row = EmissionOf(instruction.Op);
    const int slot = instruction.Slot;
    const Source left = SourceOf(instruction, instruction.Left);
    switch (row.Shape) {
      case Lowering::Scalar:
      case Lowering::Reversed:
      case Lowering::BothNonZero: Binary(row, slot, left, SourceOf(instruction, instruction.Right)); return;
      case Lowering::Power: PowerOf(slot, left, SourceOf(instruction, instruction.Right)); return;
      case Lowering::Square:
      case Lowering::Load: {
        const Xmm target = Target(slot);
        LoadInto(target, left);
        if (row.Shape == Lowering::Square) mulsd(target, target);
        Store(slot, target);
        return;
      }
      case Lowering::CallUnary: UnaryFunction(slot, left, instruction.Callback); return;
      case Lowering::CallList: ListFunction(slot, instruction); return;
      case Lowering::CallUnaryContext: UnaryContextFunction(slot, left, instruction); return;
      case Lowering::CallListContext: ListContextFunction(slot, instruction); return;
      case Lowering::None: return;  // no operation of the program
    }
  }

  void Binary(const Emission& row, int slot, const Source& left, const Source& right) {
    const Xmm target = Target(slot);
    LoadInto(target, left);
    double reciprocal;
    if (row.Shape == Lowering::Reversed) {
      const Xmm other = RightInRegister(right);
      Apply(row.Instruction, other, target);
      movapd(target, other);
    } else if (row.Shape == Lowering::BothNonZero) {
      cmpneqsd(target, NumberMemory(0.0));
      const Xmm other = RightInRegister(right);
      cmpneqsd(other, NumberMemory(0.0));
      Apply(row.Instruction, target, other);
    } else if (row.Reciprocal && right.Is == Source::Number && ExactReciprocal(right.Value, reciprocal)) {
      mulsd(target, NumberMemory(reciprocal));
    } else {
      WithOperand(right, [&](const Xbyak::Operand& operand) { Apply(row.Instruction, target, operand); });
    }
    if (row.ToOne) andpd(target, MaskMemory(1.0));  // all ones or zero, to 1.0 or 0.0
    Consume(slot + 1, 1);
    Store(slot, target);
  }

  void PowerOf(int slot, const Source& base, const Source& exponent) {
    if (exponent.Is == Source::Number && (exponent.Value == 2 || exponent.Value == 1)) {
      const Xmm target = Target(slot);
      LoadInto(target, base);
      if (exponent.Value == 2) mulsd(target, target);
      Consume(slot + 1, 1);
      Store(slot, target);
      return;
    }
    PowerCall(slot, base, exponent);
  }

  void UnaryFunction(int slot, const Source& argument, void* callback) {
    const MachineForm form = MachineFormOf(callback);
    switch (form.Form) {
      case CallForm::Callback:
      case CallForm::Builtin:
        UserCalls = UserCalls || form.Form == CallForm::Callback;
        CallOneArgument(slot, argument, callback);
        return;
      case CallForm::Library:
        CallOneArgument(slot, argument, reinterpret_cast<const void*>(form.Library), form.Before, form.After);
        return;
      default: break;
    }
    const Xmm target = Target(slot);
    LoadInto(target, argument);
    if (form.Form == CallForm::Sqrt)
      sqrtsd(target, target);
    else if (form.Form == CallForm::Abs)
      andpd(target, MaskMemory(AbsMask));
    else
      xorpd(target, MaskMemory(SignMask));
    Store(slot, target);
  }

  // sum, avg, min and max of register slots are computed in place.
  bool ListInline(const Instruction& instruction) const {
    const int last = instruction.Slot + instruction.ArgCount - 1;
    return instruction.ArgCount >= 1 && last <= RegisterSlots &&
           MachineFormOf(instruction.Callback).Form >= CallForm::Sum;
  }

  void ListFunction(int slot, const Instruction& instruction) {
    const int count = instruction.ArgCount;
    const CallForm form = MachineFormOf(instruction.Callback).Form;
    if (!ListInline(instruction)) {
      UserCalls = UserCalls || form == CallForm::Callback;
      CallListThrough(reinterpret_cast<const void*>(CallList), {instruction.Callback}, slot, count);
    } else if (form == CallForm::Sum || form == CallForm::Avg) {
      Total(slot, count, form == CallForm::Avg);
    } else {
      Pick(slot, count, form == CallForm::Min);
    }
    Consume(slot + 1, count - 1);
  }

  void CallListThrough(const void* helper, std::initializer_list<const void*> pointers, int slot, int count) {
    SpillBelow(slot + count);
    Abi.CallListHelper(helper, pointers, slot, count);
    Store(slot, Abi.Returned());
  }

  // A callback defined with a context is the user's own: always called.
  void UnaryContextFunction(int slot, const Source& argument, const Instruction& instruction) {
    UserCalls = true;
    SpillBelow(slot);
    LoadInto(Abi.Argument(0), argument);
    Abi.PassWithContext(instruction.Context);
    Abi.Call(instruction.Callback);
    Store(slot, Abi.Returned());
  }

  void ListContextFunction(int slot, const Instruction& instruction) {
    UserCalls = true;
    CallListThrough(reinterpret_cast<const void*>(CallListWithContext),
                    {instruction.Callback, instruction.Context}, slot, instruction.ArgCount);
    Consume(slot + 1, instruction.ArgCount - 1);
  }

  // The total starts from 0, as the functions' own does: 0 + -0 is 0.
  void Total(int slot, int count, bool average) {
    const Xmm total = ScratchA();
    xorpd(total, total);
    for (int k = slot; k < slot + count; ++k)
      WithOperand(SlotSource(k), [&](const Xbyak::Operand& argument) { addsd(total, argument); });
    if (average) divsd(total, NumberMemory(static_cast<double>(count)));
    Store(slot, total);
  }

  // pick stays where the kept mask is set, else becomes the argument: the
  // mask is argument >= pick for min, pick >= argument for max, both false
  // on NaN as the functions' own comparisons. The choice is made with bit
  // operations, which pass a denormal through unchanged; minsd and maxsd
  // would return it as zero under denormals-are-zero.
  void Pick(int slot, int count, bool minimum) {
    const Xmm pick = Reloaded(slot);
    for (int k = slot + 1; k < slot + count; ++k) {
      const Xmm argument = Reloaded(k);
      const Xmm kept = ScratchA(), chosen = ScratchB();
      movapd(kept, minimum ? pick : argument);
      cmplesd(kept, minimum ? argument : pick);
      movapd(chosen, kept);
      andpd(chosen, pick);
      andnpd(kept, argument);
      orpd(chosen, kept);
      movapd(pick, chosen);
    }
    Store(slot, pick);
  }

  void LoadResult() {
    if (In.Result.IsSlot())
      LoadInto(xmm0, SlotSource(In.Result.Slot()));
    else
      movsd(xmm0, Abi.VariableMemory(In.Result.Address()));
  }

  const Program& In;
  Xbyak::Label Pool;
  // One number an entry, 16 bytes apart so that the masks can be operands
  // of the packed bit operations.
  ConstantPool<1, 16> Constants;
  std::vector<FrameStep> FrameSteps;
  NativeTarget Abi;
  std::size_t InstructionBytes = 0;
  bool Calls = false;
  bool UserCalls = false;  // whether any call is of a callback of the user's
  bool DeepSlots = false;
  int HighestSlot = 1;
  // Per slot: written and not yet consumed; kept in memory rather than in
  // its register.
  std::array<bool, EvaluationStackSize + 1> Live{};
  std::array<bool, EvaluationStackSize + 1> Stored{};
};

// The measuring pass writes to the heap, never to executable memory.
struct HeapBuffer : Xbyak::Allocator {
  bool useProtect() const override { return false; }  // NOLINT(readability-identifier-naming): Xbyak's name
};

// Emits the code once to learn its size: no guess of what the emitters
// will need.
std::size_t MeasureCode(const Program& program) {
  HeapBuffer heap;
  Generator measuring(program, nullptr, 4096, &heap);
  measuring.Emit();
  return measuring.getSize();
}

}  // namespace

// Emits the code twice: once to measure it, once into pages of that size.
// The second pass can only be shorter (calls within reach of a direct call
// become one).
std::unique_ptr<MachineCode> MachineCode::Generate(const Program& program) {
  try {
    const std::size_t measured = MeasureCode(program);
    const std::size_t page = PageBytes();
    const std::size_t reserved = (measured + page - 1) / page * page;
    std::uint8_t* pages = AllocateWritable(reserved);
    if (!pages) return nullptr;
    // Made first, so that it releases the pages when anything below fails.
    std::unique_ptr<MachineCode> code(new MachineCode(pages, reserved, 0, 0));
    Generator generator(program, pages, reserved, nullptr);
    generator.Emit();
    code->TotalSize = generator.getSize();
    code->CodeSize = generator.Instructions();
    code->UserCalls = generator.CallsBack();
    // Without a description of its frame, nothing may unwind through the code.
    if (generator.MakesCalls()) {
      if (!UnwindInfo::Supported()) return nullptr;
      code->Unwind = std::make_unique<UnwindInfo>(pages, code->CodeSize, generator.Frame());
    }
    if (!MakeExecutable(pages, reserved)) return nullptr;
    return code;
  } catch (...) {
    return nullptr;
  }
}

MachineCode::~MachineCode() {
  Unwind.reset();  // no unwinder may find the code once it is gone
  ReleasePages(Pages, ReservedBytes);
}

#endif

}  // namespace MathUtils::detail
