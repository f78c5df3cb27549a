// What the plug-in makes of a command line: a value, the line as typed, or
// a beep; the host's own syntax and plain numbers reach the host as typed.
#include "calculator/command_line_verdict.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int Metres = 4;

using Action = CommandLineVerdict::Action;

TEST(CommandLineVerdict, OfEachKindOfLine) {
  const struct {
    const char* Line;
    Action What;
    const char* Value;
  } cases[] = {
      {"2*sin(30)+5mm", Action::Replace, "1.005"},
      {"1/3", Action::Replace, "0.3333333333"},
      // Numbers as the host reads them keep every digit.
      {"2600000.1234", Action::LeaveAsTyped, ""},
      {"-5", Action::LeaveAsTyped, ""},
      {"+.5", Action::LeaveAsTyped, ""},
      {"7.", Action::LeaveAsTyped, ""},
      {"1E-3", Action::LeaveAsTyped, ""},
      {"0.30000000000000004", Action::LeaveAsTyped, ""},
      // Not numbers in that sense: evaluated, or not formulas.
      {"1e", Action::Reject, ""},
      {".", Action::Reject, ""},
      {" 2600000.1234 ", Action::LeaveAsTyped, ""},
      {"5 5", Action::Reject, ""},
      {"5mm", Action::Replace, "0.005"},
      {"--5", Action::Reject, ""},
      // Not formulas.
      {"Line", Action::Reject, ""},
      {"sin(30", Action::Reject, ""},
      {"", Action::Reject, ""},
      // A single name is an option letter or a command, even when defined.
      {"E", Action::Reject, ""},
      {"pi", Action::Reject, ""},
      {"_pi", Action::Reject, ""},
      {" e\t", Action::Reject, ""},
      {"(e)", Action::Replace, "2.718281828"},
      {"2*pi", Action::Replace, "6.283185307"},
      {"-e", Action::Replace, "-2.718281828"},
      // A comparison outside every bracket: a polar coordinate and the like.
      {"10<45", Action::Reject, ""},
      {"-10<45", Action::Reject, ""},
      {"1+2>=3", Action::Reject, ""},
      {"sin(30)==0.5", Action::Reject, ""},
      {"2 != 3", Action::Reject, ""},
      {"(10<45)", Action::Replace, "1"},
      {"(2<5)*3", Action::Replace, "3"},
      {"max(1<2,0)", Action::Replace, "1"},
      {"1<2 and 0", Action::Replace, "0"},
      // Values that are no number are errors.
      {"1/0", Action::Reject, ""},
      {"-1/0", Action::Reject, ""},
      {"sqrt(-1)", Action::Reject, ""},
      {"1e400", Action::Reject, ""},  // a number, but none that a double holds
      {"-1e400", Action::Reject, ""},
      {"0/0", Action::Reject, ""},
      {"1e+10", Action::LeaveAsTyped, ""},
      // A tab is a blank, in a formula as around a number.
      {"3*4\t", Action::Replace, "12"},
      {"2*sin(30)\t+\t5mm", Action::Replace, "1.005"},
      {"\t12.5\t", Action::LeaveAsTyped, ""},
      // Every decimal place typed is kept: ten digits would round it away.
      {"2600000.1234+1", Action::Replace, "2600001.1234"},
      {"(2600000.1234)", Action::Replace, "2600000.1234"},
      {"2600000123.4 + 5mm", Action::Replace, "2600000123.405"},  // 5 mm is 0.005 m
      {"0.1+0.2", Action::Replace, "0.3"},                        // ten digits show the place typed
      {"1/3", Action::Replace, "0.3333333333"},
      // A character outside ASCII: no formula.
      {"2\xC3\x97"
       "3",
       Action::Reject, ""},
  };
  for (const auto& c : cases) {
    CommandLineVerdict verdict = JudgeCommandLine(c.Line, Metres);
    EXPECT_EQ(verdict.What, c.What) << c.Line;
    EXPECT_EQ(verdict.Value, c.Value) << c.Line;
  }
}

// The terminal calculator says why a line is refused; the plug-in only
// beeps. A character outside ASCII is pointed at whole, however many bytes
// it takes; a byte that begins no UTF-8 sequence stands for itself.
TEST(CommandLineVerdict, SaysWhyALineIsRejected) {
  const std::pair<std::string, std::string> cases[] = {
      // A lone word is a command to the CAD program; other messages quote
      // the line as typed.
      {"Line", "Unknown command: Line"},
      {"  _Line ", "Unknown command: _Line"},
      {"-Layer", "Unknown command: -Layer"},
      {"x2", "Unknown command: x2"},
      {"Draw line", "Unknown token found: Draw <- here"},
      {"2X", "Unknown token found: 2X <- here"},
      {"5in*2", "Unknown token found: 5in <- here"},
      {"5IN*2", "Unknown token found: 5IN <- here"},
      {"2*Pi)", "No opening bracket for the last closing one found:  2*Pi) <- here"},
      {"SIN(30)+", "Unexpected end of formula:  SIN(30)+"},
      {"2\xC3\x97"
       "3",
       "Unknown token found: 2\xC3\x97 <- here"},                                 // 2×3
      {"5\xC2\xB5m", "Unknown token found: 5\xC2\xB5 <- here"},                   // 5µm
      {"2*\xCF\x80", "Unknown token found: 2*\xCF\x80 <- here"},                  // 2*π
      {"X \xF0\x9D\x9C\x8B", "Unknown token found: X \xF0\x9D\x9C\x8B <- here"},  // a letter of four bytes
      {"2\xD7"
       "3",
       "Unknown token found: 2\xD7 <- here"},  // Latin-1's ×
      {"2\xC3"
       "3",
       "Unknown token found: 2\xC3 <- here"},  // a sequence cut short
      {"sin(30", "parse error:  missing \")\""},
      {"2\n3", "A line break or NUL ends the formula before the line ends: 2 <- here"},
      {"Pi\n3", "A line break or NUL ends the formula before the line ends: Pi <- here"},
      {std::string("1+1\0+5", 6), "A line break or NUL ends the formula before the line ends: 1+1 <- here"},
      {"1/0", "Not a finite value: inf"},
      {"0/0", "Not a finite value: nan"},
      {"1e400", "Out of the range of a double: 1e400"},
      {" E ",
       "A name alone reaches the CAD program as typed, as an option or a command: E; write (E) for "
       "its value"},
      {"10<45",
       "A comparison outside brackets reaches the CAD program as typed, as a polar coordinate: "
       "10<45; write (10<45) for its value"},
  };
  for (const auto& [line, reason] : cases) {
    const CommandLineVerdict verdict = JudgeCommandLine(line, Metres);
    EXPECT_EQ(verdict.What, Action::Reject) << line;
    EXPECT_EQ(verdict.Reason, reason) << line;
  }
}

