// The default vocabulary: every function, constant and operator, with the
// edge values of the degree conversions, rounding and the list functions;
// and the math functions beyond it.
#include "parser/builtins.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "parser_test_support.h"

namespace {

using namespace MathUtils;
using ParserTests::Eval;
using ParserTests::ListingOf;
using ParserTests::Probe;

constexpr double K = 0.017453292519943295;
constexpr double R = 57.29577951308232;

using ParserTests::Opaque;

// The default vocabulary with the math functions beyond it.
struct BuiltinsTest : ::testing::Test {
  BuiltinsTest() { Subject.AddMathFunctions(); }
  Parser Subject;
};

// The unit factors multiply: 9m, 5n and 3mc differ from a division.
TEST_F(BuiltinsTest, ExactValues) {
  const std::pair<const char*, double> cases[] = {
      {"sin(30)", 0.49999999999999994},
      {"tan(45)", 0.9999999999999999},
      {"asin(1)", 90},
      {"acos(-1)", 180},
      {"atan(1)", 45},
      {"sinr(0)", 0},
      {"asinr(0)", 0},
      {"atanr(0)", 0},
      {"cosh(0)", 1},
      {"coshr(0)", 1},
      {"sinh(180)", std::sinh(Opaque(3.141592653589793))},
      {"atanh(57.29577951308232)", HUGE_VAL},
      {"atanhr(1)", HUGE_VAL},
      {"atanhr(-1)", -HUGE_VAL},
      {"log(100)", 2},
      {"log10(100)", 2},
      {"log(1000)", 3},
      {"log2(8)", 3},
      {"ln(1)", 0},
      {"ln(0)", -HUGE_VAL},
      {"exp(0)", 1},
      {"sqrt(16)", 4},
      {"abs(-2.5)", 2.5},
      {"sign(0)", 0},
      {"sign(-0)", 0},
      {"sign(-0.5)", -1},
      {"sign(7)", 1},
      {"sign(sqrt(-1))", -1},
      {"rint(2.5)", 3},
      {"rint(-2.5)", -2},
      {"rint(-2.6)", -3},
      {"rint(0.49999999999999994)", 1},
      {"sum(1,2,3)", 6},
      {"avg(1,2,3,4)", 2.5},
      {"min(3,1,2)", 1},
      {"max(3,1,2)", 3},
      {"sum(5)", 5},
      {"avg(5)", 5},
      {"min(1,-0.5,7)", -0.5},
      {"max(-3,-1,-2)", -1},
      {"min(sqrt(-1),1)", 1},
      {"max(sqrt(-1),1)", 1},
      {"_pi", 3.141592653589793},
      {"_e", 2.718281828459045},
      {"9m", 9 * 0.001},
      {"5n", 5 * 1e-6},
      {"3mc", 3 * 1e-9},
      {"-0.5", -0.5},
      {"round(2.5)", 3},
      {"round(-2.5)", -3},
      {"round(0.49999999999999994)", 0},
      {"trunc(-2.7)", -2},
      {"floor(-2.5)", -3},
      {"ceil(-2.5)", -2},
      {"r2d(_pi)", 180},
      {"d2r(180)", 3.141592653589793},
      {"atan2(1,-1)", 135},
      {"atan2(-1,0)", -90},
      {"atan2r(0,-1)", 3.141592653589793},
      {"hypot(3,4)", 5},
      {"mod(7,3)", 1},
      {"mod(-7,3)", -1},
      {"mod(7,-3)", 1},
      {"pow(2,10)", 1024},
      {"cbrt(-8)", -2},
      {"log1p(0)", 0},
      {"expm1(0)", 0},
      {"where(2,3,4)", 3},
      {"where(0,3,4)", 4},
      {"where(-0,3,4)", 4},
      {"where(1>2,3,where(1,5,6))", 5},
  };
  for (bool folding : {true, false}) {
    Subject.SetOptimizer(folding);
    for (auto [formula, value] : cases) {
      EXPECT_EQ(Eval(Subject, formula), value) << formula << " folding " << folding;
      EXPECT_EQ(Subject.Evaluate(), value) << formula << " rerun, folding " << folding;
    }
  }
}

// Each name is wired to its own mathematics: checked against the
// standard library's functions composed the same way. At 28 and 58 the
// inverse hyperbolic degree forms differ when K*K stands in for K2.
TEST_F(BuiltinsTest, EveryFunctionOfOneArgument) {
  const double k = Opaque(K), r = Opaque(R), k2 = Opaque(0.0003046174197867086);
  const auto o = Opaque;
  const std::pair<const char*, double> cases[] = {
      {"sin(40)", std::sin(o(40) * k)},
      {"cos(60)", std::cos(o(60) * k)},
      {"tan(30)", std::tan(o(30) * k)},
      {"sinr(0.5)", std::sin(o(0.5))},
      {"cosr(0.5)", std::cos(o(0.5))},
      {"tanr(0.5)", std::tan(o(0.5))},
      {"asin(0.3)", std::asin(o(0.3)) * r},
      {"acos(0.3)", std::acos(o(0.3)) * r},
      {"atan(-7)", std::atan2(o(-7), 1) * r},
      {"sinh(40)", std::sinh(o(40) * k)},
      {"cosh(40)", std::cosh(o(40) * k)},
      {"tanh(40)", std::tanh(o(40) * k)},
      {"asinh(28)", std::log(std::sqrt(o(28) * 28 * k2 + 1) + 28 * k)},
      {"acosh(58)", std::log(std::sqrt(o(58) * 58 * k2 - 1) + 58 * k)},
      {"atanh(20)", 0.5 * std::log((o(20) * k + 1) / (1 - 20 * k))},
      {"asinr(0.3)", std::asin(o(0.3))},
      {"acosr(0.3)", std::acos(o(0.3))},
      {"atanr(-7)", std::atan2(o(-7), 1)},
      {"sinhr(0.5)", std::sinh(o(0.5))},
      {"coshr(0.5)", std::cosh(o(0.5))},
      {"tanhr(0.5)", std::tanh(o(0.5))},
      {"asinhr(2)", std::log(std::sqrt(o(2) * 2 + 1) + 2)},
      {"acoshr(2)", std::log(std::sqrt(o(2) * 2 - 1) + 2)},
      {"atanhr(0.5)", 0.5 * std::log((o(0.5) + 1) / (1 - 0.5))},
      {"log2(10)", std::log(o(10)) / std::log(o(2))},
      {"log10(5)", std::log10(o(5))},
      {"log(5)", std::log10(o(5))},
      {"ln(5)", std::log(o(5))},
      {"exp(1.5)", std::exp(o(1.5))},
      {"sqrt(2)", std::sqrt(o(2))},
      {"sign(-1e-300)", -1},
      {"rint(7.4)", 7},
      {"abs(-0.25)", 0.25},
      {"cbrt(2)", std::cbrt(o(2))},
      {"log1p(1e-10)", std::log1p(o(1e-10))},
      {"expm1(1e-10)", std::expm1(o(1e-10))},
      {"atan2(2,3)", std::atan2(o(2), 3) * r},
      {"atan2r(2,3)", std::atan2(o(2), 3)},
      {"hypot(1e200,1e200)", std::hypot(o(1e200), 1e200)},
      {"mod(5.5,1.25)", std::fmod(o(5.5), 1.25)},
      {"pow(2,0.5)", std::pow(o(2), 0.5)},
      {"r2d(1)", o(1) * r},
      {"d2r(1)", o(1) * k},
  };
  for (auto [formula, value] : cases) EXPECT_EQ(Eval(Subject, formula), value) << formula;
}

TEST_F(BuiltinsTest, ValuesNearZerosAndOutsideDomains) {
  const double cos90 = Eval(Subject, "cos(90)");
  EXPECT_GT(cos90, 0);
  // glibc gives 6.123233995736766e-17 exactly; Windows' C library reduces
  // the argument with a shorter pi and lands 2e-21 away.
  EXPECT_NEAR(cos90, 6.123233995736766e-17, 1e-20);
  const double tan90 = Eval(Subject, "tan(90)");
  EXPECT_TRUE(std::isfinite(tan90));
  EXPECT_NEAR(tan90, 1.633123935319537e16, 1e3);
  for (const char* formula :
       {"acosh(30)", "sqrt(-1)", "ln(-1)", "log10(-1)", "log2(-1)", "asin(2)", "acos(-2)", "acoshr(0.5)",
        "min(1,sqrt(-1))", "max(1,sqrt(-1))", "avg(1,sqrt(-1))"})
    EXPECT_TRUE(std::isnan(Eval(Subject, formula))) << formula;
}

TEST_F(BuiltinsTest, SignedZeros) {
  const std::pair<const char*, bool> cases[] = {
      {"-0", true},         {"-(0)", true},       {"min(0,-0)", false}, {"min(-0,0)", true},
      {"max(0,-0)", false}, {"max(-0,0)", true},  {"abs(-0)", false},   {"0m", false},
      {"sum(-0)", false},   {"avg(-0,-0)", false}};  // the sum starts from +0
  for (bool folding : {true, false}) {
    Subject.SetOptimizer(folding);
    for (auto [formula, negative] : cases) {
      const double value = Eval(Subject, formula);
      EXPECT_EQ(value, 0) << formula;
      EXPECT_EQ(std::signbit(value), negative) << formula << " folding " << folding;
    }
  }
}

TEST_F(BuiltinsTest, OnlySinIsNotOptimisable) {
  Probe probe;
  probe.Registry().Functions.ForEach([&](std::string_view name, const detail::FunctionDef& def) {
    const std::string formula = std::string(name) + "(1)";
    const std::string listing = ListingOf(Subject, formula);
    if (name == "sin")
      EXPECT_EQ(listing, "1 VALUE 1\n1 FUNC 1 sin\nEND");
    else
      EXPECT_EQ(listing.rfind("1 VALUE ", 0), 0u) << formula << ":\n" << listing;
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), name == "sin" ? 2 : 1) << formula;
    EXPECT_EQ(def.Optimizable, name != "sin") << name;
  });
}

