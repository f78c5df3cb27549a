// The terminal calculator's session: the last answer, variables and the
// digits shown, line after line.
#include "tools/session.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>

#include "calculator/calculator_driver.h"
#include "calculator/command_line_verdict.h"
#include "tools/host_commands.h"

namespace {

struct Step {
  std::string Line;
  bool Succeeded;
  std::string Text;
};

void CheckSteps(Session& session, std::initializer_list<Step> steps) {
  for (const Step& step : steps) {
    const LineResult result = session.Enter(step.Line);
    EXPECT_EQ(result.Succeeded(), step.Succeeded) << step.Line;
    EXPECT_EQ(result.Text, step.Text) << step.Line;
  }
}

std::map<std::string, double> ValuesOf(const Session& session) {
  std::map<std::string, double> values;
  for (const auto& [name, stored] : session.Variables()) values[name] = stored.Value;
  return values;
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
                          {"1/0", false, "Not a finite value: inf"},
                          {"Circle", false, "Unknown command: Circle"},
                          {"ans", true, "0.6283185307"},  // a failed line leaves it
                          {"r = r + 1", true, "1.05"},
                          {"r =", false, "Formula string is empty."},
                          {"r = 5mm+1", false, "Unknown token found: 5mm <- here"},
                          {"r", true, "1.05"},  // a bad formula leaves the old value
                          {"x2 = r", true, "1.05"},
                          {"_tmp = x2 == r", true, "1"},
                          {"(x2 <= r)", true, "1"},
                          {"(r != 1.05)", true, "0"},
                      });
  EXPECT_EQ(ValuesOf(session), (std::map<std::string, double>{{"_tmp", 1}, {"r", 1.05}, {"x2", 1.05}}));
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
                 {"x = 1/0", false, "Not a finite value: inf"},
             });
  EXPECT_TRUE(session.Variables().empty());
  EXPECT_EQ(session.Enter("ans").Text, "0");  // no refused line computed a value
}

// Lines that name no variable come to what the plug-in makes of them.
TEST(Session, EvaluatesOtherLinesAsTheCommandLineDoes) {
  Session session = NewSession(4);
  ASSERT_TRUE(session.Enter("x = 2").Succeeded());
  for (const char* line :
       {"2*sin(30)+5mm", "1/3", "5mm?", "sum(5mm,1in)", "-2^2", "10/4", "2600000.1234+1"}) {
    const CommandLineVerdict verdict = JudgeCommandLine(line, 4);
    const LineResult result = session.Enter(line);
    EXPECT_EQ(result.What, LineResult::Outcome::Value) << line;
    EXPECT_EQ(result.Text, verdict.Value) << line;
  }
  for (const char* line : {"5mm+1", "sin(30", "", "Circle", "y 2", "1e300*1e300", "E", "10<45"}) {
    const LineResult result = session.Enter(line);
    EXPECT_EQ(result.What, LineResult::Outcome::Refused) << line;
    EXPECT_EQ(result.Text, JudgeCommandLine(line, 4).Reason) << line;
  }
  const LineResult number = session.Enter(" 2600000.1234");
  EXPECT_EQ(number.What, LineResult::Outcome::PassedThrough);
  EXPECT_EQ(number.Text, " 2600000.1234");
  EXPECT_EQ(session.Enter("ans").Text, "2600000.1234");  // the number the host received
}

