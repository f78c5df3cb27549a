#include "calculator/unit_operators.h"

#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "parser/parser.h"

namespace {

// A parser with the calculator's vocabulary and a variable x, so that a
// formula such as "(x)mm" runs its operator from bytecode, not only folded.
class Calculator {
 public:
  Calculator() { AddCalculatorVocabulary(Parser); }

  double Folded(int unitSystem, const std::string& formula) {
    ActiveUnitSystem = unitSystem;
    Parser.AssignFormula(formula);
    return Parser.Evaluate();
  }

  // The first evaluation compiles, the second runs the bytecode.
  double Run(int unitSystem, double operand, const std::string& formula) {
    X = 0;
    Parser.AddVariable("x", &X);
    Folded(unitSystem, formula);
    X = operand;
    return Parser.Evaluate();
  }

  MathUtils::Parser Parser;
  double X = 0;
};

constexpr std::optional<double> Unchanged;
const char* const Units[] = {"mm", "cm", "m", "in", "ft"};

struct FactorRow {
  int UnitSystem;
  std::optional<double> Factors[5];  // in the order of Units
};

// Document units to the named unit, for "mm?", "cm?", "m?", "in?", "ft?".
const FactorRow ToNamedUnit[] = {
    {2, {Unchanged, 0.1, 0.001, 0.03937007874015748, 0.0032808398950131237}},
    {3, {10, Unchanged, 0.01, 0.39370078740157477, 0.03280839895013123}},
    {4, {1000, 100, Unchanged, 39.37007874015748, 3.280839895013124}},
    {5, {1000000, 100000, 1000, 39370.07874015748, 3280.839895013123}},
    {6, {0.000025399999999999997, 2.54e-6, 2.54e-8, 1e-6, 8.333333333333333e-8}},
    {7, {0.0254, 0.00254, 0.0000254, 0.001, 0.00008333333333333333}},
    {8, {25.4, 2.54, 0.0254, Unchanged, 0.08333333333333333}},
    {9, {304.79999999999995, 30.48, 0.30479999999999996, 12, Unchanged}},
    {10, {1609344, 160934.4, 1609.3439999999998, 63360, 5280}},
};

// The named unit to document units, for "mm", "cm", "m", "in", "ft".
const FactorRow FromNamedUnit[] = {
    {2, {Unchanged, 10, 1000, 25.4, 304.79999999999995}},
    {3, {0.1, Unchanged, 100, 2.54, 30.48}},
    {4, {0.001, 0.01, Unchanged, 0.0254, 0.30479999999999996}},
    {5, {1e-6, 0.00001, 0.001, 0.0000254, 0.00030480000000000004}},
    {6, {39370.078740157485, 393700.78740157484, 39370078.740157485, 1000000, 12000000.000000002}},
    {7, {39.37007874015748, 393.70078740157476, 39370.07874015748, 1000, 12000}},
    {8, {0.03937007874015748, 0.39370078740157477, 39.37007874015748, Unchanged, 12}},
    {9, {0.0032808398950131237, 0.03280839895013123, 3.280839895013124, 0.08333333333333333, Unchanged}},
    {10,
     {6.21371192237334e-7, 6.21371192237334e-6, 0.000621371192237334, 0.000015782828282828283,
      0.0001893939393939394}},
};

// Checks every operator of one table, folded and from bytecode: the operand
// 1 shows the factor itself, 7 that exactly one multiplication is done.
void CheckFactorTable(const FactorRow (&table)[9], const char* suffix) {
  Calculator calculator;
  for (const FactorRow& row : table) {
    for (int unit = 0; unit < 5; ++unit) {
      const std::string name = std::string(Units[unit]) + suffix;
      const std::optional<double>& factor = row.Factors[unit];
      SCOPED_TRACE("unit system " + std::to_string(row.UnitSystem) + ", " + name);
      EXPECT_EQ(calculator.Folded(row.UnitSystem, "1" + name), factor.value_or(1));
      EXPECT_EQ(calculator.Run(row.UnitSystem, 7, "(x)" + name), factor ? 7 * *factor : 7);
    }
  }
}

TEST(UnitOperators, QuestionMarkFormsConvertDocumentUnitsToTheNamedUnit) {
  CheckFactorTable(ToNamedUnit, "?");
}

TEST(UnitOperators, PlainFormsConvertTheNamedUnitToDocumentUnits) { CheckFactorTable(FromNamedUnit, ""); }

TEST(UnitOperators, LeaveOperandAloneOutsideTheLengthUnitSystems) {
  const char* const names[] = {"mm", "cm", "m", "in", "ft", "mm?", "cm?", "m?", "in?", "ft?"};
  Calculator calculator;
  for (int unitSystem : {INT_MIN, -1, 0, 1, 11, 12, INT_MAX}) {
    for (const char* name : names) {
      SCOPED_TRACE("unit system " + std::to_string(unitSystem) + ", " + name);
      EXPECT_EQ(calculator.Run(unitSystem, 5.25, std::string("(x)") + name), 5.25);
      EXPECT_TRUE(std::isnan(calculator.Run(unitSystem, NAN, std::string("(x)") + name)));
    }
  }
}

TEST(UnitOperators, ReadTheUnitSystemWhenApplied) {
  Calculator calculator;
  calculator.Run(4, 2, "(x)mm");
  ActiveUnitSystem = 3;
  EXPECT_EQ(calculator.Parser.Evaluate(), 2 * 0.1);  // centimetres now
}

TEST(UnitOperators, InfinityAndNanPassThrough) {
  Calculator calculator;
  EXPECT_EQ(calculator.Run(4, INFINITY, "(x)ft"), INFINITY);
  EXPECT_EQ(calculator.Run(4, -INFINITY, "(x)in?"), -INFINITY);
  EXPECT_TRUE(std::isnan(calculator.Run(9, NAN, "(x)mm")));
}

TEST(FixedFactorOperators, IgnoreTheUnitSystem) {
  struct Row {
    const char* Name;
    double Factor;
  };
  const Row rows[] = {{"mi", 1000}, {"mc", 1e6}, {"n", 1e9}, {"mi?", 0.001}, {"mc?", 1e-6}, {"n?", 1e-9}};
  Calculator calculator;
  for (int unitSystem : {0, 2, 4, 9, 10, 11}) {
    for (const Row& row : rows) {
      SCOPED_TRACE("unit system " + std::to_string(unitSystem) + ", " + row.Name);
      EXPECT_EQ(calculator.Folded(unitSystem, std::string("3") + row.Name), 3 * row.Factor);
      EXPECT_EQ(calculator.Run(unitSystem, 3, std::string("(x)") + row.Name), 3 * row.Factor);
    }
  }
}

// Replaced defaults, constants and operators combined, exact to the last bit.
TEST(CalculatorVocabulary, ExactValues) {
  struct Row {
    int UnitSystem;
    const char* Formula;
    double Expected;
  };
  const Row rows[] = {
      {9, "1mi", 1000},
      {4, "1m", 1},  // replaces the default "m", which multiplies by 0.001
      {4, "1n", 1e9},
      {4, "1mc", 1e6},
      {4, "pi", 3.141592653589793},
      {4, "e", 2.718281828459045},
      {4, "_pi", 3.141592653589793},
      {4, "-5mm", -0.005},
      {4, "-(5mm)", -0.005},
      {4, "2^3mm", std::pow(2, 0.003)},
      {4, "rnd(0)", 0},
  };
  Calculator calculator;
  for (const Row& row : rows)
    EXPECT_EQ(calculator.Folded(row.UnitSystem, row.Formula), row.Expected)
        << row.Formula << " in unit system " << row.UnitSystem;
}

// The high 15 bits of each rand() value, computed without shifting.
std::vector<double> ExpectedDraws(unsigned seed, int count) {
  std::srand(seed);
  std::vector<double> draws;
  for (int i = 0; i < count; ++i) draws.push_back(std::floor(std::rand() / ((RAND_MAX + 1.0) / 32768)));
  return draws;
}

TEST(RandomFunction, DrawsFifteenBitsFromRandOnEveryEvaluation) {
  const std::vector<double> expected = ExpectedDraws(12345, 4);
  std::srand(12345);
  Calculator calculator;
  // rnd(32768) is the drawn integer itself; it must not be folded away.
  EXPECT_EQ(calculator.Folded(0, "rnd(32768)"), expected[0]);
  EXPECT_EQ(calculator.Parser.Evaluate(), expected[1]);
  EXPECT_EQ(calculator.Parser.Evaluate(), expected[2]);
  EXPECT_EQ(calculator.Folded(0, "rnd(-32768)"), -expected[3]);
}

TEST(RandomFunction, YieldsMultiplesOfOneIn32768BelowTheArgument) {
  Calculator calculator;
  calculator.Folded(0, "rnd(1)");
  for (int i = 0; i < 2000; ++i) {
    const double value = calculator.Parser.Evaluate();
    ASSERT_GE(value, 0);
    ASSERT_LE(value, 0.999969482421875);
    ASSERT_EQ(value * 32768, std::floor(value * 32768)) << value;
  }
}

// A unit system given when the vocabulary is defined: every operator gives
// the very bits it gives in that system through ActiveUnitSystem, folded and
// from bytecode, and ActiveUnitSystem is neither read nor written.
TEST(BoundUnitSystem, GivesTheSameBitsAsTheActiveUnitSystem) {
  const char* const names[] = {"mm",  "cm",  "m",  "in", "ft", "mm?", "cm?", "m?",
                               "in?", "ft?", "mi", "mc", "n",  "mi?", "mc?", "n?"};
  const double operands[] = {1,
                             7,
                             -0.0,
                             1e-310,
                             123.456,
                             std::numeric_limits<double>::infinity(),
                             std::bit_cast<double>(std::uint64_t{0x7ff8000000000123})};
  for (int unitSystem : {INT_MIN, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, INT_MAX}) {
    Calculator active;
    MathUtils::Parser bound;
    double x = 0;
    bound.AddVariable("x", &x);
    AddCalculatorVocabulary(bound, unitSystem);
    for (const char* name : names) {
      for (double operand : operands) {
        SCOPED_TRACE("unit system " + std::to_string(unitSystem) + ", " + name + ", " +
                     std::to_string(operand));
        const double expected = active.Run(unitSystem, operand, std::string("(x)") + name);
        ActiveUnitSystem = 12345;  // a unit system that would leave every length alone
        x = operand;
        bound.AssignFormula(std::string("(x)") + name);
        const double folded = bound.Evaluate();
        const double run = bound.Evaluate();
        EXPECT_EQ(std::bit_cast<std::uint64_t>(folded), std::bit_cast<std::uint64_t>(expected));
        EXPECT_EQ(std::bit_cast<std::uint64_t>(run), std::bit_cast<std::uint64_t>(expected));
        EXPECT_EQ(ActiveUnitSystem, 12345);
      }
    }
  }
}

// Two documents in two unit systems, evaluated on two threads at once, past
// the point where later evaluations run machine code: each keeps its own.
TEST(BoundUnitSystem, ParsersInTwoUnitSystemsOnTwoThreads) {
  struct Document {
    int UnitSystem;
    double Expected;  // of (x)in + 5mm for x = 2
    bool Agreed = true;
  };
  Document documents[] = {{4, 2 * 0.0254 + 0.005}, {8, 2 + 5 * 0.03937007874015748}};
  const auto work = [](Document& document) {
    MathUtils::Parser parser;
    double x = 2;
    parser.AddVariable("x", &x);
    AddCalculatorVocabulary(parser, document.UnitSystem);
    parser.AssignFormula("(x)in + 5mm");
    for (int run = 0; run < 20000; ++run)
      document.Agreed = document.Agreed && parser.Evaluate() == document.Expected;
  };
  std::thread metres(work, std::ref(documents[0])), inches(work, std::ref(documents[1]));
  metres.join();
  inches.join();
  EXPECT_TRUE(documents[0].Agreed);
  EXPECT_TRUE(documents[1].Agreed);
}

}  // namespace
