// Later evaluations run a program derived from the cells. It must give,
// bit for bit, what the cell interpreter and the compiler give.
#include <cmath>
#include <cstring>
#include <span>

#include "tests/parser/parser_test_support.h"

namespace ParserTests {
namespace {

double X = 0, Y = 0;

// A callback that changes a variable: values read before the call must
// stay as they were read.
double BumpX(double v) {
  X += 100;
  return v;
}
double First(std::span<const double> values) { return values[0] * 1000 + values.size(); }

bool SameDouble(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

class ProgramTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ProgramTest, AgreesWithTheCellsAndTheCompiler) {
  for (bool folding : {true, false}) {
    for (double point : {-2.5, 0.0, 1.0, 3.0}) {
      Probe parser;
      parser.AddVariable("x", &X);
      parser.AddVariable("y", &Y);
      parser.AddFunction("bump", BumpX, false);
      parser.AddFunction("first", First, true);
      parser.SetOptimizer(folding);
      parser.AssignFormula(GetParam());
      X = point, Y = 2 - point;
      const double compiled = parser.Evaluate();
      X = point, Y = 2 - point;
      const double program = parser.Evaluate();
      X = point, Y = 2 - point;
      const double cells = parser.RunCells();
      // The compiler reads a variable when it applies the operation, after
      // any callback inside it; only the cells and the program read it first.
      if (!std::strstr(GetParam(), "bump")) {
        EXPECT_TRUE(SameDouble(program, compiled)) << GetParam() << " at " << point << " folding " << folding;
      }
      EXPECT_TRUE(SameDouble(program, cells)) << GetParam() << " at " << point << " folding " << folding;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Formulas, ProgramTest,
                         ::testing::Values("x", "-x", "7", "(7)", "x+y", "x-y*2", "2^x", "x^2", "x^y",
                                           "(x+1)^2", "2^2^x", "x<y", "x>=1 and y!=0", "0 or x", "x == y",
                                           "sum(x,y,1)", "avg(x)", "min(x,2,y)", "first(x,y,x,y)",
                                           "max(1,2)*x", "x + bump(1)", "x * (y + bump(x))",
                                           "first(x, bump(2), x)", "sin(x)+cos(y)", "-sin(-x)", "sqrt(x)m",
                                           "(x)m + 1", "sum(1,2,3)*2^0.5", "1/x", "x/0", "(1+2)*(3+x)",
                                           "1+(1+(1+(1+(1+x))))", "rint(x*1.5)+abs(y)-sign(x)"));

}  // namespace
}  // namespace ParserTests

namespace ParserTests {
namespace {

// What later evaluations run, by listing: loads cost no instruction, a
// square needs no call, and a variable below a call is read before it.
TEST(ProgramListing, OneInstructionPerOperationLoadsOnlyWhereNeeded) {
  double v = 3;
  const struct {
    const char* Formula;
    bool Folding;
    const char* Listing;
  } cases[] = {
      {"v", true, "RESULT v"},
      {"v+1", true, "s1 = ADD v, 1\nRESULT s1"},
      {"1-v*2", true, "s2 = MUL v, 2\ns1 = SUB 1, s2\nRESULT s1"},
      {"v^2", true, "s1 = SQUARE v\nRESULT s1"},
      {"v^3", true, "s1 = POW v, 3\nRESULT s1"},
      {"sin(v)", true, "s1 = CALL sin v\nRESULT s1"},
      {"v+sin(v)", true, "s1 = LOAD v\ns2 = CALL sin v\ns1 = ADD s1, s2\nRESULT s1"},
      {"sum(v,2)", true, "s1 = LOAD v\ns2 = LOAD 2\ns1 = CALL sum s1..s2\nRESULT s1"},
      {"(v)m", true, "s1 = CALL m v\nRESULT s1"},
      {"2*3", false, "s1 = MUL 2, 3\nRESULT s1"},
      {"2*3", true, ""},  // one number: nothing to run
      {"sin(30)", true, "s1 = CALL sin 30\nRESULT s1"},
  };
  for (const auto& c : cases) {
    MathUtils::Parser parser;
    parser.AddVariable("v", &v);
    parser.SetOptimizer(c.Folding);
    EXPECT_EQ(parser.ProgramListing(), "") << "before compiling " << c.Formula;
    Eval(parser, c.Formula);
    EXPECT_EQ(parser.ProgramListing(), c.Listing) << c.Formula << " folding " << c.Folding;
    v = 4;  // the listed program is the one that runs
    EXPECT_EQ(parser.Evaluate(), Eval(parser, c.Formula)) << c.Formula;
    v = 3;
  }
}

}  // namespace
}  // namespace ParserTests
