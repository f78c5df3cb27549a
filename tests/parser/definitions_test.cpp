// Definitions: name and callback checks, redefinition, the order in which
// the registries are tried, and the default vocabulary's registries.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "parser_test_support.h"

namespace {

using namespace MathUtils;
using ParserTests::CompileError;
using ParserTests::Eval;
using ParserTests::Marked;
using ParserTests::Probe;

double Twice(double x) { return 2 * x; }
double Negate(double x) { return -x; }
double First(std::span<const double> args) { return args.front(); }

// A callable object of the user's that tests false: it holds no function.
struct EmptyHolder {
  UnaryCallback Held = nullptr;
  double operator()(double x) const { return Held(x); }
  explicit operator bool() const { return Held != nullptr; }
};

TEST(Definitions, RefusedDefinitionsWithTheirTexts) {
  const std::string_view chars = Messages::InvalidNameCharacter;
  const std::string_view empty = Messages::EmptyName;
  const std::string_view digit = Messages::NameStartsWithDigit;
  const std::string_view nullFunction = Messages::NullFunction;
  const std::string_view nullOperator = Messages::NullOperator;
  double v = 0;
  const std::pair<std::function<void(Parser&)>, std::string_view> cases[] = {
      {[](Parser& p) { p.AddConstant("", 1); }, empty},
      {[](Parser& p) { p.AddConstant("1a", 1); }, digit},
      {[](Parser& p) { p.AddConstant("a.b", 1); }, chars},
      {[](Parser& p) { p.AddConstant("a b", 1); }, chars},
      {[](Parser& p) { p.AddConstant("a?", 1); }, chars},
      {[](Parser& p) { p.AddFunction("f-g", Twice); }, chars},
      {[](Parser& p) { p.AddFunction("1 bad", UnaryCallback{nullptr}); }, nullFunction},  // callback first
      {[](Parser& p) { p.AddFunction("f", ListCallback{nullptr}); }, nullFunction},
      {[](Parser& p) { p.AddFunction("f", nullptr, false); }, nullFunction},
      {[](Parser& p) { p.AddPostfixOperator("", nullptr); }, nullOperator},
      {[](Parser& p) { p.AddPrefixOperator("~", nullptr); }, nullOperator},
      {[](Parser& p) { p.AddPostfixOperator("m2", Twice); }, chars},
      {[](Parser& p) { p.AddPostfixOperator("2", Twice); }, chars},
      {[](Parser& p) { p.AddPrefixOperator("", Negate); }, empty},
      {[](Parser& p) { p.AddPrefixOperator("(", Negate); }, chars},
      {[&](Parser& p) { p.AddVariable("9v", &v); }, digit},
      {[&](Parser& p) { p.AddVariable("v!", &v); }, chars},
      {[](Parser& p) { p.AddVariable("v", nullptr); }, Messages::NullVariable},
      // Callable objects that hold nothing to call, in every definition form.
      {[](Parser& p) { p.AddFunction("f", std::function<double(double)>{}); }, nullFunction},
      {[](Parser& p) { p.AddFunction("f", std::function<double(std::span<const double>)>{}, false); },
       nullFunction},
      {[](Parser& p) { p.AddPostfixOperator("q", std::function<double(double)>{}); }, nullOperator},
      {[](Parser& p) { p.AddPrefixOperator("~", std::function<double(double)>{}); }, nullOperator},
      {[](Parser& p) { p.AddFunction("f", EmptyHolder{}); }, nullFunction},
  };
  for (const auto& refused : cases) {
    const auto& define = refused.first;  // named, not bound: the check's lambda captures it
    const std::string_view text = refused.second;
    Parser parser;
    parser.AssignFormula("1+1");
    EXPECT_PARSER_ERROR_IN(define(parser), text, "1+1");
    EXPECT_EQ(parser.Evaluate(), 2) << text;
  }
}

// Every digit, at the start of a name, for every definition operation: a
// name is refused for it, an operator name already for the digit's being
// no operator character; nothing is defined.
TEST(Definitions, NoNameStartsWithADigit) {
  double v = 0;
  const std::pair<std::function<void(Parser&, const std::string&)>, std::string_view> operations[] = {
      {[](Parser& p, const std::string& name) { p.AddConstant(name, 1); }, Messages::NameStartsWithDigit},
      {[&v](Parser& p, const std::string& name) { p.AddVariable(name, &v); }, Messages::NameStartsWithDigit},
      {[](Parser& p, const std::string& name) { p.AddFunction(name, Twice); }, Messages::NameStartsWithDigit},
      {[](Parser& p, const std::string& name) { p.AddFunction(name, First); }, Messages::NameStartsWithDigit},
      {[](Parser& p, const std::string& name) { p.AddPostfixOperator(name, Twice); },
       Messages::InvalidNameCharacter},
      {[](Parser& p, const std::string& name) { p.AddPrefixOperator(name, Negate); },
       Messages::InvalidNameCharacter},
  };
  for (char digit = '0'; digit <= '9'; ++digit) {
    const std::string name = std::string(1, digit) + "abc";
    for (const auto& operation : operations) {
      const auto& define = operation.first;
      const std::string_view text = operation.second;
      Parser parser;
      EXPECT_PARSER_ERROR(define(parser, name), text) << name;
      bool defined = false;
      parser.ForEachName(
          [&](Parser::NameKind, std::string_view known) { defined = defined || known == name; });
      EXPECT_FALSE(defined) << name;
    }
  }
}

// CheckName on its own, with each shared set and with a set of the
// caller's: the tests run in order, so an empty name fails before its
// characters are looked at, and those before its first digit.
TEST(Definitions, CheckNameWithAnyCharacterSet) {
  const struct {
    std::string_view Name;
    const char* Set;
    std::string_view Refusal;  // empty: accepted
  } cases[] = {
      {"x_1", IdentChars, ""},
      {"", IdentChars, Messages::EmptyName},
      {"1x", IdentChars, Messages::NameStartsWithDigit},
      {"x+", IdentChars, Messages::InvalidNameCharacter},
      {"ft?", OperatorChars, ""},
      {"m2", OperatorChars, Messages::InvalidNameCharacter},
      {"<>", SymbolChars, ""},
      {"-x", SymbolChars, Messages::InvalidNameCharacter},
      {"", SymbolChars, Messages::EmptyName},
      {"abc", "cba", ""},
      {"abd", "cba", Messages::InvalidNameCharacter},
      {"7ab", "ab7", Messages::NameStartsWithDigit},
      {"a", "", Messages::InvalidNameCharacter},
  };
  for (const auto& c : cases) {
    Parser parser;
    if (c.Refusal.empty())
      EXPECT_NO_THROW(parser.CheckName(c.Name, c.Set)) << c.Name;
    else
      EXPECT_PARSER_ERROR(parser.CheckName(c.Name, c.Set), c.Refusal) << c.Name << " in " << c.Set;
  }
}

TEST(Definitions, RefusedDefinitionWritesNothing) {
  Probe parser;
  EXPECT_PARSER_ERROR(parser.AddConstant("k k", 1), Messages::InvalidNameCharacter);
  EXPECT_EQ(parser.Registry().Constants.Size(), 2u);
  EXPECT_PARSER_ERROR(parser.AddVariable("v", nullptr), Messages::NullVariable);
  EXPECT_EQ(CompileError(parser, "v"), Marked(Messages::UnknownToken, "v"));
}

TEST(Definitions, OperatorNamesAndHowTheReaderTakesThem) {
  Parser parser;
  parser.AddPostfixOperator("m?", Twice);
  parser.AddPostfixOperator("ft", Twice);
  parser.AddPostfixOperator("'", Twice);
  parser.AddPrefixOperator("neg", Negate);  // accepted, but only symbol runs are read as prefixes
  const std::pair<const char*, double> values[] = {{"3m?", 6}, {"3ft", 6}, {"3' +1", 7}};
  for (auto [formula, value] : values) EXPECT_EQ(Eval(parser, formula), value) << formula;
  EXPECT_EQ(CompileError(parser, "3'+1"), "Unknown token found: 3' <- here");  // the run "'+" is no operator
  EXPECT_EQ(CompileError(parser, "neg 5"), "Unknown token found: neg <- here");
}

TEST(Definitions, RedefinitionAndSharedNames) {
  Parser parser;
  parser.AddConstant("k", 1);
  parser.AddConstant("k", 2);
  EXPECT_EQ(Eval(parser, "k"), 2);
  parser.AddFunction("sin", First);  // now any number of arguments
  EXPECT_EQ(Eval(parser, "sin(7,2)"), 7);
  parser.AddFunction("sin", Twice);
  EXPECT_EQ(ParserTests::ListingOf(parser, "sin(4)"), "1 VALUE 8\nEND");  // optimisable by default
  parser.AddConstant("cos", 5);                                           // functions are tried first
  EXPECT_EQ(CompileError(parser, "cos"), "Unexpected end of formula:  cos");
  parser.AddConstant("q", 5);  // constants before postfix operators
  parser.AddPostfixOperator("q", Twice);
  EXPECT_EQ(CompileError(parser, "2q"), "No value expected: 2q <- here");
}

TEST(Definitions, NewDefinitionsTakePartInTheNextEvaluation) {
  Parser parser;
  double v = 3;
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"k*2", [&] { parser.AddConstant("k", 1); }},
      {"3 twice", [&] { parser.AddPostfixOperator("twice", Twice); }},
      {"~4", [&] { parser.AddPrefixOperator("~", Negate); }},
      {"v+1", [&] { parser.AddVariable("v", &v); }},
      {"f(4)", [&] { parser.AddFunction("f", Twice); }}};
  for (const auto& [formula, define] : cases) {
    parser.AssignFormula(formula);
    EXPECT_THROW(parser.Evaluate(), ParserException) << formula;
    define();
    EXPECT_NO_THROW(parser.Evaluate()) << formula;
  }
  parser.AddConstant("k", 5);
  EXPECT_EQ(Eval(parser, "k*2"), 10);
}

