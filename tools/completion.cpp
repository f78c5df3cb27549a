#include "tools/completion.h"

#include <algorithm>

#include "calculator/unit_systems.h"
#include "tools/ascii.h"
#include "tools/help.h"
#include "tools/host_commands.h"
#include "tools/session.h"
#include "tools/vocabulary.h"

namespace {

constexpr std::string_view Blanks = " \t";
constexpr std::string_view Digits = "0123456789";
constexpr std::string_view DigitsAndPoint = "0123456789.";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the number that begins the word: digits and a point, then
// perhaps an exponent ("1e3"; a sign in it would have ended the word).
std::size_t NumberLength(std::string_view word) {
  std::size_t end = std::min(word.find_first_not_of(DigitsAndPoint), word.size());
  if (end > 0 && end + 1 < word.size() && word[end] == 'e' && IsDigit(word[end + 1]))
    end = std::min(word.find_first_not_of(Digits, end + 1), word.size());
  return end;
}

bool IsBlank(std::string_view text) { return text.find_first_not_of(Blanks) == text.npos; }

// Whether the text before the word is the command and blanks, in any case.
bool FollowsCommand(std::string_view before, std::string_view command) {
  const auto first = before.find_first_not_of(Blanks);
  if (first == before.npos) return false;
  before.remove_prefix(first);
  const auto end = before.find_first_of(Blanks);
  return end != before.npos && LowerCaseAscii(before.substr(0, end)) == command &&
         IsBlank(before.substr(end));
}

// Appends to `out` every name that begins with `prefix`, each preceded by `lead`.
void AddMatches(const std::vector<std::string>& names, std::string_view prefix, std::string_view lead,
                std::vector<std::string>& out) {
  for (const std::string& name : names)
    if (name.starts_with(prefix)) out.push_back(std::string(lead) + name);
}

std::vector<std::string> VariableNames(const Session& session) {
  std::vector<std::string> names{Session::LastAnswerName};
  for (const auto& [name, value] : session.Variables()) names.push_back(name);
  return names;
}

void SortUnique(std::vector<std::string>& words) {
  std::sort(words.begin(), words.end());
  words.erase(std::unique(words.begin(), words.end()), words.end());
}

}  // namespace

NameCompleter::NameCompleter(const Session* session)
    : Functions(CalculatorVocabulary().Functions),
      Variables(session),
      Values(CalculatorVocabulary().Constants),
      UnitSuffixes(CalculatorVocabulary().PostfixOperators) {
  for (std::string_view command : HostCommandNames()) Commands.emplace_back(command);
  for (const UnitSystemName& system : KnownUnitSystems()) UnitSystems.emplace_back(system.Abbreviation);
  for (std::string_view topic : HelpTopics()) HelpTopicNames.emplace_back(topic);
  for (auto* names : {&Commands, &UnitSystems, &HelpTopicNames}) SortUnique(*names);
}

std::vector<std::string> NameCompleter::Complete(std::string_view line, std::size_t wordStart) const {
  const std::string_view before = line.substr(0, wordStart);
  const std::string_view typed = line.substr(wordStart);
  const std::string word = LowerCaseAscii(typed);
  std::vector<std::string> words;
  if (FollowsCommand(before, "units")) {
    AddMatches(UnitSystems, word, "", words);
  } else if (FollowsCommand(before, "help")) {
    AddMatches(HelpTopicNames, word, "", words);
  } else if (const std::size_t number = NumberLength(word); number > 0) {
    AddMatches(UnitSuffixes, word.substr(number), typed.substr(0, number), words);
  } else {
    if (IsBlank(before)) AddMatches(Commands, word, "", words);
    AddMatches(Functions, word, "", words);
    AddMatches(Values, word, "", words);
    if (Variables) AddMatches(VariableNames(*Variables), word, "", words);
  }
  SortUnique(words);
  return words;
}

char NameCompleter::Terminator(std::string_view word) const {
  return std::binary_search(Functions.begin(), Functions.end(), word) ? '(' : ' ';
}
