// vorncalc with formulas as arguments or on standard input.
#include <gtest/gtest.h>

#include "tests/tools/child_process.h"

namespace {

struct Run {
  std::vector<std::string> Arguments;
  std::string Input;
  std::string Out;
  std::string Err;
  int ExitStatus;
};

void CheckRuns(std::initializer_list<Run> runs) {
  for (const Run& run : runs) {
    const Finished finished = RunVorncalc(run.Arguments, run.Input);
    std::string command = "vorncalc";
    for (const std::string& argument : run.Arguments) command += " '" + argument + "'";
    SCOPED_TRACE(command + " < '" + run.Input + "'");
    EXPECT_EQ(finished.Out, run.Out);
    EXPECT_EQ(finished.Err, run.Err);
    EXPECT_EQ(finished.ExitStatus, run.ExitStatus);
  }
}

TEST(BatchMode, EvaluatesEveryArgument) {
  CheckRuns({
      {{"-u", "m", "2*sin(30)+5mm"}, "", "1.005\n", "", 0},
      {{"1/3", "5mm"}, "", "0.3333333333\n5\n", "", 0},  // millimetres by default
      {{"--units", "ft", "6in", "1ft?"}, "", "0.5\n1\n", "", 0},
      {{"-u", "IN", "1ft"}, "", "12\n", "", 0},
      {{"-u", "4", "--", "-5mm", "-(5mm)"}, "", "-0.005\n-0.005\n", "", 0},
      {{"-u", "0", "5mm"}, "", "5\n", "", 0},
      {{"-u", "-7", "5ft?"}, "", "5\n", "", 0},
      {{"-u", "mi", "1m?"}, "", "1609.344\n", "", 0},
  });
}

TEST(BatchMode, PassesTextsThatAreNoFormulaThrough) {
  CheckRuns({
      {{"-u", "m", "Line", "5mm"}, "", "Line\n0.005\n", "Unknown command: Line\n", 1},
      {{"Circle", "5mm+1"},
       "",
       "Circle\n5mm+1\n",
       "Unknown command: Circle\nUnknown token found: 5mm <- here\n"
       "A unit suffix ends at a blank, a comma or a bracket: write 5mm +1\n",
       1},
      {{""}, "", "\n", "Formula string is empty.\n", 1},
      // typing errors: each with the parser's own message and place
      {{"2 * -", "(1,2)", "sin-30", "1\n+2"},
       "",
       "2 * -\n(1,2)\nsin-30\n1\n+2\n",
       "Unexpected end of formula:  2 * -\nComma used without a function (1, <- here\n"
       "No unary operator expected: sin- <- here\n"
       "A line break or NUL ends the formula before the line ends: 1 <- here\n",
       1},
  });
}

TEST(BatchMode, ReadsLinesFromStandardInput) {
  CheckRuns({
      {{"-u", "m"}, "5mm\n10/4\r\n", "0.005\n2.5\n", "", 0},
      {{}, "1+1\nCircle\n2", "2\nCircle\n2\n", "line 2: Unknown command: Circle\n", 1},
      {{}, "", "", "", 0},
  });
}

// Blank lines do nothing; messages name the line they belong to.
TEST(BatchMode, SkipsBlankLinesAndNumbersTheMessages) {
  CheckRuns({
      {{}, "1+1\n\n", "2\n", "", 0},
      {{}, "\n \n\t\r\n1+1\n", "2\n", "", 0},
      {{},
       "1\n\nCircle\n2\nsin(30\n",
       "1\nCircle\n2\nsin(30\n",
       "line 3: Unknown command: Circle\nline 5: parse error:  missing \")\"\n",
       1},
      {{"Circle"}, "", "Circle\n", "Unknown command: Circle\n", 1},  // no lines: no numbers
  });
}

// A file of lines is a small script: the last answer and the variables
// carry from line to line, and from argument to argument.
TEST(BatchMode, CarriesTheLastAnswerAndTheVariables) {
  CheckRuns({
      {{"-u", "m"}, "r = 5cm\n2*pi*r\nans/2\n", "0.05\n0.3141592654\n0.1570796327\n", "", 0},
      {{}, "x = 3\nx = x+\nx*2\n", "3\nx = x+\n6\n", "line 2: Unexpected end of formula:  x+\n", 1},
      {{}, "sin = 2\n", "sin = 2\n", "line 1: Cannot define sin: it is a function\n", 1},
      {{"a = 2", "a^10", "ans+1"}, "", "2\n1024\n1025\n", "", 0},
  });
}

TEST(BatchMode, PrintsTheDigitsAskedFor) {
  CheckRuns({
      {{"123456789012*1"}, "", "1.23456789e+11\n", "", 0},
      {{"--digits", "17", "123456789012*1", "0.1*1", "1/3"},
       "",
       "123456789012\n0.10000000000000001\n0.33333333333333331\n",
       "",
       0},
      {{"--digits", "3", "-u", "in"}, "1m\n", "39.4\n", "", 0},
      {{"--digits=1", "2/3"}, "", "0.7\n", "", 0},
  });
  for (const char* digits : {"0", "18", "ten", "-1"}) {
    const Finished finished = RunVorncalc({"--digits", digits, "1"});
    EXPECT_EQ(finished.ExitStatus, 2) << digits;
    EXPECT_EQ(finished.Out, "") << digits;
    EXPECT_NE(finished.Err.find("--digits"), std::string::npos) << finished.Err;
  }
}

TEST(BatchMode, RejectsBadUsage) {
  const Finished unknownUnit = RunVorncalc({"-u", "furlong", "1"});
  EXPECT_EQ(unknownUnit.ExitStatus, 2);
  EXPECT_EQ(unknownUnit.Out, "");
  EXPECT_NE(unknownUnit.Err.find("unknown unit 'furlong'"), std::string::npos) << unknownUnit.Err;

  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"-u", "2147483648", "1"}, {"-u"}, {"--frobnicate", "1"}, {"-(5mm)"}}) {
    const Finished finished = RunVorncalc(arguments);
    EXPECT_EQ(finished.ExitStatus, 2) << arguments.front();
    EXPECT_EQ(finished.Out, "") << arguments.front();
    EXPECT_NE(finished.Err, "") << arguments.front();
  }
}