TEST(Definitions, ParsersShareNoDefinitions) {
  Parser changed;
  changed.AddFunction("sin", Twice);
  changed.AddConstant("_pi", 3);
  changed.AddPostfixOperator("m", Twice);
  changed.AddPrefixOperator("-", Twice);
  EXPECT_EQ(Eval(changed, "sin(1)+_pi+1m +-1"), 9);
  for (Parser* parser : {new Parser, new Parser}) {
    EXPECT_EQ(Eval(*parser, "sin(30)+_pi+1m +-1"), 0.49999999999999994 + 3.141592653589793 + 0.001 - 1);
    delete parser;
  }
}

TEST(Definitions, DefaultVocabularyAndBareBase) {
  Probe parser;
  int variadic = 0;
  parser.Registry().Functions.ForEach(
      [&](std::string_view, const detail::FunctionDef& def) { variadic += def.ArgCount == -1; });
  EXPECT_EQ(parser.Registry().Functions.Size(), 37u);
  EXPECT_EQ(variadic, 4);
  EXPECT_EQ(parser.Registry().Constants.Size() + parser.Registry().PostfixOps.Size() +
                parser.Registry().PrefixOps.Size(),
            6u);
  ParserBase base;
  EXPECT_EQ(Eval(base, "1+2*3"), 7);
  base.AssignFormula("_pi");
  EXPECT_PARSER_ERROR(base.Evaluate(), Marked(Messages::UnknownToken, "_pi"));
}

