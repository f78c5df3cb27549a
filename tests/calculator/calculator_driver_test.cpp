#include "calculator/calculator_driver.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "calculator/unit_operators.h"
#include "parser/parser.h"

namespace {

struct Case {
  int UnitSystem;
  std::string Text;
  std::string Expected;  // the printed value, or the ParserException's text
};

std::string Outcome(const Case& c) {
  try {
    return EvaluateCommandLine(c.Text, c.UnitSystem);
  } catch (const MathUtils::ParserException& error) {
    return error.what();
  }
}

void CheckCases(std::initializer_list<Case> cases) {
  for (const Case& c : cases)
    EXPECT_EQ(Outcome(c), c.Expected) << "text " << c.Text << " in unit system " << c.UnitSystem;
}

TEST(EvaluateCommandLine, PrintsLikePercentPoint10G) {
  CheckCases({
      {2, "1/3", "0.3333333333"},
      {2, "2^0.5", "1.414213562"},
      {2, "10/4", "2.5"},
      {2, "2*pi", "6.283185307"},
      {2, "9999999999", "9999999999"},
      {2, "1e10", "1e+10"},
      {2, "-12345678901", "-1.23456789e+10"},
      {2, "0.0001", "0.0001"},
      {2, "0.00009", "9e-05"},
      {2, "1e-300*1e-10", "1e-310"},
      {2, "0", "0"},
      {2, "1/0", "inf"},
      {2, "-1/0", "-inf"},
  });
}

TEST(EvaluateCommandLine, LowerCasesOnlyAsciiLetters) {
  CheckCases({
      {4, "2*PI", "6.283185307"},
      {4, "5MM", "0.005"},
      {4, "SQRT(16)+5Mm?", "5004"},
      {4, "FOO", "Unknown token found: foo <- here"},
      // Bytes above 127 reach the parser untouched, and safely.
      {4, "\xC4", "Unknown token found: \xC4 <- here"},
      {4, "1+\xFF", "Unknown token found: 1+\xFF <- here"},
  });
}

TEST(EvaluateCommandLine, ConvertsInTheGivenUnitSystem) {
  CheckCases({
      {4, "2*sin(30)+5mm", "1.005"},
      {4, "5mm?", "5000"},
      {4, "1+2mm", "1.002"},
      {4, "(1+2)mm", "0.003"},
      {4, "5mm + 1", "1.005"},
      {4, "sum(5mm,1in)", "0.0304"},
      {4, "(5mm)", "0.005"},
      {9, "6in + 1mi", "1000.5"},
      {0, "5mm + 2ft?", "7"},
      {4, "-5mm", "-0.005"},
  });
}

TEST(EvaluateCommandLine, ReportsTextsThatAreNoFormula) {
  CheckCases({{4, "", "Formula string is empty."},
              // A NUL inside the text is no end: "1+1" alone is not what was given.
              {4, std::string("1+1\0+5mm", 8), "NUL character in the formula: 1+1 <- here"}});
  EXPECT_THROW(CommandLineValue(std::string("2\0", 2), 4), MathUtils::ParserException);
  // A postfix name runs up to the next blank, so "mm+" names nothing.
  for (const char* text : {"5mm+1", "sin(30", "line",
                           "\xE4"
                           "2"})
    EXPECT_THROW(EvaluateCommandLine(text, 4), MathUtils::ParserException) << text;
}

// The library's entry points read and write no global: ActiveUnitSystem is
// the plug-in's alone.
TEST(EvaluateCommandLine, LeavesTheActiveUnitSystemAlone) {
  ActiveUnitSystem = 4;
  EXPECT_EQ(EvaluateCommandLine("5mm", 9), "0.01640419948");
  EXPECT_EQ(CommandLineValue("5mm", 2), 5);
  EXPECT_THROW(EvaluateCommandLine("x", -3), MathUtils::ParserException);
  EXPECT_EQ(ActiveUnitSystem, 4);
}

// Two documents on two threads at once: each gets its own unit system's
// values, on the first evaluation and on later ones of its own parser.
TEST(EvaluateCommandLine, TwoThreadsInTwoUnitSystems) {
  struct Document {
    int UnitSystem;
    std::string Printed;  // of "2*sin(30)+5mm"
    bool Agreed = true;
  };
  Document documents[] = {{4, "1.005"}, {2, "6"}};
  const auto work = [](Document& document) {
    for (int run = 0; run < 2000; ++run)
      document.Agreed =
          document.Agreed && EvaluateCommandLine("2*sin(30)+5mm", document.UnitSystem) == document.Printed;
    MathUtils::Parser parser;
    double x = 5;
    PrepareCommandLine(parser, "2*sin(30)+(x)mm", document.UnitSystem);
    parser.AddVariable("x", &x);
    const double first = parser.Evaluate();
    for (int run = 0; run < 5000; ++run) document.Agreed = document.Agreed && parser.Evaluate() == first;
    document.Agreed = document.Agreed && FormatValue(first, CommandLineDigits) == document.Printed;
  };
  std::thread metres(work, std::ref(documents[0])), millimetres(work, std::ref(documents[1]));
  metres.join();
  millimetres.join();
  EXPECT_TRUE(documents[0].Agreed);
  EXPECT_TRUE(documents[1].Agreed);
}

}  // namespace
