// The parser's reader and compiler driven one step at a time: include this
// besides parser/parser.h to call ScanToken, Priority and CheckName with the
// tokens, syntax flags, character sets and command codes they take, or to
// read the cells of GetBytecode.
#pragma once

#include "parser/core/cells.h"
#include "parser/core/commands.h"
#include "parser/front/bytecode.h"
#include "parser/front/syntax_flags.h"
#include "parser/front/tokens.h"
#include "parser/parser.h"
