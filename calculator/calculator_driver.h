// The calculator's evaluation path, shared by the plug-in's window procedure
// and the terminal calculator.
#pragma once

#include <string>
#include <string_view>

#include "parser/parser.h"

// Evaluates one command line as if Enter had been pressed on it in a
// document of the given unit system: lower-cases the text byte by byte,
// sets ActiveUnitSystem, builds a fresh parser with the calculator's
// vocabulary, folds constants, evaluates and prints the value with "%.10g".
// A text that is not a formula throws MathUtils::ParserException.
std::string EvaluateCommandLine(std::string_view text, int unitSystem);

// A value as EvaluateCommandLine prints it: "%.10g", whatever the locale.
std::string FormatCommandLineValue(double value);

// The steps of EvaluateCommandLine before it evaluates: sets
// ActiveUnitSystem and gives the parser the lower-cased text, the
// calculator's vocabulary and folding.
void PrepareCommandLine(MathUtils::Parser& parser, std::string_view text, int unitSystem);
