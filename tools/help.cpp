#include "tools/help.h"

#include <algorithm>
#include <iomanip>
#include <span>

#include "calculator/calculator_driver.h"
#include "calculator/unit_systems.h"
#include "tools/vocabulary.h"

namespace {

// Every line fits a terminal of 80 columns without wrapping.
constexpr std::size_t HelpColumns = 79;

struct GroupOf {
  const char* Title;
  std::vector<std::string> Names;
};

// The manual page's grouping of the functions.
const GroupOf FunctionTable[] = {
    {"degrees", {"sin", "cos", "tan", "asin", "acos", "atan"}},
    {"hyperbolic", {"sinh", "cosh", "tanh", "asinh", "acosh", "atanh"}},
    {"radians",
     {"sinr", "cosr", "tanr", "asinr", "acosr", "atanr", "sinhr", "coshr", "tanhr", "asinhr", "acoshr",
      "atanhr"}},
    {"logarithms", {"log2", "log10", "log", "ln"}},
    {"exponential, root, absolute value", {"exp", "sqrt", "abs"}},
    {"sign (-1, 0 or 1), rounding half up", {"sign", "rint"}},
    {"rounding half away from zero, toward zero, down, up", {"round", "trunc", "floor", "ceil"}},
    {"radians to degrees, degrees to radians", {"r2d", "d2r"}},
    {"cube root, ln(1+x), exp(x)-1 (exact near 0)", {"cbrt", "log1p", "expm1"}},
    {"two arguments: remainder (as C's fmod), length of (x, y), power", {"mod", "hypot", "pow"}},
    {"angle of the point (x, y), y first: atan2(y, x), in degrees, radians", {"atan2", "atan2r"}},
    {"where(c, a, b): a where c is not 0, b where it is 0", {"where"}},
    {"any number of arguments", {"sum", "avg", "min", "max"}},
    {"random, from 0 up to x", {"rnd"}},
};

const GroupOf SuffixTable[] = {
    {"a length in that unit, in document units", {"mm", "cm", "m", "in", "ft"}},
    {"a length in document units, in that unit", {"mm?", "cm?", "m?", "in?", "ft?"}},
    {"1000, 1e6, 1e9 times", {"mi", "mc", "n"}},
    {"0.001, 1e-6, 1e-9 times", {"mi?", "mc?", "n?"}},
};

// The table's groups with only the names the vocabulary holds, then a
// group of those it holds and no group lists.
std::vector<NameGroup> Grouped(std::span<const GroupOf> table, const std::vector<std::string>& vocabulary) {
  std::vector<NameGroup> groups;
  std::vector<std::string> listed;
  for (const GroupOf& group : table) {
    NameGroup present{group.Title, {}};
    for (const std::string& name : group.Names)
      if (std::binary_search(vocabulary.begin(), vocabulary.end(), name)) present.Names.push_back(name);
    listed.insert(listed.end(), present.Names.begin(), present.Names.end());
    if (!present.Names.empty()) groups.push_back(std::move(present));
  }
  std::sort(listed.begin(), listed.end());
  NameGroup rest{"others", {}};
  std::set_difference(vocabulary.begin(), vocabulary.end(), listed.begin(), listed.end(),
                      std::back_inserter(rest.Names));
  if (!rest.Names.empty()) groups.push_back(std::move(rest));
  return groups;
}

void PrintNames(std::ostream& out, const std::vector<std::string>& names, std::string_view separator = " ") {
  for (std::size_t i = 0; i < names.size(); ++i) out << (i ? separator : "") << names[i];
}

void PrintOperators(std::ostream& out) {
  const Vocabulary& vocabulary = CalculatorVocabulary();
  out << "Operators, lowest priority first (equal ones apply from left to right):\n";
  for (const auto& group : vocabulary.BinaryOperators) {
    out << "  ";
    PrintNames(out, group);
    out << '\n';
  }
  for (const std::string& prefix : vocabulary.PrefixOperators)
    out << "  " << prefix << "x (applied before any other, -2^2 is 4)\n";
}

void PrintGroups(std::ostream& out, std::string_view heading, const std::vector<NameGroup>& groups,
                 std::string_view before) {
  out << heading << '\n';
  for (const NameGroup& group : groups) {
    std::string row = "  " + group.Title + ':';
    for (const std::string& name : group.Names) {
      const std::string shown = ' ' + std::string(before) + name;
      if (row.size() + shown.size() > HelpColumns) {
        out << row << '\n';
        row = "   ";
      }
      row += shown;
    }
    out << row << '\n';
  }
}

void PrintUnitSystems(std::ostream& out) {
  out << "Document units (units NAME, or vorncalc -u NAME):\n";
  for (const UnitSystemName& system : KnownUnitSystems())
    out << "  " << std::left << std::setw(5) << system.Abbreviation << std::setw(13) << system.Description
        << system.Number << '\n';
  out << "  any other number: the unit suffixes leave values unchanged\n";
}

}  // namespace

