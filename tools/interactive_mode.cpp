#include "tools/interactive_mode.h"

#include <editline/readline.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "calculator/calculator_driver.h"
#include "parser/parser.h"
#include "tools/batch_mode.h"
#include "tools/host_commands.h"

namespace {

constexpr int HistoryLength = 1000;

// The line history, read from the home directory at the start and written
// back when the session ends; without a home directory it is not kept.
class History {
 public:
  History() : Path(FilePath()) {
    using_history();
    stifle_history(HistoryLength);
    if (Path) read_history(Path->c_str());
  }
  ~History() {
    if (Path) write_history(Path->c_str());
  }
  History(const History&) = delete;
  History& operator=(const History&) = delete;

  void Add(const std::string& line) {
    if (line.find_first_not_of(" \t") != std::string::npos) add_history(line.c_str());
  }

 private:
  static std::optional<std::string> FilePath() {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return std::nullopt;
    return std::string(home) + "/.vorncalc_history";
  }

  std::optional<std::string> Path;
};

struct FreeLine {
  void operator()(char* line) const { std::free(line); }
};

// The value, or a bell and the parser's message followed by the line's
// reading as a host command.
HostAction HandleLine(const std::string& line, int& unitSystem) {
  try {
    std::cout << EvaluateCommandLine(line, unitSystem) << '\n';
    return HostAction::Continue;
  } catch (const MathUtils::ParserException& error) {
    std::cout << '\a' << error.what() << '\n';
    return RunHostCommand(line, unitSystem, std::cout);
  }
}

}  // namespace

int RunInteractive(int unitSystem) {
  History history;
  for (;;) {
    const std::unique_ptr<char, FreeLine> line(readline("Command: "));
    if (!line) {  // end of input: finish the prompt's line before leaving
      std::cout << '\n';
      break;
    }
    history.Add(line.get());
    if (HandleLine(line.get(), unitSystem) == HostAction::Exit) break;
    std::cout.flush();
  }
  return ExitAllEvaluated;
}
