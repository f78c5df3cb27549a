#include "parser/x86/machine_code.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "parser/lowering/lowering.h"
#include "parser/lowering/slot_allocator.h"
#include "parser/program/program.h"
#include "parser/x86/executable_pages.h"
#include "parser/x86/unwind_info.h"
#include "parser/x86/x86_operations.h"

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

#include "parser/x86/x86_call_steps.h"
#endif

namespace MathUtils::detail {

MachineCode::~MachineCode() {
  Unwind.reset();  // no unwinder may find the code once it is gone
  if (Pages) ReleasePages(Pages, ReservedBytes);
}

#if !VORNCALC_JIT

bool MachineCode::Supported() { return false; }
std::size_t MachineCode::PageBytes() { return 0; }
int MachineCode::WidestLanes() { return 1; }
std::unique_ptr<MachineCode> MachineCode::Generate(const Program&) { return nullptr; }
bool MachineCode::Emit(const Program&, int, LoopShape*) { return false; }

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

// The width rows (parser/x86/x86_emitter.h), one point, SSE2, AVX, AVX-512.
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

}  // namespace

const WidthRow& RowOf(int lanes) { return Widths[std::countr_zero(static_cast<unsigned>(lanes))]; }

namespace {

bool KnownOp(std::int32_t op) { return IsBinaryOperator(op) || (op >= OpSquare && op <= OpCallListContext); }

// Reads the program, lowers each instruction and emits the code in the
// width's forms for the native calling convention (parser/x86/x86_conventions.h):
// one point, or a loop over arrays in lanes.
class Generator : public X86CallSteps {
 public:
  // Into the buffer, which must hold the code; while measuring, into a
  // buffer that grows as needed.
  Generator(const Program& program, int lanes, bool loop, void* at, std::size_t size,
            Xbyak::Allocator* allocator)
      : X86CallSteps(program, lanes, loop, at, size, allocator) {}

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

  // ---- the instructions, as lowered ----

  void EmitInstruction(const Instruction& instruction, const Lowered& lowered) {
    const int slot = instruction.Slot;
    const Source left = lowered.ReadsSlotsOnly() ? SlotSource(slot) : SourceOf(instruction, instruction.Left);
    switch (lowered.Is) {
      case Step::Operation:
        Binary(EmissionOf(instruction.Op), slot, left, SourceOf(instruction, instruction.Right));
        return;
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
};

// The measuring pass writes to the heap, never to executable memory.
struct HeapBuffer : Xbyak::Allocator {
  bool useProtect() const override { return false; }  // NOLINT(readability-identifier-naming): Xbyak's name
};

bool Known(const Program& program) {
  return std::all_of(program.Instructions.begin(), program.Instructions.end(),
                     [](const Instruction& instruction) { return KnownOp(instruction.Op); });
}

}  // namespace

int MachineCode::WidestLanes() { return WidestLanesOfThisProcessor(); }

std::unique_ptr<MachineCode> MachineCode::Generate(const Program& program) {
  std::unique_ptr<MachineCode> code(new MachineCode);
  if (!code->Emit(program, 1, nullptr)) return nullptr;
  return code;
}

// Emits the code twice: once into the heap to learn its size (no guess of
// what the emitters will need), once into pages of that size. The second
// pass can only be shorter (calls within reach of a direct call become one).
bool MachineCode::Emit(const Program& program, int lanes, LoopShape* loop) {
  if (!Known(program)) return false;
  try {
    HeapBuffer heap;
    Generator measuring(program, lanes, loop != nullptr, nullptr, 4096, &heap);
    measuring.Emit();
    const std::size_t reserved = WholePages(measuring.getSize());
    // Kept first, so that the destructor releases the pages when anything
    // below fails.
    Pages = AllocateWritable(reserved);
    if (!Pages) return false;
    ReservedBytes = reserved;
    Generator generator(program, lanes, loop != nullptr, Pages, reserved, nullptr);
    generator.Emit();
    TotalSize = generator.getSize();
    CodeSize = generator.Instructions();
    UserCalls = generator.CallsBack();
    if (loop) *loop = {lanes, generator.Variables(), generator.Streams()};
    FrameSteps.assign(generator.Frame().begin(), generator.Frame().end());
    // Without a description of its frame, nothing may unwind through the code.
    if (generator.MakesCalls()) {
      if (!UnwindInfo::Supported()) return false;
      Unwind = std::make_unique<UnwindInfo>(Pages, CodeSize, generator.Frame());
    }
    return MakeExecutable(Pages, reserved);
  } catch (...) {
    return false;
  }
}

#endif

}  // namespace MathUtils::detail