std::vector<NameGroup> FunctionGroups() { return Grouped(FunctionTable, CalculatorVocabulary().Functions); }

std::vector<NameGroup> SuffixGroups() {
  return Grouped(SuffixTable, CalculatorVocabulary().PostfixOperators);
}

namespace {

void PrintCommandNames(std::ostream& out, const std::vector<std::string_view>& commands) {
  PrintNames(out, std::vector<std::string>(commands.begin(), commands.end()), ", ");
}

// What a first look needs; the topics below hold the rest.
void PrintOverview(std::ostream& out, const std::vector<std::string_view>& commands) {
  out << "Type a formula and press Enter to see its value, for example 2*sin(30)+5mm.\n"
         "Angles are in degrees; functions ending in r (sinr, atanr) use radians.\n\n";
  PrintOperators(out);
  out << "Constants: ";
  PrintNames(out, CalculatorVocabulary().Constants);
  out << "\nLengths: 5mm is 5 millimetres in document units, 5mm? 5 document units in\n"
         "  millimetres; a suffix ends at a blank, a comma or a bracket: 5mm + 1.\n"
         "Variables: ans is the last value; name = formula defines a variable.\n"
         "Commands: ";
  PrintCommandNames(out, commands);
  out << " (or Ctrl-D to leave)\n\n"
         "More: help functions, help units, help commands.\n";
}

void PrintFunctions(std::ostream& out, const std::vector<std::string_view>&) {
  PrintGroups(out, "Functions, with their arguments in brackets: sqrt(2), sum(1,2,3)", FunctionGroups(), "");
  out << "Angles are in degrees; functions ending in r use radians.\n";
}

void PrintUnits(std::ostream& out, const std::vector<std::string_view>&) {
  PrintGroups(out, "Unit suffixes, after a value and before a blank, comma or bracket: 5mm + 1",
              SuffixGroups(), "5");
  out << '\n';
  PrintUnitSystems(out);
}

void PrintCommands(std::ostream& out, const std::vector<std::string_view>& commands) {
  out << "Commands, in any case, at the prompt, as arguments and in a pipe:\n  ";
  PrintCommandNames(out, commands);
  out << "\n"
         "  help TOPIC shows a topic: functions, units or commands.\n"
         "  units shows the document's units; units NAME changes them (see help units).\n"
         "  digits shows the significant digits; digits N shows N (1 to 17).\n"
         "  vars lists the variables and what their lengths count.\n"
         "  exit and quit leave, as Ctrl-D does.\n"
         "Variables: ans is the last value; name = formula defines a variable.\n"
         "Tab completes names; a second Tab lists the candidates. Ctrl-C drops the line.\n";
}

struct HelpTopic {
  std::string_view Name;
  void (*Print)(std::ostream& out, const std::vector<std::string_view>& commands);
};

constexpr HelpTopic Topics[] = {
    {"", PrintOverview},
    {"functions", PrintFunctions},
    {"units", PrintUnits},
    {"commands", PrintCommands},
};

}  // namespace

std::vector<std::string_view> HelpTopics() {
  std::vector<std::string_view> names;
  for (const HelpTopic& topic : Topics)
    if (!topic.Name.empty()) names.push_back(topic.Name);
  return names;
}

bool PrintHelp(std::ostream& out, const std::vector<std::string_view>& commands, std::string_view topic) {
  const std::string name = LowerCaseAscii(topic);
  for (const HelpTopic& known : Topics)
    if (name == known.Name) {
      known.Print(out, commands);
      return true;
    }
  out << "Unknown help topic: " << topic << " (help functions, help units, help commands)\n";
  return false;
}
