// Formulas at the edges of size: 100,000 characters, 10,000 brackets deep,
// 10,000 arguments, numbers of 400 digits, and the evaluation stack's last
// slot. Each either evaluates, the same with folding on and off and on
// every later evaluation, or ends in a ParserException with a known text.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "parser_test_support.h"

namespace {

using MathUtils::Parser;
using ParserTests::ErrorText;

std::string Repeat(const std::string& text, std::size_t times) {
  std::string out;
  out.reserve(text.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += text;
  return out;
}

// opening * depth, then the core, then closing * depth.
std::string Nest(const std::string& opening, const std::string& core, const std::string& closing,
                 std::size_t depth) {
  return Repeat(opening, depth) + core + Repeat(closing, depth);
}

// A call of the function with the argument repeated n times.
std::string Call(const std::string& function, const std::string& argument, std::size_t n) {
  return function + "(" + Repeat(argument + ",", n - 1) + argument + ")";
}

const double Infinity = std::numeric_limits<double>::infinity();

struct Case {
  std::string Name;
  std::string Formula;
  std::optional<double> Value;  // else the error text begins with ErrorStart
  std::string ErrorStart = {};
};

Case Evaluates(std::string name, std::string formula, double value) {
  return {std::move(name), std::move(formula), value};
}
Case Fails(std::string name, std::string formula, std::string errorStart) {
  return {std::move(name), std::move(formula), std::nullopt, std::move(errorStart)};
}

class LimitsTest : public ::testing::Test {
 protected:
  LimitsTest() {
    for (Parser* parser : {&Folded, &Unfolded}) parser->AddVariable("x", &X);
    Unfolded.SetOptimizer(false);
  }

  // Both parsers, three evaluations each: the same bits every time.
  void Check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.Name + " (" + std::to_string(c.Formula.size()) + " characters)");
      for (Parser* parser : {&Folded, &Unfolded}) {
        parser->AssignFormula(c.Formula);
        for (int run = 1; run <= 3; ++run) {
          SCOPED_TRACE("evaluation " + std::to_string(run) +
                       (parser == &Folded ? ", folding" : ", no folding"));
          if (c.Value)
            EXPECT_EQ(std::bit_cast<std::uint64_t>(parser->Evaluate()),
                      std::bit_cast<std::uint64_t>(*c.Value));
          else
            EXPECT_TRUE(ErrorText([&] { parser->Evaluate(); }).starts_with(c.ErrorStart));
        }
        // The parser stays usable after the limit was met.
        parser->AssignFormula("1+2");
        EXPECT_EQ(parser->Evaluate(), 3);
      }
    }
  }

  double X = 0.5;
  Parser Folded;
  Parser Unfolded;
};

const std::string TooComplex = "Formula too complex";

