// The three command lines of the Enter-path benchmark, with the text a press
// of Enter must turn them into.
#pragma once

#include <array>

namespace Bench {

struct CommandLine {
  const char* Text;
  const char* Expected;
};

// The document's unit system while the command lines are evaluated: metres.
inline constexpr int EnterUnitSystem = 4;

inline constexpr std::array<CommandLine, 3> EnterCommandLines = {{
    {"2*sin(30)+5mm", "1.005"},
    {"1/3", "0.3333333333"},
    {"sum(1,2,3)*2^0.5", "8.485281374"},
}};

}  // namespace Bench
