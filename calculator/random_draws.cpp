#include "calculator/random_draws.h"

#include <bit>
#include <cstdlib>
#include <mutex>
#include <optional>

namespace {

constexpr double OneIn32768 = 0.000030517578125;

// A 15-bit draw from rand(); a wider generator gives up its low bits, which
// are the weaker ones in common implementations.
int DrawFifteenBits() {
  static_assert(RAND_MAX >= 32767 && (RAND_MAX & (RAND_MAX + 1u)) == 0,
                "rand() must yield at least 15 whole bits");
  constexpr int SurplusBits = std::bit_width(static_cast<unsigned>(RAND_MAX)) - 15;
  return std::rand() >> SurplusBits;
}

std::mutex ProcessDrawsLock;
std::optional<RandomDraws> ProcessDraws;

double DrawFromContext(void* draws, double x) { return static_cast<RandomDraws*>(draws)->Draw(x); }

}  // namespace

double RandomDraws::Draw(double x) {
  const auto fifteenBits = static_cast<int>(Engine() >> 17);  // the high bits of 32
  return (fifteenBits * x) * OneIn32768;
}

void SeedRandomDraws(std::optional<std::uint32_t> seed) {
  const std::lock_guard<std::mutex> lock(ProcessDrawsLock);
  if (seed)
    ProcessDraws.emplace(*seed);
  else
    ProcessDraws.reset();
}

double DrawRandom(double x) {
  {
    const std::lock_guard<std::mutex> lock(ProcessDrawsLock);
    if (ProcessDraws) return ProcessDraws->Draw(x);
  }
  return (DrawFifteenBits() * x) * OneIn32768;
}

void DrawRandomFrom(MathUtils::Parser& parser, RandomDraws& draws) {
  parser.AddFunction("rnd", &DrawFromContext, &draws, /*optimizable=*/false);
}
