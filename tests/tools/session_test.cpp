// The terminal calculator's session: the last answer, variables and the
// digits shown, line after line.
#include "tools/session.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>

#include "calculator/calculator_driver.h"
#include "tools/host_commands.h"

namespace {

struct Step {
  std::string Line;
  bool Evaluated;
  std::string Text;
};

void CheckSteps(Session& session, std::initializer_list<Step> steps) {
  for (const Step& step : steps) {
    const LineResult result = session.Enter(step.Line);
    EXPECT_EQ(result.Evaluated, step.Evaluated) << step.Line;
    EXPECT_EQ(result.Text, step.Text) << step.Line;
  }
}

Session NewSession(int unitSystem = 2, int digits = 10) {
  return Session(unitSystem, digits, HostCommandNames());
}

TEST(Session, KeepsTheLastAnswerAndTheVariables) {
  Session session = NewSession(4);  // metres
  CheckSteps(session, {
                          {"ans", true, "0"},  // nothing computed yet
                          {"r = 5cm", true, "0.05"},
                          {"2*PI*R", true, "0.3141592654"},
                          {"ans*2", true, "0.6283185307"},
                          {"1/0", true, "inf"},
                          {"Circle", false, "Unknown token found: circle <- here"},
                          {"ans", true, "inf"},  // a failed line leaves it
                          {"r = r + 1", true, "1.05"},
                          {"r =", false, "Formula string is empty."},
                          {"r = 5mm+1", false, "Unknown token found: 5mm <- here"},
                          {"r", true, "1.05"},  // a bad formula leaves the old value
                          {"x2 = r", true, "1.05"},
                          {"_tmp = x2 == r", true, "1"},
                          {"x2 <= r", true, "1"},
                          {"r != 1.05", true, "0"},
                      });
  EXPECT_EQ(session.Variables(), (std::map<std::string, double>{{"_tmp", 1}, {"r", 1.05}, {"x2", 1.05}}));
}

TEST(Session, RefusesNamesOfTheVocabularyAndBrokenNames) {
  Session session = NewSession();
  CheckSteps(session,
             {
                 {"sin = 1", false, "Cannot define sin: it is a function"},
                 {"RND = 1", false, "Cannot define rnd: it is a function"},
                 {"pi = 3", false, "Cannot define pi: it is a constant"},
                 {"_e = 3", false, "Cannot define _e: it is a constant"},
                 {"mm = 3", false, "Cannot define mm: it is a unit suffix or operator"},
                 {"n = 3", false, "Cannot define n: it is a unit suffix or operator"},
                 {"and = 3", false, "Cannot define and: it is an operator"},
                 {"ans = 3", false, "Cannot define ans: it is the last answer"},
                 {"units = 3", false, "Cannot define units: it is a command"},
                 {"vars = 3", false, "Cannot define vars: it is a command"},
                 {"2x = 3", false, "Cannot define 2x: Name identifiers may not start with numbers."},
                 {"a.b = 3", false,
                  "Cannot define a.b: Variable names may only contain the following charakters: a-z, "
                  "A-Z, 0-9, _"},
                 {"= 3", false, "Cannot define : Identifier has zero length."},
                 {"x = sin", false, "Unexpected end of formula:  sin"},
             });
  EXPECT_TRUE(session.Variables().empty());
  EXPECT_EQ(session.Enter("ans").Text, "0");  // no refused line computed a value
}

// Lines that name no variable give what the plug-in gives.
TEST(Session, EvaluatesOtherLinesAsTheCommandLineDoes) {
  Session session = NewSession(4);
  ASSERT_TRUE(session.Enter("x = 2").Evaluated);
  for (const char* line : {"2*sin(30)+5mm", "1/3", "5mm?", "sum(5mm,1in)", "-2^2", "1e300*1e300", "10/4"})
    EXPECT_EQ(session.Enter(line).Text, EvaluateCommandLine(line, 4)) << line;
  for (const char* line : {"5mm+1", "sin(30", "", "Circle", "y 2"}) {
    std::string message;
    try {
      EvaluateCommandLine(line, 4);
    } catch (const MathUtils::ParserException& error) {
      message = error.what();
    }
    const LineResult result = session.Enter(line);
    EXPECT_FALSE(result.Evaluated) << line;
    EXPECT_EQ(result.Text, message) << line;
  }
}

TEST(Session, SplitsDefinitionsAtALoneEqualsSign) {
  struct Case {
    std::string Line;
    std::optional<std::pair<std::string, std::string>> Split;
  };
  const Case cases[] = {
      {"r = 5cm", std::pair{"r", "5cm"}},
      {"  r=  5cm ", std::pair{"r", "5cm "}},
      {"a = b == c", std::pair{"a", "b == c"}},
      {"a == b", std::nullopt},
      {"a <= b", std::nullopt},
      {"a >= b", std::nullopt},
      {"a != b", std::nullopt},
      {"a == b = c", std::nullopt},  // a name holds no blank
      {"two words = 1", std::nullopt},
      {"2*x = 1", std::pair{"2*x", "1"}},  // refused by the name rules
      {"x =", std::pair{"x", ""}},
      {"1+1", std::nullopt},
  };
  for (const Case& c : cases) {
    const auto split = SplitDefinition(c.Line);
    ASSERT_EQ(split.has_value(), c.Split.has_value()) << c.Line;
    if (!split) continue;
    EXPECT_EQ(split->Name, c.Split->first) << c.Line;
    EXPECT_EQ(split->Formula, c.Split->second) << c.Line;
  }
}

TEST(Session, PrintsTheDigitsChosen) {
  Session session = NewSession();
  EXPECT_EQ(session.Enter("123456789012").Text, "1.23456789e+11");
  session.SetDigits(17);
  EXPECT_EQ(session.Enter("123456789012").Text, "123456789012");
  EXPECT_EQ(session.Enter("0.1").Text, "0.10000000000000001");
  EXPECT_EQ(session.Enter("1/3").Text, "0.33333333333333331");
  session.SetDigits(1);
  EXPECT_EQ(session.Enter("1/3").Text, "0.3");
  EXPECT_EQ(session.Enter("ans*3").Text, "1");  // the value, not the text shown
  session.SetDigits(17);
  EXPECT_EQ(session.Enter("ans").Text, "1");
}

TEST(Session, ReadsDigitsFromOneToSeventeen) {
  const std::pair<std::string, std::optional<int>> cases[] = {
      {"1", 1},
      {"17", 17},
      {"10", 10},
      {"0", std::nullopt},
      {"18", std::nullopt},
      {"-3", std::nullopt},
      {"", std::nullopt},
      {"5x", std::nullopt},
      {" 5", std::nullopt},
      {"99999999999", std::nullopt},
  };
  for (const auto& [text, digits] : cases) EXPECT_EQ(ParseDigits(text), digits) << text;
}

// Seventeen digits read back as the very double printed.
TEST(Session, SeventeenDigitsReadBackExactly) {
  std::mt19937_64 bits(12345);
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t pattern = bits();
    double value;
    std::memcpy(&value, &pattern, sizeof value);
    if (!std::isfinite(value)) continue;
    const std::string text = FormatValue(value, 17);
    EXPECT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
  }
}

}  // namespace
