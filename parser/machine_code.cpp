#include "parser/machine_code.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

#include "parser/builtins.h"
#include "parser/commands.h"
#include "parser/program.h"
#include "parser/unwind_info.h"

#if VORNCALC_JIT
#if defined(__x86_64__) && !defined(_WIN32)
#define MATHUTILS_MACHINE_X64 1
#elif defined(__i386__)
#define MATHUTILS_MACHINE_IA32 1
#else
#error "machine code is generated for x86-64 (System V) and IA-32 only"
#endif
#include <xbyak/xbyak.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif
#endif

namespace MathUtils::detail {

MachineCode::MachineCode(std::uint8_t* pages, std::size_t reserved, std::size_t size, std::size_t codeSize)
    : Pages(pages), Reserved(reserved), TotalSize(size), CodeSize(codeSize) {}

#if !VORNCALC_JIT

bool MachineCode::Supported() { return false; }
std::unique_ptr<MachineCode> MachineCode::Generate(const Program&) { return nullptr; }
MachineCode::~MachineCode() = default;

#else

bool MachineCode::Supported() { return true; }

namespace {

// Whole pages of memory that are never writable and executable at once.
#ifdef _WIN32
std::uint8_t* AllocateWritable(std::size_t bytes) {
  return static_cast<std::uint8_t*>(VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}
bool MakeExecutable(std::uint8_t* pages, std::size_t bytes) {
  DWORD previous;
  return VirtualProtect(pages, bytes, PAGE_EXECUTE_READ, &previous) &&
         FlushInstructionCache(GetCurrentProcess(), pages, bytes);
}
void Release(std::uint8_t* pages, std::size_t) { VirtualFree(pages, 0, MEM_RELEASE); }
std::size_t PageSize() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
}
#else
std::uint8_t* AllocateWritable(std::size_t bytes) {
  void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return pages == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(pages);
}
bool MakeExecutable(std::uint8_t* pages, std::size_t bytes) {
  return mprotect(pages, bytes, PROT_READ | PROT_EXEC) == 0;
}
void Release(std::uint8_t* pages, std::size_t bytes) { munmap(pages, bytes); }
std::size_t PageSize() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }
#endif

// A list callback takes a span, which the code cannot build: this compiled
// function does, and exceptions pass through it as through the code.
double CallList(ListCallback callback, const double* arguments, std::size_t count) {
  return callback(std::span<const double>(arguments, count));
}

// Whether dividing by the number is multiplying by its reciprocal: for a
// power of two whose reciprocal is a normal number both are the same exact
// quotient rounded once, for every dividend.
bool ExactReciprocal(double divisor, double& reciprocal) {
  int exponent;
  if (!std::isfinite(divisor) || std::fabs(std::frexp(divisor, &exponent)) != 0.5) return false;
  reciprocal = 1 / divisor;
  return std::isnormal(reciprocal) && reciprocal * divisor == 1;
}

// "^" with an exponent known only when the code runs.
double RaiseToPower(double base, double exponent) { return Power(base, exponent); }

double (*const LibraryPow)(double, double) = std::pow;

#ifdef MATHUTILS_MACHINE_X64
constexpr int RegisterSlots = 14;  // slots 1..14 in xmm0..xmm13; xmm14 and xmm15 are scratch
#else
constexpr int RegisterSlots = 6;  // slots 1..6 in xmm0..xmm5; xmm6 and xmm7 are scratch
#endif

// Where an instruction's operand lives.
struct Source {
  enum Kind { Slot, Variable, Number } Is;
  int SlotIndex;
  const double* Address;
  double Value;
};

// The numbers the code reads, 16 bytes each so that the masks can be
// operands of the packed bit operations. They sit at the end of the pages.
class ConstantPool {
 public:
  int Add(std::uint64_t bits) {
    for (std::size_t i = 0; i < Bits.size(); ++i)
      if (Bits[i] == bits) return static_cast<int>(i);
    Bits.push_back(bits);
    return static_cast<int>(Bits.size() - 1);
  }
  int Add(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return Add(bits);
  }
  // The index of a constant collected before; the code adds none of its own.
  int IndexOf(double value) const {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (std::size_t i = 0; i < Bits.size(); ++i)
      if (Bits[i] == bits) return static_cast<int>(i);
    throw std::logic_error("a constant missing from the pool");
  }
  std::size_t Bytes() const { return 16 * Bits.size(); }
  void WriteTo(std::uint8_t* at) const {
    std::memset(at, 0, Bytes());
    for (std::size_t i = 0; i < Bits.size(); ++i) std::memcpy(at + 16 * i, &Bits[i], sizeof Bits[i]);
  }

