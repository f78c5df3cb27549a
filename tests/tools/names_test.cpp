// What the terminal calculator knows by name: its commands and the
// completion of the word being typed.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "tools/completion.h"
#include "tools/help.h"
#include "tools/host_commands.h"
#include "tools/session.h"
#include "tools/vocabulary.h"

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
      {"e", 0, {"e", "exit", "exp", "expm1"}},  // commands only at the start of the line
      {"1+e", 2, {"e", "exp", "expm1"}},
      {"2*u", 2, {}},
      {"  qu", 2, {"quit"}},
      {"LOG", 0, {"log", "log10", "log1p", "log2"}},  // any case
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
      {"help m", 5, {"max", "min", "mod"}},  // only after "units" come unit names
      {"units 2*m", 8, {"max", "min", "mod"}},
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

TEST(Completion, OffersTheLastAnswerAndTheSessionsVariables) {
  Session session(2, 10, HostCommandNames());
  ASSERT_TRUE(session.Enter("Radius = 2").Succeeded());
  ASSERT_TRUE(session.Enter("area = 3").Succeeded());
  const NameCompleter completer(&session);
  EXPECT_EQ(completer.Complete("2*r", 2), (Words{"r2d", "radius", "rint", "rnd", "round"}));
  EXPECT_EQ(completer.Complete("a", 0),
            (Words{"abs", "acos", "acosh", "acoshr", "acosr", "ans", "area", "asin", "asinh", "asinhr",
                   "asinr", "atan", "atan2", "atan2r", "atanh", "atanhr", "atanr", "avg"}));
  ASSERT_TRUE(session.Enter("rx = 1").Succeeded());  // defined later: offered at once
  EXPECT_EQ(completer.Complete("r", 0), (Words{"r2d", "radius", "rint", "rnd", "round", "rx"}));
  EXPECT_EQ(NameCompleter().Complete("an", 0), Words{});  // without a session, no variables
  EXPECT_EQ(completer.Terminator("radius"), ' ');
}

TEST(Completion, EndsAFunctionWithItsBracketAndOtherWordsWithABlank) {
  const NameCompleter completer;
  EXPECT_EQ(completer.Terminator("sqrt"), '(');
  EXPECT_EQ(completer.Terminator("rnd"), '(');
  for (const char* word : {"pi", "5ft", "5ft?", "units", "km"})
    EXPECT_EQ(completer.Terminator(word), ' ') << word;
}

// What a command did, in a word.
std::string Kind(const std::optional<HostReply>& reply) {
  if (!reply) return "no command";
  if (reply->Action == HostAction::Exit) return "exits";
  return reply->Refused ? "refuses" : reply->Changed ? "changes" : "shows";
}

TEST(HostCommands, RunOnlyForTheirOwnNames) {
  struct Case {
    std::string Line;
    std::string Kind;
    std::string Shown;  // the start of the answer
    int UnitSystem;     // afterwards, from 2
    int Digits;         // afterwards, from 10
  };
  const Case cases[] = {
      {"help", "shows", "Type a formula", 2, 10},
      {" HELP ", "shows", "Type a formula", 2, 10},
      {"units", "shows", "Document units: millimetres (mm, 2)", 2, 10},
      {"Units  FT ", "changes", "Document units: feet (ft, 9)", 9, 10},
      {"units 0", "changes", "Document units: 0 (no length unit", 0, 10},
      {"units parsec", "refuses", "Unknown unit: parsec", 2, 10},
      {"digits", "shows", "Significant digits: 10\n", 2, 10},
      {"DIGITS 17", "changes", "Significant digits: 17\n", 2, 17},
      {"digits 1", "changes", "Significant digits: 1\n", 2, 1},
      {"digits 0", "refuses", "Digits must be a number from 1 to 17: 0\n", 2, 10},
      {"digits 18", "refuses", "Digits must be a number from 1 to 17: 18\n", 2, 10},
      {"digits 5x", "refuses", "Digits must be a number from 1 to 17: 5x\n", 2, 10},
      {"vars", "shows", "No variables yet: name = formula defines one.\n", 2, 10},
      {"exit", "exits", "", 2, 10},
      {"Quit", "exits", "", 2, 10},
      {"unitsft", "no command", "", 2, 10},
      {"Circle", "no command", "", 2, 10},
      {"", "no command", "", 2, 10},
      {"2*pi", "no command", "", 2, 10},
      {"digitsum = 3", "no command", "", 2, 10},
  };
  for (const Case& c : cases) {
    Session session(2, 10, HostCommandNames());
    std::ostringstream out;
    EXPECT_EQ(Kind(RunHostCommand(c.Line, session, out)), c.Kind) << c.Line;
    EXPECT_TRUE(out.str().starts_with(c.Shown)) << c.Line << ": " << out.str();
    EXPECT_EQ(out.str().empty(), c.Shown.empty()) << c.Line << ": " << out.str();
    EXPECT_EQ(session.UnitSystem(), c.UnitSystem) << c.Line;
    EXPECT_EQ(session.Digits(), c.Digits) << c.Line;
  }
}

TEST(HostCommands, ListTheVariablesWithTheDigitsChosen) {
  Session session(2, 10, HostCommandNames());
  ASSERT_TRUE(session.Enter("width = 1/3").Succeeded());
  ASSERT_TRUE(session.Enter("Area = width^2").Succeeded());
  std::ostringstream out;
  RunHostCommand("digits 3", session, out);
  RunHostCommand("vars", session, out);
  EXPECT_EQ(out.str(), "Significant digits: 3\narea = 0.111\nwidth = 0.333\n");
}

// Help lists every name of the vocabulary, each function and suffix in a
// group of the manual page: a name that no group lists shows up as
// "others", which fails here until it is given its group.
TEST(Help, ListsTheWholeVocabularyInItsGroups) {
  std::ostringstream out;
  PrintHelp(out, HostCommandNames());
  const std::string help = out.str();
  const Vocabulary& vocabulary = CalculatorVocabulary();
  for (const auto& groups : {FunctionGroups(), SuffixGroups()})
    for (const NameGroup& group : groups)
      EXPECT_NE(group.Title, "others") << testing::PrintToString(group.Names);
  std::vector<std::string> grouped;
  for (const NameGroup& group : FunctionGroups())
    grouped.insert(grouped.end(), group.Names.begin(), group.Names.end());
  std::sort(grouped.begin(), grouped.end());
  EXPECT_EQ(grouped, vocabulary.Functions);
  for (const auto& names : {vocabulary.Functions, vocabulary.Constants})
    for (const std::string& name : names) EXPECT_NE(help.find(" " + name), std::string::npos) << name;
  for (const std::string& suffix : vocabulary.PostfixOperators)
    EXPECT_NE(help.find(" 5" + suffix), std::string::npos) << suffix;
  for (const auto& group : vocabulary.BinaryOperators)
    for (const std::string& op : group) EXPECT_NE(help.find(op), std::string::npos) << op;
  for (std::string_view command : HostCommandNames())
    EXPECT_NE(help.find(command), std::string::npos) << command;
}

TEST(Vocabulary, GroupsTheBinaryOperatorsByPriorityLowestFirst) {
  const std::vector<std::vector<std::string>> expected = {
      {"and", "or"}, {"<=", ">=", "!=", "==", "<", ">"}, {"+", "-"}, {"*", "/"}, {"^"}};
  EXPECT_EQ(CalculatorVocabulary().BinaryOperators, expected);
  EXPECT_EQ(CalculatorVocabulary().PrefixOperators, std::vector<std::string>{"-"});
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