// Far more names than the registries hold at first: on a bare parser they
// start empty, on a Parser with room reserved for the defaults and as many
// again. Each name keeps its own meaning while the registries grow.
TEST(Definitions, HundredsOfNamesOfEveryKind) {
  constexpr int Count = 300;
  double values[Count];
  Parser parser;
  ParserBase base;
  for (ParserBase* p : {static_cast<ParserBase*>(&parser), &base}) {
    for (int i = 0; i < Count; ++i) {
      const std::string n = std::to_string(i);
      values[i] = 1000 + i;
      p->AddVariable("v" + n, &values[i]);
      p->AddConstant("k" + n, i);
      p->AddFunction("f" + n, Twice);
      p->AddPostfixOperator("p" + std::string(i / 26 + 1, 'q') + char('a' + i % 26), Twice);
    }
    for (int i = 0; i < Count; ++i) {
      const std::string n = std::to_string(i);
      const std::string postfix = "p" + std::string(i / 26 + 1, 'q') + char('a' + i % 26);
      EXPECT_EQ(Eval(*p, "v" + n + "-k" + n + "*f" + n + "(1)"), 1000 - i) << n;
      EXPECT_EQ(Eval(*p, "(1)" + postfix), 2) << postfix;
    }
  }
}

// "glbvs" and "yacxa" have the same 32-bit FNV-1a hash, the registries'
// hash: only the names themselves tell them apart.
TEST(Definitions, NamesWithTheSameHashStayApart) {
  Parser parser;
  parser.AddConstant("glbvs", 1);
  EXPECT_EQ(CompileError(parser, "yacxa"), Marked(Messages::UnknownToken, "yacxa"));
  parser.AddConstant("yacxa", 2);
  parser.AddConstant("glbvs", 3);
  EXPECT_EQ(Eval(parser, "glbvs*10+yacxa"), 32);
}

