// The calling conventions of the x86 backend (parser/x86/machine_code.cpp), a
// class each, for every width alike: the frame, where the slots, the call
// arguments and the variables are, and the calls and returns.
//
// A convention class offers:
//   Prologue, Epilogue   the frame, its steps recorded for the unwind
//                        description; a one-point result is in xmm0 at the
//                        epilogue
//   Slot(k), SlotLane(k, lane)    slot k kept in memory, and one lane of it
//   Arguments(a), ArgumentLane(a, lane)  the a-th vector of call arguments
//   Pool(o)              the pool entry at offset o from the pool's label
//   VariableMemory(p)    the double at p, for the one-point code
//   LoopVariable(i)      the group's values of the i-th variable of a loop
//   Results()            where the group's results go
//   StreamFlag()         ArrayRun::Stream; NextPoint(loop) moves on a group
//   Argument(i)          the register that receives the i-th double argument;
//                        Pass(i) after loading it, Returned() after the call
//   PassWithContext(c)   passes Argument(0) as the second argument, after c
//   PassPointersAndSlots helper(the pointers given, the address of the count
//                        slots from slot on, count) for a list callback
//   Call(f)              a call of a C function
//   QuietsResults        whether a one-point result passes an x87 register,
//                        which sets a signaling NaN's quiet bit
//
// Each emits what an address needs (into the register eax/rax) before
// returning it. The build picks the one of its processor.
#pragma once

#include <xbyak/xbyak.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "parser/lowering/array_run.h"
#include "parser/lowering/lowering.h"
#include "parser/x86/unwind_info.h"

namespace MathUtils::detail {

// What a convention needs to know of the code, settled before the prologue.
struct CodeShape {
  bool Loop = false;       // a loop over arrays, else one point
  bool Calls = false;      // whether any instruction calls
  bool UserCalls = false;  // whether one calls a callback of the user's
  bool DeepSlots = false;  // slots beyond the registers, kept in memory
  bool Measuring = false;  // emitted to measure it, not where it will run
  int SlotBytes = 8;       // a slot's vector
  int HighestSlot = 1;
  std::vector<const double*> Variables;  // in the order of ArrayRun::Sources

  int VariableCount() const { return static_cast<int>(Variables.size()); }
  // A loop always has a frame; the one-point code where it calls or keeps
  // slots in memory.
  bool Framed() const { return Loop || Calls || DeepSlots; }
};

// Shared by the conventions: the code, the shape, the pool and the steps,
// and the frame's layout from SlotsAt bytes above the stack pointer on: the
// slots kept in memory, two vectors of call arguments, the variables' bases.
template <int SlotsAt>
class ConventionBase {
 public:
  ConventionBase(Xbyak::CodeGenerator& code, const CodeShape& shape, const Xbyak::Label& pool,
                 std::vector<FrameStep>& steps)
      : C(code), Shape(shape), PoolLabel(pool), Steps(steps) {}

  Xbyak::Address Slot(int slot) const { return C.ptr[Sp() + SlotOffset(slot)]; }
  Xbyak::Address SlotLane(int slot, int lane) const { return C.qword[Sp() + SlotOffset(slot) + 8 * lane]; }
  Xbyak::Address Arguments(int which) const { return C.ptr[Sp() + ArgumentsOffset(which)]; }
  Xbyak::Address ArgumentLane(int which, int lane) const {
    return C.qword[Sp() + ArgumentsOffset(which) + 8 * lane];
  }

 protected:
  const Xbyak::Reg32e& Sp() const {
#ifdef __x86_64__
    return C.rsp;
#else
    return C.esp;
#endif
  }
  int SlotOffset(int slot) const { return SlotsAt + Shape.SlotBytes * slot; }
  int ArgumentsOffset(int which) const { return SlotsAt + Shape.SlotBytes * (Shape.HighestSlot + 1 + which); }
  int BasesOffset() const { return ArgumentsOffset(2); }

  void Step(FrameStep::Kind kind, int reg, int offset = 0) {
    Steps.push_back({C.getSize(), kind, reg, offset});
  }
  static std::size_t Address(const void* pointer) { return reinterpret_cast<std::size_t>(pointer); }

