#include "tools/host_commands.h"

#include <iomanip>
#include <string>
#include <utility>

#include "tools/ascii.h"
#include "tools/unit_systems.h"

namespace {

constexpr std::string_view Blanks = " \t";

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(Blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(Blanks) - first + 1);
}

void ShowUnitSystem(int unitSystem, std::ostream& out) {
  out << "Document units: " << DescribeUnitSystem(unitSystem) << '\n';
}

void ChangeUnitSystem(std::string_view name, int& unitSystem, std::ostream& out) {
  if (const auto number = ParseUnitSystem(name)) {
    unitSystem = *number;
    ShowUnitSystem(unitSystem, out);
  } else {
    out << "Unknown unit: " << name << " (type help for the list)\n";
  }
}

HostAction ShowHelp(std::string_view, int&, std::ostream& out) {
  PrintHelp(out);
  return HostAction::Continue;
}

HostAction ShowOrChangeUnits(std::string_view argument, int& unitSystem, std::ostream& out) {
  if (argument.empty())
    ShowUnitSystem(unitSystem, out);
  else
    ChangeUnitSystem(argument, unitSystem, out);
  return HostAction::Continue;
}

HostAction Leave(std::string_view, int&, std::ostream&) { return HostAction::Exit; }

struct HostCommand {
  std::string_view Name;
  HostAction (*Run)(std::string_view argument, int& unitSystem, std::ostream& out);
};

constexpr HostCommand HostCommands[] = {
    {"help", ShowHelp},
    {"units", ShowOrChangeUnits},
    {"exit", Leave},
    {"quit", Leave},
};

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<HostAction> RunHostCommand(std::string_view line, int& unitSystem, std::ostream& out) {
  const std::string_view text = Trim(line);
  const std::string_view word = text.substr(0, text.find_first_of(Blanks));
  const std::string name = LowerCaseAscii(word);
  for (const HostCommand& command : HostCommands)
    if (name == command.Name) return command.Run(Trim(text.substr(word.size())), unitSystem, out);
  return std::nullopt;
}

std::optional<std::string_view> CommandLikeWord(std::string_view text) {
  text = Trim(text);
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

void PrintHelp(std::ostream& out) {
  static constexpr std::pair<const char*, const char*> Vocabulary[] = {
      {"pi  e", "constants"},
      {"5mm 5cm 5m 5in 5ft", "a length in that unit, in document units"},
      {"5mm? 5cm? 5m? 5in? 5ft?", "a length in document units, in that unit"},
      {"5mi 5mc 5n", "times 1000, 1e6, 1e9"},
      {"5mi? 5mc? 5n?", "times 0.001, 1e-6, 1e-9"},
      {"rnd(x)", "a random number from 0 up to x"},
  };
  out << "Type a formula and press Enter to see its value, for example 2*sin(30)+5mm.\n"
         "Angles are in degrees; functions ending in r (sinr, atanr) use radians.\n\n";
  for (const auto& [example, meaning] : Vocabulary)
    out << "  " << std::left << std::setw(25) << example << meaning << '\n';
  out << "\nDocument units (units NAME, or vorncalc -u NAME):\n";
  for (const UnitSystemName& system : KnownUnitSystems())
    out << "  " << std::left << std::setw(5) << system.Abbreviation << std::setw(13) << system.Description
        << system.Number << '\n';
  out << "  any other number: the unit operators leave values unchanged\n"
         "\n"
         "Commands: units, units NAME, help, exit, quit (or Ctrl-D)\n"
         "Tab completes names; a second Tab lists the candidates.\n";
}
