// Shared helpers of the parser tests: error assertions and a probe that
// opens the parser's protected reader and state for inspection.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "parser/parser.h"

namespace ParserTests {

// Opens the protected parts that the tests inspect.
struct Probe : MathUtils::Parser {
  using ParserBase::Constants;
  using ParserBase::Functions;
  using ParserBase::Pos;
  using ParserBase::PostfixOps;
  using ParserBase::PrefixOps;
  using ParserBase::ScanToken;

  bool Compiling() const { return EvalEntry == &Probe::CompileFormula; }
  // Running the bytecode: through the program derived from the cells, or
  // through the cell interpreter itself.
  bool Running() const {
    return EvalEntry == &Probe::RunProgram || EvalEntry == &Probe::RunArithmetic ||
           EvalEntry == &Probe::ParseCmdCode;
  }
  // Evaluates the compiled cells with the cell interpreter.
  double RunCells() { return ParseCmdCode(); }
  bool Constant() const { return EvalEntry == &Probe::ReturnConstant; }
};

// Runs the action and returns the text of the ParserException it throws;
// records a failure when it throws nothing or something else.
template <typename Action>
std::string ErrorText(Action&& action) {
  try {
    action();
  } catch (const MathUtils::ParserException& error) {
    return error.what();
  } catch (const std::exception& other) {
    ADD_FAILURE() << "unexpected exception: " << other.what();
    return "<other exception>";
  }
  ADD_FAILURE() << "no ParserException thrown";
  return "<no exception>";
}

// Keeps the compiler from folding library calls at build time, where it
// may round differently from the run-time library that the parser calls.
inline double Opaque(double value) {
  volatile double kept = value;
  return kept;
}

inline double Eval(MathUtils::ParserBase& parser, const std::string& formula) {
  parser.AssignFormula(formula);
  return parser.Evaluate();
}

inline std::string CompileError(MathUtils::ParserBase& parser, const std::string& formula) {
  return ErrorText([&] { Eval(parser, formula); });
}

inline std::string ListingOf(MathUtils::ParserBase& parser, const std::string& formula) {
  Eval(parser, formula);
  return parser.Listing();
}

}  // namespace ParserTests
