// What the terminal calculator knows by name: its commands and the
// completion of the word being typed.
#include <gtest/gtest.h>

#include <sstream>

#include "tools/completion.h"
#include "tools/host_commands.h"

namespace {

using Words = std::vector<std::string>;

TEST(Completion, OffersTheNamesThatFitWhereTheWordStands) {
  struct Case {
    std::string Line;  // up to the cursor
    std::size_t WordStart;
    Words Expected;
  };
  const Case cases[] = {
      {"he", 0, {"help"}},
      {"e", 0, {"e", "exit", "exp"}},  // commands only at the start of the line
      {"1+e", 2, {"e", "exp"}},
      {"2*u", 2, {}},
      {"  qu", 2, {"quit"}},
      {"LOG", 0, {"log", "log10", "log2"}},  // any case
      {"_", 0, {"_e", "_pi"}},
      {"rn", 0, {"rnd"}},  // the calculator's own function
      {"sqrt(x", 5, {}},
      {"5f", 0, {"5ft", "5ft?"}},  // unit suffixes after a number
      {"2.5MM", 0, {"2.5mm", "2.5mm?"}},
      {"1e3c", 0, {"1e3cm", "1e3cm?"}},
      {"5n", 0, {"5n", "5n?"}},
      {"sum(5mm,3i", 8, {"3in", "3in?"}},
      {"3x", 0, {}},
      {"units ", 6, {"cm", "ft", "in", "km", "m", "mi", "mil", "mm", "uin"}},
      {"UNITS  m", 7, {"m", "mi", "mil", "mm"}},
      {"help m", 5, {"max", "min"}},  // only after "units" come unit names
      {"units 2*m", 8, {"max", "min"}},
  };
  const NameCompleter completer;
  for (const Case& c : cases)
    EXPECT_EQ(completer.Complete(c.Line, c.WordStart), c.Expected) << '"' << c.Line << '"';
}

TEST(Completion, OffersEveryFunctionAndNoOperatorOnAnEmptyLine) {
  const Words all = NameCompleter().Complete("", 0);
  for (const char* name : {"help", "units", "sin", "atanhr", "max", "rnd", "pi", "_e"})
    EXPECT_NE(std::find(all.begin(), all.end(), name), all.end()) << name;
  for (const char* name : {"-", "mm", "mi?", "and"})
    EXPECT_EQ(std::find(all.begin(), all.end(), name), all.end()) << name;
}

TEST(Completion, EndsAFunctionWithItsBracketAndOtherWordsWithABlank) {
  const NameCompleter completer;
  EXPECT_EQ(completer.Terminator("sqrt"), '(');
  EXPECT_EQ(completer.Terminator("rnd"), '(');
  for (const char* word : {"pi", "5ft", "5ft?", "units", "km"})
    EXPECT_EQ(completer.Terminator(word), ' ') << word;
}

TEST(HostCommands, RunOnlyForTheirOwnNames) {
  struct Case {
    std::string Line;
    std::optional<HostAction> Action;
    std::string Shown;  // the start of the answer
    int UnitSystem;     // afterwards, from 2
  };
  const Case cases[] = {
      {"help", HostAction::Continue, "Type a formula", 2},
      {" HELP ", HostAction::Continue, "Type a formula", 2},
      {"units", HostAction::Continue, "Document units: millimetres (mm, 2)", 2},
      {"Units  FT ", HostAction::Continue, "Document units: feet (ft, 9)", 9},
      {"units 0", HostAction::Continue, "Document units: 0 (no length unit", 0},
      {"units parsec", HostAction::Continue, "Unknown unit: parsec", 2},
      {"exit", HostAction::Exit, "", 2},
      {"Quit", HostAction::Exit, "", 2},
      {"unitsft", std::nullopt, "", 2},
      {"Circle", std::nullopt, "", 2},
      {"", std::nullopt, "", 2},
      {"2*pi", std::nullopt, "", 2},
  };
  for (const Case& c : cases) {
    int unitSystem = 2;
    std::ostringstream out;
    EXPECT_EQ(RunHostCommand(c.Line, unitSystem, out), c.Action) << c.Line;
    EXPECT_TRUE(out.str().starts_with(c.Shown)) << c.Line << ": " << out.str();
    EXPECT_EQ(out.str().empty(), c.Shown.empty()) << c.Line << ": " << out.str();
    EXPECT_EQ(unitSystem, c.UnitSystem) << c.Line;
  }
}

TEST(HostCommands, ReportAsUnknownCommandsOnlyWhatReadsAsOneName) {
  const std::pair<std::string, std::optional<std::string_view>> cases[] = {
      {"Circle", "Circle"},     {"  _Line ", "_Line"},   {"-Layer", "-Layer"},        {"x2", "x2"},
      {"sin(30", std::nullopt}, {"5mm+1", std::nullopt}, {"Draw line", std::nullopt}, {"2x", std::nullopt},
      {"-", std::nullopt},      {"", std::nullopt},
  };
  for (const auto& [text, word] : cases) EXPECT_EQ(CommandLikeWord(text), word) << text;
}

}  // namespace