  Xbyak::CodeGenerator& C;
  const CodeShape& Shape;
  const Xbyak::Label& PoolLabel;
  std::vector<FrameStep>& Steps;
};

#ifdef __x86_64__

// x86-64 System V: doubles go in xmm0, xmm1 and come back in xmm0; every
// vector register is clobbered by a call. The frame holds the slots kept in
// memory (slot k at rsp + SlotBytes k) and, for a loop, two vectors of call
// arguments after them, then the bases of the variables not in registers;
// it keeps the stack 16-byte aligned at every call. The one-point code has
// a frame only where Framed; a loop saves rbx (the run), r12 (the sources),
// r13 (the group's byte offset), r14 (the results) and r15 (the end offset).
class SystemV64 : public ConventionBase<0> {
 public:
  using ConventionBase::ConventionBase;
  static constexpr bool QuietsResults = false;

  void Prologue() {
    if (!Shape.Loop) {
      if (!Shape.Framed()) return;
      C.sub(C.rsp, FrameBytes());
      Step(FrameStep::CfaOffset, Rsp, FrameBytes() + 8);
      return;
    }
    for (int i = 0; i < 5; ++i) {
      C.push(Saved[i]);
      Step(FrameStep::CfaOffset, Rsp, 8 * (i + 2));
      Step(FrameStep::Saved, SavedDwarf[i], 8 * (i + 2));
    }
    C.sub(C.rsp, FrameBytes());
    Step(FrameStep::CfaOffset, Rsp, 48 + FrameBytes());
    LoadRun();
  }

  void Epilogue() {
    if (Shape.Framed()) {
      C.add(C.rsp, FrameBytes());
      Step(FrameStep::CfaOffset, Rsp, Shape.Loop ? 48 : 8);
    }
    for (int i = Shape.Loop ? 4 : -1; i >= 0; --i) {
      C.pop(Saved[i]);
      Step(FrameStep::CfaOffset, Rsp, 8 * (i + 1));
      Step(FrameStep::Restored, SavedDwarf[i]);
    }
    C.ret();
  }

  Xbyak::Address Pool(int offset) const { return C.ptr[C.rip + PoolLabel + offset]; }
  Xbyak::Address VariableMemory(const double* variable) {
    C.mov(C.rax, Address(variable));
    return C.qword[C.rax];
  }
  Xbyak::Address LoopVariable(int index) {
    if (BaseInRegister(index)) return C.ptr[BaseRegister(index) + C.r13];
    C.mov(C.rax, BaseMemory(index));
    return C.ptr[C.rax + C.r13];
  }
  Xbyak::Address Results() const { return C.ptr[C.r14 + C.r13]; }
  Xbyak::Address StreamFlag() const { return C.qword[C.rbx + offsetof(ArrayRun, Stream)]; }

  void NextPoint(Xbyak::Label& loop) {
    for (int k = 0; k < Shape.VariableCount(); ++k) {
      if (StepsInRegisters()) {
        C.sub(BaseRegister(k), StepRegister(k));
      } else if (BaseInRegister(k)) {
        C.sub(BaseRegister(k), SourceField(k, offsetof(ArraySource, Step)));
      } else {
        C.mov(C.rax, SourceField(k, offsetof(ArraySource, Step)));
        C.sub(BaseMemory(k), C.rax);
      }
    }
    C.add(C.r13, Shape.SlotBytes);
    if (Shape.UserCalls) C.mov(C.ptr[C.rbx + offsetof(ArrayRun, DoneBytes)], C.r13);
    C.cmp(C.r13, C.r15);
    C.jb(loop, Xbyak::CodeGenerator::T_NEAR);
  }

  static Xbyak::Xmm Argument(int index) { return Xbyak::Xmm(index); }
  void Pass(int) {}
  static Xbyak::Xmm Returned() { return Xbyak::Xmm(0); }
  void PassWithContext(const void* context) { C.mov(C.rdi, Address(context)); }

  void PassPointersAndSlots(std::initializer_list<const void*> pointers, int slot, int count) {
    const Xbyak::Reg64 arguments[] = {C.rdi, C.rsi, C.rdx, C.rcx};
    std::size_t next = 0;
    for (const void* pointer : pointers) C.mov(arguments[next++], Address(pointer));
    C.lea(arguments[next++], C.ptr[C.rsp + SlotOffset(slot)]);
    C.mov(arguments[next], count);
  }

  // Direct where the function lies within reach of a 32-bit displacement
  // (the C library usually does), else through rax. While measuring, the
  // address of the code is not yet known: the longer form is counted.
  void Call(const void* function) {
    const std::int64_t distance =
        reinterpret_cast<std::int64_t>(function) - reinterpret_cast<std::int64_t>(C.getCurr() + 5);
    if (!Shape.Measuring && distance >= INT32_MIN + 4096 && distance <= INT32_MAX - 4096) {
      C.call(function);
      return;
    }
    C.mov(C.rax, Address(function));
    C.call(C.rax);
  }

