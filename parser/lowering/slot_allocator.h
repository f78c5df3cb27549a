// Which slots of the frame a generated function holds in registers: the
// register slots (1..RegisterSlots, parser/lowering/lowering.h) that hold a value
// not yet consumed, and those that a call made the code keep in memory
// until they are next read. Knows no instruction of any target.
#pragma once

#include <array>
#include <utility>

#include "parser/core/cells.h"
#include "parser/lowering/lowering.h"

namespace MathUtils::detail {

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

}  // namespace MathUtils::detail
