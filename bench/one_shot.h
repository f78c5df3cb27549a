// The formulas of the one-shot benchmark: a new parser with its default
// vocabulary, the formula assigned, evaluated once, the parser dropped.
#pragma once

#include <array>

namespace Bench {

struct OneShotFormula {
  const char* Ours;
  // The nearest formula fparser parses to the same value. It reads angles in
  // degrees (Parse's useDegrees), as ours does, and has no sum.
  const char* Peer;
  double Native;  // the value, computed by hand-written code
};

inline constexpr int OneShotCount = 3;
const std::array<OneShotFormula, OneShotCount>& OneShotFormulas();

// One shot each: construct, parse, evaluate once, destroy; returns the value.
double OurOneShot(const char* text);
// Throws std::runtime_error when fparser refuses the text.
double PeerOneShot(const char* text);

}  // namespace Bench