TEST_F(BuiltinsTest, ListFunctionsRefuseAnEmptyListAndLogIsLog10) {
  Probe probe;
  for (const char* name : {"sum", "avg", "min", "max"}) {
    const detail::FunctionDef* def = probe.Registry().Functions.Find(name);
    ASSERT_TRUE(def && def->ArgCount == -1) << name;
    EXPECT_PARSER_ERROR_IN(reinterpret_cast<ListCallback>(def->Callback)({}),
                           "too few arguments for function " + std::string(name) + ".", NoFormulaText);
  }
  EXPECT_EQ(probe.Registry().Functions.Find("log")->Callback,
            probe.Registry().Functions.Find("log10")->Callback);
}

// The fuzzers take the vocabulary from the tables: each row is defined as
// it reads, and no default function is defined outside them.
TEST_F(BuiltinsTest, TablesHoldEveryDefaultFunction) {
  Probe probe;
  std::size_t rows = 0;
  const auto check = [&](const auto& table, std::int32_t argCount) {
    for (const auto& row : table) {
      ++rows;
      const detail::FunctionDef* def = probe.Registry().Functions.Find(row.Name);
      ASSERT_NE(def, nullptr) << row.Name;
      EXPECT_EQ(def->Callback, reinterpret_cast<void*>(row.Function)) << row.Name;
      EXPECT_EQ(def->ArgCount, argCount) << row.Name;
      EXPECT_EQ(def->Optimizable, row.Optimizable) << row.Name;
    }
  };
  check(detail::BuiltinUnaryFunctions(), 1);
  check(detail::BuiltinListFunctions(), -1);
  EXPECT_EQ(rows, probe.Registry().Functions.Size());

  // The math functions: each row defined as it reads, nothing else.
  probe.AddMathFunctions();
  check(detail::MathUnaryFunctions(), 1);
  for (const auto& row : detail::MathFixedFunctions()) {
    ++rows;
    const detail::FunctionDef* def = probe.Registry().Functions.Find(row.Name);
    ASSERT_NE(def, nullptr) << row.Name;
    EXPECT_EQ(def->Callback, reinterpret_cast<void*>(row.Function)) << row.Name;
    EXPECT_EQ(def->ArgCount, row.ArgCount) << row.Name;
  }
  EXPECT_EQ(rows, probe.Registry().Functions.Size());
}

}  // namespace

