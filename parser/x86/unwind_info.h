// Unwind information for generated code, so that an exception, a thread's
// cancellation or pthread_exit thrown by a callback passes through the
// code's frame as through a compiled function's.
//
// The description is DWARF call frame information in .eh_frame form: one
// CIE and one FDE for the whole block, followed by the zero terminator,
// registered with the unwinder (__register_frame) for as long as the code
// lives. The FDE is built from a list of frame steps that the generator
// records as it emits the prologue and epilogue:
//
//   step            DWARF instruction        meaning from the step's offset on
//   --------------  -----------------------  ---------------------------------------
//   CfaOffset n     DW_CFA_def_cfa_offset n  the caller's stack pointer is n above the CFA register
//   CfaRegister r   DW_CFA_def_cfa_register  the CFA is computed from register r
//   Cfa r n         DW_CFA_def_cfa r, n      both at once
//   Saved r n       DW_CFA_offset r          register r is saved at CFA - n
//   Restored r      DW_CFA_restore r         register r holds the caller's value again
//
// Before the first step the frame is the one a call leaves: the CFA is the
// stack pointer plus one address, the return address just below it.
// Registers are numbered as DWARF numbers them (x86-64: rbp 6, rsp 7,
// return address 16; IA-32: esp 4, ebp 5, return address 8).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace MathUtils::detail {

struct FrameStep {
  enum Kind : std::uint8_t { CfaOffset, CfaRegister, Cfa, Saved, Restored };
  std::size_t CodeOffset;  // bytes from the start of the code
  Kind Is;
  int Register;
  int Offset;
};

class UnwindInfo {
 public:
  // Whether this build registers unwind information (GCC's unwinder).
  static bool Supported();

  // The .eh_frame bytes describing code of the given size at the given
  // address; the steps in order of their offsets.
  static std::vector<std::uint8_t> Describe(std::uintptr_t code, std::size_t size,
                                            std::span<const FrameStep> steps);

  // Describes the code and registers the description until destruction.
  UnwindInfo(const std::uint8_t* code, std::size_t size, std::span<const FrameStep> steps);
  ~UnwindInfo();
  UnwindInfo(const UnwindInfo&) = delete;
  UnwindInfo& operator=(const UnwindInfo&) = delete;

  bool Registered() const { return IsRegistered; }

 private:
  // Kept aligned to an address, as the unwinder reads it in place.
  std::vector<std::uintptr_t> Storage;
  bool IsRegistered = false;
};

}  // namespace MathUtils::detail
