// vorncalc.FormulaError, the Python form of MathUtils::ParserException: a
// ValueError with the parser's message as its text, the position in the
// formula where reading stopped (or None) and the formula.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <string_view>

#include "parser/parser.h"

namespace PythonModule {

// Defines FormulaError in the module.
void AddFormulaError(pybind11::module_& module);

// Raises FormulaError for the exception, about the formula as the caller
// gave it: sets the Python error and throws pybind11::error_already_set.
// The position is where the text marks it, or the end of the formula where
// the message is about its end.
[[noreturn]] void RaiseFormulaError(const MathUtils::ParserException& error, std::string_view formula);

// Raises FormulaError with the text, position and formula given.
[[noreturn]] void RaiseFormulaError(const std::string& text, std::optional<std::size_t> position,
                                    const pybind11::object& formula);
[[noreturn]] void RaiseFormulaError(const pybind11::object& message, std::optional<std::size_t> position,
                                    const pybind11::object& formula);

// The position that the parser's text marks with " <- here": the length of
// the formula's beginning that follows the message. None when the text
// marks no position, as for an error about the whole formula.
std::optional<std::size_t> MarkedPosition(const std::string& text, const std::string& readText);

}  // namespace PythonModule
