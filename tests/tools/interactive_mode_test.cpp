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
  EXPECT_EQ(session.ReadUntil(Prompt),
            "Circle\r\n\aUnknown token found: circle <- here\r\nUnknown command: Circle\r\n"
            "Command: ");

  session.Type("units m\r");
  const std::string units = session.ReadUntil(Prompt);
  EXPECT_NE(units.find('\a'), std::string::npos) << units;
  EXPECT_NE(units.find("Document units: metres (m, 4)\r\n"), std::string::npos) << units;

  session.Type("5mm\r");  // now in metres
  EXPECT_EQ(session.ReadUntil(Prompt), "5mm\r\n0.005\r\nCommand: ");

  session.Type("exit\r");
  EXPECT_EQ(session.WaitForExit(), 0);
  const std::string history = FileText(session.Home() + "/.vorncalc_history");
  EXPECT_NE(history.find("1/4"), std::string::npos) << history;
  EXPECT_NE(history.find("Circle"), std::string::npos) << history;
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

  session.Type("help\r");
  const std::string help = session.ReadUntil(Prompt);
  EXPECT_NE(help.find("rnd(x)"), std::string::npos) << help;
  EXPECT_NE(help.find("uin  microinches  6"), std::string::npos) << help;

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
