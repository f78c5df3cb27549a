// The terminal gives what the plug-in gives: one table of lines through the
// plug-in's verdict and through vorncalc, as arguments and at the prompt.
#include <gtest/gtest.h>

#include "calculator/command_line_verdict.h"
#include "tests/tools/child_process.h"

namespace {

constexpr int Metres = 4;
constexpr char Prompt[] = "Command: ";

using Action = CommandLineVerdict::Action;

// Each kind of verdict, and the lines that the terminal used to get wrong.
const char* const Lines[] = {
    "2*sin(30)+5mm",
    "1/3",
    "1/0",
    "sqrt(-1)",
    "E",
    "pi",
    "(e)",
    "10<45",
    "(10<45)",
    "1<2 and 0",
    "2600000.1234",
    "2600000.1234+1",
    "(2600000.1234)",
    "2600000123.4 + 5mm",
    "-5",
    " 7 ",
    "1e400",
    "Line",
    "5in*2",
    "sin(30",
    "3*4\t",
    "2*sin(30)\t+\t5mm",
    "\t12.5\t",
    "2\u00D73",
    "5\u00B5m",
    "",
};

TEST(VerdictAgreement, ArgumentsComeToThePluginsVerdict) {
  for (const std::string line : Lines) {
    const CommandLineVerdict verdict = JudgeCommandLine(line, Metres);
    const Finished finished = RunVorncalc({"-u", "m", "--", line});
    SCOPED_TRACE(testing::PrintToString(line));
    switch (verdict.What) {
      case Action::Replace:
        EXPECT_EQ(finished.Out, verdict.Value + "\n");
        EXPECT_EQ(finished.Err, "");
        EXPECT_EQ(finished.ExitStatus, 0);
        break;
      case Action::LeaveAsTyped:  // the host receives it as typed
        EXPECT_EQ(finished.Out, line + "\n");
        EXPECT_EQ(finished.Err, "");
        EXPECT_EQ(finished.ExitStatus, 0);
        break;
      case Action::Reject:  // the host receives it as typed, after a beep
        EXPECT_EQ(finished.Out, line + "\n");
        EXPECT_TRUE(finished.Err.starts_with(verdict.Reason + "\n")) << finished.Err;
        EXPECT_EQ(finished.ExitStatus, 1);
        break;
    }
  }
}

TEST(VerdictAgreement, ThePromptShowsThePluginsVerdict) {
  TerminalSession session({"-u", "m"});
  session.ReadUntil(Prompt);
  for (const std::string line : Lines) {
    // Tab completes at the prompt, and Return ends the line.
    if (line.find_first_of("\t\n") != std::string::npos || line.empty()) continue;
    const CommandLineVerdict verdict = JudgeCommandLine(line, Metres);
    session.Type(line + "\r");
    const std::string shown = session.ReadUntil(Prompt);
    std::string expected;
    if (verdict.What == Action::Replace) expected = verdict.Value + "\r\n";
    if (verdict.What == Action::LeaveAsTyped) expected = line.substr(line.find_first_not_of(' '));
    if (verdict.What == Action::Reject) expected = "\a";
    EXPECT_NE(shown.find("\r\n" + expected), std::string::npos)
        << testing::PrintToString(line) << " showed " << testing::PrintToString(shown);
    if (verdict.What == Action::LeaveAsTyped) {
      EXPECT_NE(shown.find("the CAD program receives it as typed"), std::string::npos) << shown;
    }
    if (verdict.What == Action::Reject && line != "Line") {  // a lone word is an unknown command
      EXPECT_NE(shown.find(verdict.Reason), std::string::npos) << shown;
    }
  }
  session.Type("quit\r");
  EXPECT_EQ(session.WaitForExit(), 0);
}

}  // namespace
