// The parser with the default vocabulary: the rows of parser/math/builtins.h,
// defined through the definition operations.
#include "parser/parser.h"

#include "parser/math/builtins.h"

namespace MathUtils {

namespace {

// The default vocabulary, defined once through the definition operations.
// Every Parser adopts a copy, which costs a few block copies instead of
// forty-odd name checks and insertions.
class DefaultVocabulary : public ParserBase {
 public:
  // Out of line: inlined into Defaults, it would make every call of it save
  // and restore the registers that building needs, though it builds once.
  [[gnu::noinline]] DefaultVocabulary() {
    // Room for the defaults and a vocabulary of about the same size on top.
    ReserveNames(48, 6, 24, 4);
    DefineFunctions();
    DefineConstants();
    DefineOperators();
  }

 private:
  void DefineFunctions();
  void DefineConstants();
  void DefineOperators();
};

const DefaultVocabulary& Defaults() {
  static const DefaultVocabulary Vocabulary;
  return Vocabulary;
}

}  // namespace

Parser::Parser() {
  // Called directly: virtual dispatch does not reach beyond Parser here.
  Parser::InitFunctions();
  Parser::InitConstants();
  Parser::InitOperators();
}

Parser::~Parser() = default;

void Parser::InitFunctions() { AdoptFunctions(Defaults()); }
void Parser::InitConstants() { AdoptConstants(Defaults()); }
void Parser::InitOperators() { AdoptOperators(Defaults()); }

void DefaultVocabulary::DefineFunctions() {
  for (const auto& row : detail::BuiltinUnaryFunctions())
    AddFunction(row.Name, row.Function, row.Optimizable);
  for (const auto& row : detail::BuiltinListFunctions()) AddFunction(row.Name, row.Function, row.Optimizable);
}

void DefaultVocabulary::DefineConstants() {
  AddConstant("_pi", 3.141592653589793);
  AddConstant("_e", 2.718281828459045);
}

void DefaultVocabulary::DefineOperators() {
  for (const auto& row : detail::BuiltinOperators()) {
    if (row.Is == detail::BuiltinOperator::Prefix)
      AddPrefixOperator(row.Name, row.Function);
    else
      AddPostfixOperator(row.Name, row.Function);
  }
}

}  // namespace MathUtils
