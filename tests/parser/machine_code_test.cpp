// Later evaluations as machine code: every value must be, bit for bit, what
// the cell interpreter computes (NaNs included, payload and sign), the
// variables read when the cells read them, and a callback's exception must
// reach the caller as it does from the interpreters.
#include "parser/x86/machine_code.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/parser/parser_test_support.h"

namespace ParserTests {
namespace {

double X = 0, Y = 0, Z = 0;

constexpr double Inf = std::numeric_limits<double>::infinity();
const double NaN = std::nan("");

// Whether this build makes machine code at all: with VORNCALC_JIT off every
// check below holds for the interpreters alone.
bool Generates() { return MathUtils::detail::MachineCode::Supported(); }

// A parser that turns every formula into machine code at its first later
// evaluation, whatever the environment says.
struct MachineProbe : Probe {
  MachineProbe() {
    SetMachineCode(true);
    SetMachineCodeAfter(0);
  }
};

// Callbacks of the user: they may throw, through the code's frame.
double Twice(double v) { return 2 * v; }
double Spread(std::span<const double> values) {
  double total = 0;
  for (std::size_t i = 0; i < values.size(); ++i) total = total * 3 + values[i] * static_cast<double>(i + 1);
  return total;
}
// Changes x: a value of x read before the call must stay as it was read.
double BumpX(double v) {
  X += 100;
  return v;
}

struct CallbackFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};
double ThrowAbove(double v) {
  if (v > 10) throw CallbackFailure("too large: " + std::to_string(static_cast<int>(v)));
  return v + 1;
}
double ThrowOnNegativeFirst(std::span<const double> values) {
  if (values[0] < 0) throw std::invalid_argument("negative first argument");
  return values[0] + static_cast<double>(values.size());
}

void Define(Probe& parser) {
  parser.AddVariable("x", &X);
  parser.AddVariable("y", &Y);
  parser.AddVariable("z", &Z);
  parser.AddFunction("twice", Twice, false);
  parser.AddFunction("spread", Spread, false);
  parser.AddFunction("bump", BumpX, false);
  parser.AddFunction("throwabove", ThrowAbove, false);
  parser.AddFunction("throwneg", ThrowOnNegativeFirst, false);
  parser.AddPostfixOperator("tw", Twice);
}

bool SameDouble(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::string Bits(double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  char text[64];
  std::snprintf(text, sizeof text, "%.17g (%016llx)", v, static_cast<unsigned long long>(bits));
  return text;
}

struct Point {
  double X, Y, Z;
};

// Compiles the formula, then compares its machine code with the cells at
// each point. Returns false when the machine code did not run.
::testing::AssertionResult MachineCodeAgrees(const std::string& formula, bool folding,
                                             std::span<const Point> points) {
  MachineProbe parser;
  Define(parser);
  parser.SetOptimizer(folding);
  parser.AssignFormula(formula);
  X = points[0].X, Y = points[0].Y, Z = points[0].Z;
  const double compiled = parser.Evaluate();
  for (const Point& p : points) {
    X = p.X, Y = p.Y, Z = p.Z;
    const double machine = parser.Evaluate();
    const bool ran = parser.MachineCodeSize() > 0;
    X = p.X, Y = p.Y, Z = p.Z;
    const double cells = parser.RunCells();
    if (Generates() && !parser.Constant() && !ran)
      return ::testing::AssertionFailure() << formula << ": no machine code ran";
    if (!SameDouble(machine, cells))
      return ::testing::AssertionFailure()
             << formula << " folding " << folding << " at x=" << p.X << " y=" << p.Y << " z=" << p.Z
             << ": machine code " << Bits(machine) << ", cells " << Bits(cells);
  }
  X = points[0].X, Y = points[0].Y, Z = points[0].Z;
  const double again = parser.Evaluate();
  if (formula.find("bump") == std::string::npos && !SameDouble(again, compiled))
    return ::testing::AssertionFailure()
           << formula << ": compiled " << Bits(compiled) << ", machine code " << Bits(again);
  return ::testing::AssertionSuccess();
}

const Point Points[] = {{1.5, -2.25, 3},  {-7, 0.5, -0.0}, {0.0, -0.0, 2},   {1e300, 1e-300, -3},
                        {NaN, 1, 2},      {Inf, -Inf, 0},  {-Inf, NaN, Inf}, {2, 2, 2},
                        {-1, 1, 0.00001}, {15, -15, 1e15}};

TEST(MachineCodeTest, FormulasAgreeWithTheCells) {
  const char* formulas[] = {
      "x",
      "(y + x)",
      "2 * (y + x)",
      "(2 * y + 2 * x)",
      "((1.23 * x^2) / y) - 123.123",
      "(y + x / y) * (x - y / x)",
      "x / ((x + y) + (x - y)) / y",
      "(5.5 + x) + (2 * x - 2 / 3 * y) * (x / 3 + y / 4) + (y + 7.7)",
      "1.1*x^1 + 2.2*y^2 - 3.3*x^3 + 4.4*y^15 - 5.5*x^23 + 6.6*y^55",
      "sinr(2 * x) + cosr(_pi / y)",
      "sqrt(111.111 - sinr(2 * x) + cosr(_pi / y) / 333.333)",
      "x + (cosr(y - sinr(2 / x * _pi)) - sinr(x - cosr(2 * y / _pi))) - y",
      "max(3.33, min(sqrt(1 - sinr(2 * x) + cosr(_pi / y) / 3), 1.11))",
      "x^y",
      "x^z^y",
      "-x^2",
      "abs(x) - abs(-y) + sqrt(z) + sqrt(-x)",
      "(x)m + (y)n + (z)mc",
      "x < y",
      "x <= y",
      "x > y",
      "x >= y",
      "x == y",
      "x != y",
      "x and y",
      "x or y",
      "(x < 1) + (y >= 2) * 2 + (z != z) * 4",
      "x and 0 or y and 1",
      "twice(x) + twice(y)tw",
      "spread(x, y, z, 1, 2) - spread(x)",
      "x + bump(1) + x",
      "x * (y + bump(x)) - x",
      "spread(x, bump(2), x, y)",
      "sum(x, y, z) * avg(x, 1) / min(y, z, x) ^ max(x)",
      "sign(x) + rint(y) + exp(z) + ln(x) + log2(y) + log10(z) + log(x)",
      "sin(x) + cos(y) + tan(z) + asin(x) + acos(y) + atan(z)",
      "sinh(x) * cosh(y) - tanh(z) + asinh(x) + acosh(y) + atanh(z)",
      "1 + 2 * 3 - 4 / 5 ^ 2",
      // more values pending than registers hold, with calls among them
      "x+(y+(x+(y+(x+(y+(x+(y+(x+(y+(x+(y+(x+(y+(x+(y+(twice(x)+y*sum(x,y,z))))))))))))))))) + x",
      "1-(x-(2-(y-(3-(z-(4-(x-(5-(y-(6-(z-(7-(x-(8-(y-(9-(z-(x^y)))))))))))))))))) - y",
  };
  for (const char* formula : formulas)
    for (bool folding : {true, false}) EXPECT_TRUE(MachineCodeAgrees(formula, folding, Points));
}

// Every binary operator with special operands, each side a variable, a
// number or a computed slot, so that every operand shape of the code meets
// NaN, infinities and both zeros.
TEST(MachineCodeTest, BinaryOperatorsOnSpecialOperands) {
  const char* operators[] = {"<=", ">=", "!=", "==", "<", ">", "+", "-", "*", "/", "^", " and ", " or "};
  // Powers of two among them: a division by one may become a product.
  const double specials[] = {NaN,
                             -NaN,
                             Inf,
                             -Inf,
                             0.0,
                             -0.0,
                             1,
                             -1,
                             2,
                             0.5,
                             3,
                             1e308,
                             5e-324,
                             -0.25,
                             4096,
                             2.2250738585072014e-308,
                             8.98846567431158e307};
  const char* shapes[][2] = {{"x", "y"}, {"(x+0)", "(y*1)"}, {"x", "(y*1)"}, {"(x*1)", "y"}};
  for (const char* op : operators) {
    for (const auto& shape : shapes) {
      std::vector<Point> points;
      for (double a : specials)
        for (double b : specials) points.push_back({a, b, 0});
      const std::string formula = std::string(shape[0]) + op + shape[1];
      EXPECT_TRUE(MachineCodeAgrees(formula, false, points));
    }
    for (double number : specials) {
      if (!std::isfinite(number)) continue;  // a formula cannot spell these
      char text[64];
      std::snprintf(text, sizeof text, "%.17g", number);
      std::vector<Point> points;
      for (double a : specials) points.push_back({a, 0, 0});
      std::string literal = text;
      if (number < 0 || (number == 0 && std::signbit(number))) literal = "(" + literal + ")";
      EXPECT_TRUE(MachineCodeAgrees("x" + std::string(op) + literal, false, points));
      EXPECT_TRUE(MachineCodeAgrees(literal + op + "x", false, points));
    }
  }
}

// The list functions computed in place: equal values, both zeros and NaN
// decide which argument min and max keep.
TEST(MachineCodeTest, ListFunctionsOnSpecialArguments) {
  const double specials[] = {NaN, -NaN, Inf, -Inf, 0.0, -0.0, 1, -1, 2};
  std::vector<Point> points;
  for (double a : specials)
    for (double b : specials)
      for (double c : {0.0, -0.0, NaN, 1.0}) points.push_back({a, b, c});
  // Numbers among the arguments: zeros of either sign must still pick as
  // the functions do.
  for (const char* formula :
       {"min(x,y)",         "max(x,y)",    "min(x,y,z)",   "max(z,x,y)",    "sum(x,y)",
        "sum(x,y,z)",       "avg(x,y,z)",  "min(x)",       "avg(y)",        "sum(-0)+x",
        "1+max(x,y*1,z,x)", "min(x,1.11)", "max(3.33,x)",  "min(x,0)",      "max(0,x)",
        "min(x,-0)",        "max(-0,x)",   "min(2,x,0,y)", "max(x,-1,y,1)", "max(3.33, min(sqrt(x), 1.11))"})
    for (bool folding : {true, false}) EXPECT_TRUE(MachineCodeAgrees(formula, folding, points));
}

// Random formulas from a fixed seed: every operator, built-ins, callbacks
// of the user, nesting deep enough to pass the slots kept in registers.
class FormulaMaker {
 public:
  explicit FormulaMaker(std::uint32_t seed) : Random(seed) {}

  std::string Make(int depth) {
    const unsigned pick = Next(depth <= 0 ? 3 : 12);
    switch (pick) {
      case 0: return Leaf();
      case 1: return Leaf();
      case 2: return Leaf();
      case 3: return "(" + Make(depth - 1) + BinaryOperator() + Make(depth - 1) + ")";
      case 4: return "(" + Make(depth - 1) + BinaryOperator() + Make(depth - 1) + ")";
      case 5: return "(" + Leaf() + BinaryOperator() + "(" + Make(depth - 1) + "))";
      case 6: return UnaryFunction() + "(" + Make(depth - 1) + ")";
      case 7: return ListFunction() + "(" + Arguments(depth - 1) + ")";
      case 8: return "-" + Leaf();
      case 9: return "(" + Make(depth - 1) + ")" + Postfix();
      case 10: return "bump(" + Make(depth - 1) + ")";
      default: return "(" + Make(depth - 1) + "+" + Deep(depth) + ")";
    }
  }

 private:
  unsigned Next(unsigned below) { return static_cast<unsigned>(Random() % below); }

  std::string Leaf() {
    const char* leaves[] = {"x", "y", "z", "0", "1", "2", "0.5", "3", "1e308", "x", "y"};
    return leaves[Next(std::size(leaves))];
  }
  std::string BinaryOperator() {
    const char* operators[] = {"<=", ">=", "!=", "==", "<", ">", "+", "-", "*", "/", "^", " and ", " or "};
    return operators[Next(std::size(operators))];
  }
  std::string UnaryFunction() {
    const char* functions[] = {"sin", "sqrt", "abs", "twice", "exp", "sign", "-", "atanr"};
    return functions[Next(std::size(functions))];
  }
  std::string ListFunction() {
    const char* functions[] = {"sum", "min", "max", "spread", "avg"};
    return functions[Next(std::size(functions))];
  }
  std::string Postfix() {
    const char* operators[] = {"m ", "tw ", "n "};
    return operators[Next(std::size(operators))];
  }
  std::string Arguments(int depth) {
    std::string text = Make(depth);
    for (unsigned n = Next(4); n > 0; --n) text += "," + Make(depth);
    return text;
  }
  // A right-leaning chain that keeps up to 20 values pending.
  std::string Deep(int depth) {
    std::string text;
    const unsigned length = 12 + Next(9);
    for (unsigned i = 0; i < length; ++i) text += Leaf() + BinaryOperator() + "(";
    text += Make(depth - 2);
    return text + std::string(length, ')');
  }

  std::mt19937 Random;
};

TEST(MachineCodeTest, RandomFormulasAgreeWithTheCells) {
  FormulaMaker maker(20261207);
  const Point points[] = {{1.5, -2.25, 3}, {-7, 0.5, -0.0}, {0.0, NaN, 2}, {Inf, 1e-300, -3}};
  for (int i = 0; i < 400; ++i) {
    const std::string formula = maker.Make(4);
    for (bool folding : {true, false}) EXPECT_TRUE(MachineCodeAgrees(formula, folding, points));
  }
}

TEST(MachineCodeTest, CallbackExceptionsReachTheCaller) {
  struct Case {
    const char* Formula;
    double X;
    const char* What;
  };
  const Case cases[] = {
      {"1 + throwabove(x) * 2", 20, "too large: 20"},
      {"y + throwabove(x + 1)", 12, "too large: 13"},
      {"(y + 1) * (y + 2) * (y + throwabove(x))", 11, "too large: 11"},
      {"2 * throwneg(x, y, 3)", -1, "negative first argument"},
      {"sum(1, throwneg(x), y)", -5, "negative first argument"},
  };
  for (const Case& c : cases) {
    MachineProbe parser;
    Define(parser);
    parser.AssignFormula(c.Formula);
    X = 1, Y = 2;
    const double good = parser.Evaluate();
    EXPECT_EQ(parser.Evaluate(), good);
    ASSERT_EQ(parser.MachineCodeSize() > 0, Generates()) << c.Formula;
    X = c.X;
    for (int attempt = 0; attempt < 2; ++attempt) {
      try {
        parser.Evaluate();
        ADD_FAILURE() << c.Formula << ": nothing thrown";
      } catch (const CallbackFailure& error) {
        EXPECT_STREQ(error.what(), c.What) << c.Formula;
      } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), c.What) << c.Formula;
      }
    }
    // Still the same machine code, and it still evaluates.
    EXPECT_EQ(parser.MachineCodeSize() > 0, Generates());
    X = 1;
    EXPECT_EQ(parser.Evaluate(), good) << c.Formula;
  }
}

