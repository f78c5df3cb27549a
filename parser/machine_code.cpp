#include "parser/machine_code.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

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
#include <xbyak/xbyak_util.h>

#include "parser/constant_pool.h"
#include "parser/x86_conventions.h"
#endif

namespace MathUtils::detail {

MachineCode::MachineCode(std::uint8_t* pages, std::size_t reserved) : Pages(pages), ReservedBytes(reserved) {}

MachineCode::~MachineCode() {
  Unwind.reset();  // no unwinder may find the code once it is gone
  ReleasePages(Pages, ReservedBytes);
}

#if !VORNCALC_JIT

bool MachineCode::Supported() { return false; }
std::size_t MachineCode::PageBytes() { return 0; }
int MachineCode::WidestLanes() { return 1; }
std::unique_ptr<MachineCode> MachineCode::Generate(const Program&) { return nullptr; }
std::unique_ptr<MachineCode> MachineCode::GenerateLoop(const Program&, int) { return nullptr; }

#else

bool MachineCode::Supported() { return true; }

std::size_t MachineCode::PageBytes() { return detail::PageBytes(); }

namespace {

// The most lanes of this processor: AVX-512F and DQ, AVX, or SSE2.
int WidestLanesOfThisProcessor() {
#ifdef MATHUTILS_MACHINE_X64
  static const int Widest = [] {
    const Xbyak::util::Cpu cpu;
    if (cpu.has(Xbyak::util::Cpu::tAVX512F) && cpu.has(Xbyak::util::Cpu::tAVX512DQ)) return 8;
    if (cpu.has(Xbyak::util::Cpu::tAVX)) return 4;
    return 2;
  }();
  return Widest;
#else
  return 2;
#endif
}

using Xbyak::Xmm;

// The instruction forms that differ by width, by what they do.
enum Form : std::uint8_t { Add, Sub, Mul, Div, And, Or, Xor, AndNot, Sqrt, Move, Load, FormCount };

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

// clang-format off
#define MATHUTILS_LEGACY(name) [](Xbyak::CodeGenerator& c, const Xmm& to, const Xbyak::Operand& from) { c.name(to, from); }
#define MATHUTILS_VEX(name) [](Xbyak::CodeGenerator& c, const Xmm& to, const Xbyak::Operand& from) { c.name(to, to, from); }
#define MATHUTILS_STORE(name) [](Xbyak::CodeGenerator& c, const Xbyak::Address& to, const Xmm& from) { c.name(to, from); }
#define MATHUTILS_COMPARE(name, ...) \
  [](Xbyak::CodeGenerator& c, const Xmm& to, const Xbyak::Operand& from, std::uint8_t predicate) { c.name(__VA_ARGS__ from, predicate); }
const WidthRow Widths[] = {
  {1, [](int index) { return Xmm(index); },
   {MATHUTILS_LEGACY(addsd), MATHUTILS_LEGACY(subsd), MATHUTILS_LEGACY(mulsd), MATHUTILS_LEGACY(divsd),
    MATHUTILS_LEGACY(andpd), MATHUTILS_LEGACY(orpd), MATHUTILS_LEGACY(xorpd), MATHUTILS_LEGACY(andnpd),
    MATHUTILS_LEGACY(sqrtsd), MATHUTILS_LEGACY(movapd), MATHUTILS_LEGACY(movsd)},
   MATHUTILS_STORE(movsd), nullptr, MATHUTILS_COMPARE(cmpsd, to,), false, false, false},
  {2, [](int index) { return Xmm(index); },
   {MATHUTILS_LEGACY(addpd), MATHUTILS_LEGACY(subpd), MATHUTILS_LEGACY(mulpd), MATHUTILS_LEGACY(divpd),
    MATHUTILS_LEGACY(andpd), MATHUTILS_LEGACY(orpd), MATHUTILS_LEGACY(xorpd), MATHUTILS_LEGACY(andnpd),
    MATHUTILS_LEGACY(sqrtpd), MATHUTILS_LEGACY(movapd), MATHUTILS_LEGACY(movupd)},
   MATHUTILS_STORE(movupd), MATHUTILS_STORE(movntpd), MATHUTILS_COMPARE(cmppd, to,), false, false, false},
  {4, [](int index) -> Xmm { return Xbyak::Ymm(index); },
   {MATHUTILS_VEX(vaddpd), MATHUTILS_VEX(vsubpd), MATHUTILS_VEX(vmulpd), MATHUTILS_VEX(vdivpd),
    MATHUTILS_VEX(vandpd), MATHUTILS_VEX(vorpd), MATHUTILS_VEX(vxorpd), MATHUTILS_VEX(vandnpd),
    MATHUTILS_LEGACY(vsqrtpd), MATHUTILS_LEGACY(vmovapd), MATHUTILS_LEGACY(vmovupd)},
   MATHUTILS_STORE(vmovupd), MATHUTILS_STORE(vmovntpd), MATHUTILS_COMPARE(vcmppd, to, to,), true, false, false},
  {8, [](int index) -> Xmm { return Xbyak::Zmm(index); },
   {MATHUTILS_VEX(vaddpd), MATHUTILS_VEX(vsubpd), MATHUTILS_VEX(vmulpd), MATHUTILS_VEX(vdivpd),
    MATHUTILS_VEX(vpandq), MATHUTILS_VEX(vporq), MATHUTILS_VEX(vpxorq), MATHUTILS_VEX(vpandnq),
    MATHUTILS_LEGACY(vsqrtpd), MATHUTILS_LEGACY(vmovapd), MATHUTILS_LEGACY(vmovupd)},
   MATHUTILS_STORE(vmovupd), MATHUTILS_STORE(vmovntpd), nullptr, true, true, true},
};
// clang-format on

#undef MATHUTILS_LEGACY
#undef MATHUTILS_VEX
#undef MATHUTILS_STORE
#undef MATHUTILS_COMPARE

// The row of 1, 2, 4 or 8 lanes.
const WidthRow& RowOf(int lanes) { return Widths[std::countr_zero(static_cast<unsigned>(lanes))]; }

constexpr std::uint64_t QuietBit = 0x0008000000000000;

// The compare predicates of cmpsd, cmppd and vcmppd.
enum Predicate : std::uint8_t { Eq = 0, Lt = 1, Le = 2, Unordered = 3, NeqUnordered = 4 };

Predicate PredicateOf(Sse instruction) {
  switch (instruction) {
    case Sse::CmpLe: return Le;
    case Sse::CmpLt: return Lt;
    case Sse::CmpEq: return Eq;
    default: return NeqUnordered;
  }
}

bool IsCompare(Sse instruction) {
  return instruction == Sse::CmpLe || instruction == Sse::CmpLt || instruction == Sse::CmpEq ||
         instruction == Sse::CmpNeq;
}

bool KnownOp(std::int32_t op) { return IsBinaryOperator(op) || (op >= OpSquare && op <= OpCallListContext); }

// Where an instruction reads an operand.
struct Source {
  enum Kind : std::uint8_t { Slot, Variable, Number } Is;
  int SlotIndex;
  int VariableIndex;
  double Value;
};

// Which slots hold a value not yet consumed, and which of the register
// slots a call made the code keep in memory until they are next read.
class SlotAllocator {
 public:
  static bool InRegister(int slot) { return slot <= RegisterSlots; }
  bool InRegisterNow(int slot) const { return InRegister(slot) && !Stored[slot]; }
  void Clear() {
    Live.fill(false);
    Stored.fill(false);
  }
  void Written(int slot) {
    Stored[slot] = false;
    Live[slot] = true;
  }
  void Consumed(int first, int count) {
    for (int k = first; k < first + count; ++k) Live[k] = false;
  }
  // The register slots below the limit that a call would lose.
  template <typename Spill>
  void SpillBelow(int limit, Spill&& spill) {
    for (int k = 1; k < limit && k <= RegisterSlots; ++k) {
      if (!Live[k] || Stored[k]) continue;
      spill(k);
      Stored[k] = true;
    }
  }
  // Whether the slot must be reloaded into its register, which it then is.
  bool Reload(int slot) { return std::exchange(Stored[slot], false); }

