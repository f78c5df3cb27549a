// The parser's reader and compiler driven one step at a time: include this
// besides parser/parser.h to call ScanToken, Priority and CheckName with the
// tokens, syntax flags, character sets and command codes they take, or to
// read the cells of GetBytecode.
#pragma once

#include "parser/bytecode.h"
#include "parser/cells.h"
#include "parser/commands.h"
#include "parser/parser.h"
#include "parser/syntax_flags.h"
#include "parser/tokens.h"
