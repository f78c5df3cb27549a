#include "tools/vocabulary.h"

#include <algorithm>
#include <map>

#include "calculator/unit_operators.h"
#include "parser/parser.h"
#include "parser/reader.h"

namespace {

using NameKind = MathUtils::ParserBase::NameKind;

std::vector<std::vector<std::string>> BinaryOperatorsByPriority() {
  std::map<std::int32_t, std::vector<std::string>> byPriority;
  for (const MathUtils::Command& command : MathUtils::Commands)
    if (MathUtils::IsBinaryOperator(command.Code)) byPriority[command.Priority].emplace_back(command.Text);
  std::vector<std::vector<std::string>> groups;
  for (auto& [priority, texts] : byPriority) groups.push_back(std::move(texts));
  return groups;
}

Vocabulary ReadVocabulary() {
  MathUtils::Parser parser;
  AddCalculatorVocabulary(parser);
  Vocabulary vocabulary;
  parser.ForEachName([&vocabulary](NameKind kind, std::string_view name) {
    switch (kind) {
      case NameKind::Function: vocabulary.Functions.emplace_back(name); break;
      case NameKind::Constant: vocabulary.Constants.emplace_back(name); break;
      case NameKind::Variable: break;  // the calculator defines none
      case NameKind::PostfixOperator: vocabulary.PostfixOperators.emplace_back(name); break;
      case NameKind::PrefixOperator: vocabulary.PrefixOperators.emplace_back(name); break;
    }
  });
  for (auto* names : {&vocabulary.Functions, &vocabulary.Constants, &vocabulary.PostfixOperators,
                      &vocabulary.PrefixOperators})
    std::sort(names->begin(), names->end());
  vocabulary.BinaryOperators = BinaryOperatorsByPriority();
  return vocabulary;
}

}  // namespace

const Vocabulary& CalculatorVocabulary() {
  static const Vocabulary Read = ReadVocabulary();
  return Read;
}
