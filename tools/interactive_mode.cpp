#include "tools/interactive_mode.h"

#include <editline/readline.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "calculator/calculator_driver.h"
#include "parser/parser.h"
#include "tools/batch_mode.h"
#include "tools/completion.h"
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

// Tab completion through the line editor's readline interface, whose hooks
// are plain functions: they reach the completer and the candidates of the
// current completion through these.
const NameCompleter* ActiveCompleter = nullptr;
std::vector<std::string> Candidates;
std::size_t NextCandidate = 0;

// Hands out the candidates one by one, in the editor's own memory.
char* GenerateCandidate(const char*, int state) {
  if (state == 0) NextCandidate = 0;
  if (NextCandidate >= Candidates.size()) return nullptr;
  return strdup(Candidates[NextCandidate++].c_str());
}

// The editor completes to the candidates' common beginning, and lists them
// on a second Tab; a single candidate gets its terminator appended. (The
// editor also shows the append character after each listed candidate.)
char** CompleteWord(const char* text, int start, int end) {
  rl_attempted_completion_over = 1;  // never fall back to file names
  Candidates = ActiveCompleter->Complete(std::string_view(rl_line_buffer, end), start);
  rl_completion_append_character =
      Candidates.size() == 1 ? ActiveCompleter->Terminator(Candidates.front()) : '\0';
  return rl_completion_matches(text, GenerateCandidate);
}

void InstallCompletion(const NameCompleter& completer) {
  ActiveCompleter = &completer;
  rl_readline_name = "vorncalc";  // for "vorncalc:" lines in ~/.editrc
  rl_basic_word_break_characters = WordBreakCharacters;
  rl_attempted_completion_function = CompleteWord;
}

// A command runs quietly. Any other line is a formula: its value, or a bell
// and the parser's message, which says where the fault is; only a line
// that reads as a command name is also reported as an unknown command.
HostAction HandleLine(const std::string& line, int& unitSystem) {
  if (const auto action = RunHostCommand(line, unitSystem, std::cout)) return *action;
  try {
    std::cout << EvaluateCommandLine(line, unitSystem) << '\n';
  } catch (const MathUtils::ParserException& error) {
    std::cout << '\a' << error.what() << '\n';
    if (const auto word = CommandLikeWord(line)) std::cout << "Unknown command: " << *word << '\n';
  }
  return HostAction::Continue;
}

}  // namespace

int RunInteractive(int unitSystem) {
  const NameCompleter completer;
  InstallCompletion(completer);
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
