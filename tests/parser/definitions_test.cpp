// Definitions: name checks, callback checks, redefinition and the default
// vocabulary's registries.
#include <functional>

#include "parser_test_support.h"

namespace {

using namespace MathUtils;
using ParserTests::CompileError;
using ParserTests::ErrorText;
using ParserTests::Eval;
using ParserTests::Probe;

double Twice(double x) { return 2 * x; }
double Negate(double x) { return -x; }
double First(std::span<const double> args) { return args.front(); }

constexpr const char* CharsText =
    "Variable names may only contain the following charakters: a-z, A-Z, 0-9, _";

TEST(Definitions, RefusedDefinitionsWithTheirTexts) {
  double variable = 0;
  struct Case {
    const char* what;
    std::function<void(Parser&)> define;
    const char* text;
  };
  const Case cases[] = {
      {"constant, empty name", [](Parser& p) { p.AddConstant("", 1); }, "Identifier has zero length."},
      {"constant, digit first", [](Parser& p) { p.AddConstant("1a", 1); },
       "Name identifiers may not start with numbers."},
      {"constant, full stop", [](Parser& p) { p.AddConstant("a.b", 1); }, CharsText},
      {"constant, blank", [](Parser& p) { p.AddConstant("a b", 1); }, CharsText},
      {"constant, operator char", [](Parser& p) { p.AddConstant("a?", 1); }, CharsText},
      {"function, minus", [](Parser& p) { p.AddFunction("f-g", Twice); }, CharsText},
      {"function, null before bad name",
       [](Parser& p) { p.AddFunction("1 bad", UnaryCallback{nullptr}); }, "User defined function is null!"},
      {"list function, null", [](Parser& p) { p.AddFunction("f", ListCallback{nullptr}); },
       "User defined function is null!"},
      {"postfix, null before empty name", [](Parser& p) { p.AddPostfixOperator("", nullptr); },
       "User defined operator callback function is null!"},
      {"prefix, null", [](Parser& p) { p.AddPrefixOperator("~", nullptr); },
       "User defined operator callback function is null!"},
      {"postfix, digit", [](Parser& p) { p.AddPostfixOperator("m2", Twice); }, CharsText},
      {"postfix, digit only", [](Parser& p) { p.AddPostfixOperator("2", Twice); }, CharsText},
      {"prefix, empty", [](Parser& p) { p.AddPrefixOperator("", Negate); }, "Identifier has zero length."},
      {"prefix, bracket", [](Parser& p) { p.AddPrefixOperator("(", Negate); }, CharsText},
      {"variable, digit first", [&](Parser& p) { p.AddVariable("9v", &variable); },
       "Name identifiers may not start with numbers."},
      {"variable, operator char", [&](Parser& p) { p.AddVariable("v!", &variable); }, CharsText},
  };
  for (const Case& c : cases) {
    Parser parser;
    parser.AssignFormula("1+1");
    EXPECT_EQ(ErrorText([&] { c.define(parser); }), c.text) << c.what;
    EXPECT_EQ(parser.Evaluate(), 2) << c.what << ": parser unusable afterwards";
  }
}

TEST(Definitions, ErrorCarriesTheCurrentFormula) {
  Parser parser;
  try {
    parser.AddConstant("", 1);
  } catch (const ParserException& error) {
    EXPECT_EQ(error.GetFormula(), "");
  }
  parser.AssignFormula("2+2");
  try {
    parser.AddConstant("", 1);
  } catch (const ParserException& error) {
    EXPECT_EQ(error.GetFormula(), "2+2");
  }
}

TEST(Definitions, NullVariableAddressIsRefusedAndNothingDefined) {
  Parser parser;
  EXPECT_THROW(parser.AddVariable("v", nullptr), ParserException);
  EXPECT_EQ(CompileError(parser, "v"), "Unknown token found: v <- here");
}

TEST(Definitions, RefusedNameLeavesRegistryUnchanged) {
  Probe parser;
  const std::size_t constants = parser.Constants.Size();
  EXPECT_THROW(parser.AddConstant("k k", 1), ParserException);
  EXPECT_EQ(parser.Constants.Size(), constants);
  EXPECT_EQ(parser.Constants.Find("k k"), nullptr);
}

TEST(Definitions, AcceptedOperatorNames) {
  Parser parser;
  parser.AddPostfixOperator("m?", Twice);
  parser.AddPostfixOperator("ft", Twice);
  parser.AddPostfixOperator("'", Twice);
  EXPECT_EQ(Eval(parser, "3m?"), 6);
  EXPECT_EQ(Eval(parser, "3ft"), 6);
  EXPECT_EQ(Eval(parser, "3' +1"), 7);
  // The postfix run takes the plus sign too, and "'+" is not an operator.
  EXPECT_EQ(CompileError(parser, "3'+1"), "Unknown token found: 3' <- here");
  // Accepted, but the reader takes only symbol runs as prefix operators.
  parser.AddPrefixOperator("neg", Negate);
  EXPECT_EQ(CompileError(parser, "neg 5"), "Unknown token found: neg <- here");
}

TEST(Definitions, RedefinitionReplacesTheWholeEntry) {
  Parser parser;
  parser.AddConstant("k", 1);
  parser.AddConstant("k", 2);
  EXPECT_EQ(Eval(parser, "k"), 2);
  EXPECT_EQ(CompileError(parser, "sin(1,2)"), "Too many function parameter: sin(1,2) <- here");
  parser.AddFunction("sin", First);  // now any number of arguments
  EXPECT_EQ(Eval(parser, "sin(7,2)"), 7);
  parser.AddFunction("sin", Twice);
  EXPECT_EQ(Eval(parser, "sin(4)"), 8);
  EXPECT_EQ(parser.Listing(), "1 VALUE 8\nEND");  // optimizable by default now
}

TEST(Definitions, SameNameInSeveralRegistries) {
  Parser parser;
  parser.AddConstant("sin", 5);  // functions are tried first
  EXPECT_EQ(CompileError(parser, "sin"), "Unexpected end of formula:  sin");
  parser.AddConstant("q", 5);  // constants are tried before postfix operators
  parser.AddPostfixOperator("q", Twice);
  EXPECT_EQ(Eval(parser, "q"), 5);
  EXPECT_EQ(CompileError(parser, "2q"), "No value expected: 2q <- here");
}

TEST(Definitions, ChangesAfterEvaluationTakePart) {
  Parser parser;
  EXPECT_EQ(CompileError(parser, "k*2"), "Unknown token found: k <- here");
  parser.AddConstant("k", 1);
  EXPECT_EQ(parser.Evaluate(), 2);
  parser.AddConstant("k", 5);
  EXPECT_EQ(parser.Evaluate(), 10);
  parser.AssignFormula("3 twice");
  EXPECT_THROW(parser.Evaluate(), ParserException);
  parser.AddPostfixOperator("twice", Twice);
  EXPECT_EQ(parser.Evaluate(), 6);
  parser.AssignFormula("~4");
  EXPECT_THROW(parser.Evaluate(), ParserException);
  parser.AddPrefixOperator("~", Negate);
  EXPECT_EQ(parser.Evaluate(), -4);
  double v = 3;
  parser.AssignFormula("v+1");
  EXPECT_THROW(parser.Evaluate(), ParserException);
  parser.AddVariable("v", &v);
  EXPECT_EQ(parser.Evaluate(), 4);
}

TEST(Definitions, EmptyFormulaIsAcceptedUntilEvaluated) {
  Parser parser;
  EXPECT_NO_THROW(parser.AssignFormula(""));
  EXPECT_EQ(ErrorText([&] { parser.Evaluate(); }), "Formula string is empty.");
}

TEST(Definitions, DefaultVocabularySizes) {
  Probe parser;
  EXPECT_EQ(parser.Functions.Size(), 37u);
  EXPECT_EQ(parser.Constants.Size(), 2u);
  EXPECT_EQ(parser.PostfixOps.Size(), 3u);
  EXPECT_EQ(parser.PrefixOps.Size(), 1u);
  int variadic = 0;
  parser.Functions.ForEach([&](std::string_view, const FunctionDef& def) { variadic += def.ArgCount == -1; });
  EXPECT_EQ(variadic, 4);
}

TEST(Definitions, BaseParserStartsEmptyAndCompiles) {
  ParserBase base;
  base.AssignFormula("1+2*3");
  EXPECT_EQ(base.Evaluate(), 7);
  base.AssignFormula("_pi");
  EXPECT_EQ(ErrorText([&] { base.Evaluate(); }), "Unknown token found: _pi <- here");
}

}  // namespace
