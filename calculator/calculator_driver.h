// The calculator's evaluation path, shared by the plug-in's window procedure,
// the terminal calculator and the library's users. The unit system (an
// ON::unit_system value, 2 mm to 10 miles; any other leaves lengths alone)
// is always given, never read from ActiveUnitSystem: these functions touch
// no global state, so threads may evaluate in different unit systems at once.
#pragma once

#include <string>
#include <string_view>

#include "calculator/typed_digits.h"
#include "parser/parser.h"

// Evaluates one command line as if Enter had been pressed on it in a
// document of the given unit system: lower-cases the text byte by byte,
// builds a fresh parser with the calculator's vocabulary in that unit
// system, folds constants, evaluates and prints the value with "%.10g", or
// with as many digits as keep the decimal places typed in the line
// (calculator/typed_digits.h).
// A text that is not a formula throws MathUtils::ParserException.
std::string EvaluateCommandLine(std::string_view text, int unitSystem);

// The value of EvaluateCommandLine, before it is printed.
double CommandLineValue(std::string_view text, int unitSystem);

// The steps of EvaluateCommandLine before it evaluates, on a parser of the
// caller's: gives the parser the lower-cased text, the calculator's
// vocabulary in the unit system and folding. Variables and functions of the
// caller's may be added after it. A CalculatorParser
// (calculator/calculator_parser.h) holds the vocabulary and folds from the
// start, and needs only AssignCommandLine.
void PrepareCommandLine(MathUtils::Parser& parser, std::string_view text, int unitSystem);

// Gives the parser the text as a command line: lower-cased by LowerCaseAscii.
void AssignCommandLine(MathUtils::ParserBase& parser, std::string_view text);

// The text as the parser reads a command line: only A to Z change, whatever
// the locale; other bytes, those above 127 included, pass as they are.
std::string LowerCaseAscii(std::string_view text);

// The value as "%.*g" prints it with that many significant digits (1 to 17;
// 17 reads back as the same double), whatever the locale and the platform's
// C library (which would print infinity differently on Windows).
std::string FormatValue(double value, int significantDigits);
