// The compiler: priorities, brackets, arguments, unary operators, its
// errors and the bound on evaluation-stack slots.
#include "parser/compilation.h"

#include <cmath>
#include <stdexcept>

#include "parser_test_support.h"

namespace {

using namespace MathUtils;
using ParserTests::CompileError;
using ParserTests::Eval;

struct CompilerTest : ::testing::Test {
  CompilerTest() { Subject.AddVariable("x", &X); }

  // The compile-time value and the bytecode's value, folded and unfolded.
  void ExpectValue(const std::string& formula, double expected) {
    for (bool folding : {true, false}) {
      Subject.SetOptimizer(folding);
      Subject.AssignFormula(formula);
      EXPECT_EQ(Subject.Evaluate(), expected) << formula << " compiled, folding " << folding;
      EXPECT_EQ(Subject.Evaluate(), expected) << formula << " rerun, folding " << folding;
    }
    Subject.SetOptimizer(true);
  }

  double X = 3;
  Parser Subject;
};

TEST_F(CompilerTest, Values) {
  const std::pair<const char*, double> cases[] = {
      {"1+2*3", 7},
      {"(1+2)*3", 9},
      {"1-2*3", -5},
      {"2*3^2", 18},
      {"2^3*2", 16},
      {"2^3^2", 64},
      {"-2^2", 4},
      {"8-2-1", 5},
      {"16/4/2", 2},
      {"7/2", 3.5},
      {"1/0", HUGE_VAL},
      {"1+2<4", 1},
      {"1+1==2", 1},
      {"2<3==1", 1},
      {"1 or 0 and 0", 0},
      {"1<=1", 1},
      {"2>=3", 0},
      {"1!=1", 0},
      {"1==1", 1},
      {"1<2", 1},
      {"1>2", 0},
      {"2 and 0", 0},
      {"2 and 3", 1},
      {"0 or 3", 1},
      {"0 or 0", 0},
      {"2^-1", 0.5},
      {"2*-3", -6},
      {"2--3", 5},
      {"-(2+3)", -5},
      {"-(1+2)^2", 9},
      {"5m +3", 5 * 0.001 + 3},
      {"2+3m", 2 + 3 * 0.001},
      {"-5m", -5 * 0.001},
      {"sum(1,2)m", 3 * 0.001},
      {"0.1+0.2", 0.1 + 0.2},
      {"_pi*2", 6.283185307179586},
      {"sum(1,sum(2,3),4)", 10},
      {"max(1,2)+min(3,4)", 5},
      {"3 + 4 * 2 / ( 1 - 5 ) ^ 2 ^ 3", 3.001953125},
      {"((((((((((7))))))))))", 7},
      {"x*x", 9},
      {"-x^2", 9},
      {"-x*2", -6},
      {"x-1-1", 1},
      {"10-x-x", 4},
      {"x/x/x", 1.0 / 3},
      {"2^x^2", 64},
      {"2*(x+1)^2", 32},
      {"(((x)))", 3},
      {"-(x)", -3},
      {"-(x)m", -3 * 0.001},
      {"(x)m", 3 * 0.001},
      {"sum(x,1,2)", 6},
      {"avg(x,5)", 4},
      {"abs(-x)", 3},
      {"max(x,sin(30),-x)", 3},
      {"sum(x,max(1,x*2),4)", 13},
      {"-sum(1,x)^2", 16},
      {"sqrt(x*x+16)", 5},
      {"x>2 and x<4", 1},
      {"x<2 or x>4", 0},
      {"-sin(30)", -0.49999999999999994},
      {"x<=3", 1},
      {"x>=3", 1},
      {"x<3", 0},
      {"x>3", 0},
      {"x==3", 1},
      {"x!=3", 0},
  };
  for (auto [formula, value] : cases) ExpectValue(formula, value);
}

// Each comparison binds less tightly than "+" and "-" and more tightly
// than "and" and "or": every formula here has another value if the
// comparison's priority were equal to, above or below the other operator's.
TEST_F(CompilerTest, ComparisonsBetweenArithmeticAndLogic) {
  const char* const comparisons[] = {"<=", ">=", "!=", "==", "<", ">"};
  // The comparison stands between Left and Right; Values in the order above.
  const struct {
    const char* Left;
    const char* Right;
    double Values[6];
  } shapes[] = {
      {"0 ", " 0 + 2", {1, 0, 1, 0, 1, 0}},   {"1 + 0 ", " 2", {1, 0, 1, 0, 1, 0}},
      {"0 ", " 0 - 2", {0, 1, 1, 0, 0, 1}},   {"1 - 0 ", " 2", {1, 0, 1, 0, 1, 0}},
      {"2 ", " 1 + 1", {1, 1, 0, 1, 0, 0}},   {"0 and 0 ", " 0", {0, 0, 0, 0, 0, 0}},
      {"0 and 0 ", " 1", {0, 0, 0, 0, 0, 0}}, {"1 and 2 ", " 1", {0, 1, 1, 0, 0, 1}},
      {"0 or 2 ", " 1", {0, 1, 1, 0, 0, 1}},  {"0 ", " 0 or 1", {1, 1, 1, 1, 1, 1}},
      {"0 ", " 0 and 0", {0, 0, 0, 0, 0, 0}}, {"1 ", " 0 and 1", {0, 1, 1, 0, 0, 1}},
  };
  for (const auto& shape : shapes)
    for (int i = 0; i < 6; ++i)
      ExpectValue(std::string(shape.Left) + comparisons[i] + shape.Right, shape.Values[i]);
}

// A square is the exact product x * x, on every path; for this x glibc's
// pow(x, 2) is one unit in the last place away from it.
TEST_F(CompilerTest, SquaresAreTheExactProduct) {
  X = 9.9756079079109277e+26;
  const double square = ParserTests::Opaque(X) * ParserTests::Opaque(X);
  ExpectValue("x^2", square);
  ExpectValue("9.9756079079109277e+26^2", square);
  ExpectValue("x^(1+1)", square);
  ExpectValue("x^3", std::pow(ParserTests::Opaque(X), ParserTests::Opaque(3)));
}

TEST_F(CompilerTest, ErrorsWithTheirTexts) {
  using namespace Messages;
  using ParserTests::Marked;
  const std::string priority(PriorityOfNonOperator);
  const std::string missing(MissingClosingBracket);
  const std::pair<std::string, std::string> cases[] = {
      {"", std::string(EmptyFormula)},
      {"   ", std::string(NoFormula)},
      {"\n1", std::string(NoFormula)},
      {"(1+2", missing},
      {"((x)", missing},
      {"1+2)", Marked(NoOpeningBracket, "1+2)")},
      {"(1))+2", Marked(NoOpeningBracket, "(1))")},
      {"1,2", Marked(CommaWithoutFunction, "1,")},
      {",", Marked(CommaWithoutFunction, ",")},
      {"-,", Marked(CommaWithoutFunction, "-,")},
      {"sum(1),2", Marked(CommaWithoutFunction, "sum(1),")},
      {"sum(1,)", Marked(UnexpectedCloseBracket, "sum(1,")},
      {"(1,2)", std::string(MissingOperator)},
      {"-", priority},
      {"sin-30", priority},
      {"sin(1,2)", Marked(TooManyArguments, "sin(1,2)")},
      {"2*cos(x,2,3)+1", Marked(TooManyArguments, "2*cos(x,2,3)")},
      {"atan2(x)", Marked(TooFewArguments, "atan2(x)")},
      {"hypot(1,2,x)", Marked(TooManyArguments, "hypot(1,2,x)")},
      {"where(x,1)+2", Marked(TooFewArguments, "where(x,1)")},
  };
  Subject.AddMathFunctions();
  for (const auto& [formula, text] : cases) {
    Subject.AssignFormula(formula);
    EXPECT_PARSER_ERROR_IN(Subject.Evaluate(), text, formula);
    EXPECT_EQ(Eval(Subject, "1+x"), 4) << "after " << formula;
  }
}

// The literal texts, blanks included, as a user sees them.
TEST_F(CompilerTest, ComposedTextsKeepTheMessagesBlanks) {
  const std::pair<const char*, const char*> cases[] = {
      {"1+2)", "No opening bracket for the last closing one found:  1+2) <- here"},
      {"1,2", "Comma used without a function 1, <- here"},
      {"(1+2", "parse error:  missing \")\""},
      {"sin(1,2)", "Too many function parameter: sin(1,2) <- here"},
  };
  for (auto [formula, text] : cases) EXPECT_EQ(CompileError(Subject, formula), text) << formula;
}

TEST_F(CompilerTest, CallbacksThrowThroughUnchanged) {
  Subject.AddFunction(
      "fail", +[](double) -> double { throw std::domain_error("callback"); });
  Subject.AssignFormula("1+fail(2)");
  EXPECT_THROW(Subject.Evaluate(), std::domain_error);
  EXPECT_THROW(Subject.Evaluate(), std::domain_error);  // still compiling, not half-installed
}

// "x+(x+(...x...))" with n operands waiting at once: slots 1 to n, the
// innermost one, the core, in slot n.
std::string NestedOperands(int n, const std::string& core = "x") {
  std::string formula;
  for (int i = 1; i < n; ++i) formula += "x+(";
  return formula + core + std::string(n - 1, ')');
}

std::string ArgumentList(int n) {
  std::string formula = "sum(x";
  for (int i = 1; i < n; ++i) formula += ",x";
  return formula + ")";
}

TEST_F(CompilerTest, SlotsUpTo299AreUsable) {
  ExpectValue(NestedOperands(299), 3 * 299);
  ExpectValue(ArgumentList(299), 3 * 299);
  ExpectValue(NestedOperands(299, "abs(x)"), 3 * 299);                           // a call in slot 299
  ExpectValue(NestedOperands(299, "sum(x)"), 3 * 299);                           // a list call there
  ExpectValue("2*" + std::string(2000, '(') + "x" + std::string(2000, ')'), 6);  // brackets take no slot
  std::string negations;
  for (int i = 0; i < 500; ++i) negations += "-(";
  ExpectValue(negations + "x" + std::string(500, ')'), 3);
}

// Later evaluations of the deepest formulas run as a program, then as
// machine code, as those of a shallow one do.
TEST_F(CompilerTest, DeepestSlotsKeepTheProgramAndMachineCode) {
  Subject.SetMachineCode(true);
  Subject.AssignFormula("x+(x)");
  const bool makesCode = ParserTests::EvaluationsUntilMachineCode(Subject) > 0;
  for (const std::string& formula : {NestedOperands(299), ArgumentList(299), NestedOperands(299, "abs(x)"),
                                     NestedOperands(299, "sum(x)")}) {
    Subject.AssignFormula(formula);
    const double value = Subject.Evaluate();
    EXPECT_NE(Subject.ProgramListing(), "") << formula.substr(0, 20);
    EXPECT_EQ(ParserTests::EvaluationsUntilMachineCode(Subject) > 0, makesCode) << formula.substr(0, 20);
    EXPECT_EQ(Subject.Evaluate(), value) << formula.substr(0, 20);
  }
}

TEST_F(CompilerTest, SlotAbove299IsRefusedAndParserStaysUsable) {
  for (const std::string& formula :
       {NestedOperands(300), ArgumentList(300), NestedOperands(1000), ArgumentList(5000)}) {
    for (bool folding : {true, false}) {
      Subject.SetOptimizer(folding);
      const std::string text = CompileError(Subject, formula);
      EXPECT_TRUE(text.starts_with(Messages::TooComplex)) << text.substr(0, 80);
      EXPECT_EQ(Eval(Subject, "2*x"), 6);
      EXPECT_EQ(Subject.Evaluate(), 6);
    }
  }
}

}  // namespace

