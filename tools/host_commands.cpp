#include "tools/host_commands.h"

#include <string>
#include <utility>

#include "calculator/unit_systems.h"
#include "tools/ascii.h"
#include "tools/help.h"

namespace {

void ShowUnitSystem(const Session& session, std::ostream& out) {
  out << "Document units: " << DescribeUnitSystem(session.UnitSystem()) << '\n';
}

void ChangeUnitSystem(std::string_view name, Session& session, std::ostream& out) {
  if (const auto number = ParseUnitSystem(name)) {
    session.SetUnitSystem(*number);
    ShowUnitSystem(session, out);
  } else {
    out << "Unknown unit: " << name << " (type help for the list)\n";
  }
}

HostAction ShowHelp(std::string_view, Session&, std::ostream& out) {
  PrintHelp(out, HostCommandNames());
  return HostAction::Continue;
}

HostAction ShowOrChangeUnits(std::string_view argument, Session& session, std::ostream& out) {
  if (argument.empty())
    ShowUnitSystem(session, out);
  else
    ChangeUnitSystem(argument, session, out);
  return HostAction::Continue;
}

HostAction ShowOrChangeDigits(std::string_view argument, Session& session, std::ostream& out) {
  if (!argument.empty()) {
    const auto digits = ParseDigits(argument);
    if (!digits) {
      out << "Digits must be a number from " << MinDigits << " to " << MaxDigits << ": " << argument << '\n';
      return HostAction::Continue;
    }
    session.SetDigits(*digits);
  }
  out << "Significant digits: " << session.Digits() << '\n';
  return HostAction::Continue;
}

HostAction ListVariables(std::string_view, Session& session, std::ostream& out) {
  if (session.Variables().empty()) out << "No variables yet: name = formula defines one.\n";
  for (const auto& [name, value] : session.Variables()) out << name << " = " << session.Format(value) << '\n';
  return HostAction::Continue;
}

HostAction Leave(std::string_view, Session&, std::ostream&) { return HostAction::Exit; }

struct HostCommand {
  std::string_view Name;
  HostAction (*Run)(std::string_view argument, Session& session, std::ostream& out);
};

constexpr HostCommand HostCommands[] = {
    {"help", ShowHelp},
    {"units", ShowOrChangeUnits},
    {"digits", ShowOrChangeDigits},
    {"vars", ListVariables},
    {"exit", Leave},
    {"quit", Leave},
};

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<HostAction> RunHostCommand(std::string_view line, Session& session, std::ostream& out) {
  const std::string_view text = TrimBlanks(line);
  const std::string_view word = text.substr(0, text.find_first_of(Blanks));
  const std::string name = LowerCaseAscii(word);
  for (const HostCommand& command : HostCommands)
    if (name == command.Name) return command.Run(TrimBlanks(text.substr(word.size())), session, out);
  return std::nullopt;
}

std::optional<std::string_view> CommandLikeWord(std::string_view text) {
  text = TrimBlanks(text);
  if (text.empty() || IsAsciiDigit(text.front())) return std::nullopt;
  bool hasLetter = false;
  for (char c : text) {
    if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '_' && c != '-') return std::nullopt;
    hasLetter |= IsAsciiLetter(c);
  }
  if (!hasLetter) return std::nullopt;
  return text;
}

std::vector<std::string_view> HostCommandNames() {
  std::vector<std::string_view> names;
  for (const HostCommand& command : HostCommands) names.push_back(command.Name);
  return names;
}