 private:
  std::vector<std::uint64_t> Bits;
};

class Generator : public Xbyak::CodeGenerator {
 public:
  Generator(const Program& program, std::uint8_t* code, std::size_t codeRoom, const std::uint8_t* pool,
            const ConstantPool& constants)
      : Xbyak::CodeGenerator(codeRoom, code), In(program), Pool(pool), Constants(constants) {}

  // Emits the whole function; throws Xbyak::Error when it does not fit.
  void Emit() {
    ScanProgram();
    Prologue();
    for (const Instruction& instruction : In.Instructions) EmitInstruction(instruction);
    LoadResult();
    Epilogue();
  }

  // How the frame changes along the code, for its unwind description.
  std::span<const FrameStep> Frame() const { return FrameSteps; }
  // Whether the code calls anything, through which an exception may pass.
  bool MakesCalls() const { return Calls; }
  // Whether it calls a callback of the user's.
  bool CallsBack() const { return UserCalls; }

  // The constants the code will read, before any code is emitted.
  static void CollectConstants(const Program& program, ConstantPool& pool) {
    pool.Add(1.0);
    pool.Add(0.0);
    pool.Add(std::uint64_t{0x7fffffffffffffff});
    pool.Add(std::uint64_t{0x8000000000000000});
    for (const Instruction& instruction : program.Instructions) {
      for (const double& number : instruction.Constants)
        if ((!instruction.Left.IsSlot() && &number == instruction.Left.Address()) ||
            (!instruction.Right.IsSlot() && &number == instruction.Right.Address()))
          pool.Add(number);
      double reciprocal;
      if (instruction.Op == cdDiv && !instruction.Right.IsSlot() &&
          instruction.Right.Address() == &instruction.Constants[1] &&
          ExactReciprocal(instruction.Constants[1], reciprocal))
        pool.Add(reciprocal);
      if (instruction.Op == OpCallList && CallFormOf(instruction.Callback) == CallForm::Avg)
        pool.Add(static_cast<double>(instruction.ArgCount));
      if (instruction.Op == OpCallUnary && CallFormOf(instruction.Callback) == CallForm::Library) {
        const LibraryCall call = LibraryCallOf(instruction.Callback);
        if (call.Before != 0) pool.Add(call.Before);
        if (call.After != 0) pool.Add(call.After);
      }
    }
  }

 private:
  using Xmm = Xbyak::Xmm;

  // ---- the program's shape ----

  void ScanProgram() {
    for (const Instruction& instruction : In.Instructions) {
      if (IsCall(instruction)) Calls = true;
      if (instruction.Slot > RegisterSlots) DeepSlots = true;
      HighestSlot = std::max(HighestSlot, instruction.Slot);
    }
  }

  bool IsCall(const Instruction& instruction) const {
    switch (instruction.Op) {
      case cdPow: return true;
      case OpCallList: return !ListInline(instruction);
      case OpCallUnary: return CallFormOf(instruction.Callback) <= CallForm::Library;
      default: return false;
    }
  }

  static Source SourceOf(const Instruction& instruction, const Operand& operand) {
    if (operand.IsSlot()) return {Source::Slot, operand.Slot(), nullptr, 0};
    if (instruction.IsConstant(operand)) return {Source::Number, 0, operand.Address(), *operand.Address()};
    return {Source::Variable, 0, operand.Address(), 0};
  }