// A caller's variables: a name alone is a value when it is one of them;
// the verdict lists those used and says whether a length suffix converted.
TEST(CommandLineVerdict, OfLinesWithTheCallersVariables) {
  double x = 127, ans = 2;
  const CommandLineVariable variables[] = {{"x", &x}, {"ans", &ans}};
  const CommandLineVerdict alone = JudgeCommandLine(" X ", Metres, variables);
  EXPECT_EQ(alone.What, Action::Replace);
  EXPECT_EQ(alone.Value, "127");
  EXPECT_EQ(alone.VariablesUsed, std::vector<std::string>{"x"});
  EXPECT_FALSE(alone.ReadsUnitSystem);

  const CommandLineVerdict both = JudgeCommandLine("x*ans + x + 5mm", Metres, variables);
  EXPECT_EQ(both.Value, "381.005");
  EXPECT_EQ(both.Number, 381.005);
  EXPECT_EQ(both.VariablesUsed, (std::vector<std::string>{"x", "ans"}));
  EXPECT_TRUE(both.ReadsUnitSystem);
  for (const char* scaleOnly : {"5mi", "2n?", "(3)mc", "1+2"})
    EXPECT_FALSE(JudgeCommandLine(scaleOnly, Metres).ReadsUnitSystem) << scaleOnly;
  for (const char* length : {"5in?", "sum(1,2ft)", "(3)m"})
    EXPECT_TRUE(JudgeCommandLine(length, Metres).ReadsUnitSystem) << length;
  // What a reverse suffix converts back: the whole line, or a part.
  const struct {
    const char* Line;
    bool ConvertsBack;
    const char* Whole;
  } back[] = {
      {"(5in)mm?", true, "mm?"},  {"-2IN?", true, "in?"}, {"1 + 5in?", true, ""}, {"(1 + 5in?)", true, ""},
      {"sum(1, 2ft?)", true, ""}, {"(2ft?)*1", true, ""}, {"5mm", false, ""},     {"2n?", false, ""},
  };
  for (const auto& c : back) {
    const CommandLineVerdict verdict = JudgeCommandLine(c.Line, Metres);
    EXPECT_EQ(verdict.ConvertsBack, c.ConvertsBack) << c.Line;
    EXPECT_EQ(verdict.WholeConvertedBack, c.Whole) << c.Line;
  }

  EXPECT_EQ(JudgeCommandLine("y", Metres, variables).What, Action::Reject);  // no variable of the caller
  EXPECT_EQ(JudgeCommandLine("x<5", Metres, variables).What, Action::Reject);
}

// The right side of a definition is a value whatever its form; only what
// has no finite value is refused.
TEST(CommandLineVerdict, OfAFormulaThatDefinesAValue) {
  const std::pair<const char*, const char*> values[] = {
      {"e", "2.718281828"}, {"10<45", "1"}, {"2600000.1234", "2600000.1234"}, {"5mm", "0.005"}};
  for (const auto& [formula, value] : values) {
    const CommandLineVerdict verdict = JudgeFormulaValue(formula, Metres);
    EXPECT_EQ(verdict.What, Action::Replace) << formula;
    EXPECT_EQ(verdict.Value, value) << formula;
  }
  for (const char* refused : {"1/0", "sin(30", "2\xC3\x97"})
    EXPECT_EQ(JudgeFormulaValue(refused, Metres).What, Action::Reject) << refused;
}

// The plug-in reads 49 UTF-16 units; a character beyond U+FFFF takes two.
TEST(CommandLineVerdict, KnowsWhichLinesThePluginReadsWhole) {
  const std::string fortyEight(48, '1');
  const std::pair<std::string, bool> cases[] = {
      {fortyEight + "1", true},
      {fortyEight + "11", false},
      {fortyEight + "\u20AC", true},       // one unit in three bytes
      {fortyEight + "\U0001D70B", false},  // two units
      {"", true},
  };
  for (const auto& [line, fits] : cases) EXPECT_EQ(FitsCommandLine(line), fits) << line;
}

// A second evaluation of the same line changes nothing: every value printed
// is a number as the host reads it, so no undo step is added either.
TEST(CommandLineVerdict, ValueIsLeftAloneWhenEvaluatedAgain) {
  for (const char* line : {"2*2", "1/3", "-(2^0.5)", "1e5*1e5", "1/3e7", "2^-20", "-1e-300*1e-10"}) {
    CommandLineVerdict first = JudgeCommandLine(line, Metres);
    ASSERT_EQ(first.What, Action::Replace) << line;
    EXPECT_EQ(JudgeCommandLine(first.Value, Metres).What, Action::LeaveAsTyped) << first.Value;
  }
}

}  // namespace
