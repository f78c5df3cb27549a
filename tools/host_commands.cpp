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

constexpr HostReply Shown{};
constexpr HostReply Changed{HostAction::Continue, true, false};
constexpr HostReply Refused{HostAction::Continue, false, true};

HostReply ChangeUnitSystem(std::string_view name, Session& session, std::ostream& out) {
  const auto number = ParseUnitSystem(name);
  if (!number) {
    out << "Unknown unit: " << name << " (type help units for the list)\n";
    return Refused;
  }
  session.SetUnitSystem(*number);
  ShowUnitSystem(session, out);
  return Changed;
}

HostReply ShowHelp(std::string_view topic, Session&, std::ostream& out) {
  return PrintHelp(out, HostCommandNames(), topic) ? Shown : Refused;
}

HostReply ShowOrChangeUnits(std::string_view argument, Session& session, std::ostream& out) {
  if (!argument.empty()) return ChangeUnitSystem(argument, session, out);
  ShowUnitSystem(session, out);
  return Shown;
}

HostReply ShowOrChangeDigits(std::string_view argument, Session& session, std::ostream& out) {
  if (!argument.empty()) {
    const auto digits = ParseDigits(argument);
    if (!digits) {
      out << "Digits must be a number from " << MinDigits << " to " << MaxDigits << ": " << argument << '\n';
      return Refused;
    }
    session.SetDigits(*digits);
  }
  out << "Significant digits: " << session.Digits() << '\n';
  return argument.empty() ? Shown : Changed;
}

HostReply ListVariables(std::string_view, Session& session, std::ostream& out) {
  if (session.Variables().empty()) out << "No variables yet: name = formula defines one.\n";
  for (const auto& [name, value] : session.Variables()) out << session.Describe(name, value) << '\n';
  return Shown;
}

HostReply Leave(std::string_view, Session&, std::ostream&) { return {HostAction::Exit, false, false}; }

struct HostCommand {
  std::string_view Name;
  HostReply (*Run)(std::string_view argument, Session& session, std::ostream& out);
};

constexpr HostCommand HostCommands[] = {
    {"help", ShowHelp},
    {"units", ShowOrChangeUnits},
    {"digits", ShowOrChangeDigits},
    {"vars", ListVariables},
    {"exit", Leave},
    {"quit", Leave},
};

}  // namespace

std::optional<HostReply> RunHostCommand(std::string_view line, Session& session, std::ostream& out) {
  const std::string_view text = TrimBlanks(line);
  const std::string_view word = text.substr(0, text.find_first_of(Blanks));
  const std::string name = LowerCaseAscii(word);
  for (const HostCommand& command : HostCommands)
    if (name == command.Name) return command.Run(TrimBlanks(text.substr(word.size())), session, out);
  return std::nullopt;
}

std::vector<std::string_view> HostCommandNames() {
  std::vector<std::string_view> names;
  for (const HostCommand& command : HostCommands) names.push_back(command.Name);
  return names;
}
