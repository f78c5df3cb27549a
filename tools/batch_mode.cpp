#include "tools/batch_mode.h"

#include <iostream>
#include <sstream>

#include "tools/host_commands.h"

namespace {

enum class Handled { Succeeded, Failed, Exit };

// A command that changes a setting runs quietly, so that standard output
// keeps only what the host receives; one that shows something prints it;
// a refused argument is a failure, with its message.
Handled RunCommand(const HostReply& reply, const std::string& answer, const std::string& where) {
  if (reply.Action == HostAction::Exit) return Handled::Exit;
  if (reply.Refused) {
    std::cerr << where << answer;
    return Handled::Failed;
  }
  if (!reply.Changed) std::cout << answer;
  return Handled::Succeeded;
}

// Standard output gets what the host receives: the value, or the line as
// typed; standard error the reason a line was refused. The message goes
// after `where`.
Handled HandleCommandLine(const std::string& text, Session& session, const std::string& where) {
  std::ostringstream answer;
  if (const auto reply = RunHostCommand(text, session, answer))
    return RunCommand(*reply, answer.str(), where);
  const LineResult result = session.Enter(text);
  if (result.What != LineResult::Outcome::Refused) {
    std::cout << result.Text << '\n';
  } else {
    std::cout << text << '\n';
    std::cerr << where << result.Text << '\n';
    if (!result.Hint.empty()) std::cerr << where << result.Hint << '\n';
  }
  if (!result.Note.empty()) std::cerr << where << result.Note << '\n';
  return result.Succeeded() ? Handled::Succeeded : Handled::Failed;
}

// Output that could not be written must not end in a status of success.
int ExitStatus(bool allSucceeded) {
  if (!std::cout.flush()) {
    std::cerr << "vorncalc: cannot write to standard output\n";
    return ExitSomeFailed;
  }
  return allSucceeded ? ExitAllEvaluated : ExitSomeFailed;
}

bool IsBlank(const std::string& line) { return line.find_first_not_of(" \t") == std::string::npos; }

}  // namespace

int EvaluateTexts(std::span<const std::string> texts, Session& session) {
  bool allSucceeded = true;
  for (const std::string& text : texts) {
    const Handled handled = HandleCommandLine(text, session, "");
    if (handled == Handled::Exit) break;
    allSucceeded &= handled == Handled::Succeeded;
  }
  return ExitStatus(allSucceeded);
}

int EvaluateLines(std::istream& in, Session& session) {
  bool allSucceeded = true;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (line.ends_with('\r')) line.pop_back();
    if (IsBlank(line)) continue;
    const Handled handled = HandleCommandLine(line, session, "line " + std::to_string(number) + ": ");
    if (handled == Handled::Exit) break;
    allSucceeded &= handled == Handled::Succeeded;
    std::cout.flush();  // a program on the other end of a pipe sees each answer at once
  }
  return ExitStatus(allSucceeded);
}
