// Checks shared by the fuzz targets. A violated check aborts with a message,
// which libFuzzer reports as a crash together with the input.
#pragma once

#include <string>
#include <string_view>

#include "parser/engine/compiled_formula.h"
#include "parser/parser.h"
#include "parser/x86/machine_code.h"

namespace FuzzOracle {

// Stops the run: the input showed a fault. The detail is printed as given;
// pass formulas through Printable.
[[noreturn]] void Fail(std::string_view what, std::string_view detail);

// Bit-for-bit equality: every tier gives the same NaN, payload and sign included.
bool SameValue(double a, double b);

// The text begins with one of the parser's or the calculator's own messages.
bool IsKnownMessage(std::string_view text);

// Fails unless the exception is one of the system's own.
void ExpectKnownFailure(const MathUtils::ParserException& error, std::string_view formula);

// A parser whose cell interpreter can be run directly, beside whatever
// later evaluations run. The second evaluation of a formula runs the derived
// program, the third and every later one its machine code.
struct Probe : MathUtils::Parser {
  Probe() {
    SetMachineCode(true);
    SetMachineCodeAfter(1);
  }
  // Valid only after a successful compilation.
  double RunCells() { return ParseCmdCode(); }
  // Evaluations over arrays run machine code from the first one on, with
  // at most this many lanes.
  void ArraysAtOnce(int lanes) {
    SetMachineCodeAfter(0);
    SetArrayLanes(lanes);
  }
  // Whether later evaluations run machine code, as they must after three
  // evaluations of a formula that did not fold to one number.
  bool MachineCodeExpected() const {
    using MathUtils::detail::Tier;
    return CurrentTier() != Tier::Constant && CurrentTier() != Tier::Compile &&
           MathUtils::detail::MachineCode::Supported();
  }
};

// The outcome of one evaluation: a value, or the text of a ParserException.
// Any other exception escaping the parser is a fault and aborts at once.
struct Outcome {
  bool Failed = false;
  double Value = 0;
  std::string Error;
};

Outcome EvaluateOnce(MathUtils::Parser& parser);

// Evaluates the formula already assigned three times: the value found while
// compiling, then from the derived program and from the machine code (or
// the folded constant). All three must agree, and so must the cell
// interpreter run directly; a failure must repeat with the same text, since
// every error sends the parser back to compiling. Returns the first outcome.
Outcome EvaluateThrice(Probe& parser, std::string_view formula);

// Folding on and off must agree on the value, or on the error text.
void ExpectSameOutcome(const Outcome& folded, const Outcome& unfolded, std::string_view formula);

// After whatever happened, the parser must still compile and run a fresh
// formula that uses no names.
void ExpectStillUsable(Probe& parser, std::string_view previous);

// The text with control and non-ASCII bytes escaped, for messages.
std::string Printable(std::string_view text);

}  // namespace FuzzOracle
