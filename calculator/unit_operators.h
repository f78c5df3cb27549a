// The calculator's vocabulary: the math functions, constants, unit and scale
// operators, "rnd".
#pragma once

#include <string_view>

#include "parser/parser.h"

// The active document's unit system (an ON::unit_system value). The unit
// operators read it whenever they are applied; the driver sets it before
// each evaluation. Process-wide, used on one thread only.
extern int ActiveUnitSystem;

// Defines the parser's math functions beyond the defaults
// (ParserBase::AddMathFunctions), "pi", "e", the sixteen postfix operators,
// the prefix "-" and "rnd" on the parser, replacing defaults of the same
// names. The unit
// operators convert in the unit system of ActiveUnitSystem at each call.
void AddCalculatorVocabulary(MathUtils::Parser& parser);

// The same vocabulary with the unit operators bound to one unit system (an
// ON::unit_system value), giving the same doubles without reading
// ActiveUnitSystem: parsers in different unit systems may evaluate on
// different threads at once.
void AddCalculatorVocabulary(MathUtils::Parser& parser, int unitSystem);

// A parser holding the default vocabulary with AddCalculatorVocabulary's in
// that unit system on top, built at its first use and never changed after:
// other parsers may read its names there (CalculatorParser) instead of
// defining each of them anew.
const MathUtils::ParserBase& CalculatorVocabulary(int unitSystem);

// Whether the name is one of the ten length suffixes ("mm", "in?"), whose
// value depends on the document's unit system.
bool IsLengthSuffix(std::string_view name);