namespace {

// A compilation on its own, without a parser: a vocabulary, a text and the
// cells it writes.
TEST(CompilationPhase, CompilesAgainstAVocabularyIntoCellsOfItsOwn) {
  double x = 4;
  detail::Vocabulary names;
  names.Variables.Set("x", &x);
  detail::CellBuffer cells;
  detail::Compilation compilation(names, "1+2*x", cells, true);
  EXPECT_EQ(compilation.Run(), 9);
  const std::span<const Cell> written(cells.Data(), static_cast<std::size_t>(compilation.EndOfBytecode()));
  EXPECT_EQ(Disassemble(written, [](const void*, const void*) { return std::string("x"); }),
            "1 VALUE 1\n2 VALUE 2\n3 VAR x\n2 MUL\n1 ADD\nEND");
}

// Its errors carry the text it read, whatever the caller's parser holds.
TEST(CompilationPhase, ErrorsComposeFromTheTextRead) {
  detail::Vocabulary names;
  detail::CellBuffer cells;
  detail::Compilation compilation(names, "1+(2", cells, true);
  EXPECT_TRUE(ParserTests::ThrowsParserError(
      "Run", [&] { compilation.Run(); }, std::string(Messages::MissingClosingBracket),
      std::string_view("1+(2")));
}

// Names the reader has settled as variables are settled again by its memory
// of them, as long as no definition changed meanwhile: a callback that
// defines a constant of a variable's name while the formula compiles makes
// the later uses read the constant, as a fresh look would.
double DefineXAsConstant(void* context, double) {
  static_cast<Parser*>(context)->AddConstant("x", 100);
  return 0;
}

TEST(CompilationPhase, AVariableRedefinedByACallbackWhileCompilingIsLookedUpAgain) {
  double x = 1;
  Parser parser;
  parser.AddVariable("x", &x);
  parser.AddFunction("redefine", &DefineXAsConstant, &parser, false);
  parser.AssignFormula("x + redefine(x) + x");
  EXPECT_EQ(parser.Evaluate(), 101);  // the first x before the change, the last one after
  EXPECT_EQ(parser.Evaluate(), 200);  // compiled anew: x is the constant throughout
}

// More variables than the reader remembers: the ones it forgets are looked
// up in the vocabulary, to the same addresses.
TEST(CompilationPhase, ManyVariablesUsedTwiceEachReadTheirOwnValues) {
  double values[12];
  Parser parser;
  std::string formula;
  double expected = 0;
  for (int i = 0; i < 12; ++i) {
    values[i] = 1 << i;
    const std::string name = "v" + std::to_string(i);
    parser.AddVariable(name, &values[i]);
    formula += (i ? "+" : "") + name + "+" + name;
    expected += 2 * values[i];
  }
  parser.AssignFormula(formula);
  for (int run = 0; run < 3; ++run) EXPECT_EQ(parser.Evaluate(), expected) << "run " << run;
}

// A callback that assigns another formula while the parser compiles: the
// compilation goes on reading its own text to the end, and the next
// evaluation compiles the new one. Short texts are kept inside the string
// object, long ones outside: both kinds, and a callback that evaluates the
// new formula at once (a compilation inside the compilation).
struct Reassignment {
  const char* Formula;
  const char* Assigned;
  bool EvaluateAtOnce;
  double FirstValue;
  double NextValue;
};

struct Reassigning {
  Parser* Subject;
  const Reassignment* Row;
  double Inner = 0;
};

double AssignAnother(void* context, double value) {
  auto& reassigning = *static_cast<Reassigning*>(context);
  reassigning.Subject->AssignFormula(reassigning.Row->Assigned);
  if (reassigning.Row->EvaluateAtOnce) reassigning.Inner = reassigning.Subject->Evaluate();
  return value;
}

TEST(CompilationPhase, AFormulaAssignedWhileCompilingLeavesTheTextBeingRead) {
  const Reassignment rows[] = {
      {"r(1)+2", "5", false, 3, 5},
      {"r(1)+2", "5", true, 3, 5},
      {"r(1) + 2 + 3 + 4 + 5 + 6 + 7 + 8 + 9 + 10", "7*6 + 0*0 + 0*0 + 0*0 + 0*0 + 0*0", false, 55, 42},
      {"r(1) + 2 + 3 + 4 + 5 + 6 + 7 + 8 + 9 + 10", "7*6 + 0*0 + 0*0 + 0*0 + 0*0 + 0*0", true, 55, 42},
      {"r(1)+2", "1 + 2 + 3 + 4 + 5 + 6 + 7 + 8 + 9 + 10 + 11", true, 3, 66},
  };
  for (const Reassignment& row : rows) {
    Parser parser;
    Reassigning reassigning{&parser, &row};
    parser.AddFunction("r", &AssignAnother, &reassigning, false);
    parser.AssignFormula(row.Formula);
    EXPECT_EQ(parser.Evaluate(), row.FirstValue) << row.Formula;
    if (row.EvaluateAtOnce) {
      EXPECT_EQ(reassigning.Inner, row.NextValue) << row.Formula;
    }
    EXPECT_EQ(parser.GetFormula(), row.Assigned);
    EXPECT_EQ(parser.Evaluate(), row.NextValue) << row.Formula;
  }
}

}  // namespace