 private:
  static constexpr int Rsp = 7;  // DWARF's number
  static constexpr int SavedDwarf[] = {3, 12, 13, 14, 15};
  const Xbyak::Reg64 Saved[5] = {C.rbx, C.r12, C.r13, C.r14, C.r15};

  int FrameBytes() const {
    if (Shape.Loop) return (BasesOffset() + 8 * Shape.VariableCount() + 15) / 16 * 16;
    return (Shape.SlotBytes * (Shape.HighestSlot + 1) + 15) / 16 * 16 + 8;
  }

  // A loop without calls keeps the first variables' bases in registers that
  // a call would clobber; the others live in the frame. With four variables
  // at most, their steps too.
  static constexpr int BaseRegisters = 8;
  bool BaseInRegister(int index) const { return !Shape.Calls && index < BaseRegisters; }
  bool StepsInRegisters() const { return !Shape.Calls && Shape.VariableCount() <= BaseRegisters / 2; }
  Xbyak::Reg64 StepRegister(int index) const { return BaseRegister(BaseRegisters / 2 + index); }
  Xbyak::Reg64 BaseRegister(int index) const {
    const Xbyak::Reg64 registers[BaseRegisters] = {C.rsi, C.rdi, C.rcx, C.rdx, C.r8, C.r9, C.r10, C.r11};
    return registers[index];
  }
  Xbyak::Address BaseMemory(int index) const { return C.qword[C.rsp + BasesOffset() + 8 * index]; }
  Xbyak::Address SourceField(int index, std::size_t field) const {
    return C.qword[C.r12 + static_cast<int>(sizeof(ArraySource)) * index + static_cast<int>(field)];
  }

  void LoadRun() {
    C.mov(C.rbx, C.rdi);
    C.mov(C.r12, C.ptr[C.rbx + offsetof(ArrayRun, Sources)]);
    C.mov(C.r14, C.ptr[C.rbx + offsetof(ArrayRun, Results)]);
    C.mov(C.r15, C.ptr[C.rbx + offsetof(ArrayRun, Count)]);
    C.shl(C.r15, 3);
    C.xor_(C.r13, C.r13);
    for (int k = 0; k < Shape.VariableCount(); ++k) {
      if (BaseInRegister(k)) {
        C.mov(BaseRegister(k), SourceField(k, offsetof(ArraySource, Base)));
        if (StepsInRegisters()) C.mov(StepRegister(k), SourceField(k, offsetof(ArraySource, Step)));
      } else {
        C.mov(C.rax, SourceField(k, offsetof(ArraySource, Base)));
        C.mov(BaseMemory(k), C.rax);
      }
    }
  }
};

using NativeConvention = SystemV64;

#else

// IA-32 cdecl: arguments on the stack, a double returned in st(0), every
// vector register clobbered by a call. ebp frames the code; ebx holds the
// run, esi the constants, edi the group's byte offset; all three are saved.
// The stack is aligned to 16 bytes with 32 bytes of outgoing arguments at
// esp, then the end offset, then the slots (slot k at esp + 48 +
// SlotBytes k), the call arguments and the variables' bases.
class Cdecl32 : public ConventionBase<48> {
 public:
  using ConventionBase::ConventionBase;
  static constexpr bool QuietsResults = true;

  void Prologue() {
    C.push(C.ebp);
    Step(FrameStep::CfaOffset, Esp, 8);
    Step(FrameStep::Saved, Ebp, 8);
    C.mov(C.ebp, C.esp);
    Step(FrameStep::CfaRegister, Ebp);
    C.push(C.ebx);
    Step(FrameStep::Saved, Ebx, 12);
    C.push(C.esi);
    Step(FrameStep::Saved, Esi, 16);
    C.push(C.edi);
    Step(FrameStep::Saved, Edi, 20);
    C.mov(C.ebx, C.ptr[C.ebp + 8]);
    C.mov(C.esi, PoolLabel);
    C.and_(C.esp, -16);
    C.sub(C.esp, FrameBytes());
    if (Shape.Loop) LoadRun();
  }

