// vorncalc on a terminal, typed at as a user would.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/tools/child_process.h"

namespace {

constexpr char Prompt[] = "Command: ";

std::string FileText(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(InteractiveMode, EvaluatesRingsAndRunsHostCommands) {
  TerminalSession session;
  EXPECT_EQ(session.ReadUntil(Prompt), Prompt);

  session.Type("1/4\r");
  EXPECT_EQ(session.ReadUntil(Prompt), "1/4\r\n0.25\r\nCommand: ");

  session.Type("Circle\r");
  EXPECT_EQ(session.ReadUntil(Prompt), "Circle\r\n\aUnknown command: Circle\r\nCommand: ");

  session.Type("units m\r");
  EXPECT_EQ(session.ReadUntil(Prompt), "units m\r\nDocument units: metres (m, 4)\r\nCommand: ");

  session.Type("5mm\r");  // now in metres
  EXPECT_EQ(session.ReadUntil(Prompt), "5mm\r\n0.005\r\nCommand: ");

  session.Type("exit\r");
  EXPECT_EQ(session.WaitForExit(), 0);
  const std::string history = FileText(session.Home() + "/.vorncalc_history");
  EXPECT_NE(history.find("1/4"), std::string::npos) << history;
  EXPECT_NE(history.find("Circle"), std::string::npos) << history;
}

// "1+1+...+1", of `ones` ones: 51 characters for 26.
std::string LongSum(int ones) {
  std::string sum = "1";
  for (int i = 1; i < ones; ++i) sum += "+1";
  return sum;
}

// The calculator's own commands are no failed formulas: no bell, no parser
// message. A failed formula rings once; a single word that is no name at
// all is called an unknown command, with no second message. A blank line
// does nothing.
TEST(InteractiveMode, RingsOnlyForTextsThatAreNoFormula) {
  struct Case {
    std::string Line;
    std::string Answer;  // between the echoed line and the next prompt
  };
  const Case cases[] = {
      {"units", "Document units: millimetres (mm, 2)\r\n"},
      {"UNITS ft", "Document units: feet (ft, 9)\r\n"},
      {"units parsec", "Unknown unit: parsec (type help units for the list)\r\n"},
      {"sin(30", "\aparse error:  missing \")\"\r\n"},
      {"5mm+1",
       "\aUnknown token found: 5mm <- here\r\nA unit suffix ends at a blank, a comma or a bracket: write "
       "5mm +1\r\n"},
      {"_Line", "\aUnknown command: _Line\r\n"},
      {"sin", "\aUnexpected end of formula:  sin\r\n"},  // a name, but no formula
      {"", ""},
      {"   ", ""},
      {"digits 12", "Significant digits: 12\r\n"},
      {"vars", "No variables yet: name = formula defines one.\r\n"},
      // Too long for the plug-in: evaluated, with a note the first time.
      {LongSum(26), "26\r\nNote: the plug-in refuses lines of 50 characters or more (said once)\r\n"},
      {LongSum(27), "27\r\n"},
  };
  TerminalSession session;
  session.ReadUntil(Prompt);
  for (const Case& c : cases) {
    session.Type(c.Line + "\r");
    EXPECT_EQ(session.ReadUntil(Prompt), c.Line + "\r\n" + c.Answer + Prompt) << c.Line;
  }
  session.Type("help\r");
  const std::string help = session.ReadUntil(Prompt);
  EXPECT_NE(help.find("Commands:"), std::string::npos) << help;
  EXPECT_EQ(help.find('\a'), std::string::npos) << help;
  EXPECT_EQ(help.find("Unknown"), std::string::npos) << help;

  session.Type("Quit\r");
  EXPECT_EQ(session.WaitForExit(), 0);
}

TEST(InteractiveMode, StartsInTheUnitSystemGivenAndShowsIt) {
  TerminalSession session({"-u", "ft"});
  session.ReadUntil(Prompt);
  session.Type("units\r");
  const std::string shown = session.ReadUntil(Prompt);
  EXPECT_NE(shown.find("Document units: feet (ft, 9)\r\n"), std::string::npos) << shown;

  session.Type("units parsec\r");
  const std::string refused = session.ReadUntil(Prompt);
  EXPECT_NE(refused.find("Unknown unit: parsec"), std::string::npos) << refused;

  session.Type("help functions\r");
  const std::string functions = session.ReadUntil(Prompt);
  EXPECT_NE(functions.find("random, from 0 up to x: rnd"), std::string::npos) << functions;
  session.Type("help units\r");
  const std::string units = session.ReadUntil(Prompt);
  EXPECT_NE(units.find("uin  microinches  6"), std::string::npos) << units;

  session.Type("quit\r");
  EXPECT_EQ(session.WaitForExit(), 0);
}

TEST(InteractiveMode, CtrlCDropsTheLineBeingTyped) {
  TerminalSession session;
  session.ReadUntil(Prompt);
  session.Type("12+3");
  session.ReadUntil("12+3");
  session.Type("\x03");
  EXPECT_EQ(session.ReadUntil(Prompt), "^C\r\nCommand: ");
  session.Type("\x03");  // on an empty line: only a fresh prompt
  EXPECT_EQ(session.ReadUntil(Prompt), "^C\r\nCommand: ");
  session.Type("4*5\r");
  EXPECT_EQ(session.ReadUntil(Prompt), "4*5\r\n20\r\nCommand: ");
  session.Type("\x10\r");  // Ctrl-P recalls 4*5: the dropped line never entered the history
  EXPECT_EQ(session.ReadUntil(Prompt).find("12+3"), std::string::npos);
  session.Type("\x04");
  EXPECT_EQ(session.WaitForExit(), 0);
}

// Each line reaches the history file as it is entered: a session that is
// killed loses none. Blank lines are not kept.
TEST(InteractiveMode, WritesEachLineToTheHistoryAtOnce) {
  TerminalSession session;
  session.ReadUntil(Prompt);
  for (const char* line : {"6*7", " ", "Circle", "r = 2"}) {
    session.Type(std::string(line) + "\r");
    session.ReadUntil(Prompt);
  }
  const std::string history = FileText(session.Home() + "/.vorncalc_history");
  EXPECT_EQ(history, "_HiStOrY_V2_\n6*7\nCircle\nr\\040=\\0402\n");
}  // the session is killed here

TEST(InteractiveMode, KeepsTheLastAnswerVariablesAndDigits) {
  TerminalSession session({"-u", "cm"});
  session.ReadUntil(Prompt);
  const std::pair<std::string, std::string> lines[] = {
      {"r = 5mm", "0.5"},
      {"2*r", "1"},
      {"ans + R", "1.5"},
      {"pi = 3", "\aCannot define pi: it is a constant"},
      {"digits 17", "Significant digits: 17"},
      {"1/3", "0.33333333333333331"},
      {"vars", "r = 0.5, a length in centimetres (cm, 3)"},
      {"r", "0.5"},
      {"units m", "Document units: metres (m, 4)"},  // r is 0.5 cm, never 0.5 m
      {"r",
       "\aCannot use r: it holds a length in centimetres (cm, 3) and the document is in metres (m, 4); "
       "type units cm to use it, or compute it again"},
  };
  for (const auto& [line, answer] : lines) {
    session.Type(line + "\r");
    EXPECT_EQ(session.ReadUntil(Prompt), line + "\r\n" + answer + "\r\n" + Prompt);
  }
  session.Type("quit\r");
  EXPECT_EQ(session.WaitForExit(), 0);
}

TEST(InteractiveMode, EndOfInputLeavesAndTheHistoryIsKept) {
  const std::string home = MakeHomeDirectory();
  {
    TerminalSession first({}, home);
    first.ReadUntil(Prompt);
    first.Type("6*7\r");
    first.ReadUntil(Prompt);
    first.Type("\x04");  // Ctrl-D on an empty line
    EXPECT_EQ(first.WaitForExit(), 0);
  }
  {
    TerminalSession second({}, home);
    second.ReadUntil(Prompt);
    second.Type("\x10\r");  // Ctrl-P recalls the previous session's line
    const std::string recalled = second.ReadUntil("\r\n" + std::string(Prompt));
    EXPECT_NE(recalled.find("6*7\r\n42\r\n"), std::string::npos) << recalled;
    second.Type("\x04");
    EXPECT_EQ(second.WaitForExit(), 0);
  }
  std::filesystem::remove_all(home);
}

}  // namespace

namespace {

// Types the keys and a Return, and tells whether the calculator answered
// with the answer line and a new prompt. (libedit rings the bell on
// completion and redraws the line, so the text before is not compared.)
testing::AssertionResult Answers(TerminalSession& session, const std::string& keys,
                                 const std::string& answer) {
  session.Type(keys + "\r");
  const std::string expected = "\r\n" + answer + "\r\n" + Prompt;
  const std::string shown = session.ReadUntil(expected);
  if (shown.ends_with(expected)) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "typed " << testing::PrintToString(keys) << ", shown "
                                     << testing::PrintToString(shown);
}

TEST(InteractiveMode, TabCompletesNames) {
  TerminalSession session({"-u", "in"});
  session.ReadUntil(Prompt);
  EXPECT_TRUE(Answers(session, "sq\t2)", "1.414213562"));  // "sqrt("
  EXPECT_TRUE(Answers(session, "2*SQ\t9)", "6"));          // in any case
  EXPECT_TRUE(Answers(session, "5f\t", "60"));             // "5ft "
  EXPECT_TRUE(Answers(session, "2*_p\t", "6.283185307"));  // "_pi "
  EXPECT_TRUE(Answers(session, "un\tk\t", "Document units: kilometres (km, 5)"));
  session.Type("quit\r");
  EXPECT_EQ(session.WaitForExit(), 0);
}

// A unique name is completed quietly, as typed so far (case does not
// matter in a formula); variables complete too.
TEST(InteractiveMode, TabCompletesAUniqueNameWithoutTheBell) {
  TerminalSession session;
  session.ReadUntil(Prompt);
  session.Type("radius = 2\r");
  session.ReadUntil(Prompt);
  const std::pair<std::string, std::string> completions[] = {{"2*SQ", "2*SQrt("}, {"9)*rad", "9)*radius "}};
  for (const auto& [keys, completed] : completions) {
    session.Type(keys + "\t");
    const std::string shown = session.ReadUntil(completed);
    EXPECT_TRUE(shown.ends_with(completed)) << shown;
    EXPECT_EQ(shown.find('\a'), std::string::npos) << shown;
  }
  EXPECT_TRUE(Answers(session, "", "12"));
  session.Type("quit\r");
  EXPECT_EQ(session.WaitForExit(), 0);
}

// The list ends with the prompt and the line on a line of their own.
std::string ListedCandidates(TerminalSession& session) {
  return session.ReadUntil("\r\n" + std::string(Prompt));
}

TEST(InteractiveMode, ASecondTabListsTheCandidates) {
  TerminalSession session;
  session.ReadUntil(Prompt);
  session.Type("lo\t\t");  // completes "log", then lists
  const std::string logs = ListedCandidates(session);
  EXPECT_NE(logs.find("log10"), std::string::npos) << logs;
  EXPECT_NE(logs.find("log2"), std::string::npos) << logs;
  EXPECT_TRUE(Answers(session, "2(8)", "3"));  // the line is "log2(8)"

  session.Type("5m\t\t");
  const std::string units = ListedCandidates(session);
  for (const char* name : {"5m ", "5m?", "5mc ", "5mc?", "5mi ", "5mi?", "5mm ", "5mm?"})
    EXPECT_NE(units.find(name), std::string::npos) << name << " in " << units;

  session.Type("\x15\t\t");  // Ctrl-U clears the line
  const std::string all = ListedCandidates(session);
  for (const char* name : {"exit", "help", "sqrt", "units", "_pi"})
    EXPECT_NE(all.find(name), std::string::npos) << name << " in " << all;
  session.Type("\x04");
  EXPECT_EQ(session.WaitForExit(), 0);
}

}  // namespace