  // ---- where things are ----

  static bool InRegister(int slot) { return slot <= RegisterSlots; }
  static Xmm RegisterOf(int slot) { return Xmm(slot - 1); }
  static Xmm ScratchA() { return Xmm(RegisterSlots); }
  static Xmm ScratchB() { return Xmm(RegisterSlots + 1); }
  // The register that computes a slot's value.
  static Xmm Target(int slot) { return InRegister(slot) ? RegisterOf(slot) : ScratchA(); }

  bool InRegisterNow(int slot) const { return InRegister(slot) && !Stored[slot]; }

  const std::uint8_t* ConstantAt(int index) const { return Pool + 16 * index; }

#ifdef MATHUTILS_MACHINE_X64
  Xbyak::Address SlotMemory(int slot) { return qword[rsp + 8 * slot]; }
  Xbyak::Address ConstantMemory(int index) { return qword[rip + ConstantAt(index)]; }
  Xbyak::Address MaskMemory(int index) { return xword[rip + ConstantAt(index)]; }
  // Emits what the address needs, so use it at once.
  Xbyak::Address VariableMemory(const double* variable) {
    mov(rax, reinterpret_cast<std::size_t>(variable));
    return qword[rax];
  }
#else
  // Above the 32 bytes of arguments and returned values.
  static constexpr int SlotsAt = 32;
  Xbyak::Address SlotMemory(int slot) { return qword[esp + SlotsAt + 8 * slot]; }
  Xbyak::Address ConstantMemory(int index) { return qword[reinterpret_cast<std::size_t>(ConstantAt(index))]; }
  Xbyak::Address MaskMemory(int index) { return xword[reinterpret_cast<std::size_t>(ConstantAt(index))]; }
  Xbyak::Address VariableMemory(const double* variable) {
    return qword[reinterpret_cast<std::size_t>(variable)];
  }
#endif

  Xbyak::Address NumberMemory(double value) { return ConstantMemory(Constants.IndexOf(value)); }

