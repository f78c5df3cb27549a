#include "tools/batch_mode.h"

#include <iostream>

namespace {

// Returns whether the text evaluated. The message goes after `where`.
bool HandleCommandLine(const std::string& text, Session& session, const std::string& where) {
  const LineResult result = session.Enter(text);
  if (result.Evaluated) {
    std::cout << result.Text << '\n';
  } else {
    std::cout << text << '\n';
    std::cerr << where << result.Text << '\n';
  }
  return result.Evaluated;
}

// Output that could not be written must not end in a status of success.
int ExitStatus(bool allEvaluated) {
  if (!std::cout.flush()) {
    std::cerr << "vorncalc: cannot write to standard output\n";
    return ExitSomeFailed;
  }
  return allEvaluated ? ExitAllEvaluated : ExitSomeFailed;
}

bool IsBlank(const std::string& line) { return line.find_first_not_of(" \t") == std::string::npos; }

}  // namespace

int EvaluateTexts(std::span<const std::string> texts, Session& session) {
  bool allEvaluated = true;
  for (const std::string& text : texts) allEvaluated &= HandleCommandLine(text, session, "");
  return ExitStatus(allEvaluated);
}

int EvaluateLines(std::istream& in, Session& session) {
  bool allEvaluated = true;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (line.ends_with('\r')) line.pop_back();
    if (IsBlank(line)) continue;
    allEvaluated &= HandleCommandLine(line, session, "line " + std::to_string(number) + ": ");
    std::cout.flush();  // a program on the other end of a pipe sees each answer at once
  }
  return ExitStatus(allEvaluated);
}
