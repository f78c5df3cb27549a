// The calculator's vocabulary: constants, unit and scale operators, "rnd".
#pragma once

#include "parser/parser.h"

// The active document's unit system (an ON::unit_system value). The unit
// operators read it whenever they are applied; the driver sets it before
// each evaluation. Process-wide, used on one thread only.
extern int ActiveUnitSystem;

// Defines "pi", "e", the sixteen postfix operators, the prefix "-" and
// "rnd" on the parser, replacing defaults of the same names.
void AddCalculatorVocabulary(MathUtils::Parser& parser);
