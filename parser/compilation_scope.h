// The reader's and the writer's place in one compilation. A callback run
// while a formula compiles may evaluate its parser and so start another
// compilation; that one saves the outer one's place here and gives it back
// when it ends. Scopes link outward, so that a callback that assigns a
// formula can find every compilation still reading the old text.
#pragma once

#include <cstdint>
#include <string_view>

#include "parser/array_point.h"
#include "parser/compiled_formula.h"
#include "parser/parser_base.h"
#include "parser/parser_parts.h"

namespace MathUtils::detail {

class CompilationScope {
 public:
  // point: where the listed variables of an evaluation over arrays are
  // read during this compilation alone (callbacks that compile their
  // parser again read the variables themselves).
  CompilationScope(ParserBase& parser, CellBuffer& target, const ArrayPoint* point = nullptr)
      : Parser(parser),
        Text(parser.ReadText),
        Position(parser.Pos),
        Writing(parser.Writing),
        OuterScope(parser.InnermostCompilation),
        ChangesAtStart(parser.Changes),
        OuterPoint(parser.VariablesAt) {
    parser.VariablesAt = point;
    parser.InnermostCompilation = this;
    parser.ReadText = parser.Formula;
    parser.Pos = 0;
    parser.Writing = &target;
  }

  // An outer compilation reads on where it stopped. After the outermost,
  // the reader stays at the end of the formula it read, unless a callback
  // assigned another: then it starts that one.
  ~CompilationScope() {
    Parser.InnermostCompilation = OuterScope;
    Parser.Writing = Writing;
    Parser.VariablesAt = OuterPoint;
    if (OuterScope) {
      Parser.ReadText = Text;
      Parser.Pos = Position;
      return;
    }
    if (Parser.ReadText.data() != Parser.Formula.data()) {
      Parser.ReadText = Parser.Formula;
      Parser.Pos = 0;
    }
    if (!Parser.HeldTexts.empty()) Parser.HeldTexts.clear();
  }

  CompilationScope(const CompilationScope&) = delete;
  CompilationScope& operator=(const CompilationScope&) = delete;

  // Whether the formula or a definition changed since the compilation began.
  bool Changed() const { return Parser.Changes != ChangesAtStart; }
  CompilationScope* Outer() const { return OuterScope; }
  // The text the enclosing compilation reads.
  std::string_view& SavedText() { return Text; }

 private:
  ParserBase& Parser;
  std::string_view Text;
  std::int32_t Position;
  CellBuffer* Writing;
  CompilationScope* OuterScope;
  std::uint32_t ChangesAtStart;
  const ArrayPoint* OuterPoint;
};

}  // namespace MathUtils::detail

namespace MathUtils {

// Inline where a compilation follows another, as it mostly does.
inline detail::CompiledFormula* ParserBase::TakeCompiledFormula() {
  if (!Retired.empty() || !RetiredKept.empty() || detail::CallbackScope::Any())
    return TakeCompiledFormulaAside();
  if (detail::CompiledFormula* compiled = Current) {
    Current = nullptr;
    compiled->Reset();
    return compiled;
  }
  if (!OwnFormulaFree) return TakeCompiledFormulaAside();
  OwnFormulaFree = false;
  return &OwnFormula();
}

}  // namespace MathUtils
