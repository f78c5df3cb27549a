// Shared by the tests over arrays: the ways an evaluation over arrays runs,
// and a comparison of results bit for bit.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <ios>
#include <span>
#include <string>
#include <vector>

namespace ParserTests {

// How the evaluation over arrays runs: interpreted, or machine code with at
// most this many lanes.
struct Tier {
  const char* Name;
  bool MachineCode;
  int Lanes;
};

inline constexpr Tier Tiers[] = {
    {"interpreted", false, 8}, {"lanes 1", true, 1}, {"lanes 2", true, 2},
    {"lanes 4", true, 4},      {"lanes 8", true, 8},
};

inline std::uint64_t Bits(double value) { return std::bit_cast<std::uint64_t>(value); }

// Records the first point whose result differs from the expected one in
// any bit (a NaN's payload and sign included).
inline void ExpectSameBits(const std::vector<double>& expected, std::span<const double> actual,
                           const std::string& context) {
  ASSERT_EQ(expected.size(), actual.size()) << context;
  for (std::size_t i = 0; i < expected.size(); ++i)
    if (Bits(expected[i]) != Bits(actual[i])) {
      ADD_FAILURE() << context << " point " << i << ": expected " << expected[i] << " (0x" << std::hex
                    << Bits(expected[i]) << "), got " << actual[i] << " (0x" << Bits(actual[i]) << std::dec
                    << ")";
      return;
    }
}

}  // namespace ParserTests
