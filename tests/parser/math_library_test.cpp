// The math library a parser chooses: with the deterministic one, every tier
// (folding, the first evaluation, the cells, the program, the machine code
// for one point and in lanes of every width) gives the bits of the same
// scalar function; choosing rebinds this parser's built-in names alone.
#include "parser/math/math_library.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cfenv>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "array_tiers.h"
#include "math_inputs.h"
#include "parser/math/builtins.h"
#include "parser/x86/machine_code.h"
#include "parser_test_support.h"

namespace ParserTests {
namespace {

using MathUtils::MathLibrary;
using MathUtils::VariableArray;

bool DeterministicAvailable() {
  return MathUtils::ParserBase::MathLibraryAvailable(MathLibrary::Deterministic);
}

struct MathParser : Probe {
  using ParserBase::ArrayCodeLanes;
  using ParserBase::SetArrayLanes;
  using ParserBase::SetMachineCodeAfter;
  explicit MathParser(MathLibrary library) {
    SetMathLibrary(library);
    AddMathFunctions();
  }
};

MathUtils::UnaryCallback CallbackOf(const Probe& parser, std::string_view name) {
  const MathUtils::detail::FunctionDef* definition = parser.Registry().Functions.Find(name);
  return definition ? reinterpret_cast<MathUtils::UnaryCallback>(definition->Callback) : nullptr;
}

// A formula of x (and y), and the same with constants c (and d) that fold.
struct Formula {
  std::string Name;      // a function's, or "^"
  std::string OfX, OfC;  // its text over variables and over constants
  bool ExponentY;        // whether y is the exponent (else Exponent)
  double Exponent;
  int Arguments = 1;  // of a function: x, y, x in turn
};

std::vector<Formula> Formulas() {
  std::vector<Formula> formulas;
  for (const auto rows : {MathUtils::detail::BuiltinUnaryFunctions(MathLibrary::Deterministic),
                          MathUtils::detail::MathUnaryFunctions(MathLibrary::Deterministic)}) {
    for (const auto& row : rows) {
      const std::string name(row.Name);
      formulas.push_back({name, name + "(x)", name + "(c)", false, 0});
    }
  }
  for (const auto& row : MathUtils::detail::MathFixedFunctions(MathLibrary::Deterministic)) {
    const std::string name(row.Name), third = row.ArgCount == 3 ? ", x)" : ")",
                                      thirdC = row.ArgCount == 3 ? ", c)" : ")";
    formulas.push_back({name, name + "(x, y" + third, name + "(c, d" + thirdC, false, 0, row.ArgCount});
  }
  formulas.push_back({"^", "x^y", "c^d", true, 0});
  formulas.push_back({"^", "x^3", "c^3", false, 3});
  formulas.push_back({"^", "x^-0.5", "c^-0.5", false, -0.5});
  return formulas;
}

// The bits every tier must give: the vocabulary's callback, or Power() with
// the library's pow.
double Expected(const MathParser& parser, const Formula& formula, double x, double y) {
  if (formula.Arguments > 1) {
    const double arguments[] = {x, y, x};
    const auto* definition = parser.Registry().Functions.Find(formula.Name);
    return reinterpret_cast<MathUtils::ListCallback>(definition->Callback)(
        std::span<const double>(arguments, static_cast<std::size_t>(formula.Arguments)));
  }
  if (formula.Name != "^") return CallbackOf(parser, formula.Name)(x);
  const auto raise = MathUtils::detail::PowerFunctionOf(parser.GetMathLibrary());
  return MathUtils::Power(x, formula.ExponentY ? y : formula.Exponent, raise);
}

struct Points {
  std::vector<double> X, Y;
  explicit Points(std::size_t count, std::uint64_t seed) {
    MathInputs inputs(seed);
    for (std::size_t i = 0; i < count; ++i) {
      X.push_back(inputs.Next());
      Y.push_back(inputs.Next());
    }
  }
};

std::vector<double> ExpectedAt(const MathParser& parser, const Formula& formula, const Points& points) {
  std::vector<double> expected;
  for (std::size_t i = 0; i < points.X.size(); ++i)
    expected.push_back(Expected(parser, formula, points.X[i], points.Y[i]));
  return expected;
}

// "sin" alone is not optimisable: the compiler leaves its calls in place.
bool Folds(const Probe& parser, const Formula& formula) {
  return formula.Name == "^" || parser.Registry().Functions.Find(formula.Name)->Optimizable;
}

// One compilation per point: folded, then the first evaluation, the cells
// and the program over variables.
void CheckScalarTiers(MathLibrary library, const Formula& formula, const Points& points) {
  MathParser folding(library), running(library);
  double x = 0, y = 0;
  running.AddVariable("x", &x);
  running.AddVariable("y", &y);
  running.SetMachineCode(false);
  const std::vector<double> expected = ExpectedAt(folding, formula, points);
  std::vector<double> folded, first, cells, program;
  for (std::size_t i = 0; i < points.X.size(); ++i) {
    folding.AddConstant("c", points.X[i]);
    folding.AddConstant("d", points.Y[i]);
    folded.push_back(Eval(folding, formula.OfC));
    EXPECT_EQ(folding.Constant(), Folds(folding, formula)) << formula.OfC;
    x = points.X[i];
    y = points.Y[i];
    first.push_back(Eval(running, formula.OfX));
    cells.push_back(running.RunCells());
    program.push_back(running.Evaluate());
  }
  ExpectSameBits(expected, folded, formula.OfC + " folded");
  ExpectSameBits(expected, first, formula.OfX + " first evaluation");
  ExpectSameBits(expected, cells, formula.OfX + " cells");
  ExpectSameBits(expected, program, formula.OfX + " program");
}

void CheckOnePointMachineCode(MathLibrary library, const Formula& formula, const Points& points) {
  if (!MathUtils::detail::MachineCode::Supported()) return;
  MathParser parser(library);
  double x = 0, y = 0;
  parser.AddVariable("x", &x);
  parser.AddVariable("y", &y);
  parser.SetMachineCode(true);
  parser.SetMachineCodeAfter(0);
  Eval(parser, formula.OfX);
  parser.Evaluate();
  ASSERT_GT(parser.MachineCodeSize(), 0u) << formula.OfX;
  std::vector<double> results;
  for (std::size_t i = 0; i < points.X.size(); ++i) {
    x = points.X[i];
    y = points.Y[i];
    results.push_back(parser.Evaluate());
  }
  ExpectSameBits(ExpectedAt(parser, formula, points), results, formula.OfX + " machine code");
}

// Twice over the points: the first run reaches the machine code over
// arrays part of the way, the second runs it throughout.
void CheckArrayTiers(MathLibrary library, const Formula& formula, const Points& points) {
  for (const Tier& tier : Tiers) {
    MathParser parser(library);
    double x = 0, y = 0;
    parser.AddVariable("x", &x);
    parser.AddVariable("y", &y);
    parser.SetMachineCode(tier.MachineCode);
    parser.SetArrayLanes(tier.Lanes);
    parser.AssignFormula(formula.OfX);
    const VariableArray arrays[] = {{&x, points.X.data()}, {&y, points.Y.data()}};
    std::vector<double> results(points.X.size());
    parser.EvaluateArrays(arrays, results);
    parser.EvaluateArrays(arrays, results);
    if (tier.MachineCode && MathUtils::detail::MachineCode::Supported()) {
      EXPECT_EQ(parser.ArrayCodeLanes(), std::min(tier.Lanes, MathUtils::detail::MachineCode::WidestLanes()))
          << formula.OfX;
    }
    ExpectSameBits(ExpectedAt(parser, formula, points), results, formula.OfX + " " + tier.Name);
  }
}

// In every floating-point mode of the caller (parser_test_support.h): the
// tiers agree with the scalar function called in that mode, where the
// arithmetic around a call (the degrees' factor, say) rounds as the
// caller's mode says.
class EveryTier : public ::testing::TestWithParam<std::tuple<MathLibrary, std::size_t>> {};

TEST_P(EveryTier, GivesTheBitsOfTheScalarFunction) {
  const auto [library, mode] = GetParam();
  if (!MathUtils::ParserBase::MathLibraryAvailable(library)) GTEST_SKIP() << "library not in this build";
  const Points few(400, 1), many(5000, 2);
  const InMode in(Modes[mode]);
  for (const Formula& formula : Formulas()) {
    SCOPED_TRACE(Modes[mode].Name);
    CheckScalarTiers(library, formula, few);
    CheckOnePointMachineCode(library, formula, few);
    CheckArrayTiers(library, formula, many);
  }
}

// "Deterministic_daz_ftz_downward"
std::string TierCaseName(const ::testing::TestParamInfo<EveryTier::ParamType>& info) {
  std::string name = std::get<0>(info.param) == MathLibrary::C ? "C_" : "Deterministic_";
  for (const char* c = Modes[std::get<1>(info.param)].Name; *c; ++c)
    name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(MathLibraryTest, EveryTier,
                         ::testing::Combine(::testing::Values(MathLibrary::C, MathLibrary::Deterministic),
                                            ::testing::Range(std::size_t{0}, std::size(Modes))),
                         TierCaseName);

#if VORNCALC_TEST_MXCSR && VORNCALC_SLEEF
// The deterministic library's own functions give the bits of the default
// mode under every mode of the caller, in which they compute. ("^" is not
// among them: a square is a product, rounded in the caller's mode.)
TEST(MathLibraryTest, TheDeterministicFunctionsComputeInOneMode) {
  if (!DeterministicAvailable()) GTEST_SKIP() << "no deterministic library in this build";
  struct Function {
    const char* Name;
    double (*Of)(double, double);
  };
  namespace Deterministic = MathUtils::detail::Deterministic;
  const Function functions[] = {
#define MATHUTILS_TEST_ROW_1(name) [](double x, double) { return Deterministic::name(x); }
#define MATHUTILS_TEST_ROW_2(name) [](double x, double y) { return Deterministic::name(x, y); }
#define MATHUTILS_TEST_ROW(name, arity, ...) {#name, MATHUTILS_TEST_ROW_##arity(name)},
      MATHUTILS_MATH_FUNCTIONS(MATHUTILS_TEST_ROW)
#undef MATHUTILS_TEST_ROW
#undef MATHUTILS_TEST_ROW_1
#undef MATHUTILS_TEST_ROW_2
  };
  const Points points(4099, 6);
  for (const Function& function : functions) {
    std::vector<double> nearest;
    for (std::size_t i = 0; i < points.X.size(); ++i)
      nearest.push_back(function.Of(points.X[i], points.Y[i]));
    for (const Mode& mode : Modes) {
      std::vector<double> values;
      {
        const InMode in(mode);
        for (std::size_t i = 0; i < points.X.size(); ++i)
          values.push_back(function.Of(points.X[i], points.Y[i]));
      }
      ExpectSameBits(nearest, values, std::string(function.Name) + " in mode " + mode.Name);
    }
  }
}
#endif

#if VORNCALC_TEST_MXCSR
// Whichever way the library is called, the caller's mode comes back and
// the caller's exception flags stay set.
TEST(MathLibraryTest, TheCallersModeAndFlagsSurviveTheDeterministicLibrary) {
  if (!DeterministicAvailable()) GTEST_SKIP() << "no deterministic library in this build";
  constexpr unsigned Controls = 0xffc0;  // all but the flags
  const int raised = FE_DIVBYZERO | FE_OVERFLOW;
  for (const Mode& mode : Modes) {
    for (const Tier& tier : Tiers) {
      const InMode in(mode);
      const unsigned expected = _mm_getcsr() & Controls;
      MathParser parser(MathLibrary::Deterministic);
      double x = 0.5, y = 1.5;
      parser.AddVariable("x", &x);
      parser.AddVariable("y", &y);
      parser.SetMachineCode(tier.MachineCode);
      parser.SetMachineCodeAfter(0);
      parser.SetArrayLanes(tier.Lanes);
      parser.AssignFormula("sinr(x) + x^y + ln(y)");
      std::vector<double> xs(3000, 0.5), ys(3000, 1.5), results(3000);
      const VariableArray arrays[] = {{&x, xs.data()}, {&y, ys.data()}};
      const std::string context = std::string(mode.Name) + " [" + tier.Name + "]";
      const auto expectKept = [&](const char* call) {
        EXPECT_EQ(_mm_getcsr() & Controls, expected) << call << ", " << context;
        EXPECT_EQ(std::fetestexcept(raised), raised) << call << ", " << context;
      };
      std::feclearexcept(FE_ALL_EXCEPT);
      std::feraiseexcept(raised);
      parser.Evaluate();
      expectKept("the first evaluation");
      parser.Evaluate();
      parser.Evaluate();
      expectKept("later evaluations");
      parser.EvaluateArrays(arrays, results);
      parser.EvaluateArrays(arrays, results);
      expectKept("over arrays");
      std::feclearexcept(FE_ALL_EXCEPT);
    }
  }
}
#endif

double Identity(double value) { return value; }

// A callback of the user's keeps the formula to one point at a time (the
// program over arrays, or the one-point machine code): its powers and
// built-ins still call the chosen library.
TEST(MathLibraryTest, AFormulaWithACallbackOfTheUsers) {
  if (!DeterministicAvailable()) GTEST_SKIP() << "no deterministic library in this build";
  const Points points(3000, 5);
  const Formula power{"^", "id(x)^y", "", true, 0}, sine{"sinr", "sinr(id(x))", "", false, 0};
  for (const Formula& formula : {power, sine})
    for (const bool machineCode : {false, true}) {
      MathParser parser(MathLibrary::Deterministic);
      double x = 0, y = 0;
      parser.AddVariable("x", &x);
      parser.AddVariable("y", &y);
      parser.AddFunction("id", Identity);
      parser.SetMachineCode(machineCode);
      parser.AssignFormula(formula.OfX);
      const VariableArray arrays[] = {{&x, points.X.data()}, {&y, points.Y.data()}};
      std::vector<double> results(points.X.size());
      parser.EvaluateArrays(arrays, results);
      parser.EvaluateArrays(arrays, results);
      ExpectSameBits(ExpectedAt(parser, formula, points), results, formula.OfX);
    }
}

// The deterministic library's sine, as its "sinr" row calls it (named by
// its table: builds without the library have no such function to link).
double DeterministicSine(double x) {
  for (const auto& row : MathUtils::detail::BuiltinUnaryFunctions(MathLibrary::Deterministic))
    if (row.Name == "sinr") return row.Function(x);
  return std::nan("");
}

// Sines where the libraries differ in the last place: the choice shows.
std::vector<double> ArgumentsWhereSinesDiffer() {
  std::vector<double> found;
  MathInputs inputs(3);
  for (int i = 0; i < 100000 && found.size() < 8; ++i) {
    const double x = inputs.Next();
    if (std::isfinite(x) && std::sin(Opaque(x)) != DeterministicSine(x)) found.push_back(x);
  }
  return found;
}

TEST(MathLibraryTest, SwitchingBackAndForth) {
  if (!DeterministicAvailable()) GTEST_SKIP() << "no deterministic library in this build";
  const std::vector<double> differing = ArgumentsWhereSinesDiffer();
  ASSERT_FALSE(differing.empty());
  MathParser parser(MathLibrary::C);
  double x = 0;
  parser.AddVariable("x", &x);
  parser.AssignFormula("sinr(x)");
  const MathLibrary sequence[] = {MathLibrary::Deterministic, MathLibrary::C, MathLibrary::Deterministic,
                                  MathLibrary::C};
  for (const MathLibrary library : sequence) {
    parser.SetMathLibrary(library);
    EXPECT_EQ(parser.GetMathLibrary(), library);
    for (const double value : differing) {
      x = value;
      const double expected = library == MathLibrary::C ? std::sin(Opaque(value)) : DeterministicSine(value);
      for (int run = 0; run < 3; ++run) EXPECT_EQ(Bits(parser.Evaluate()), Bits(expected)) << value;
    }
  }
}

TEST(MathLibraryTest, PowerFollowsTheChoiceExceptSquaresAndFirstPowers) {
  if (!DeterministicAvailable()) GTEST_SKIP() << "no deterministic library in this build";
  MathParser deterministic(MathLibrary::Deterministic);
  int differing = 0;
  MathInputs inputs(4);
  for (int i = 0; i < 20000; ++i) {
    const double base = std::fabs(inputs.Next()) + 0.5, exponent = 0.37;
    deterministic.AddConstant("b", base);
    const double value = Eval(deterministic, "b^0.37");
    EXPECT_EQ(Bits(value), Bits(MathUtils::detail::Deterministic::Pow(base, exponent))) << base;
    differing += Bits(value) != Bits(std::pow(Opaque(base), exponent));
    EXPECT_EQ(Bits(Eval(deterministic, "b^2")), Bits(base * base)) << base;
    EXPECT_EQ(Bits(Eval(deterministic, "b^1")), Bits(base)) << base;
  }
  EXPECT_GT(differing, 0);  // else the test could not tell the libraries apart
}

double Zero(double) { return 0; }

TEST(MathLibraryTest, TheUsersOwnFunctionSurvivesASwitch) {
  if (!DeterministicAvailable()) GTEST_SKIP() << "no deterministic library in this build";
  MathParser parser(MathLibrary::C);
  parser.AddFunction("sin", Zero);
  const MathUtils::UnaryCallback cosine = CallbackOf(parser, "cos");
  for (const MathLibrary library : {MathLibrary::Deterministic, MathLibrary::C, MathLibrary::Deterministic}) {
    parser.SetMathLibrary(library);
    EXPECT_EQ(CallbackOf(parser, "sin"), &Zero);
    EXPECT_EQ(Eval(parser, "sin(30)"), 0);
    EXPECT_EQ(CallbackOf(parser, "cos") == cosine, library == MathLibrary::C);
  }
  // Defined anew while the deterministic library is chosen: the user's too.
  parser.AddFunction("tan", Zero);
  parser.SetMathLibrary(MathLibrary::C);
  EXPECT_EQ(CallbackOf(parser, "tan"), &Zero);
}

// Parsers adopt the default vocabulary, a subclass another parser's:
// choosing a library for one never changes what another calls.
struct Adopting : MathUtils::ParserBase {
  explicit Adopting(const MathUtils::ParserBase& from) { AdoptFunctions(from); }
  using ParserBase::Registry;
};

TEST(MathLibraryTest, ASharedVocabularyStaysAsItIs) {
  if (!DeterministicAvailable()) GTEST_SKIP() << "no deterministic library in this build";
  MathParser before(MathLibrary::C), chooser(MathLibrary::C);
  const MathUtils::UnaryCallback cSine = CallbackOf(before, "sin");
  chooser.SetMathLibrary(MathLibrary::Deterministic);
  const MathUtils::UnaryCallback deterministicSine = CallbackOf(chooser, "sin");
  EXPECT_NE(deterministicSine, cSine);
  MathParser after(MathLibrary::C);
  EXPECT_EQ(CallbackOf(before, "sin"), cSine);
  EXPECT_EQ(CallbackOf(after, "sin"), cSine);

  // A parser that adopts the chooser's names calls its own library's.
  Adopting adopting(chooser);
  EXPECT_EQ(adopting.GetMathLibrary(), MathLibrary::C);
  EXPECT_EQ(reinterpret_cast<MathUtils::UnaryCallback>(adopting.Registry().Functions.Find("sin")->Callback),
            cSine);
  EXPECT_EQ(CallbackOf(chooser, "sin"), deterministicSine);
}

TEST(MathLibraryTest, AnUnavailableLibraryIsRefused) {
  EXPECT_TRUE(MathUtils::ParserBase::MathLibraryAvailable(MathLibrary::C));
  EXPECT_EQ(MathUtils::Parser().GetMathLibrary(), MathLibrary::C);
  MathParser parser(MathLibrary::C);
  if (DeterministicAvailable()) {
    parser.SetMathLibrary(MathLibrary::Deterministic);
    EXPECT_EQ(parser.GetMathLibrary(), MathLibrary::Deterministic);
    return;
  }
  EXPECT_EQ(ErrorText([&] { parser.SetMathLibrary(MathLibrary::Deterministic); }),
            std::string(MathUtils::Messages::MathLibraryUnavailable));
  EXPECT_EQ(parser.GetMathLibrary(), MathLibrary::C);
  EXPECT_EQ(Eval(parser, "2^3"), 8);
}

}  // namespace
}  // namespace ParserTests