TEST(MachineCodeTest, TheSwitchAndTheTiers) {
  Probe parser;
  parser.SetMachineCode(true);
  Define(parser);
  parser.AssignFormula("x * y + 1");
  X = 2, Y = 3;
  EXPECT_EQ(parser.Evaluate(), 7);
  EXPECT_EQ(parser.MachineCodeSize(), 0u);  // compiling makes none

  struct Eager : Probe {
    using ParserBase::SetMachineCodeAfter;
  } counted;
  counted.SetMachineCode(true);
  Define(counted);
  counted.SetMachineCodeAfter(5);
  counted.AssignFormula("x * y + 1");
  counted.Evaluate();
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(counted.Evaluate(), 7);
    EXPECT_EQ(counted.MachineCodeSize(), 0u) << "later evaluation " << i + 1;
  }
  EXPECT_EQ(counted.Evaluate(), 7);
  EXPECT_EQ(counted.MachineCodeSize() > 0, Generates());
  EXPECT_EQ(counted.MachineCodeBytes().empty(), !Generates());
  // The constants follow the instructions.
  if (Generates()) {
    EXPECT_LT(counted.MachineCodeBytes().size(), counted.MachineCodeSize());
  }

  // Off: the program goes on being interpreted.
  counted.SetMachineCode(false);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(counted.Evaluate(), 7);
  EXPECT_EQ(counted.MachineCodeSize(), 0u);
  EXPECT_TRUE(counted.Running());

  // A new formula drops the code at once.
  MachineProbe eager;
  Define(eager);
  eager.AssignFormula("x + 1");
  eager.Evaluate();
  eager.Evaluate();
  EXPECT_EQ(eager.MachineCodeSize() > 0, Generates());
  eager.AssignFormula("x + 2");
  EXPECT_EQ(eager.MachineCodeSize(), 0u);
  EXPECT_EQ(eager.Evaluate(), 4);
  EXPECT_EQ(eager.Evaluate(), 4);
  EXPECT_EQ(eager.MachineCodeSize() > 0, Generates());
  // A folded formula has nothing to run.
  eager.AssignFormula("1 + 2");
  eager.Evaluate();
  EXPECT_EQ(eager.Evaluate(), 3);
  EXPECT_EQ(eager.MachineCodeSize(), 0u);
}