// InitVocabulary defines again whatever the parser's own hooks define,
// over redefinitions of those names; other names stay.
TEST(Definitions, InitVocabularyRunsTheHooksOfTheParser) {
  struct WithConstant : ParserBase {
    void InitConstants() override { AddConstant("k", 2); }
  } withConstant;
  EXPECT_EQ(CompileError(withConstant, "k"), Marked(Messages::UnknownToken, "k"));
  withConstant.InitVocabulary();
  EXPECT_EQ(Eval(withConstant, "k*3"), 6);
  EXPECT_EQ(CompileError(withConstant, "abs(k)"), Marked(Messages::UnknownToken, "abs"));
  ParserBase base;
  base.InitVocabulary();
  EXPECT_EQ(CompileError(base, "_pi"), Marked(Messages::UnknownToken, "_pi"));

  Parser parser;
  parser.AddFunction("sin", Twice);
  parser.AddConstant("_pi", 3);
  parser.AddPostfixOperator("m", Twice);
  parser.AddPrefixOperator("-", Twice);
  parser.AddConstant("own", 4);
  parser.InitVocabulary();
  EXPECT_EQ(Eval(parser, "sin(30)+_pi+1m +-own"), 0.49999999999999994 + 3.141592653589793 + 0.001 - 4);
}

// A visitor may define names while it visits (growing the registries):
// it visits the names as they were when the visit began.
TEST(Definitions, AVisitorThatDefinesNamesVisitsTheNamesAsTheyWere) {
  ParserBase parser;
  double x = 0;
  parser.AddVariable("x", &x);
  parser.AddConstant("k", 1);
  std::vector<std::string> visited;
  int defined = 0;
  parser.ForEachName([&](ParserBase::NameKind, std::string_view name) {
    visited.emplace_back(name);
    for (int i = 0; i < 200; ++i) parser.AddConstant("c" + std::to_string(defined++), i);
    parser.AddVariable("x", &x);
  });
  std::sort(visited.begin(), visited.end());
  EXPECT_EQ(visited, (std::vector<std::string>{"k", "x"}));
  std::size_t names = 0;
  parser.ForEachName([&](ParserBase::NameKind, std::string_view) { ++names; });
  EXPECT_EQ(names, 402u);
  EXPECT_EQ(Eval(parser, "c399 + k + x"), 200);
}

}  // namespace
