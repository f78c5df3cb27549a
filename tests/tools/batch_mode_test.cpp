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
      {{"-u", "m", "Line", "5mm"}, "", "Line\n0.005\n", "Unknown token found: line <- here\n", 1},
      {{"Circle", "5mm+1"},
       "",
       "Circle\n5mm+1\n",
       "Unknown token found: circle <- here\nUnknown token found: 5mm <- here\n",
       1},
      {{""}, "", "\n", "Formula string is empty.\n", 1},
  });
}

TEST(BatchMode, ReadsLinesFromStandardInput) {
  CheckRuns({
      {{"-u", "m"}, "5mm\n10/4\r\n", "0.005\n2.5\n", "", 0},
      {{}, "1+1\nCircle\n2", "2\nCircle\n2\n", "Unknown token found: circle <- here\n", 1},
      {{}, "", "", "", 0},
  });
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

  const Finished version = RunVorncalc({"--version"});
  EXPECT_EQ(version.ExitStatus, 0);
  EXPECT_EQ(version.Out, "vorncalc " VORNCALC_VERSION "\n");
}

}  // namespace