TEST(BatchMode, AnswersHelpAndVersion) {
  const Finished help = RunVorncalc({"--help"});
  EXPECT_EQ(help.ExitStatus, 0);
  EXPECT_NE(help.Out.find("-u,--units UNIT"), std::string::npos) << help.Out;
  EXPECT_NE(help.Out.find("--digits N"), std::string::npos) << help.Out;

  const Finished version = RunVorncalc({"--version"});
  EXPECT_EQ(version.ExitStatus, 0);
  EXPECT_EQ(version.Out, "vorncalc " VORNCALC_VERSION "\n");
}

// The commands work from a pipe and as arguments as at the prompt: those
// that change a setting quietly, so that standard output keeps only what
// the host receives; those that show something on standard output.
TEST(BatchMode, RunsTheCommands) {
  CheckRuns({
      {{}, "units m\n5mm\n", "0.005\n", "", 0},
      {{"units ft", "6in", "units", "digits 3", "1/3"},
       "",
       "0.5\nDocument units: feet (ft, 9)\n0.333\n",
       "",
       0},
      {{}, "x = 2\nvars\nexit\n7\n", "2\nx = 2\n", "", 0},
      {{"units parsec", "1"}, "", "1\n", "Unknown unit: parsec (type help units for the list)\n", 1},
      {{"help foo", "1"},
       "",
       "1\n",
       "Unknown help topic: foo (help functions, help units, help commands)\n",
       1},
      {{}, "1\ndigits 99\n", "1\n", "line 2: Digits must be a number from 1 to 17: 99\n", 1},
      {{"-u", "m", "UNITS"}, "", "Document units: metres (m, 4)\n", "", 0},
  });
  const Finished help = RunVorncalc({"help"});
  EXPECT_EQ(help.ExitStatus, 0);
  EXPECT_TRUE(help.Out.starts_with("Type a formula")) << help.Out;
  EXPECT_EQ(help.Err, "");
}

// The plug-in refuses lines of 50 characters or more; the terminal
// evaluates them and says so once, for the first of them.
TEST(BatchMode, EvaluatesLongLinesAndNotesThePluginsLimitOnce) {
  const std::string fits = "1+1+1+1+1+1+1+1+1+1+1+1+1+1+1+1+1+1+1+1+1+1+1+1+1";  // 49 characters
  const std::string note = "Note: the plug-in refuses lines of 50 characters or more (said once)\n";
  CheckRuns({
      {{fits}, "", "25\n", "", 0},
      {{fits + "1", fits + "+1", "Circle"}, "", "35\n26\nCircle\n", note + "Unknown command: Circle\n", 1},
      {{}, "1\n" + fits + "+1\n" + fits + "+2\n", "1\n26\n27\n", "line 2: " + note, 0},
      {{}, fits + "+sin(30\n", fits + "+sin(30\n", "line 1: parse error:  missing \")\"\nline 1: " + note, 1},
  });
}

// A length computed at one unit system is refused in another: 5in at a
// millimetre prompt is 127 mm, never 127 m.
TEST(BatchMode, RefusesALengthInAnotherUnitSystem) {
  CheckRuns({
      {{"-u", "mm"},
       "x = 5in\nunits m\nx\nx = 5in\nx*2\n",
       "127\nx\n0.127\n0.254\n",
       "line 3: Cannot use x: it holds a length in millimetres (mm, 2) and the document is in metres (m, 4); "
       "type units mm to use it, or compute it again\n",
       1},
  });
}

// rnd's draws repeat with the same seed and differ with another.
TEST(BatchMode, ASeedRepeatsTheDraws) {
  const std::vector<std::string> draws = {"rnd(1000)", "rnd(1000)", "rnd(1e9)"};
  auto withSeed = [&draws](const std::string& seed) {
    std::vector<std::string> arguments = {"--seed", seed};
    arguments.insert(arguments.end(), draws.begin(), draws.end());
    return RunVorncalc(arguments, "");
  };
  const Finished first = withSeed("42"), again = withSeed("42"), other = withSeed("43");
  EXPECT_EQ(first.ExitStatus, 0);
  EXPECT_EQ(first.Err, "");
  EXPECT_EQ(first.Out, again.Out);
  EXPECT_NE(first.Out, other.Out);
  // The same draws through a pipe as from arguments.
  EXPECT_EQ(RunVorncalc({"--seed", "7"}, "rnd(1000)\nrnd(1000)\n").Out,
            RunVorncalc({"--seed", "7", "rnd(1000)", "rnd(1000)"}, "").Out);
  for (const char* refused : {"-1", "4294967296", "x", "1.5"})
    EXPECT_EQ(RunVorncalc({"--seed", refused, "1"}, "").ExitStatus, 2) << refused;
}

}  // namespace
