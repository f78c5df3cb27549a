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

}  // namespace

HostAction RunHostCommand(std::string_view line, int& unitSystem, std::ostream& out) {
  const std::string_view text = Trim(line);
  const std::string lower = LowerCaseAscii(text);
  const std::string_view command = std::string_view(lower).substr(0, lower.find_first_of(Blanks));
  const std::string_view argument = Trim(text.substr(command.size()));

  if (text.empty()) return HostAction::Continue;
  if (command == "exit" || command == "quit") return HostAction::Exit;
  if (command == "help") {
    PrintHelp(out);
  } else if (command == "units" && argument.empty()) {
    ShowUnitSystem(unitSystem, out);
  } else if (command == "units") {
    ChangeUnitSystem(argument, unitSystem, out);
  } else {
    out << "Unknown command: " << text << '\n';
  }
  return HostAction::Continue;
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
    out << "  " << std::left << std::setw(5) << system.Abbreviation << std::setw(13)
        << system.Description << system.Number << '\n';
  out << "  any other number: the unit operators leave values unchanged\n"
         "\n"
         "Commands: units, units NAME, help, exit, quit (or Ctrl-D)\n";
}
