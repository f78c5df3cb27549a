// The calculator's command-line path on arbitrary bytes. The first byte
// picks the document's unit system, the rest is the typed line.
#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "calculator/calculator_driver.h"
#include "calculator/unit_operators.h"
#include "fuzz_oracle.h"
#include "parser/parser.h"

namespace {

using FuzzOracle::Outcome;

// Every unit system the operators know, the ones they ignore on both sides,
// and the extremes of the integer.
constexpr std::array<int, 16> UnitSystems = {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, INT_MIN, INT_MAX};

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

// The driver's outcome: its printed value, or the error text.
struct DriverOutcome {
  bool Failed = false;
  std::string Text;
};

DriverOutcome RunDriver(std::string_view line, int unitSystem, const std::string& formula) {
  DriverOutcome outcome;
  try {
    outcome.Text = EvaluateCommandLine(line, unitSystem);
  } catch (const MathUtils::ParserException& error) {
    FuzzOracle::ExpectKnownFailure(error, formula);
    outcome.Failed = true;
    outcome.Text = error.what();
  } catch (const std::exception& other) {
    FuzzOracle::Fail("the command line threw something other than ParserException", other.what());
  }
  return outcome;
}

// The driver's steps, on a parser that stays in our hands.
Outcome RunOwnParser(const std::string& formula, int unitSystem, bool folding) {
  ActiveUnitSystem = unitSystem;
  FuzzOracle::Probe parser;
  parser.AssignFormula(formula);
  AddCalculatorVocabulary(parser);
  parser.SetOptimizer(folding);
  const Outcome outcome = FuzzOracle::EvaluateThrice(parser, formula);
  FuzzOracle::ExpectStillUsable(parser, formula);
  return outcome;
}

std::string Printed(double value, int digits) {
  char text[100];
  std::snprintf(text, sizeof text, "%.*g", digits, value);
  return text;
}

// The value as "%.10g" prints it, or with more digits where the line was
// typed with more decimal places than ten digits show: never fewer than
// ten, never more than seventeen.
bool PrintedAsTheHostSees(const std::string& text, double value) {
  for (int digits = 10; digits <= 17; ++digits)
    if (text == Printed(value, digits)) return true;
  return false;
}

void ExpectDriverAgrees(const DriverOutcome& driver, const Outcome& own, const std::string& formula) {
  const std::string expected = own.Failed ? own.Error : Printed(own.Value, 10);
  const bool agrees = own.Failed ? driver.Text == own.Error : PrintedAsTheHostSees(driver.Text, own.Value);
  if (driver.Failed != own.Failed || !agrees)
    FuzzOracle::Fail("the command line disagrees with the parser",
                     FuzzOracle::Printable(formula) +
                         "\n*** command line: " + FuzzOracle::Printable(driver.Text) +
                         "\n*** parser:       " + FuzzOracle::Printable(expected));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const int unitSystem = UnitSystems[data[0] % UnitSystems.size()];
  const std::string_view line(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string formula = LowerCase(line);

  const DriverOutcome driver = RunDriver(line, unitSystem, formula);
  // "rnd" draws a new number at every call: no two runs need agree.
  if (formula.find("rnd") != std::string::npos) return 0;

  const Outcome folded = RunOwnParser(formula, unitSystem, true);
  const Outcome unfolded = RunOwnParser(formula, unitSystem, false);
  FuzzOracle::ExpectSameOutcome(folded, unfolded, formula);
  ExpectDriverAgrees(driver, folded, formula);
  return 0;
}