// A value computed from a length suffix keeps the unit system it was
// measured in: in another, using it is refused, never read in new units.
// Plain numbers, scale factors and what comes of them stay numbers.
TEST(Session, LengthsKeepTheirUnitSystem) {
  Session session = NewSession(2);  // millimetres
  CheckSteps(session, {{"x = 5in", true, "127"},
                       {"k = 3*2mi", true, "6000"},
                       {"w = x*k", true, "762000"},
                       {"5in", true, "127"}});
  session.SetUnitSystem(4);  // metres
  const std::string refused =
      "it holds a length in millimetres (mm, 2) and the document is in metres (m, 4); type units mm to use "
      "it, or compute it again";
  CheckSteps(session, {{"x", false, "Cannot use x: " + refused},
                       {"x*2 + 1m", false, "Cannot use x: " + refused},
                       {"w", false, "Cannot use w: " + refused},
                       {"ans", false, "Cannot use ans: " + refused},
                       {"y = x", false, "Cannot use x: " + refused},
                       {"k/2", true, "3000"},
                       {"x = 5in", true, "0.127"},
                       {"x*k", true, "762"}});
  EXPECT_EQ(session.Describe("x", session.Variables().at("x")), "x = 0.127, a length in metres (m, 4)");
  EXPECT_EQ(session.Describe("k", session.Variables().at("k")), "k = 6000");
  session.SetUnitSystem(2);
  CheckSteps(session, {{"w", true, "762000"},
                       {"x", false,
                        "Cannot use x: it holds a length in metres (m, 4) "
                        "and the document is in millimetres (mm, 2); type "
                        "units m to use it, or compute it again"}});
}

// vars says what a length counts: document units, or the unit that a
// reverse suffix converted the whole formula to; a value converted back in
// part is shown with its formula.
TEST(Session, DescribesWhatALengthCounts) {
  const std::pair<const char*, const char*> cases[] = {
      {"v = 5in", "v = 0.127, a length in metres (m, 4)"},
      {"x = (5in)mm?", "x = 127, a length in millimetres, converted with mm? from metres (m, 4)"},
      {"y = -2in?", "y = -78.74015748, a length in inches, converted with in? from metres (m, 4)"},
      {"u = (v)MM?", "u = 127, a length in millimetres, converted with mm? from metres (m, 4)"},
      {"z = 1 + 5in?", "z = 197.8503937, the value of 1 + 5in? in metres (m, 4)"},
      {"w = x*2", "w = 254, the value of x*2 in metres (m, 4)"},
      {"t = (x)cm?", "t = 12700, the value of (x)cm? in metres (m, 4)"},
      {"k = 2mi?", "k = 0.002"},
  };
  Session session = NewSession(4);
  for (const auto& [line, described] : cases) {
    ASSERT_TRUE(session.Enter(line).Succeeded()) << line;
    const std::string name(1, line[0]);
    EXPECT_EQ(session.Describe(name, session.Variables().at(name)), described) << line;
  }
  session.SetUnitSystem(2);
  CheckSteps(session,
             {{"x", false,
               "Cannot use x: it holds a length in millimetres, converted with mm? from metres (m, 4) "
               "and the document is in millimetres (mm, 2); type units m to use it, or compute it "
               "again"}});
}

// A value keeps the decimal places of the numbers it came from, through
// variables too; digits chosen by the user are printed as chosen.
TEST(Session, KeepsTheDecimalPlacesTyped) {
  Session session = NewSession(2);
  CheckSteps(session, {{"x = 2600000.1234", true, "2600000.1234"},
                       {"x + 1", true, "2600001.1234"},
                       {"ans + 5mm", true, "2600006.1234"},
                       {"2600000123.4 + 5mm", true, "2600000128.4"},
                       // A suffix after a variable adds its places to the variable's.
                       {"y = 2600000000.5", true, "2600000000.5"},
                       {"(y)m?", true, "2600000.0005"},
                       {"(Y)cm? + 1", true, "260000001.05"},
                       {"z = 12345678.12345", true, "12345678.12345"},
                       {"(z)mi", true, "12345678123.45"}});
  session.SetDigits(8);
  EXPECT_EQ(session.Enter("x + 1").Text, "2600001.1");
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
  EXPECT_EQ(session.Enter("123456789012*1").Text, "1.23456789e+11");
  session.SetDigits(17);
  EXPECT_EQ(session.Enter("123456789012*1").Text, "123456789012");
  EXPECT_EQ(session.Enter("0.1*1").Text, "0.10000000000000001");
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
