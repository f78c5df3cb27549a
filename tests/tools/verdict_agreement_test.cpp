// The terminal gives what the plug-in gives: one table of lines through the
// plug-in's verdict and through vorncalc, as arguments and at the prompt.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

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
    "Circle",
    "_Line",
    "5in*2",
    "5IN*2",
    "2*Pi)",
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

// From a pipe each refused line gets the same message, after its number.
TEST(VerdictAgreement, APipeSaysWhatAnArgumentSays) {
  for (const std::string line : Lines) {
    if (line.find_first_not_of(" \t") == std::string::npos) continue;  // a blank line is skipped
    const CommandLineVerdict verdict = JudgeCommandLine(line, Metres);
    if (verdict.What != Action::Reject) continue;
    const Finished finished = RunVorncalc({"-u", "m"}, line + "\n");
    EXPECT_TRUE(finished.Err.starts_with("line 1: " + verdict.Reason + "\n"))
        << testing::PrintToString(line) << " gave " << finished.Err;
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
    if (verdict.What == Action::Reject) {
      EXPECT_NE(shown.find(verdict.Reason), std::string::npos) << shown;
    }
  }
  session.Type("quit\r");
  EXPECT_EQ(session.WaitForExit(), 0);
}

// A host script of the plug-in's tests under Wine, replayed through the
// plug-in's verdict, and its lines through vorncalc as arguments: the
// script's rows are the terminal's rows too. A script replays when it only
// sets units, types, evaluates (Enter, a Ctrl tap) and shows the line.
struct Replay {
  std::vector<std::string> Expected;  // the script's "# expect:" lines after its first command
  std::vector<std::string> Replayed;  // the host's output as the verdict makes it
  std::vector<std::string> Arguments{"--"};
  std::string TerminalOut;  // what vorncalc prints, a line each Enter
  bool AnyRejected = false;
};

void ReplayCommand(const std::string& command, int& units, std::string& typed, Replay& replay) {
  const auto judge = [&] {
    const CommandLineVerdict verdict = JudgeCommandLine(typed, units);
    if (verdict.What == Action::Reject) replay.Replayed.push_back("beep");
    replay.AnyRejected |= verdict.What == Action::Reject;
    return verdict.What == Action::Replace ? verdict.Value : typed;
  };
  if (command.starts_with("units ")) {
    units = std::stoi(command.substr(6));
    replay.Arguments.push_back(command);
  } else if (command.starts_with("type ")) {
    typed += command.substr(5);
  } else if (command == "ctrl") {
    typed = judge();
  } else if (command == "show") {
    replay.Replayed.push_back("line: " + typed);
  } else if (command == "enter") {
    replay.Arguments.push_back(typed);
    const std::string received = judge();
    replay.Replayed.push_back("received: " + received);
    replay.TerminalOut += received + "\n";
    typed.clear();
  } else {
    ADD_FAILURE() << "a host command that the verdict does not replay: " << command;
  }
}

Replay ReplayHostScript(const std::string& name) {
  std::ifstream script(std::string(HOST_SCRIPTS) + "/" + name);
  EXPECT_TRUE(script.is_open()) << name;
  Replay replay;
  int units = 0;
  std::string typed;
  bool begun = false;
  constexpr std::string_view Expect = "# expect: ";
  for (std::string line; std::getline(script, line);) {
    if (line.starts_with(Expect) && begun) replay.Expected.push_back(line.substr(Expect.size()));
    if (line.empty() || line.starts_with('#')) continue;
    begun = true;
    ReplayCommand(line, units, typed, replay);
  }
  return replay;
}

TEST(VerdictAgreement, TheHostScriptsOfTypedDigitsAgree) {
  const Replay replay = ReplayHostScript("typed_digits_kept.hostscript");
  EXPECT_EQ(replay.Replayed, replay.Expected);
  const Finished finished = RunVorncalc(replay.Arguments);
  EXPECT_EQ(finished.Out, replay.TerminalOut);
  EXPECT_EQ(finished.ExitStatus, replay.AnyRejected ? 1 : 0) << finished.Err;
}

}  // namespace
