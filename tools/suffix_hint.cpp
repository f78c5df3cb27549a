#include "tools/suffix_hint.h"

#include <algorithm>

#include "parser/parser.h"
#include "tools/ascii.h"
#include "tools/vocabulary.h"

namespace {

constexpr std::string_view Marker = " <- here";

// Whether the text ends with a unit suffix right after a value: a digit,
// a point or a closing bracket ("5in", "(2)mm?"; not "pin").
bool EndsWithSuffix(std::string_view text) {
  const auto& suffixes = CalculatorVocabulary().PostfixOperators;
  return std::any_of(suffixes.begin(), suffixes.end(), [text](const std::string& suffix) {
    if (text.size() <= suffix.size() || !text.ends_with(suffix)) return false;
    const char before = text[text.size() - suffix.size() - 1];
    return (before >= '0' && before <= '9') || before == '.' || before == ')';
  });
}

}  // namespace

std::string SuffixHint(std::string_view line, std::string_view message) {
  const std::string_view opening = MathUtils::Messages::UnknownToken;
  if (!message.starts_with(opening) || !message.ends_with(Marker) ||
      message.size() < opening.size() + 1 + Marker.size())
    return {};
  const std::string_view cut =
      message.substr(opening.size() + 1, message.size() - opening.size() - 1 - Marker.size());
  const std::string lower = LowerCaseAscii(line);
  if (!std::string_view(lower).starts_with(LowerCaseAscii(cut))) return {};
  std::size_t end = cut.size();
  if (end < line.size() && line[end] == '?') ++end;  // "5mm?+1": the suffix is "mm?"
  if (end >= line.size() || std::string_view("+-*/^<>=!").find(line[end]) == std::string_view::npos)
    return {};
  if (!EndsWithSuffix(std::string_view(lower).substr(0, end))) return {};
  return "A unit suffix ends at a blank, a comma or a bracket: write " + std::string(line.substr(0, end)) +
         ' ' + std::string(line.substr(end));
}