 private:
  std::array<bool, EvaluationStackSize + 1> Live{};
  std::array<bool, EvaluationStackSize + 1> Stored{};
};

// Reads the program, lowers each instruction and emits the code in the
// width's forms for the native calling convention (parser/x86_conventions.h):
// one point, or a loop over arrays in lanes.
class Generator : public Xbyak::CodeGenerator {
 public:
  // Into the buffer, which must hold the code; while measuring, into a
  // buffer that grows as needed.
  Generator(const Program& program, int lanes, bool loop, void* at, std::size_t size,
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

  // Emits the whole function; throws Xbyak::Error when it does not fit.
  void Emit() {
    ScanProgram();
    Abi.Prologue();
    if (!Shape.Loop)
      EmitOnePoint();
    else
      EmitLoops();
    BeforeCall();  // the upper halves cleared for the caller too
    Abi.Epilogue();
    InstructionBytes = getSize();
    Constants.Place(*this, Pool);
  }

  // Whether the code can store its results around the caches: a loop in
  // lanes that calls nothing, whose speed is the memory's. (Code that calls
  // is bound by its calls, and a second copy of its loop measurably slows
  // the first.)
  bool Streams() const { return Shape.Loop && Row.Lanes > 1 && !Shape.Calls; }
  // How the frame changes along the code, for its unwind description.
  std::span<const FrameStep> Frame() const { return FrameSteps; }
  // Whether the code calls anything, through which an exception may pass.
  bool MakesCalls() const { return Shape.Calls; }
  // Whether it calls a callback of the user's.
  bool CallsBack() const { return Shape.UserCalls; }
  // Bytes of instructions, before the constants.
  std::size_t Instructions() const { return InstructionBytes; }
  const std::vector<const double*>& Variables() const { return Shape.Variables; }

 private:
  void EmitOnePoint() {
    EmitInstructions();
    LoadInto(xmm0, ResultSource());
  }

  void EmitInstructions() {
    for (std::size_t i = 0; i < In.Instructions.size(); ++i)
      EmitInstruction(In.Instructions[i], Lowerings[i]);
  }

  // The loop twice where it may stream, so that no group asks how to store
  // its results.
  void EmitLoops() {
    LoadHeldNumbers();
    if (!Streams()) {
      EmitLoop(false);
      return;
    }
    Xbyak::Label streaming, done;
    cmp(Abi.StreamFlag(), 0);
    jne(streaming, T_NEAR);
    EmitLoop(false);
    jmp(done, T_NEAR);
    L(streaming);
    EmitLoop(true);
    sfence();  // the stores that went around the caches are seen by every thread
    L(done);
  }

  void EmitLoop(bool stream) {
    Xbyak::Label loop;
    align(32);
    L(loop);
    Slots.Clear();
    LoadHeldVariables();
    EmitInstructions();
    LoadInto(ScratchA(), ResultSource());
    StoreResult(ScratchA(), stream);
    Abi.NextPoint(loop);
  }

  // ---- the program's shape ----

  void ScanProgram() {
    for (const Instruction& instruction : In.Instructions) {
      const Lowered& lowered = Lowerings.emplace_back(Lower(instruction, In.Deterministic));
      Shape.HighestSlot = std::max(Shape.HighestSlot, instruction.Slot + std::max(instruction.ArgCount, 1));
      Shape.UserCalls = Shape.UserCalls || lowered.CallsUser;
      Shape.Calls = Shape.Calls || lowered.Calls();
      if (lowered.ReadsSlotsOnly()) continue;
      NoteNumbers(instruction, lowered);
      SourceOf(instruction, instruction.Left);
      if (!instruction.Right.IsSlot() && instruction.Right.Address())
        SourceOf(instruction, instruction.Right);
    }
    Shape.DeepSlots = Shape.HighestSlot - 1 > RegisterSlots;
    ResultSource();
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

  void EmitForm(Form form, const Xmm& to, const Xbyak::Operand& operand) {
    Row.Forms[form](*this, to, operand);
  }
  void Move(const Xmm& to, const Xmm& from) {
    if (to.getIdx() != from.getIdx()) EmitForm(Form::Move, to, from);
  }
  void Load(const Xmm& to, const Xbyak::Address& from) { EmitForm(Form::Load, to, from); }
  void StoreTo(const Xbyak::Address& to, const Xmm& from) { Row.Store(*this, to, from); }
  void Zero(const Xmm& to) { EmitForm(Form::Xor, to, to); }

  // to = to <instruction> operand, for the arithmetic and the bit operations.
  void Apply(Sse instruction, const Xmm& to, const Xbyak::Operand& operand) {
    constexpr Form Forms[] = {Form::Add, Form::Add, Form::Sub, Form::Mul, Form::Div, Form::Add,
                              Form::Add, Form::Add, Form::Add, Form::And, Form::Or};
    static_assert(std::size(Forms) == static_cast<std::size_t>(Sse::Or) + 1);
    EmitForm(Forms[static_cast<std::size_t>(instruction)], to, operand);
  }

  // to = (to <predicate> operand) ? 1.0 : 0.0
  void CompareToOne(Predicate predicate, const Xmm& to, const Xbyak::Operand& operand) {
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

  // ---- the instructions, as lowered ----

  void EmitInstruction(const Instruction& instruction, const Lowered& lowered) {
    const int slot = instruction.Slot;
    const Source left = lowered.ReadsSlotsOnly() ? SlotSource(slot) : SourceOf(instruction, instruction.Left);
    switch (lowered.Is) {
      case Step::Operation: Binary(lowered.Row, slot, left, SourceOf(instruction, instruction.Right)); return;
      case Step::Reciprocal:
      case Step::Square:
      case Step::Load: Product(lowered, slot, left, IsBinaryOperator(instruction.Op)); return;
      case Step::Sqrt:
      case Step::Abs:
      case Step::Negate: InlineUnary(lowered.Is, slot, left); return;
      case Step::Sum:
      case Step::Avg: Total(slot, instruction.ArgCount, lowered.Is == Step::Avg); break;
      case Step::Min:
      case Step::Max: Pick(slot, instruction.ArgCount, lowered.Is == Step::Min); break;
      case Step::Where: Where(slot); break;
      case Step::CallTwo: {
        const Source right =
            lowered.FromSlots ? SlotSource(slot + 1) : SourceOf(instruction, instruction.Right);
        CallEachLane(slot, {left, right}, 2, lowered);
        Slots.Consumed(slot + 1, 1);
        return;
      }
      case Step::CallUnary: CallEachLane(slot, {left, left}, 1, lowered); return;
      case Step::CallList: CallListOfSlots(lowered, instruction); break;
      case Step::CallContext: UnaryContextFunction(slot, left, instruction); return;
      case Step::None: return;  // no operation of the program
    }
    Slots.Consumed(slot + 1, instruction.ArgCount - 1);
  }

  // Left times the exact reciprocal, Left squared, or Left itself; a binary
  // operator (a division, a power) consumes its right operand's slot.
  void Product(const Lowered& lowered, int slot, const Source& left, bool binary) {
    const Xmm target = Target(slot);
    LoadInto(target, left);
    if (lowered.Is == Step::Square) Apply(Sse::Mul, target, target);
    if (lowered.Is == Step::Reciprocal)
      WithNumber(lowered.Number, [&](const Xbyak::Operand& operand) { Apply(Sse::Mul, target, operand); });
    if (binary) Slots.Consumed(slot + 1, 1);
    Store(slot, target);
  }

  void Binary(const Emission& row, int slot, const Source& left, const Source& right) {
    const Xmm target = Target(slot);
    LoadInto(target, left);
    if (row.Shape == Lowering::Reversed) {
      const Xmm other = RightInRegister(right);
      CompareToOne(PredicateOf(row.Instruction), other, target);
      Move(target, other);
    } else if (row.Shape == Lowering::BothNonZero) {
      BothNonZero(row.Instruction, target, RightInRegister(right));
    } else if (IsCompare(row.Instruction)) {
      WithOperand(right, [&](const Xbyak::Operand& operand) {
        CompareToOne(PredicateOf(row.Instruction), target, operand);
      });
    } else {
      WithOperand(right, [&](const Xbyak::Operand& operand) { Apply(row.Instruction, target, operand); });
    }
    Slots.Consumed(slot + 1, 1);
    Store(slot, target);
  }

  void BothNonZero(Sse logic, const Xmm& target, const Xmm& other) {
    if (Row.Masks) {
      vcmppd(k1, target, NumberMemory(0.0), NeqUnordered);
      vcmppd(k2, other, NumberMemory(0.0), NeqUnordered);
      if (logic == Sse::And)
        kandw(k1, k1, k2);
      else
        korw(k1, k1, k2);
      MaskToOne(target, k1);
      return;
    }
    CompareToMask(NeqUnordered, target, NumberMemory(0.0));
    CompareToMask(NeqUnordered, other, NumberMemory(0.0));
    Apply(logic, target, other);
    Apply(Sse::And, target, MaskMemory(OneBits()));
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
      WithOperand(SlotSource(k), [&](const Xbyak::Operand& argument) { Apply(Sse::Add, total, argument); });
    if (average) Apply(Sse::Div, total, NumberMemory(static_cast<double>(count)));
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
      Apply(Sse::And, chosen, pick);
      EmitForm(Form::AndNot, kept, argument);
      Apply(Sse::Or, chosen, kept);
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
    Apply(Sse::And, chosen, mask);
    EmitForm(Form::AndNot, mask, other);
    Apply(Sse::Or, chosen, mask);  // a or b
    Move(mask, condition);
    CompareToMask(Unordered, mask, mask);
    Apply(Sse::And, condition, mask);
    EmitForm(Form::AndNot, mask, chosen);
    Apply(Sse::Or, condition, mask);  // c where NaN, else a or b
    Store(slot, condition);
  }

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
    if (lowered.Row.Shape == Lowering::CallListContext)
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
      Apply(Sse::And, nan, MaskMemory(QuietBit));
      Apply(Sse::Or, value, nan);
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

// The measuring pass writes to the heap, never to executable memory.
struct HeapBuffer : Xbyak::Allocator {
  bool useProtect() const override { return false; }  // NOLINT(readability-identifier-naming): Xbyak's name
};

bool Known(const Program& program) {
  return std::all_of(program.Instructions.begin(), program.Instructions.end(),
                     [](const Instruction& instruction) { return KnownOp(instruction.Op); });
}

// Whether lanes may run the program: no callback of the user's, whose
// calls must keep their order, and every list function inline.
bool RunsInLanes(const Program& program) {
  return std::none_of(program.Instructions.begin(), program.Instructions.end(),
                      [&program](const Instruction& instruction) {
                        const Lowered lowered = Lower(instruction, program.Deterministic);
                        return lowered.Is == Step::CallList || lowered.CallsUser;
                      });
}

// The widest lanes of this processor that are at most maxLanes.
int LanesUpTo(int maxLanes) {
  const auto most = std::bit_floor(static_cast<unsigned>(std::max(maxLanes, 1)));
  return std::min(WidestLanesOfThisProcessor(), static_cast<int>(most));
}

}  // namespace

int MachineCode::WidestLanes() { return WidestLanesOfThisProcessor(); }

std::unique_ptr<MachineCode> MachineCode::Generate(const Program& program) { return Emit(program, 1, false); }

std::unique_ptr<MachineCode> MachineCode::GenerateLoop(const Program& program, int maxLanes) {
  return Emit(program, RunsInLanes(program) ? LanesUpTo(maxLanes) : 1, true);
}

// Emits the code twice: once into the heap to learn its size (no guess of
// what the emitters will need), once into pages of that size. The second
// pass can only be shorter (calls within reach of a direct call become one).
std::unique_ptr<MachineCode> MachineCode::Emit(const Program& program, int lanes, bool loop) {
  if (!Known(program)) return nullptr;
  try {
    HeapBuffer heap;
    Generator measuring(program, lanes, loop, nullptr, 4096, &heap);
    measuring.Emit();
    const std::size_t reserved = WholePages(measuring.getSize());
    std::uint8_t* pages = AllocateWritable(reserved);
    if (!pages) return nullptr;
    // Made first, so that it releases the pages when anything below fails.
    std::unique_ptr<MachineCode> code(new MachineCode(pages, reserved));
    Generator generator(program, lanes, loop, pages, reserved, nullptr);
    generator.Emit();
    code->TotalSize = generator.getSize();
    code->CodeSize = generator.Instructions();
    code->UserCalls = generator.CallsBack();
    code->LaneCount = lanes;
    code->CanStream = generator.Streams();
    code->VariableAddresses = generator.Variables();
    code->FrameSteps.assign(generator.Frame().begin(), generator.Frame().end());
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

#endif

}  // namespace MathUtils::detail
