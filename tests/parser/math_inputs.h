// Arguments that tell math libraries and their vector forms apart: signed
// zeros, infinities, NaNs of both signs with payloads (quiet and
// signaling), denormals, huge arguments, the edges of the functions'
// domains, small integers (exponents 2 and 1 among them) and plain numbers.
#pragma once

#include <bit>
#include <cstdint>
#include <limits>
#include <random>

namespace ParserTests {

class MathInputs {
 public:
  explicit MathInputs(std::uint64_t seed) : Random(seed) {}

  double Next() {
    const std::uint64_t bits = Random();
    switch (Random() % 10) {
      case 0: return Specials[Random() % std::size(Specials)];
      case 1: return std::bit_cast<double>((bits & 0x800fffffffffffff) | 0x7ff0000000000001);  // a NaN
      case 2: return std::bit_cast<double>(bits & 0x800fffffffffffff);                         // a denormal
      case 3: return static_cast<double>(static_cast<int>(Random() % 21) - 10);
      case 4: return Uniform(Random) * 2 - 1;          // asin's and acos's domain
      case 5: return (Uniform(Random) * 2 - 1) * 800;  // exp's and sinh's edges
      case 6: return (Uniform(Random) * 2 - 1) * 1e6;  // sines of many periods
      default: return std::bit_cast<double>(bits);     // any double
    }
  }

 private:
  static constexpr double Specials[] = {0.0,
                                        -0.0,
                                        1.0,
                                        -1.0,
                                        2.0,
                                        0.5,
                                        std::numeric_limits<double>::infinity(),
                                        -std::numeric_limits<double>::infinity(),
                                        std::numeric_limits<double>::max(),
                                        std::numeric_limits<double>::min(),
                                        std::numeric_limits<double>::denorm_min(),
                                        1e300,
                                        -1e300,
                                        1e22,
                                        709.78,
                                        -745.1,
                                        710.5,
                                        3.141592653589793,
                                        1.5707963267948966,
                                        90,
                                        180};
  std::mt19937_64 Random;
  std::uniform_real_distribution<double> Uniform{0.0, 1.0};
};

}  // namespace ParserTests
