// The formula parser of vorncalc: include this header and link `mathutils`.
//
//   MathUtils::Parser parser;          // default vocabulary installed
//   parser.AssignFormula("2*sin(30)");
//   double value = parser.Evaluate();  // compiles once, then runs bytecode
//
// Every failure is thrown as MathUtils::ParserException.
#pragma once

#include "parser/builtins.h"
#include "parser/parser_base.h"
#include "parser/tokens.h"
