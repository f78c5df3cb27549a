// Machine code for later evaluations, generated at run time from the derived
// program (x86-64 with the System V calling convention, and IA-32 cdecl).
//
// The code computes every double as the program does: the same operations
// in the same order in SSE2 scalar arithmetic, the same callbacks, and the
// variables read from their addresses at each run. What each operation
// becomes is one row of Emissions (parser/program.h); what a call of a
// built-in becomes is its row's MachineForm (parser/builtins.h); each
// calling convention's frame, calls and returns are a class of their own.
//
// Stack slots live in XMM registers (slot k in xmm(k-1)); the deepest
// slots, beyond the registers, live in memory, in the code's own stack
// frame. Before a call, live slots below the call's own are stored there
// and reloaded when next read; a list callback reads its arguments there.
// The code writes nothing but its frame: runs may nest (a callback that
// evaluates again) and run on several threads at once.
//
// What a callback throws, a thread's cancellation included, unwinds through
// the code's frame as through a compiled function's: the code's unwind
// description is registered for as long as the code lives
// (parser/unwind_info.h).
//
// The code is emitted twice: once into the heap to measure it, then into
// pages of that size, with the numbers it reads after the instructions.
// The pages are written while read+write, then made read+execute, never
// both at once. Where any step fails, Generate returns null and the parser
// keeps interpreting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace MathUtils::detail {

struct Program;
class UnwindInfo;

class MachineCode {
 public:
  // Whether this build generates machine code at all.
  static bool Supported();
  // The code for the program, or null where it cannot be made. The code
  // keeps no reference to the program.
  static std::unique_ptr<MachineCode> Generate(const Program& program);

  ~MachineCode();
  MachineCode(const MachineCode&) = delete;
  MachineCode& operator=(const MachineCode&) = delete;

  // Where the code begins. It is called as a function of one pointer
  // argument, which it ignores, returning a double: the parser calls it
  // directly in place of an interpreter.
  void* Entry() const { return Pages; }
  // Whether the code calls a callback of the user's (one that may touch
  // the parser that runs it).
  bool CallsBack() const { return UserCalls; }

  // The instructions, from the entry on; their constants follow them.
  std::span<const std::uint8_t> Code() const { return {Pages, CodeSize}; }
  // Bytes generated: the instructions and their constants.
  std::size_t Size() const { return TotalSize; }
  // Bytes of the pages that hold them.
  std::size_t Reserved() const { return ReservedBytes; }
  // The system's page size.
  static std::size_t PageBytes();

 private:
  MachineCode(std::uint8_t* pages, std::size_t reserved, std::size_t size, std::size_t codeSize);

  std::uint8_t* Pages;
  std::size_t ReservedBytes;  // bytes of pages allocated
  std::size_t TotalSize;
  std::size_t CodeSize;
  bool UserCalls = false;
  std::unique_ptr<UnwindInfo> Unwind;  // registered while the code lives
};

}  // namespace MathUtils::detail