// VORNCALC_MACHINE_CODE, read when the first parser is made, sets every
// parser's default: "1" makes the code at the first later evaluation, "0"
// makes none, anything else or nothing leaves it to the parser's own
// count. The suite runs with each of these (tests/parser/CMakeLists.txt).
TEST(MachineCodeEnvironment, SetsTheDefault) {
  const char* setting = std::getenv("VORNCALC_MACHINE_CODE");
  const std::string value = setting ? setting : "(unset)";
  const auto evaluationsUntilCode = [](bool switchedOn) {
    MathUtils::Parser parser;
    parser.AddVariable("x", &X);
    if (switchedOn) parser.SetMachineCode(true);
    parser.AssignFormula("x + 1");
    return EvaluationsUntilMachineCode(parser);
  };
  // Switched on by the caller, a parser makes code where this build can.
  const int switchedOn = evaluationsUntilCode(true);
  if (switchedOn == 0) GTEST_SKIP() << "this build makes no machine code";
  const int byDefault = evaluationsUntilCode(false);
  if (value == "1") {
    EXPECT_EQ(byDefault, 2);
  } else if (value == "0") {
    EXPECT_EQ(byDefault, 0);
  } else {
    EXPECT_GT(byDefault, 2) << value;
    EXPECT_EQ(byDefault, switchedOn) << value;
  }
}

