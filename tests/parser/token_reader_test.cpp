// The token reader: tokens, syntax flag transitions, markers of reader
// errors and the number format.
#include <algorithm>
#include <clocale>
#include <cmath>
#include <limits>

#include "parser_test_support.h"

namespace {

using namespace MathUtils;
using ParserTests::CompileError;
using ParserTests::Eval;

// A callback that makes x a function of the parser compiling it.
MathUtils::ParserBase* ParserToRedefine = nullptr;
double One(double) { return 1; }
double DefineXAsFunction(double value) {
  ParserToRedefine->AddFunction("x", One);
  return value;
}

struct ReaderTest : ::testing::Test {
  ReaderTest() { Subject.AddVariable("x", &X); }

  Token ScanFrom(const std::string& formula, SyntaxFlags& flags, int pos = 0) {
    Subject.AssignFormula(formula);
    Subject.SetPosition(pos);
    return Subject.ScanToken(flags);
  }

  double X = 3;
  ParserTests::Probe Subject;
};

TEST_F(ReaderTest, EachKindOfTokenAndTheFlagsAfterIt) {
  const struct {
    const char* Formula;
    SyntaxFlags Before;
    CmdCode Code;
    SyntaxFlags After;
    int Pos;
  } cases[] = {
      {"(", 0, cdOpenBracket, 722, 1},
      {")", 0, cdCloseBracket, 301, 1},
      {",", 0, cdComma, 722, 1},
      {"<=1", 0, cdLessEq, 722, 2},
      {">=", 0, cdGreaterEq, 722, 2},
      {"!=", 0, cdNotEqual, 722, 2},
      {"==", 0, cdEqual, 722, 2},
      {"<5", 0, cdLess, 722, 1},
      {">", 0, cdGreater, 722, 1},
      {"+", 0, cdAdd, 722, 1},
      {"-", 0, cdSub, 722, 1},
      {"*", 0, cdMul, 722, 1},
      {"/", 0, cdDiv, 722, 1},
      {"^", 0, cdPow, 722, 1},
      {"and", 0, cdAnd, 722, 3},
      {"or", 0, cdOr, 722, 2},
      {"origin", 0, cdOr, 722, 2},
      {"andy", 0, cdAnd, 722, 3},
      {"  12.5e1 ", 0, cdValue, 301, 8},
      {"_pi", 0, cdValue, 301, 3},
      {"sin(", 0, cdFunction, 766, 3},
      {"x+", 0, cdVariable, 429, 1},
      {"-", NoOperator, cdPrefixOp, 450, 1},
      {"m", 0, cdPostfixOp, 173, 1},
      {"mc", 0, cdPostfixOp, 173, 2},
      {"   ", 0, cdEnd, 0, 3},
      {"", 0x1FF, cdEnd, 0, 0},
  };
  for (const auto& c : cases) {
    SyntaxFlags flags = c.Before;
    const Token token = ScanFrom(c.Formula, flags);
    EXPECT_EQ(token.Code, c.Code) << c.Formula;
    EXPECT_EQ(flags, c.After) << c.Formula;
    EXPECT_EQ(Subject.Position(), c.Pos) << c.Formula;
  }
}

// Each flag forbids its kind; reading starts after the '#'.
TEST_F(ReaderTest, EachFlagForbidsItsKindWithItsMarker) {
  const struct {
    const char* Formula;
    SyntaxFlags Flags;
    const char* Text;
  } cases[] = {
      {"#(", NoOpenBracket, "No \"(\" expected: # <- here"},
      {"#)", NoCloseBracket, "No \")\" expected:  # <- here"},
      {"#5", NoValue, "No value expected: #5 <- here"},
      {"#_e", NoValue, "No value expected: #_e <- here"},
      {"#x", NoVariable, "No variable expected: #x <- here"},
      {"#,", NoComma, "No \",\" expected: # <- here"},
      {"#sin", NoFunction, "No function expected:  #sin <- here"},
      {"#*", NoOperator, "Unexpected operator:  # <- here"},
      {"#m", NoPostfixOp, "No unary operator expected: #m <- here"},
      {"#-", NoOperator | NoPrefixOp, "No unary operator expected: #- <- here"},
      {"#", NoEnd, "Unexpected end of formula:  #"},
  };
  for (const auto& c : cases) {
    SyntaxFlags flags = c.Flags;
    EXPECT_PARSER_ERROR(ScanFrom(c.Formula, flags, 1), c.Text) << c.Formula;
  }
}

// ... and no other flag forbids it: read with every other flag set, each
// kind is taken.
TEST_F(ReaderTest, NoOtherFlagForbidsAKind) {
  const SyntaxFlags everyFlag[] = {NoOpenBracket, NoCloseBracket, NoValue,     NoVariable, NoComma,
                                   NoFunction,    NoOperator,     NoPostfixOp, NoPrefixOp, NoEnd};
  const struct {
    const char* Formula;
    SyntaxFlags Own;
    CmdCode Code;
  } cases[] = {
      {"(", NoOpenBracket, cdOpenBracket},
      {")", NoCloseBracket, cdCloseBracket},
      {"5", NoValue, cdValue},
      {"_e", NoValue, cdValue},
      {"x", NoVariable, cdVariable},
      {",", NoComma, cdComma},
      {"sin", NoFunction, cdFunction},
      {"*", NoOperator, cdMul},
      {"m", NoPostfixOp, cdPostfixOp},
      {"-", NoPrefixOp, cdPrefixOp},
      {"", NoEnd, cdEnd},
  };
  for (const auto& c : cases) {
    SyntaxFlags flags = 0;
    for (SyntaxFlags flag : everyFlag)
      if (flag != c.Own) flags |= flag;
    Subject.AssignFormula(c.Formula);
    EXPECT_EQ(Subject.ScanToken(flags).Code, c.Code) << c.Formula;
  }
}

TEST_F(ReaderTest, FormulaErrorsWithTheirMarkers) {
  const std::pair<const char*, const char*> cases[] = {
      {"5 6", "No value expected: 5 6 <- here"},
      {"5+*3", "Unexpected operator:  5+ <- here"},
      {"5+", "Unexpected end of formula:  5+"},
      {"5#3", "Unknown token found: 5# <- here"},
      {"s in(30)", "Unknown token found: s <- here"},
      {"+5", "Unexpected operator:  +5"},
      {"2*--3", "Unexpected operator:  2* <- here"},
      {"--3", "Unexpected operator:  --3"},
      {"- -3", "No unary operator expected: - - <- here"},
      {"2-+3", "Unexpected operator:  2- <- here"},
      {"5m+3", "Unknown token found: 5m <- here"},
      {"5mm", "Unknown token found: 5mm <- here"},
      {"5m m", "No unary operator expected: 5m m <- here"},
      {"sin 30", "No value expected: sin 30 <- here"},
      {"sin30", "Unknown token found: sin30 <- here"},
      {"SIN(30)", "Unknown token found: SIN <- here"},
      {"sin()", "No \")\" expected:  sin( <- here"},
      {"sin", "Unexpected end of formula:  sin"},
      {"3(", "No \"(\" expected: 3 <- here"},
      {"(1)(2)", "No \"(\" expected: (1) <- here"},
      {")", "No \")\" expected:  )"},
      {"(,1)", "No \",\" expected: ( <- here"},
      {"1.5.3", "No value expected: 1.5.3 <- here"},
      {"2_pi", "No value expected: 2_pi <- here"},
      {"2sin(30)", "No function expected:  2sin <- here"},
      {"origin", "Unexpected operator:  origin"},
      {"2=3", "Unknown token found: 2= <- here"},
      {"5+a.b_c", "Unknown token found: 5+a.b_c <- here"},
      {"2x", "No variable expected: 2x <- here"},
      {"x m", "No unary operator expected: x m <- here"},
      {"x(", "No \"(\" expected: x <- here"},
  };
  for (auto [formula, text] : cases) {
    EXPECT_EQ(CompileError(Subject, formula), text) << formula;
    EXPECT_EQ(Eval(Subject, "1+1"), 2) << "after " << formula;
  }
}

TEST_F(ReaderTest, AcceptsExactlyTheDecimalNumberForm) {
  const std::pair<std::string, double> values[] = {
      {"1e3", 1000},
      {".5", 0.5},
      {"5.", 5},
      {"1.e2", 100},
      {"1E+2", 100},
      {"25e-2", 0.25},
      {"007", 7},
      {"0.1", 0.1},
      {"2*\t3", 6},
      {"\r4", 4},
      {"\v4", 4},
      {"\f4", 4},
      {"2*\t 3", 6},
      {"2 * 3", 6},
      {"1e999", HUGE_VAL},
      {"1E999", HUGE_VAL},
      {"1e+999", HUGE_VAL},
      {"1E-999", 0},
      {"9007199254740993", 9007199254740992},  // 16 digits: 2^53 + 1 rounds to even
      {"5e-324", std::numeric_limits<double>::denorm_min()},
      {"17976931348623157" + std::string(292, '0'), std::numeric_limits<double>::max()},
      {"1.7976931348623158e308", std::numeric_limits<double>::max()},
      {"1.797693134862316e308", HUGE_VAL},
      {"1e-400", 0}};
  for (const auto& [formula, value] : values) EXPECT_EQ(Eval(Subject, formula), value) << formula;

  const std::pair<const char*, const char*> refused[] = {
      {"0x10", "Unknown token found: 0x10 <- here"}, {"inf", "Unknown token found: inf <- here"},
      {"nan", "Unknown token found: nan <- here"},   {"infinity", "Unknown token found: infinity <- here"},
      {"1e", "Unknown token found: 1e <- here"},     {"1e+", "Unknown token found: 1e <- here"},
      {"1.5e", "Unknown token found: 1.5e <- here"}, {".", "Unknown token found: . <- here"},
      {"e3", "Unknown token found: e3 <- here"},     {"1ex", "Unknown token found: 1ex <- here"},
      {"2e+x", "Unknown token found: 2e <- here"},
  };
  for (auto [formula, text] : refused) EXPECT_EQ(CompileError(Subject, formula), text) << formula;
}

// A text whose length is known ends at its length: a NUL or a line feed
// inside it is refused where it stands, never taken for the end, which
// would drop what follows; line ends after the whole formula end it. A C
// string still ends at its NUL.
TEST_F(ReaderTest, ANulInsideTheTextIsRefused) {
  using namespace std::string_literals;
  const std::pair<std::string, std::string> refused[] = {
      {"1+2\0+5"s, "NUL character in the formula: 1+2 <- here"},
      {"1+2\0"s, "NUL character in the formula: 1+2 <- here"},
      {"1+\0"s, "NUL character in the formula: 1+ <- here"},
      {"sin(\0)"s, "NUL character in the formula: sin( <- here"},
      {"\0"s + "1", "NUL character in the formula:"},
      {"  \0"s, "NUL character in the formula:    <- here"},
      {"1+2\n+5", "Line feed in the formula: 1+2 <- here"},
      {"2 \n*1000", "Line feed in the formula: 2  <- here"},
      {"1\n\n2", "Line feed in the formula: 1 <- here"},
      {"sum(1,\n2)", "Line feed in the formula: sum(1, <- here"},
      {"\n5", "Line feed in the formula:"},
  };
  for (const auto& [formula, text] : refused) {
    EXPECT_EQ(CompileError(Subject, formula), text) << formula.size();
    EXPECT_EQ(Eval(Subject, "1+1"), 2);
  }
  Subject.AssignFormula("1+2\0+5");  // a C string
  EXPECT_EQ(Subject.Evaluate(), 3);
  // The line feed that ends a line read from a file drops nothing.
  for (const std::string formula : {"1+2\n", "1+2 \n", "1+2\n\n", "1+2\r\n", "1+2\n \t"})
    EXPECT_EQ(Eval(Subject, formula), 3) << formula.size();
  EXPECT_EQ(CompileError(Subject, "1+\n"), "Unexpected end of formula:  1+\n");
  EXPECT_EQ(CompileError(Subject, "1+2\r"), "Unknown token found: 1+2\r <- here");
}

// A tab is a blank wherever a blank may stand: formulas pasted from a
// table hold them. Each formula reads as the same with spaces does.
TEST_F(ReaderTest, ATabIsABlank) {
  const char* withTabs[] = {"2\t*3", "\t-3", "3*4\t", "2*sin(30)\t+\t5m", "5m\t+3", "\t \t7\t", "sum(1,\t2)"};
  for (const std::string formula : withTabs) {
    std::string withSpaces = formula;
    std::replace(withSpaces.begin(), withSpaces.end(), '\t', ' ');
    EXPECT_EQ(Eval(Subject, formula), Eval(Subject, withSpaces)) << formula;
  }
  const std::pair<const char*, const char*> refused[] = {
      {"2*\t+3", "Unexpected operator:  2*\t <- here"},
      {"5m+\t3", "Unknown token found: 5m <- here"},
      {"sin\t30", "No value expected: sin\t30 <- here"},
  };
  for (auto [formula, text] : refused) EXPECT_EQ(CompileError(Subject, formula), text) << formula;
  EXPECT_EQ(CompileError(Subject, "\t\t"), CompileError(Subject, "  "));
}

TEST_F(ReaderTest, NumbersIgnoreTheProcessLocale) {
  struct RestoreLocale {
    std::string Saved = std::setlocale(LC_ALL, nullptr);
    ~RestoreLocale() { std::setlocale(LC_ALL, Saved.c_str()); }
  } restore;
  bool switched = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8"})
    if ((switched = std::setlocale(LC_ALL, name) != nullptr)) break;
  if (!switched) GTEST_SKIP() << "no locale with a decimal comma is installed";
  EXPECT_EQ(Eval(Subject, "1.5*2"), 3);
  EXPECT_EQ(Eval(Subject, "2.5e-1"), 0.25);
  EXPECT_EQ(CompileError(Subject, "1,5"), "Comma used without a function 1, <- here");
}

// A name is read against the definitions of the moment, even when a
// callback changes them halfway through the formula.
TEST_F(ReaderTest, ANameMetBeforeIsReadAgainWhenACallbackRedefinesIt) {
  ParserToRedefine = &Subject;
  Subject.AddFunction("redefine", DefineXAsFunction);
  EXPECT_EQ(Eval(Subject, "x + redefine(1) + x(2)"), 3 + 1 + 1);
  EXPECT_EQ(CompileError(Subject, "x"), "Unexpected end of formula:  x");
}

}  // namespace
