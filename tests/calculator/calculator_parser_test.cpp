#include "calculator/calculator_parser.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <utility>

#include "calculator/unit_operators.h"
#include "parser/parser.h"

namespace {

using NameKind = MathUtils::ParserBase::NameKind;

// Every name the parser defines, with the bits of what it gives: a
// constant's value, an operator applied to 1.5, a function applied to 0.5
// (or its message where it refuses one argument). rnd draws: its name alone.
std::map<std::pair<NameKind, std::string>, std::string> Vocabulary(MathUtils::ParserBase& parser) {
  std::map<std::pair<NameKind, std::string>, std::string> names;
  parser.ForEachName([&names](NameKind kind, std::string_view name) { names[{kind, std::string(name)}]; });
  for (auto& [key, given] : names) {
    const auto& [kind, name] = key;
    if (name == "rnd") continue;
    const std::string formula = kind == NameKind::Constant          ? name
                                : kind == NameKind::PostfixOperator ? "(1.5)" + name
                                : kind == NameKind::PrefixOperator  ? name + "(1.5)"
                                                                    : name + "(0.5)";
    try {
      parser.AssignFormula(formula);
      given = std::to_string(std::bit_cast<std::uint64_t>(parser.Evaluate()));
    } catch (const MathUtils::ParserException& error) {
      given = error.what();
    }
  }
  return names;
}

// Each unit system that converts lengths, and some that leave them alone.
constexpr int UnitSystems[] = {2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 1, 11, -3};

TEST(CalculatorParser, HoldsTheNamesOfAParserGivenTheVocabulary) {
  for (int unitSystem : UnitSystems) {
    MathUtils::Parser defined;
    AddCalculatorVocabulary(defined, unitSystem);
    CalculatorParser adopted(unitSystem);
    const auto expected = Vocabulary(defined);
    EXPECT_GT(expected.size(), 40u);
    EXPECT_EQ(Vocabulary(adopted), expected) << "unit system " << unitSystem;
  }
}

// The names are read where every CalculatorParser of the unit system reads
// them: one that defines its own leaves the others theirs.
TEST(CalculatorParser, DefinitionsStayWithTheParserThatMadeThem) {
  const auto evaluate = [](MathUtils::ParserBase& parser, const char* formula) {
    parser.AssignFormula(formula);
    return parser.Evaluate();
  };
  CalculatorParser changed(4);
  changed.AddPostfixOperator("mm", [](double x) { return x * 2; });
  changed.AddFunction("twice", [](double x) { return x * 2; });
  changed.AddConstant("pi", 3);
  changed.AddPrefixOperator("-", [](double x) { return x; });
  EXPECT_EQ(evaluate(changed, "-(5mm) + twice(pi)"), 16);

  CalculatorParser fresh(4);
  EXPECT_EQ(evaluate(fresh, "-(5mm)"), -0.005);
  EXPECT_EQ(evaluate(fresh, "pi"), 3.141592653589793);
  EXPECT_THROW(evaluate(fresh, "twice(1)"), MathUtils::ParserException);
  MathUtils::Parser plain;
  EXPECT_THROW(evaluate(plain, "5mm?"), MathUtils::ParserException);
}

// Choosing the math library rebinds the chooser's names alone: the other
// parsers of its unit system keep the C library's.
TEST(CalculatorParser, AMathLibraryStaysWithTheParserThatChoseIt) {
  using MathUtils::MathLibrary;
  if (!MathUtils::ParserBase::MathLibraryAvailable(MathLibrary::Deterministic))
    GTEST_SKIP() << "no deterministic library in this build";
  MathUtils::Parser defined;
  AddCalculatorVocabulary(defined, 4);
  const auto withC = Vocabulary(defined);
  defined.SetMathLibrary(MathLibrary::Deterministic);
  const auto deterministic = Vocabulary(defined);
  ASSERT_NE(deterministic, withC);  // else this test could not tell them apart

  CalculatorParser before(4), chooser(4);
  chooser.SetMathLibrary(MathLibrary::Deterministic);
  CalculatorParser after(4);
  EXPECT_EQ(Vocabulary(chooser), deterministic);
  EXPECT_EQ(Vocabulary(before), withC);
  EXPECT_EQ(Vocabulary(after), withC);
}

// The first parsers of a unit system, made on two threads at once, find
// its vocabulary built once and whole.
TEST(CalculatorParser, FirstUseOnTwoThreads) {
  const char* const formula = "1in + 2mm";
  MathUtils::Parser defined;
  AddCalculatorVocabulary(defined, 7);
  defined.AssignFormula(formula);
  const double expected = defined.Evaluate();
  double values[2] = {};
  const auto work = [&values, formula](int index) {
    CalculatorParser parser(7);
    parser.AssignFormula(formula);
    values[index] = parser.Evaluate();
  };
  std::thread first(work, 0), second(work, 1);
  first.join();
  second.join();
  EXPECT_EQ(values[0], expected);
  EXPECT_EQ(values[1], expected);
}

}  // namespace