// Each parser's code reads its own variables and its own slots.
TEST(MachineCodeTest, ParsersKeepTheirOwnCode) {
  double a = 1, b = 10;
  std::vector<std::unique_ptr<MachineProbe>> parsers;
  for (double* v : {&a, &b}) {
    auto parser = std::make_unique<MachineProbe>();
    parser->AddVariable("v", v);
    parser->AssignFormula("sqrt(v * v) + twice(v) + sum(v, v)");
    parser->AddFunction("twice", Twice, false);
    parser->Evaluate();
    parsers.push_back(std::move(parser));
  }
  for (int i = 0; i < 3; ++i) {
    a += 1, b += 1;
    EXPECT_EQ(parsers[0]->Evaluate(), 5 * a);
    EXPECT_EQ(parsers[1]->Evaluate(), 5 * b);
  }
  EXPECT_EQ(parsers[0]->MachineCodeSize() > 0, Generates());
  parsers[0].reset();  // frees its code; the other runs on
  EXPECT_EQ(parsers[1]->Evaluate(), 5 * b);
}

}  // namespace
}  // namespace ParserTests

namespace ParserTests {
namespace {

// The pages hold the code and its constants with less than a page to
// spare, however long the formula; a copy of the instructions outlives the
// code it was taken from.
TEST(MachineCodePagesTest, SizedToTheCode) {
  if (!Generates()) GTEST_SKIP() << "no machine code in this build";
  for (int terms : {1, 8, 60, 250}) {
    std::string formula = "x";
    for (int i = 0; i < terms; ++i)
      formula = "(" + formula + (i % 3 == 0 ? "*y+twice(x)" : i % 3 == 1 ? "-sin(z)" : "/2") + ")";
    MachineProbe parser;
    Define(parser);
    parser.AssignFormula(formula);
    parser.Evaluate();
    MathUtils::detail::Program program;
    ASSERT_TRUE(program.Derive(parser.GetBytecode())) << terms;
    const auto code = MathUtils::detail::MachineCode::Generate(program);
    ASSERT_NE(code, nullptr) << terms;
    EXPECT_GE(code->Reserved(), code->Size()) << terms;
    EXPECT_LT(code->Reserved(), code->Size() + MathUtils::detail::MachineCode::PageBytes()) << terms;
    EXPECT_LT(code->Code().size(), code->Size()) << terms;
  }
}

TEST(MachineCodePagesTest, CopiedInstructionsOutliveTheCode) {
  if (!Generates()) GTEST_SKIP() << "no machine code in this build";
  MachineProbe parser;
  Define(parser);
  parser.AssignFormula("x * y + twice(z)");
  parser.Evaluate();
  parser.Evaluate();
  const std::vector<std::uint8_t> bytes = parser.MachineCodeBytes();
  ASSERT_FALSE(bytes.empty());
  const std::size_t size = bytes.size();
  const std::uint8_t first = bytes.front(), last = bytes.back();
  // The parser frees that code and makes another.
  parser.AssignFormula("x - 1");
  parser.Evaluate();
  parser.Evaluate();
  EXPECT_GT(parser.MachineCodeSize(), 0u);
  ASSERT_EQ(bytes.size(), size);
  EXPECT_EQ(bytes.front(), first);
  EXPECT_EQ(bytes.back(), last);
  EXPECT_EQ(last, 0xc3);  // ends in ret
}

}  // namespace
}  // namespace ParserTests
