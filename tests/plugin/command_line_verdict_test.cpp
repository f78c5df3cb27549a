// What the plug-in makes of a command line: a value, the line as typed, or
// a beep; the host's own syntax and plain numbers reach the host as typed.
#include "plugin/command_line_verdict.h"

#include <gtest/gtest.h>

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
  };
  for (const auto& c : cases) {
    CommandLineVerdict verdict = JudgeCommandLine(c.Line, Metres);
    EXPECT_EQ(verdict.What, c.What) << c.Line;
    EXPECT_EQ(verdict.Value, c.Value) << c.Line;
  }
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
