// The parts that the parser builds in place, the registries and its own
// compiled formula, reached inline by the library's own files (the parser's
// header declares them without their types).
#pragma once

#include <new>

#include "parser/compiled_formula.h"
#include "parser/parser_base.h"
#include "parser/registries.h"

namespace MathUtils {

inline detail::Registries& ParserBase::Names() {
  return *std::launder(reinterpret_cast<detail::Registries*>(RegistryStorage));
}

inline const detail::Registries& ParserBase::Names() const {
  return *std::launder(reinterpret_cast<const detail::Registries*>(RegistryStorage));
}

inline detail::CompiledFormula& ParserBase::OwnFormula() {
  return *std::launder(reinterpret_cast<detail::CompiledFormula*>(FormulaStorage));
}

}  // namespace MathUtils