  // Calls use(operand) with the source as an operand of a scalar instruction.
  template <typename Use>
  void WithOperand(const Source& source, Use&& use) {
    switch (source.Is) {
      case Source::Slot:
        if (InRegisterNow(source.SlotIndex))
          use(RegisterOf(source.SlotIndex));
        else
          use(SlotMemory(source.SlotIndex));
        return;
      case Source::Variable: use(VariableMemory(source.Address)); return;
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

  // Whether the slot holds a number known here that is not zero.

  // The value computed in from becomes the slot's.
  void Store(int slot, const Xmm& from) {
    Numbers[slot].reset();
    if (InRegister(slot)) {
      if (RegisterOf(slot).getIdx() != from.getIdx()) movapd(RegisterOf(slot), from);
    } else {
      movsd(SlotMemory(slot), from);
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
      movsd(SlotMemory(k), RegisterOf(k));
      Stored[k] = true;
    }
  }

  // ---- frame ----
  //
  // Each change of the frame is recorded as a step of its unwind
  // description (parser/unwind_info.h), at the offset where it takes effect.

  void FrameChange(FrameStep::Kind kind, int reg = 0, int offset = 0) {
    FrameSteps.push_back({getSize(), kind, reg, offset});
  }

#ifdef MATHUTILS_MACHINE_X64
  static constexpr int DwarfRsp = 7;
  // The slots kept in memory live in the code's own stack frame, slot k at
  // rsp + 8 k; the frame keeps the stack 16-byte aligned at every call.
  void Prologue() {
    Framed = Calls || DeepSlots;
    if (!Framed) return;
    FrameBytes = (8 * (HighestSlot + 1) + 15) / 16 * 16 + 8;
    sub(rsp, FrameBytes);
    FrameChange(FrameStep::CfaOffset, DwarfRsp, FrameBytes + 8);
  }
  void Epilogue() {
    if (Framed) {
      add(rsp, FrameBytes);
      FrameChange(FrameStep::CfaOffset, DwarfRsp, 8);
    }
    ret();
  }
#else
  static constexpr int DwarfEsp = 4, DwarfEbp = 5;
  // ebp frames the call; the stack is aligned to 16 bytes with 32 bytes of
  // room for arguments and returned values, then the slots kept in memory.
  void Prologue() {
    push(ebp);
    FrameChange(FrameStep::CfaOffset, DwarfEsp, 8);
    FrameChange(FrameStep::Saved, DwarfEbp, 8);
    mov(ebp, esp);
    FrameChange(FrameStep::CfaRegister, DwarfEbp);
    and_(esp, -16);
    sub(esp, (SlotsAt + 8 * (HighestSlot + 1) + 15) / 16 * 16);
  }
  // The result goes back in st(0).
  void Epilogue() {
    movsd(qword[esp], xmm0);
    fld(qword[esp]);
    mov(esp, ebp);
    pop(ebp);
    FrameChange(FrameStep::Cfa, DwarfEsp, 4);
    FrameChange(FrameStep::Restored, DwarfEbp);
    ret();
  }
#endif

  // ---- calls ----

  // A direct call where the function lies within reach of a 32-bit
  // displacement (the C library usually does), else through rax.
  void CallAddress(const void* function) {
#ifdef MATHUTILS_MACHINE_X64
    const std::int64_t distance =
        reinterpret_cast<std::int64_t>(function) - reinterpret_cast<std::int64_t>(getCurr() + 5);
    if (distance >= INT32_MIN + 4096 && distance <= INT32_MAX - 4096) {
      call(function);
      return;
    }
    mov(rax, reinterpret_cast<std::size_t>(function));
    call(rax);
#else
    mov(eax, reinterpret_cast<std::size_t>(function));
    call(eax);
#endif
  }

#ifdef MATHUTILS_MACHINE_IA32
  // A double returned in st(0) lands in the register.
  void TakeReturned(const Xmm& into) {
    fstp(qword[esp]);
    movsd(into, qword[esp]);
  }
#endif

  // A callback is called directly: what it throws unwinds through the
  // code's frame by its unwind description.
  void UnaryCall(int slot, const Source& argument, void* callback) {
    SpillBelow(slot);
#ifdef MATHUTILS_MACHINE_X64
    LoadInto(xmm0, argument);
    CallAddress(callback);
    Store(slot, xmm0);
#else
    LoadInto(ScratchA(), argument);
    movsd(qword[esp], ScratchA());
    CallAddress(callback);
    TakeReturned(ScratchA());
    Store(slot, ScratchA());
#endif
  }

  // The C library function that a built-in calls, with its scaling.
  void LibraryFunctionCall(int slot, const Source& argument, const LibraryCall& call) {
    SpillBelow(slot);
#ifdef MATHUTILS_MACHINE_X64
    const Xmm value = xmm0;
#else
    const Xmm value = ScratchA();
#endif
    LoadInto(value, argument);
    if (call.Before != 0) mulsd(value, NumberMemory(call.Before));
#ifdef MATHUTILS_MACHINE_X64
    CallAddress(reinterpret_cast<const void*>(call.Function));
#else
    movsd(qword[esp], value);
    CallAddress(reinterpret_cast<const void*>(call.Function));
    TakeReturned(value);
#endif
    if (call.After != 0) mulsd(value, NumberMemory(call.After));
    Store(slot, value);
  }

  void ListCall(int slot, int count, void* callback) {
    SpillBelow(slot + count);
#ifdef MATHUTILS_MACHINE_X64
    mov(rdi, reinterpret_cast<std::size_t>(callback));
    lea(rsi, ptr[rsp + 8 * slot]);
    mov(rdx, count);
    CallAddress(reinterpret_cast<const void*>(CallList));
    Store(slot, xmm0);
#else
    mov(dword[esp], reinterpret_cast<std::size_t>(callback));
    lea(eax, ptr[esp + SlotsAt + 8 * slot]);
    mov(dword[esp + 4], eax);
    mov(dword[esp + 8], count);
    CallAddress(reinterpret_cast<const void*>(CallList));
    TakeReturned(ScratchA());
    Store(slot, ScratchA());
#endif
    Consume(slot + 1, count - 1);
  }

  void PowerCall(int slot, const Source& base, const Source& exponent) {
    SpillBelow(slot);
    const void* function = exponent.Is == Source::Number ? reinterpret_cast<const void*>(LibraryPow)
                                                         : reinterpret_cast<const void*>(RaiseToPower);
#ifdef MATHUTILS_MACHINE_X64
    // xmm1 is slot 2's register: slot 2 is the base itself (moved to xmm0
    // first), the exponent, or spilled.
    LoadInto(xmm0, base);
    LoadInto(xmm1, exponent);
    CallAddress(function);
    Store(slot, xmm0);
#else
    LoadInto(ScratchA(), base);
    movsd(qword[esp], ScratchA());
    LoadInto(ScratchA(), exponent);
    movsd(qword[esp + 8], ScratchA());
    CallAddress(function);
    TakeReturned(ScratchA());
    Store(slot, ScratchA());
#endif
    Consume(slot + 1, 1);
  }

  // ---- instructions ----

  void EmitInstruction(const Instruction& instruction) {
    const int slot = instruction.Slot;
    switch (instruction.Op) {
      case OpLoad: {
        const Xmm target = Target(slot);
        const Source source = SourceOf(instruction, instruction.Left);
        LoadInto(target, source);
        Store(slot, target);
        if (source.Is == Source::Number) Numbers[slot] = source.Value;
        return;
      }
      case OpSquare: {
        const Xmm target = Target(slot);
        LoadInto(target, SourceOf(instruction, instruction.Left));
        mulsd(target, target);
        Store(slot, target);
        return;
      }
      case OpCallUnary: UnaryInstruction(slot, instruction); return;
      case OpCallList: ListInstruction(slot, instruction); return;
      default: Binary(slot, instruction); return;
    }
  }

  void UnaryInstruction(int slot, const Instruction& instruction) {
    const Source argument = SourceOf(instruction, instruction.Left);
    const CallForm form = CallFormOf(instruction.Callback);
    if (form == CallForm::Callback || form == CallForm::Builtin) {
      UserCalls = UserCalls || form == CallForm::Callback;
      UnaryCall(slot, argument, instruction.Callback);
      return;
    }
    if (form == CallForm::Library) {
      LibraryFunctionCall(slot, argument, LibraryCallOf(instruction.Callback));
      return;
    }
    const Xmm target = Target(slot);
    LoadInto(target, argument);
    switch (form) {
      case CallForm::Sqrt: sqrtsd(target, target); break;
      case CallForm::Abs: andpd(target, MaskMemory(AbsMask)); break;
      default: xorpd(target, MaskMemory(SignMask)); break;
    }
    Store(slot, target);
  }

  // sum, avg, min and max of register slots are computed in place.
  bool ListInline(const Instruction& instruction) const {
    const int last = instruction.Slot + instruction.ArgCount - 1;
    return instruction.ArgCount >= 1 && last <= RegisterSlots &&
           CallFormOf(instruction.Callback) >= CallForm::Sum;
  }

  void ListInstruction(int slot, const Instruction& instruction) {
    const int count = instruction.ArgCount;
    const CallForm form = CallFormOf(instruction.Callback);
    if (!ListInline(instruction)) {
      UserCalls = UserCalls || form == CallForm::Callback;
      ListCall(slot, count, instruction.Callback);
      return;
    }
    if (form == CallForm::Sum || form == CallForm::Avg) {
      // The total starts from 0, as the functions' own does: 0 + -0 is 0.
      const Xmm total = ScratchA();
      xorpd(total, total);
      for (int k = slot; k < slot + count; ++k)
        WithOperand(SlotSource(k), [&](const Xbyak::Operand& argument) { addsd(total, argument); });
      if (form == CallForm::Avg) divsd(total, NumberMemory(static_cast<double>(count)));
      Consume(slot + 1, count - 1);
      Store(slot, total);
      return;
    }
    // pick stays where the kept mask is set, else becomes the argument: the
    // mask is argument >= pick for min, pick >= argument for max, both false
    // on NaN as the functions' own comparisons. The choice is made with bit
    // operations, which pass a denormal through unchanged; minsd and maxsd
    // would return it as zero under denormals-are-zero.
    const Xmm pick = Reloaded(slot);
    for (int k = slot + 1; k < slot + count; ++k) {
      const Xmm argument = Reloaded(k);
      const Xmm kept = ScratchA(), chosen = ScratchB();
      if (form == CallForm::Min) {
        movapd(kept, pick);
        cmplesd(kept, argument);
      } else {
        movapd(kept, argument);
        cmplesd(kept, pick);
      }
      movapd(chosen, kept);
      andpd(chosen, pick);
      andnpd(kept, argument);
      orpd(chosen, kept);
      movapd(pick, chosen);
    }
    Consume(slot + 1, count - 1);
    Store(slot, pick);
  }

  static Source SlotSource(int slot) { return {Source::Slot, slot, nullptr, 0}; }

  // A register slot's own register, holding its value.
  Xmm Reloaded(int slot) {
    if (Stored[slot]) {
      movsd(RegisterOf(slot), SlotMemory(slot));
      Stored[slot] = false;
    }
    return RegisterOf(slot);
  }

  void Binary(int slot, const Instruction& instruction) {
    const Source left = SourceOf(instruction, instruction.Left);
    const Source right = SourceOf(instruction, instruction.Right);
    const std::int32_t code = instruction.Op;
    if (code == cdPow) {
      if (right.Is == Source::Number && (right.Value == 2 || right.Value == 1)) {
        const Xmm target = Target(slot);
        LoadInto(target, left);
        if (right.Value == 2) mulsd(target, target);
        Consume(slot + 1, 1);
        Store(slot, target);
        return;
      }
      PowerCall(slot, left, right);
      return;
    }
    const Xmm target = Target(slot);
    LoadInto(target, left);
    const auto withRight = [&](auto&& use) { WithOperand(right, use); };
    switch (code) {
      case cdAdd: withRight([&](const Xbyak::Operand& r) { addsd(target, r); }); break;
      case cdSub: withRight([&](const Xbyak::Operand& r) { subsd(target, r); }); break;
      case cdMul: withRight([&](const Xbyak::Operand& r) { mulsd(target, r); }); break;
      case cdDiv: {
        double reciprocal;
        if (right.Is == Source::Number && ExactReciprocal(right.Value, reciprocal))
          mulsd(target, NumberMemory(reciprocal));
        else
          withRight([&](const Xbyak::Operand& r) { divsd(target, r); });
        break;
      }
      // Ordered predicates are false on NaN, as C++'s <=, <, ==; NEQ is
      // unordered-or-unequal, true on NaN, as C++'s !=.
      case cdLessEq: withRight([&](const Xbyak::Operand& r) { cmplesd(target, r); }); break;
      case cdLess: withRight([&](const Xbyak::Operand& r) { cmpltsd(target, r); }); break;
      case cdEqual: withRight([&](const Xbyak::Operand& r) { cmpeqsd(target, r); }); break;
      case cdNotEqual: withRight([&](const Xbyak::Operand& r) { cmpneqsd(target, r); }); break;
      case cdGreaterEq:
      case cdGreater: {
        // left >= right is right <= left, false on NaN as well.
        const Xmm other = RightInRegister(right);
        if (code == cdGreaterEq)
          cmplesd(other, target);
        else
          cmpltsd(other, target);
        movapd(target, other);
        break;
      }
      case cdAnd:
      case cdOr: {
        cmpneqsd(target, ConstantMemory(Zero));
        const Xmm other = RightInRegister(right);
        cmpneqsd(other, ConstantMemory(Zero));
        if (code == cdAnd)
          andpd(target, other);
        else
          orpd(target, other);
        break;
      }
      default: break;
    }
    if (Commands[code].Family == Computes::Comparison || Commands[code].Family == Computes::Logical)
      andpd(target, MaskMemory(One));  // all ones or zero, to 1.0 or 0.0
    Consume(slot + 1, 1);
    Store(slot, target);
  }

  // The right operand in a register that may be overwritten: its own slot's
  // register (the operation consumes it), else the second scratch register.
  Xmm RightInRegister(const Source& right) {
    if (right.Is == Source::Slot && InRegisterNow(right.SlotIndex)) return RegisterOf(right.SlotIndex);
    LoadInto(ScratchB(), right);
    return ScratchB();
  }

  void LoadResult() {
    if (In.Result.IsSlot()) {
      LoadInto(xmm0, SlotSource(In.Result.Slot()));
    } else {
      movsd(xmm0, VariableMemory(In.Result.Address()));
    }
  }

  // The fixed entries of the pool, as CollectConstants adds them.
  enum { One = 0, Zero = 1, AbsMask = 2, SignMask = 3 };

  const Program& In;
  const std::uint8_t* Pool;
  const ConstantPool& Constants;
  std::vector<FrameStep> FrameSteps;
  bool Calls = false;
  bool UserCalls = false;  // whether any call is of a callback of the user's
  bool DeepSlots = false;
  int HighestSlot = 1;
#ifdef MATHUTILS_MACHINE_X64
  // The frame that holds the slots kept in memory, and calls' alignment.
  bool Framed = false;
  int FrameBytes = 0;
#endif
  // Per slot: written and not yet consumed; kept in memory rather than in
  // its register; loaded from a number known here.
  std::array<bool, EvaluationStackSize + 1> Live{};
  std::array<bool, EvaluationStackSize + 1> Stored{};
  std::array<std::optional<double>, EvaluationStackSize + 1> Numbers{};
};

// Generous room for one instruction: the spills before a call and the call.
std::size_t CodeRoomFor(const Program& program) {
  return 512 + program.Instructions.size() * (64 + 10 * static_cast<std::size_t>(RegisterSlots));
}

}  // namespace

std::unique_ptr<MachineCode> MachineCode::Generate(const Program& program) {
  ConstantPool constants;
  Generator::CollectConstants(program, constants);
  const std::size_t page = PageSize();
  const std::size_t codeRoom = CodeRoomFor(program);
  const std::size_t reserved = (codeRoom + constants.Bytes() + page - 1) / page * page;
  std::uint8_t* pages = AllocateWritable(reserved);
  if (!pages) return nullptr;
  std::uint8_t* pool = pages + reserved - constants.Bytes();
  // Made first, so that it releases the pages when anything below fails.
  std::unique_ptr<MachineCode> code(new MachineCode(pages, reserved, 0, 0));
  try {
    Generator generator(program, pages, static_cast<std::size_t>(pool - pages), pool, constants);
    generator.Emit();
    constants.WriteTo(pool);
    code->CodeSize = generator.getSize();
    code->TotalSize = code->CodeSize + constants.Bytes();
    code->UserCalls = generator.CallsBack();
    // Without a description of its frame, nothing may unwind through the code.
    if (generator.MakesCalls()) {
      if (!UnwindInfo::Supported()) return nullptr;
      code->Unwind = std::make_unique<UnwindInfo>(pages, code->CodeSize, generator.Frame());
    }
  } catch (...) {
    return nullptr;
  }
  if (!MakeExecutable(pages, reserved)) return nullptr;
  return code;
}

MachineCode::~MachineCode() {
  Unwind.reset();  // no unwinder may find the code once it is gone
  Release(Pages, Reserved);
}

#endif

}  // namespace MathUtils::detail