namespace {

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Machine code calls a Library row's C function, scaled, in place of the
// callback: both must give the same bits everywhere, NaNs included.
TEST(BuiltinTableTest, LibraryFormsComputeWhatTheirCallbacksCompute) {
  const double nan = std::nan("");
  const double points[] = {0.0, -0.0, 0.5,    -0.75, 1,      -1,       2.5,       30,  45,  90,
                           180, -270, 1e-310, 1e10,  -1e300, HUGE_VAL, -HUGE_VAL, nan, -nan};
  for (const MathUtils::MathLibrary library :
       {MathUtils::MathLibrary::C, MathUtils::MathLibrary::Deterministic}) {
    if (!MathUtils::ParserBase::MathLibraryAvailable(library)) continue;
    int libraryRows = 0;
    for (const auto rows : {detail::BuiltinUnaryFunctions(library), detail::MathUnaryFunctions(library)}) {
      for (const auto& row : rows) {
        const detail::MachineForm& form = row.Machine;
        if (form.Form != detail::CallForm::Library) continue;
        ++libraryRows;
        ASSERT_NE(form.Library, nullptr) << row.Name;
        for (double x : points) {
          double value = form.Library(form.Before != 0 ? x * form.Before : x);
          if (form.After != 0) value *= form.After;
          EXPECT_TRUE(SameBits(value, row.Function(x))) << row.Name << " at " << x;
        }
      }
    }
    for (const auto& row : detail::MathFixedFunctions(library)) {
      const detail::MachineForm& form = row.Machine;
      if (form.Form != detail::CallForm::Library) continue;
      ++libraryRows;
      ASSERT_NE(form.Pair, nullptr) << row.Name;
      for (double x : points) {
        for (double y : points) {
          double value = form.Pair(x, y);
          if (form.After != 0) value *= form.After;
          const double arguments[] = {x, y};
          EXPECT_TRUE(SameBits(value, row.Function(std::span<const double>(arguments))))
              << row.Name << " at " << x << ", " << y;
        }
      }
    }
    EXPECT_GE(libraryRows, 27);
  }
}

// Every row's machine form is what MachineFormOf finds for its callback,
// the inline forms sit on the callbacks they replace, and the operators
// are defined as their rows read.
TEST(BuiltinTableTest, MachineFormsFollowTheRows) {
  const auto check = [](const auto& table) {
    for (const auto& row : table) {
      const detail::MachineForm found = detail::MachineFormOf(reinterpret_cast<const void*>(row.Function));
      EXPECT_EQ(found.Form, row.Machine.Form) << row.Name;
      EXPECT_EQ(found.Library, row.Machine.Library) << row.Name;
      EXPECT_EQ(found.Pair, row.Machine.Pair) << row.Name;
      EXPECT_NE(found.Form, detail::CallForm::Callback) << row.Name;
    }
  };
  check(detail::BuiltinUnaryFunctions());
  check(detail::BuiltinUnaryFunctions(MathUtils::MathLibrary::Deterministic));
  check(detail::BuiltinListFunctions());
  check(detail::BuiltinOperators());
  for (const auto library : {MathUtils::MathLibrary::C, MathUtils::MathLibrary::Deterministic}) {
    check(detail::MathUnaryFunctions(library));
    check(detail::MathFixedFunctions(library));
  }

  const auto formOf = [](const char* name) {
    Probe probe;
    return detail::MachineFormOf(probe.Registry().Functions.Find(name)->Callback).Form;
  };
  EXPECT_EQ(formOf("sqrt"), detail::CallForm::Sqrt);
  EXPECT_EQ(formOf("abs"), detail::CallForm::Abs);
  EXPECT_EQ(formOf("min"), detail::CallForm::Min);
  EXPECT_EQ(formOf("avg"), detail::CallForm::Avg);
  EXPECT_EQ(formOf("asinh"), detail::CallForm::Builtin);
  EXPECT_EQ(formOf("atan"), detail::CallForm::Library);
  Probe math;
  math.AddMathFunctions();
  EXPECT_EQ(detail::MachineFormOf(math.Registry().Functions.Find("where")->Callback).Form,
            detail::CallForm::Where);
  EXPECT_EQ(detail::MachineFormOf(reinterpret_cast<const void*>(+[](double v) { return v; })).Form,
            detail::CallForm::Callback);

  Probe probe;
  for (const auto& row : detail::BuiltinOperators()) {
    const auto& registry =
        row.Is == detail::BuiltinOperator::Prefix ? probe.Registry().PrefixOps : probe.Registry().PostfixOps;
    const detail::OperatorDef* defined = registry.Find(row.Name);
    ASSERT_NE(defined, nullptr) << row.Name;
    EXPECT_EQ(defined->Callback, reinterpret_cast<void*>(row.Function)) << row.Name;
    EXPECT_FALSE(defined->WithContext) << row.Name;
  }
}

}  // namespace