  // The one-point code returns its value in st(0).
  void Epilogue() {
    if (!Shape.Loop) {
      C.movsd(C.qword[C.esp], C.xmm0);
      C.fld(C.qword[C.esp]);
    }
    C.mov(C.edi, C.ptr[C.ebp - 12]);
    Step(FrameStep::Restored, Edi);
    C.mov(C.esi, C.ptr[C.ebp - 8]);
    Step(FrameStep::Restored, Esi);
    C.mov(C.ebx, C.ptr[C.ebp - 4]);
    Step(FrameStep::Restored, Ebx);
    C.mov(C.esp, C.ebp);
    C.pop(C.ebp);
    Step(FrameStep::Cfa, Esp, 4);
    Step(FrameStep::Restored, Ebp);
    C.ret();
  }

  Xbyak::Address Pool(int offset) const { return C.ptr[C.esi + offset]; }
  Xbyak::Address VariableMemory(const double* variable) const { return C.qword[Address(variable)]; }
  Xbyak::Address LoopVariable(int index) {
    C.mov(C.eax, BaseMemory(index));
    return C.ptr[C.eax + C.edi];
  }
  Xbyak::Address Results() {
    C.mov(C.eax, C.ptr[C.ebx + offsetof(ArrayRun, Results)]);
    return C.ptr[C.eax + C.edi];
  }
  Xbyak::Address StreamFlag() const { return C.dword[C.ebx + offsetof(ArrayRun, Stream)]; }

  void NextPoint(Xbyak::Label& loop) {
    C.mov(C.ecx, C.ptr[C.ebx + offsetof(ArrayRun, Sources)]);
    for (int k = 0; k < Shape.VariableCount(); ++k) {
      C.mov(C.eax, SourceField(k, offsetof(ArraySource, Step)));
      C.sub(BaseMemory(k), C.eax);
    }
    C.add(C.edi, Shape.SlotBytes);
    if (Shape.UserCalls) C.mov(C.ptr[C.ebx + offsetof(ArrayRun, DoneBytes)], C.edi);
    C.cmp(C.edi, C.ptr[C.esp + EndAt]);
    C.jb(loop, Xbyak::CodeGenerator::T_NEAR);
  }

  static Xbyak::Xmm Argument(int) { return Xbyak::Xmm(RegisterSlots); }
  void Pass(int index) { C.movsd(C.qword[C.esp + 8 * index], Argument(index)); }
  Xbyak::Xmm Returned() {
    C.fstp(C.qword[C.esp]);
    C.movsd(C.xmm0, C.qword[C.esp]);
    return C.xmm0;
  }
  void PassWithContext(const void* context) {
    C.mov(C.dword[C.esp], Address(context));
    C.movsd(C.qword[C.esp + 4], Argument(0));
  }

  void PassPointersAndSlots(std::initializer_list<const void*> pointers, int slot, int count) {
    int offset = 0;
    for (const void* pointer : pointers) {
      C.mov(C.dword[C.esp + offset], Address(pointer));
      offset += 4;
    }
    C.lea(C.eax, C.ptr[C.esp + SlotOffset(slot)]);
    C.mov(C.ptr[C.esp + offset], C.eax);
    C.mov(C.dword[C.esp + offset + 4], count);
  }

  void Call(const void* function) { C.call(function); }

 private:
  static constexpr int Esp = 4, Ebp = 5, Ebx = 3, Esi = 6, Edi = 7;  // DWARF's numbers
  static constexpr int EndAt = 32;

  int FrameBytes() const { return (BasesOffset() + 4 * Shape.VariableCount() + 15) / 16 * 16; }
  Xbyak::Address BaseMemory(int index) const { return C.dword[C.esp + BasesOffset() + 4 * index]; }
  // ecx holds the sources.
  Xbyak::Address SourceField(int index, std::size_t field) const {
    return C.dword[C.ecx + static_cast<int>(sizeof(ArraySource)) * index + static_cast<int>(field)];
  }

  void LoadRun() {
    C.mov(C.eax, C.ptr[C.ebx + offsetof(ArrayRun, Count)]);
    C.shl(C.eax, 3);
    C.mov(C.ptr[C.esp + EndAt], C.eax);
    C.xor_(C.edi, C.edi);
    C.mov(C.ecx, C.ptr[C.ebx + offsetof(ArrayRun, Sources)]);
    for (int k = 0; k < Shape.VariableCount(); ++k) {
      C.mov(C.eax, SourceField(k, offsetof(ArraySource, Base)));
      C.mov(BaseMemory(k), C.eax);
    }
  }
};

using NativeConvention = Cdecl32;

#endif

}  // namespace MathUtils::detail