TEST_F(LimitsTest, FormulasOf100000Characters) {
  const std::string unknown = Repeat("q", 100'000);
  Check({
      Evaluates("a sum of ones", "1" + Repeat("+1", 49'999), 50'000),
      Evaluates("a variable added and taken away", "x" + Repeat("-x+x", 24'999), 0.5),
      Evaluates("binary and prefix minus in turn", "1" + Repeat("--1", 33'333), 33'334),
      Evaluates("blanks before a value", Repeat(" ", 99'999) + "7", 7),
      Fails("text after a line feed", "1\n" + Repeat("q", 99'998), "Line feed in the formula: 1 <- here"),
      Evaluates("a number of 100,000 digits", Repeat("1", 100'000), Infinity),
      Evaluates("a fraction of 100,000 characters", "0." + Repeat("0", 99'997) + "1", 0),
      Evaluates("leading zeros", Repeat("0", 99'999) + "8", 8),
      Fails("an unknown name", unknown, "Unknown token found: " + unknown + " <- here"),
      Fails("an unclosed bracket", "(" + Repeat("1+", 49'999) + "1", "parse error:  missing \")\""),
      Fails("an operator at the end", Repeat("1+", 50'000), "Unexpected end of formula: "),
  });
}

TEST_F(LimitsTest, Nesting10000BracketsDeep) {
  Check({
      Evaluates("plain brackets", Nest("(", "1", ")", 10'000), 1),
      Evaluates("brackets around a variable", Nest("(", "x", ")", 10'000), 0.5),
      Evaluates("a one-argument function", Nest("abs(", "-2", ")", 10'000), 2),
      Evaluates("a variadic function", Nest("sum(", "x", ")", 10'000), 0.5),
      Evaluates("prefix operators on brackets", Nest("-(", "3", ")", 10'000), 3),
      Fails("no closing brackets", Repeat("(", 10'000) + "1", "parse error:  missing \")\""),
      Fails("nothing inside", Repeat("(", 10'000), "Unexpected end of formula: "),
      Fails("closing brackets only", "1" + Repeat(")", 10'000),
            "No opening bracket for the last closing one found:  1) <- here"),
      // Each level holds a value until its bracket closes.
      Fails("a right-leaning sum", Nest("1+(", "1", ")", 10'000), TooComplex),
  });
}

TEST_F(LimitsTest, FunctionCallWith10000Arguments) {
  // Every argument takes a slot of the evaluation stack until the call.
  Check({
      Fails("variadic", Call("sum", "1", 10'000), TooComplex),
      Fails("variadic with a variable", Call("max", "x", 10'000), TooComplex),
      Fails("one-argument", Call("abs", "1", 10'000), TooComplex),
  });
}

TEST_F(LimitsTest, EvaluationStackEndsAtSlot299) {
  Check({
      Evaluates("299 nested values", Nest("1+(", "1", ")", 298), 299),
      Fails("300 nested values", Nest("1+(", "1", ")", 299), TooComplex),
      Evaluates("299 arguments", Call("sum", "1", 299), 299),
      Fails("300 arguments", Call("sum", "1", 300), TooComplex),
      Evaluates("299 arguments, one a variable", "sum(x," + Repeat("1,", 297) + "1)", 298.5),
  });
}

TEST_F(LimitsTest, NumbersOf400Digits) {
  Check({
      Evaluates("too large", "1" + Repeat("0", 399), Infinity),
      Evaluates("all nines", Repeat("9", 400), Infinity),
      Evaluates("leading zeros", Repeat("0", 390) + "1234567890", 1234567890),
      Evaluates("within range", Repeat("0", 99) + "1" + Repeat("0", 300), 1e300),
      Evaluates("a third", "0." + Repeat("3", 398), 1.0 / 3.0),
      Evaluates("too small", "0." + Repeat("0", 397) + "1", 0),
      Evaluates("zeros", Repeat("0", 400), 0),
      Evaluates("scaled back by the exponent", "1" + Repeat("0", 399) + "e-399", 1),
      Evaluates("scaled up by the exponent", "0." + Repeat("0", 399) + "1e400", 1),
      Evaluates("rounded to the nearest double", Repeat("1", 400) + "e-399", 1.1111111111111112),
      Evaluates("a 400-digit exponent", "1e" + Repeat("9", 400), Infinity),
      Evaluates("a 400-digit negative exponent", "1e-" + Repeat("9", 400), 0),
      Evaluates("zero with a 400-digit exponent", "0e" + Repeat("9", 400), 0),
      Evaluates("too large after 310 zeros", Repeat("0", 310) + "1e309", Infinity),
      Evaluates("too small after 310 zeros", Repeat("0", 310) + "1e-400", 0),
      Evaluates("too large after a point and 400 zeros", "1." + Repeat("0", 400) + "e309", Infinity),
      Evaluates("too small after a point and 400 zeros", "1." + Repeat("0", 400) + "e-400", 0),
  });
}

// Out of range from the first decimal exponent of the leading digit at
// which a double overflows (308, from 1.8e308 on) or underflows to 0 (-324,
// up to 2.4e-324), however the number puts it there; their neighbours in
// range read as themselves.
TEST_F(LimitsTest, DecimalsAtTheEdgesOfTheRange) {
  const double largest = std::numeric_limits<double>::max();
  const double smallest = std::numeric_limits<double>::denorm_min();
  Check({
      Evaluates("overflows", "1.8e308", Infinity),
      Evaluates("overflows, integer digits", "18" + Repeat("0", 307), Infinity),
      Evaluates("overflows, leading zeros", Repeat("0", 400) + "18e307", Infinity),
      Evaluates("overflows, a fraction", "0.00018e312", Infinity),
      Evaluates("overflows, a long fraction", "0." + Repeat("0", 390) + "18e699", Infinity),
      Evaluates("the largest double", "1.7976931348623157e308", largest),
      Evaluates("the largest double, leading zeros", Repeat("0", 400) + "17976931348623157e292", largest),
      Evaluates("the largest double, a fraction", "0.00017976931348623157e312", largest),
      Evaluates("underflows", "2.4e-324", 0),
      Evaluates("underflows, leading zeros", Repeat("0", 400) + "24e-325", 0),
      Evaluates("underflows, a fraction", "0.00024e-320", 0),
      Evaluates("underflows, a long fraction", "0." + Repeat("0", 400) + "24e77", 0),
      Evaluates("the smallest double", "2.5e-324", smallest),
      Evaluates("the smallest double, leading zeros", Repeat("0", 400) + "25e-325", smallest),
      Evaluates("the smallest double, a fraction", "0.00025e-320", smallest),
      Evaluates("the smallest double, a long fraction", "0." + Repeat("0", 400) + "25e77", smallest),
  });
}

}  // namespace
