#include "python/evaluator.h"

#include "calculator/unit_operators.h"

namespace PythonModule {

namespace {

// The first evaluation compiles, with the Python functions muted: the
// evaluations that the callers make then only run what is compiled.
// Returns whether the formula calls any of them.
bool CompileMuted(MathUtils::Parser& parser, std::span<const std::unique_ptr<PythonFunction>> functions) {
  for (const auto& function : functions) function->Mute(true);
  bool called = false;
  try {
    parser.Evaluate();
  } catch (...) {
    for (const auto& function : functions) function->Mute(false);
    throw;
  }
  for (const auto& function : functions) called = function->Mute(false) || called;
  return called;
}

}  // namespace

Evaluator::Evaluator(const FormulaDefinition& definition,
                     std::span<const std::unique_ptr<PythonFunction>> functions)
    : Cells(new double[definition.Variables.size()]()) {
  if (definition.Units) {
    AddCalculatorVocabulary(Parser, *definition.Units);
    if (definition.Seed) DrawRandomFrom(Parser, Draws.emplace(*definition.Seed));
  } else {
    Parser.AddMathFunctions();
  }
  // Before the Formula's own functions: a name of theirs stays theirs.
  Parser.SetMathLibrary(definition.Math);
  for (std::size_t i = 0; i < definition.Variables.size(); ++i)
    Parser.AddVariable(definition.Variables[i], &Cells[i]);
  for (const auto& [name, value] : definition.Constants) Parser.AddConstant(name, value);
  for (std::size_t i = 0; i < functions.size(); ++i)
    functions[i]->Define(Parser, definition.FunctionNames[i]);
  Parser.AssignFormula(definition.Text);
  PythonCalled = CompileMuted(Parser, functions);
}

}  // namespace PythonModule
