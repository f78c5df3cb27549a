// Completion of the word being typed at the interactive prompt. The names
// are read from a parser holding the calculator's vocabulary and from the
// command table, so they cannot drift from what the calculator accepts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Blanks, brackets, the comma and the operator characters end a word; '.'
// and '?' belong to numbers and unit suffixes.
inline constexpr char WordBreakCharacters[] = " \t\n()+-*/^,<>=!&|";

class Session;

class NameCompleter {
 public:
  // With a session, "ans" and its variables complete too.
  explicit NameCompleter(const Session* session = nullptr);

  // The words that may replace the one being typed, sorted: `line` is the
  // text up to the cursor, and the word starts at wordStart. At the start
  // of the line these are commands, functions and constants; after a
  // number, that number with each unit suffix; after "units", the unit
  // systems' names; after "help", the help topics; elsewhere functions and
  // constants. Case is ignored.
  std::vector<std::string> Complete(std::string_view line, std::size_t wordStart) const;

  // What follows a word once it is complete: '(' after a function name,
  // else a blank, which also ends a unit suffix.
  char Terminator(std::string_view word) const;

 private:
  std::vector<std::string> Functions;
  const Session* Variables;
  std::vector<std::string> Values;  // constants
  std::vector<std::string> UnitSuffixes;
  std::vector<std::string> Commands;
  std::vector<std::string> UnitSystems;
  std::vector<std::string> HelpTopicNames;
};
