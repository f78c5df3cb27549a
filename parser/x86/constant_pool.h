// The numbers generated code reads, each added when an emitter first asks
// for it and laid down after the instructions. An entry is known by its
// offset from the pool's label. Every entry takes a vector of the lanes'
// width, at least 16 bytes, aligned to its size: the number in each lane,
// zeros after, so that a packed operation of that width (and the scalar
// code's bit operations, which read 16 bytes) can take an entry as its
// operand.
#pragma once

#include <xbyak/xbyak.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace MathUtils::detail {

class ConstantPool {
 public:
  explicit ConstantPool(int lanes) : Copies(lanes), EntryBytes(std::max(16, 8 * lanes)) {}

  int OffsetOf(std::uint64_t bits) {
    const auto known = std::find(Bits.begin(), Bits.end(), bits);
    if (known != Bits.end()) return EntryBytes * static_cast<int>(known - Bits.begin());
    Bits.push_back(bits);
    return EntryBytes * static_cast<int>(Bits.size() - 1);
  }
  int OffsetOf(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return OffsetOf(bits);
  }
  // Lays the entries down at the label.
  void Place(Xbyak::CodeGenerator& code, Xbyak::Label& label) const {
    code.align(EntryBytes);
    code.L(label);
    for (const std::uint64_t bits : Bits)
      for (int i = 0; i < EntryBytes / 8; ++i) code.dq(i < Copies ? bits : 0);
  }

 private:
  int Copies;
  int EntryBytes;
  std::vector<std::uint64_t> Bits;
};

}  // namespace MathUtils::detail
