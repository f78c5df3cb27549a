// Reads an unwind description back as an unwinder reads it: the CFA rule
// and the saved registers in force at one code offset.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

namespace ParserTests {

constexpr int AddressBytes = sizeof(void*);

struct Reader {
  const std::vector<std::uint8_t>& Bytes;
  std::size_t At = 0;

  std::uint8_t U8() { return Bytes.at(At++); }
  template <typename T>
  T Raw() {
    T value;
    std::memcpy(&value, &Bytes.at(At), sizeof value);
    At += sizeof value;
    return value;
  }
  std::uint64_t Uleb() {
    std::uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
      const std::uint8_t byte = U8();
      value |= std::uint64_t{byte & 0x7fu} << shift;
      if (!(byte & 0x80)) return value;
    }
  }
};

// The frame as the rules say it is at one code offset.
struct ReplayedFrame {
  int CfaRegister = -1;
  std::uint64_t CfaOffset = 0;
  std::map<int, std::int64_t> Saved;  // register: offset from the CFA
  bool operator==(const ReplayedFrame&) const = default;
};

// Replays the FDE's instructions of a description made by Describe up to
// the offset; the CIE's initial rule is taken as the frame a call leaves.
inline ReplayedFrame Replay(const std::vector<std::uint8_t>& bytes, std::size_t offset, std::uintptr_t code,
                            std::size_t size) {
  Reader in{bytes};
  const auto cieLength = in.Raw<std::uint32_t>();
  EXPECT_EQ((cieLength + 4) % AddressBytes, 0u);
  in.At = 4 + cieLength;
  const auto fdeLength = in.Raw<std::uint32_t>();
  EXPECT_EQ((fdeLength + 4) % AddressBytes, 0u);
  const std::size_t end = in.At + fdeLength;
  const std::size_t ciePointer = in.At;
  EXPECT_EQ(in.Raw<std::uint32_t>(), ciePointer);  // back to the CIE at 0
  EXPECT_EQ(in.Raw<std::uintptr_t>(), code);
  EXPECT_EQ(in.Raw<std::uintptr_t>(), size);
  EXPECT_EQ(in.Uleb(), 0u);
  EXPECT_EQ(std::memcmp(&bytes.at(end), "\0\0\0\0", 4), 0);  // the list's end
  EXPECT_EQ(bytes.size(), end + 4);

  ReplayedFrame frame;
  frame.CfaRegister = sizeof(void*) == 8 ? 7 : 4;
  frame.CfaOffset = AddressBytes;
  std::size_t at = 0;
  while (in.At < end) {
    const std::uint8_t op = in.U8();
    std::size_t advance = 0;
    if ((op & 0xc0) == 0x40) advance = op & 0x3f;
    if (op == 0x02) advance = in.U8();
    if (op == 0x03) advance = in.Raw<std::uint16_t>();
    if (op == 0x04) advance = in.Raw<std::uint32_t>();
    if (advance != 0 || op == 0x02 || op == 0x03 || op == 0x04) {
      if (at + advance > offset) break;
      at += advance;
      continue;
    }
    if ((op & 0xc0) == 0x80)
      frame.Saved[op & 0x3f] = -static_cast<std::int64_t>(in.Uleb()) * AddressBytes;
    else if ((op & 0xc0) == 0xc0)
      frame.Saved.erase(op & 0x3f);
    else if (op == 0x0c)
      frame.CfaRegister = static_cast<int>(in.Uleb()), frame.CfaOffset = in.Uleb();
    else if (op == 0x0d)
      frame.CfaRegister = static_cast<int>(in.Uleb());
    else if (op == 0x0e)
      frame.CfaOffset = in.Uleb();
    else if (op != 0x00)
      ADD_FAILURE() << "unknown call frame instruction " << int{op};
  }
  return frame;
}

}  // namespace ParserTests
