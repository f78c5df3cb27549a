#include "tools/batch_mode.h"

#include <iostream>

#include "calculator/calculator_driver.h"
#include "parser/parser.h"

namespace {

// Returns whether the text evaluated.
bool HandleCommandLine(const std::string& text, int unitSystem) {
  try {
    std::cout << EvaluateCommandLine(text, unitSystem) << '\n';
    return true;
  } catch (const MathUtils::ParserException& error) {
    std::cout << text << '\n';
    std::cerr << error.what() << '\n';
    return false;
  }
}

// Output that could not be written must not end in a status of success.
int ExitStatus(bool allEvaluated) {
  if (!std::cout.flush()) {
    std::cerr << "vorncalc: cannot write to standard output\n";
    return ExitSomeFailed;
  }
  return allEvaluated ? ExitAllEvaluated : ExitSomeFailed;
}

}  // namespace

int EvaluateTexts(std::span<const std::string> texts, int unitSystem) {
  bool allEvaluated = true;
  for (const std::string& text : texts) allEvaluated &= HandleCommandLine(text, unitSystem);
  return ExitStatus(allEvaluated);
}

int EvaluateLines(std::istream& in, int unitSystem) {
  bool allEvaluated = true;
  for (std::string line; std::getline(in, line);) {
    if (line.ends_with('\r')) line.pop_back();
    allEvaluated &= HandleCommandLine(line, unitSystem);
    std::cout.flush();  // a program on the other end of a pipe sees each answer at once
  }
  return ExitStatus(allEvaluated);
}