namespace {

// A subclass that compiles on demand, as the protected CompileFormula lets
// it, while the formula already runs as machine code.
struct RecompilingParser : Parser {
  using ParserBase::CompileFormula;
  RecompilingParser() { SetMachineCodeAfter(0); }
};

bool ThrowFromCallback = false;

double ThrowsOnDemand(double value) {
  if (ThrowFromCallback) throw std::runtime_error("callback failed");
  return value;
}

// A compilation that fails takes the compiled formula that was running
// with it: the next evaluation compiles again rather than run what the
// failed one left (code already freed, cells half written).
TEST(CompilationPhase, AFailedCompilationOfARunningFormulaLeavesTheNextEvaluationCompiling) {
  double x = 2;
  RecompilingParser parser;
  parser.AddVariable("x", &x);
  parser.AddFunction("t", &ThrowsOnDemand, false);
  parser.AssignFormula("t(x)*3 + x");
  for (int run = 0; run < 3; ++run) EXPECT_EQ(parser.Evaluate(), 8);
  ThrowFromCallback = true;
  EXPECT_THROW(parser.CompileFormula(), std::runtime_error);
  ThrowFromCallback = false;
  x = 5;
  EXPECT_EQ(parser.Evaluate(), 20);
  EXPECT_EQ(parser.Evaluate(), 20);
}

}  // namespace
